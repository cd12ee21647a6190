// The kelo-cli program as a shell runs it: its streams, its exit status and real signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/cli/cli_harness.h"
#include "tests/cli/cli_process.h"
#include "tests/sim/sim_process.h"
#include "tests/support/full_listener.h"

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
    EXPECT_EQ(usage.Err(), "kelo-cli: get-report takes no file (try 'kelo-cli --help')\n");
}

TEST(CliProgram, SigintDuringTheReadExits130AndLeavesNoFile) {
    CliEnvironment env;
    SimProcess machine(Machine3({"--fault", "never-answer"}));
    ASSERT_TRUE(machine.Listening());
    const std::string folder = env.File("out");
    std::filesystem::create_directory(folder);

    CliProcess run({"--host", "127.0.0.2", "--type", "3", "get-report", "-o", folder + "/x.kel"});
    ASSERT_NE(machine.WaitForEvent("reply-withheld"), "");
    run.Signal(SIGINT);
    EXPECT_EQ(run.Wait(), 130);
    EXPECT_EQ(run.Err(), "kelo-cli: Failed to receive.\n");
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    EXPECT_NE(machine.WaitForEvent("disconnect"), "") << "the port was closed";
}

// Hang guard for a run that a signal stops: it needs a few 10 ms slices, so this leaves a wide
// margin on a loaded machine, yet a run that waited out its wait would take seconds more.
constexpr int kStopsPromptlyMs = 1500;

// Polls the run's text trace until it shows the text; false after 10 s (a hang guard).
bool TraceShows(const std::string& path, const std::string& text) {
    for (int i = 0; i < 1000; ++i) {
        if (std::filesystem::exists(path) && ReadFileText(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Ctrl-C in the waits after the machine has everything: the restart wait once the request was
// answered (types 1 and 3), and put-params' wait after its closing rs. The run ends at once,
// with 130 and a line that says what the machine has instead of "Done.".
TEST(CliProgram, CtrlCInTheWaitAfterTheLastWriteEndsAtOnceAndTellsWhatTheMachineHas) {
    CliEnvironment env;
    struct Case {
        int type;
        std::vector<std::string> command;
        const char* had;
    };
    const std::vector<Case> cases{
        {1, {"restart", "127.0.0.2"}, "answered the restart request and restarts"},
        {3, {"restart", "127.0.0.2"}, "answered the restart request and restarts"},
        {3, {"put-params", env.File("set.prm")}, "received the whole parameter set and restarts"}};
    for (const Case& c : cases) {
        const std::string type = std::to_string(c.type);
        SimProcess machine({"--type", type, "--bind", "127.0.0.2"});
        ASSERT_TRUE(machine.Listening());
        const std::vector<std::string> host{"--host", "127.0.0.2", "--type", type};
        if (!std::filesystem::exists(env.File("set.prm"))) {
            std::vector<std::string> get = host;
            get.insert(get.end(), {"get-params", "-o", env.File("set.prm")});
            ASSERT_EQ(CliProcess(get).Wait(), 0);
        }
        const std::string trace = env.File("trace-" + type + c.command[0]);
        std::vector<std::string> arguments = host;
        arguments.insert(arguments.end(), {"--trace", trace});
        arguments.insert(arguments.end(), c.command.begin(), c.command.end());
        CliProcess run(arguments);
        const char* lastWait = c.command[0] == "restart" ? "Z wait 250 ms\n" : "Z wait 3000 ms\n";
        ASSERT_TRUE(TraceShows(trace, lastWait)) << c.command[0];
        run.Signal(SIGINT);

        EXPECT_EQ(run.Wait(kStopsPromptlyMs), 130) << c.command[0] << " " << type;
        EXPECT_EQ(run.Err(),
                  std::string("kelo-cli: interrupted; the machine had already ") + c.had + "\n");
        const std::string text = ReadFileText(trace);
        EXPECT_NE(text.find(" ms cut short after "), std::string::npos) << text;
        EXPECT_NE(text.find("Z Cancel (SIGINT)\n"), std::string::npos) << text;
    }
}

// SIGTERM (timeout, systemctl stop) and SIGHUP (a closed session) stop a run as Ctrl-C does:
// the port closed, no file, the Cancel in the trace, and the signal's own exit status.
TEST(CliProgram, SigtermAndSighupStopARunAsCtrlCDoes) {
    CliEnvironment env;
    SimProcess machine(Machine3({"--fault", "never-answer"}));
    ASSERT_TRUE(machine.Listening());
    const std::string folder = env.File("out");
    std::filesystem::create_directory(folder);
    for (const auto& [signalNumber, name] : {std::pair{SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
        const std::string trace = env.File(std::string(name) + ".txt");
        CliProcess run({"--host", "127.0.0.2", "--type", "3", "--trace", trace, "get-report", "-o",
                        folder + "/x.kel"});
        ASSERT_NE(machine.WaitForEvent("reply-withheld", signalNumber == SIGTERM ? 1 : 2), "");
        run.Signal(signalNumber);
        EXPECT_EQ(run.Wait(kStopsPromptlyMs), 128 + signalNumber) << name;
        EXPECT_EQ(run.Err(), "kelo-cli: Failed to receive.\nkelo-cli: stopped by signal " +
                                 std::to_string(signalNumber) + " (" + ::strsignal(signalNumber) +
                                 ")\n");
        EXPECT_NE(ReadFileText(trace).find(std::string("Z Cancel (") + name + ")\n"),
                  std::string::npos);
        EXPECT_TRUE(std::filesystem::is_empty(folder));
    }
    EXPECT_NE(machine.WaitForEvent("disconnect", 2), "") << "the port was closed";
}

// --timeout 1 against a machine that never answers fails in a second; should the deadline never
// fire, the run is ended after 10 s and the test says so rather than hang.
TEST(CliProgram, TimeoutOfOneSecondEndsARunWithoutAnswer) {
    CliEnvironment env;
    SimProcess machine(Machine3({"--fault", "never-answer"}));
    ASSERT_TRUE(machine.Listening());
    CliProcess run({"--host", "127.0.0.2", "--type", "3", "--timeout", "1", "get-report"});
    const int status = run.Wait(10000);
    ASSERT_NE(status, -1) << "the deadline of --timeout 1 never fired";
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(run.Err().ends_with("kelo-cli: no answer within 1 s\n")) << run.Err();
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
