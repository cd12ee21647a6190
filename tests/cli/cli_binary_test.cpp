// The kelo-cli program as a shell runs it: its streams, its exit status and real signals.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "records/service_records.h"
#include "tests/cli/cli_harness.h"
#include "testsupport/cli_process.h"
#include "testsupport/full_listener.h"
#include "testsupport/sim_process.h"

namespace cli_testing {
namespace {

using sim_testing::SimProcess;

// Machine type 3: its operations involve no fixed wait, so the program runs at full speed.
std::vector<std::string> Machine3(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> arguments{"--type", "3", "--bind", "127.0.0.2"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

TEST(CliProgram, ReportGoesToStandardOutputAndNothingElseIsWritten) {
    CliEnvironment env;
    std::string report;
    for (int i = 0; i < 3000; ++i)
        report += static_cast<char>(1 + i % 255);
    WriteFile(env.File("report"), report);
    SimProcess machine(Machine3({"--report", env.File("report")}));
    ASSERT_TRUE(machine.Listening());

    CliProcess run({"--host", "127.0.0.2", "--type", "3", "get-report"});
    EXPECT_EQ(run.Wait(), 0);
    EXPECT_EQ(run.Out(), report);
    EXPECT_EQ(run.Err(), "") << "no progress line when standard error is not a terminal";
}

TEST(CliProgram, ExitStatusTellsFailureFromAUsageError) {
    CliEnvironment env;
    CliProcess failed({"get-report"});
    EXPECT_EQ(failed.Wait(), 1);
    EXPECT_TRUE(failed.Err().starts_with("kelo-cli: Set up \"SELECT PORT\"\n"));

    CliProcess usage({"get-report", "now"});
    EXPECT_EQ(usage.Wait(), 2);
    EXPECT_EQ(usage.Out(), "");
    EXPECT_EQ(usage.Err(),
              "kelo-cli: The following argument was not expected: now (try 'kelo-cli --help')\n");
}

// Hang guard for a run that a signal stops: it needs a few 10 ms slices, so this leaves a wide
// margin on a loaded machine, yet a run that waited out its wait would take seconds more.
constexpr int kStopsPromptlyMs = 1500;

// Ctrl-C, SIGTERM (timeout, systemctl stop) and SIGHUP (a closed session) during the read end
// the run as Cancel does, with the port closed, no file, the Cancel in the trace, and each
// signal's own status. --timeout 1 bounds itself: a deadline that never fired is killed at 10 s.
TEST(CliProgram, SignalsDuringTheReadEndTheRunAsCancelAndLeaveNoFile) {
    CliEnvironment env;
    SimProcess machine(Machine3({"--fault", "never-answer"}));
    ASSERT_TRUE(machine.Listening());
    const std::string folder = env.File("out");
    std::filesystem::create_directory(folder);
    const std::vector<std::tuple<int, std::string, std::string>> signals{
        {SIGINT, "INT", ""},
        {SIGTERM, "TERM", "kelo-cli: stopped by signal 15 (Terminated)\n"},
        {SIGHUP, "HUP", "kelo-cli: stopped by signal 1 (Hangup)\n"}};
    for (size_t i = 0; i < signals.size(); ++i) {
        const auto& [signalNumber, name, told] = signals[i];
        CliProcess run({"--host", "127.0.0.2", "--type", "3", "--trace", env.File(name),
                        "get-report", "-o", folder + "/x.kel"});
        ASSERT_NE(machine.WaitForEvent("reply-withheld", static_cast<int>(i) + 1), "");
        run.Signal(signalNumber);
        EXPECT_EQ(run.Wait(kStopsPromptlyMs), 128 + signalNumber) << name;
        EXPECT_EQ(run.Err(), "kelo-cli: Failed to receive.\n" + told);
        EXPECT_NE(ReadFileText(env.File(name)).find("Z Cancel (SIG" + name + ")\n"),
                  std::string::npos);
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
    EXPECT_NE(machine.WaitForEvent("disconnect", 3), "") << "every port was closed";
    CliProcess timed({"--host", "127.0.0.2", "--type", "3", "--trace", env.File("timed"),
                      "--timeout", "1", "get-report"});
    EXPECT_EQ(timed.Wait(10000), 1) << "-1: the deadline of --timeout 1 never fired";
    EXPECT_TRUE(timed.Err().ends_with("kelo-cli: no answer within 1 s\n")) << timed.Err();
    EXPECT_NE(ReadFileText(env.File("timed")).find("Z Cancel (timed out)\n"), std::string::npos);
}

// Ctrl-C in the waits after the machine has everything: the restart wait once the request was
// answered (types 1 and 3), and put-params' wait after its closing rs. The run ends at once,
// with 130 and a line that says what the machine has instead of "Done.".
TEST(CliProgram, CtrlCInTheWaitAfterTheLastWriteEndsAtOnceAndTellsWhatTheMachineHas) {
    CliEnvironment env;
    const std::string set = env.File("set.prm");
    for (const auto& [type, command] :
         {std::pair{"3", "put-params"}, {"3", "restart"}, {"1", "restart"}}) {
        SimProcess machine({"--type", type, "--bind", "127.0.0.2"});
        ASSERT_TRUE(machine.Listening());
        if (!std::filesystem::exists(set)) {
            CliProcess get({"--host", "127.0.0.2", "--type", "3", "get-params", "-o", set});
            ASSERT_EQ(get.Wait(), 0);
        }
        const bool restart = command == std::string("restart");
        const std::string trace = env.File(std::string(type) + command);
        CliProcess run({"--host", "127.0.0.2", "--type", type, "--trace", trace, command,
                        restart ? "127.0.0.2" : set});
        // The wait is under way once the trace shows it (polled, for at most 10 s).
        const char* wait = restart ? "Z wait 250 ms\n" : "Z wait 3000 ms\n";
        for (int i = 0; i < 1000 && ReadFileText(trace).find(wait) == std::string::npos; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        run.Signal(SIGINT);
        EXPECT_EQ(run.Wait(kStopsPromptlyMs), 130) << command << " " << type;
        EXPECT_EQ(run.Err(), std::string("kelo-cli: interrupted; the machine had already ") +
                                 (restart ? "answered the restart request and restarts\n"
                                          : "received the whole parameter set and restarts\n"));
        EXPECT_NE(ReadFileText(trace).find(" ms cut short after "), std::string::npos);
        EXPECT_NE(ReadFileText(trace).find("Z Cancel (SIGINT)\n"), std::string::npos);
    }
}

// A result that cannot be written is a failure: said once, naming standard output, and the
// exit status is 1, for a single run, a host list and a help text alike.
TEST(CliProgram, AResultThatCannotBeWrittenFails) {
    CliEnvironment env;
    SimProcess machine(Machine3({"--bind", "127.0.0.3"}));
    ASSERT_TRUE(machine.Listening());
    WriteFile(env.File("hosts"), "127.0.0.2\n127.0.0.3\n");
    const std::string full = "kelo-cli: standard output: No space left on device\n";
    const std::vector<std::vector<std::string>> runs = {
        {"--host", "127.0.0.2", "--type", "3", "--json", "get-report", "-o", env.File("a.kel")},
        {"--hosts", env.File("hosts"), "--jobs", "1", "--type", "3", "--json", "get-report", "-o",
         env.File("{host}.kel")},
        {"--host", "127.0.0.2", "--type", "3", "get-report"},
        {"--version"},
    };
    for (const std::vector<std::string>& arguments : runs) {
        CliProcess run(arguments, "/dev/full");
        EXPECT_EQ(run.Wait(), 1) << arguments[0] << " " << arguments.back();
        EXPECT_TRUE(run.Err().ends_with(full)) << run.Err();
        EXPECT_EQ(run.Err().find(full), run.Err().rfind(full)) << "said once: " << run.Err();
        EXPECT_EQ(run.Err().find(": failed"), std::string::npos) << "each host did its work";
        EXPECT_EQ(run.Err().find("damaged"), std::string::npos) << "the reply was sound";
    }
    auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    EXPECT_EQ((*kept.value)->History({})->front().result, kelo::records::Result::Ok);
    // Progress that cannot be written fails the run too, after the operation has ended.
    CliProcess progress({"--host", "127.0.0.2", "--type", "3", "--progress-fd", "1", "get-report",
                         "-o", env.File("r.kel")},
                        "/dev/full");
    EXPECT_EQ(progress.Wait(), 1);
    EXPECT_EQ(progress.Err(), "kelo-cli: --progress-fd 1: No space left on device\n");
    EXPECT_TRUE(std::filesystem::exists(env.File("r.kel")));
    // A progress reader that went away (a progress dialog closed) stops nothing.
    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    ::close(pipe[0]);
    const sighandler_t previous = ::signal(SIGPIPE, SIG_IGN);  // as kelo-cli's main does
    const CliResult left = RunCli({"--host", "127.0.0.2", "--type", "3", "--progress-fd",
                                   std::to_string(pipe[1]), "get-report", "-o", env.File("b.kel")});
    ::signal(SIGPIPE, previous);
    ::close(pipe[1]);
    EXPECT_EQ(left.status, 0);
    EXPECT_EQ(left.err, "");
}

// A machine that drops connection requests: the program gives up at its connect deadline (the
// real one, 20 seconds) and fails as against a refused connection.
TEST(CliProgram, AMachineThatNeverAnswersTheConnectFailsToConnect) {
    CliEnvironment env;
    testing_support::FullListener machine(9101, "127.0.0.2");
    ASSERT_TRUE(machine.Listening());

    CliProcess run({"--host", "127.0.0.2", "--type", "3", "get-report"});
    EXPECT_EQ(run.Wait(60000), 1);
    EXPECT_EQ(run.Out(), "");
    EXPECT_EQ(run.Err(), "kelo-cli: Failed to connect.\n");
}

}  // namespace
}  // namespace cli_testing
