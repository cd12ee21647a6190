// kelo-cli over a host list against one kelo-sim serving many machines, in a network namespace
// of its own: every host's result line, every machine's files, and Ctrl-C in the middle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <bit>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "records/service_records.h"
#include "tests/cli/cli_harness.h"
#include "testsupport/cli_process.h"
#include "testsupport/sim_process.h"

namespace cli_testing {
namespace {

using nlohmann::json;
using sim_testing::EventField;
using sim_testing::SimProcess;

// The machines 127.0.4.0 to 127.0.4.(count - 1), each with a report naming it.
class HostListRun : public ::testing::Test {
  protected:
    static std::string Address(int i) { return "127.0.4." + std::to_string(i); }

    std::string ReportOf(const std::string& address) const {
        if (!everyReport.empty())
            return everyReport;
        std::string report;
        for (int line = 0; line < 40; ++line)
            report += "Machine " + address + " line " + std::to_string(line) + " \xb0\xd7\r\n";
        return report;
    }

    // Starts one kelo-sim of type 3 for the machines and lists them, one a line.
    void StartMachines(int count, const std::vector<std::string>& extra = {}) {
        std::filesystem::create_directory(env.File("reports"));
        std::string list;
        for (int i = 0; i < count; ++i) {
            WriteFile(env.File("reports/" + Address(i) + ".txt"), ReportOf(Address(i)));
            list += Address(i) + (i % 2 == 0 ? " 3\n" : "\n");  // the profile's type is 3 too
        }
        WriteFile(hosts, list);
        std::vector<std::string> arguments{
            "--type",
            "3",
            "--bind",
            "127.0.4.0/" + std::to_string(32 - std::countr_zero(static_cast<unsigned>(count))),
            "--report",
            env.File("reports") + "/{address}.txt",
            "--record",
            env.File("record"),
            "--restart-ms",
            "0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        machines = std::make_unique<SimProcess>(arguments);
        ASSERT_TRUE(machines->Listening()) << machines->StandardError();
        std::filesystem::create_directory(out);
    }

    // The JSON lines of standard output, by host; the summary under "".
    static std::map<std::string, json> Lines(const std::string& text) {
        std::map<std::string, json> lines;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            const json line = json::parse(text.substr(start, end - start));
            lines[line.contains("summary") ? "" : line["host"].get<std::string>()] = line;
        }
        EXPECT_EQ(start, text.size()) << "every line ends";
        return lines;
    }

    // Signals a list of eight once the running hosts wait for replies; it ends with status,
    // and its lines count the eight cancelled.
    void StopEightHosts(CliProcess& run, int running, int signal, int status,
                        std::map<std::string, json>& lines) {
        ASSERT_NE(machines->WaitForEvent("reply-withheld", running), "");
        run.Signal(signal);
        EXPECT_EQ(run.Wait(), status);
        lines = Lines(run.Out());
        ASSERT_EQ(lines.size(), 9u) << run.Out();
        EXPECT_EQ(lines.at("")["summary"]["cancelled"], 8);
    }

    CliEnvironment env;
    std::string hosts = env.File("hosts");
    std::string out = env.File("out");
    std::unique_ptr<SimProcess> machines;
    std::string everyReport;  // when set, every machine's report
};

TEST_F(HostListRun, EveryMachinesReportGoesIntoItsOwnFile) {
    StartMachines(16);
    WriteFile(hosts, ReadFileText(hosts) + "# nothing listens here\n127.0.5.1\n");

    CliProcess run(
        {"--hosts", hosts, "--jobs", "4", "--json", "get-report", "-o", out + "/{host}.kel"});
    EXPECT_EQ(run.Wait(), 1);
    const std::map<std::string, json> lines = Lines(run.Out());
    ASSERT_EQ(lines.size(), 18u) << run.Out();
    const std::string runId = lines.at("")["summary"].value("run", "");
    EXPECT_EQ(lines.at(""), json::parse(R"({"summary": {"hosts": 17, "ok": 16, "failed": 1,
        "cancelled": 0, "timed_out": 0, "skipped": 0, "ms": )" +
                                        std::to_string(lines.at("")["summary"]["ms"].get<long>()) +
                                        R"(, "run": ")" + runId + "\"}}"));
    for (int i = 0; i < 16; ++i) {
        const std::string host = Address(i);
        const json& line = lines.at(host);
        EXPECT_EQ(line["result"], "ok") << line;
        EXPECT_EQ(line["type"], 3);
        EXPECT_EQ(line["output"], out + "/" + host + ".kel");
        EXPECT_EQ(line["bytes"], ReportOf(host).size());
        std::string text;
        EXPECT_TRUE(kelo::OpenReportFile(out + "/" + host + ".kel", text));
        EXPECT_EQ(text, ReportOf(host));
    }
    EXPECT_EQ(
        lines.at("127.0.5.1"),
        json::parse(
            R"({"host": "127.0.5.1", "address": "127.0.5.1", "type": 3, "command": "get-report",
                  "result": "failed", "message": "Failed to connect.", "output": null,
                  "bytes": null, "ms": )" +
            std::to_string(lines.at("127.0.5.1")["ms"].get<long>()) + "}"));
    // Other hosts' results may come between a host's message and its own result.
    const size_t message = run.Err().find("kelo-cli: 127.0.5.1: Failed to connect.\n");
    EXPECT_NE(message, std::string::npos) << run.Err();
    EXPECT_NE(run.Err().find("\n127.0.5.1: failed\n", message), std::string::npos);
    EXPECT_TRUE(
        run.Err().ends_with("\n17 hosts: 16 done, 1 failed, 0 cancelled (run " + runId + ")\n"));

    // Each host's run kept its own operation, at once with the others.
    auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(kept) << kept.reason;
    EXPECT_EQ((*kept.value)->History({})->size(), 17u) << run.Err();
    kelo::records::HistoryQuery query;
    query.host = "127.0.5.1";
    const auto failed = (*kept.value)->History(query);
    ASSERT_EQ(failed->size(), 1u);
    EXPECT_EQ(failed->front().result, kelo::records::Result::Failed);
    EXPECT_EQ(failed->front().message, "Failed to connect.");
    EXPECT_EQ(failed->front().runId, runId);
    EXPECT_EQ((*kept.value)->Run("last")->id, runId);
}

TEST_F(HostListRun, ParametersAndFirmwareReachEveryMachine) {
    // Parameters go to the first four machines while firmware goes to the other four.
    StartMachines(8);
    WriteFile(env.File("first"), "127.0.4.0\n127.0.4.1\n127.0.4.2\n127.0.4.3\n");
    WriteFile(env.File("second"), "127.0.4.4\n127.0.4.5\n127.0.4.6\n127.0.4.7\n");
    std::string set(65536, '\0');
    for (size_t i = 0; i < set.size(); ++i)
        set[i] = static_cast<char>(i * 7 + i / 256);
    ASSERT_TRUE(SaveAsParameterFile(set, env.File("set.prm")));
    std::string image(300000, '\0');
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i % 251);
    WriteFile(env.File("main.rfw"), image);

    CliProcess put({"--hosts", env.File("first"), "put-params", env.File("set.prm")});
    CliProcess upgrade({"--hosts", env.File("second"), "upgrade", env.File("main.rfw")});
    EXPECT_EQ(put.Wait(60000), 0) << put.Err();
    EXPECT_EQ(upgrade.Wait(60000), 0) << upgrade.Err();
    EXPECT_NE(upgrade.Err().find("4 hosts: 4 done, 0 failed, 0 cancelled (run "),
              std::string::npos);

    // Without "all" types 3 and 4 take the second half of the set.
    std::map<std::string, std::string> params;
    std::map<std::string, std::string> firmware;
    ASSERT_NE(machines->WaitForEvent("params", 4), "");
    ASSERT_NE(machines->WaitForEvent("firmware", 4), "");
    for (const std::string& event : machines->EventsNamed("params"))
        params[EventField(event, "address")] = ReadFileText(EventField(event, "file"));
    for (const std::string& event : machines->EventsNamed("firmware"))
        firmware[EventField(event, "address")] = ReadFileText(EventField(event, "file"));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(params[Address(i)], set.substr(32768)) << Address(i);
        EXPECT_EQ(firmware[Address(4 + i)], image) << Address(4 + i);
    }
}

TEST_F(HostListRun, CtrlCCancelsTheRunningHostsAndStartsNoOther) {
    StartMachines(8, {"--fault", "never-answer"});
    CliProcess run(
        {"--hosts", hosts, "--jobs", "4", "--json", "get-report", "-o", out + "/{host}.kel"});
    std::map<std::string, json> lines;
    ASSERT_NO_FATAL_FAILURE(StopEightHosts(run, 4, SIGINT, 130, lines));
    int ran = 0;
    for (int i = 0; i < 8; ++i) {
        const json& line = lines.at(Address(i));
        EXPECT_EQ(line["result"], "cancelled");
        if (line["ms"].is_null()) {
            EXPECT_TRUE(line["message"].is_null()) << "a host that did not run showed nothing";
        } else {
            EXPECT_EQ(line["message"], "Failed to receive.");
            ++ran;
        }
    }
    EXPECT_EQ(ran, 4);
    EXPECT_TRUE(std::filesystem::is_empty(out)) << "no report file, no temporary file";
    EXPECT_NE(machines->WaitForEvent("disconnect", 4), "") << "every port was closed";
    EXPECT_EQ(machines->EventsNamed("connect").size(), 4u) << "no host started after Ctrl-C";
    // The hosts that never ran are kept too, so that a resume reaches them.
    auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(kept) << kept.reason;
    const auto last = (*kept.value)->Run("last");
    ASSERT_TRUE(last) << last.reason;
    EXPECT_EQ((*kept.value)->MachinesToResume(*last)->size(), 8u);
}

// SIGTERM (timeout, systemctl stop) while eight silent hosts run: each is stopped by the signal
// passed on (its trace ends with the Cancel it caused, which a host killed at the end of the
// grace never writes), gets a cancelled line naming it, and no process of the run is left:
// this one takes in orphans, so one left would be its child.
TEST_F(HostListRun, SigtermStopsEveryHostAndLeavesNoProcessBehind) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    StartMachines(8, {"--fault", "never-answer"});
    CliProcess run({"--hosts", hosts, "--jobs", "8", "--json", "--no-records", "--trace",
                    out + "/{host}.txt", "get-report", "-o", out + "/{host}.kel"});
    std::map<std::string, json> lines;
    ASSERT_NO_FATAL_FAILURE(StopEightHosts(run, 8, SIGTERM, 143, lines));
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(lines.at(Address(i))["message"], "stopped by signal 15 (Terminated)");
        const std::string trace = ReadFileText(out + "/" + Address(i) + ".txt");
        EXPECT_NE(trace.find(" Cancel (SIGTERM)\n"), std::string::npos) << trace;
    }
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid, name, state, parent;
        std::ifstream(entry.path() / "stat") >> pid >> name >> state >> parent;
        EXPECT_FALSE(name == "(kelo-cli)" && parent == std::to_string(::getpid())) << pid;
    }
}

// SIGKILL of the list (kill -9, OOM): each host stops as SIGTERM stops it, and keeps its record.
TEST_F(HostListRun, SigkillOfTheListStopsEveryHostWhichKeepsItsRecord) {
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    StartMachines(8, {"--fault", "never-answer"});
    CliProcess run({"--hosts", hosts, "--jobs", "8", "get-report", "-o", out + "/{host}.kel"});
    ASSERT_NE(machines->WaitForEvent("reply-withheld", 8), "");
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    int ended = 0;
    // Bounded well below the hosts' own time-out (300 s), with room for a loaded machine.
    for (int i = 0; i < 500 && ended < 8; ++i, ::usleep(10000))
        ended += ::waitpid(-1, nullptr, WNOHANG) > 0;
    EXPECT_EQ(ended, 8);
    auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    EXPECT_EQ((*kept.value)->MachinesToResume(*(*kept.value)->Run("last"))->size(), 8u);
}

// Started with standard error or output closed, or SIGHUP ignored (nohup), a run and a list
// alike: no word of Kelo's reaches a machine or a trace, and the hang-up stops nothing.
TEST_F(HostListRun, ClosedStandardStreamsAndAnIgnoredHangUpReachNothing) {
    StartMachines(2, {"--fault", "never-answer"});
    int withheld = 0;
    for (const auto& [start, status] :
         {std::pair{"exec 2>&-; ", 129}, {"exec >&-; ", 129}, {"trap '' HUP; ", 1}}) {
        for (const std::string& list : {Address(0), hosts}) {
            kelo::test::ChildProcess cli(
                {"/bin/sh", "-c", start + std::string("exec \"$0\" \"$@\""), KELO_CLI_PATH,
                 list == hosts ? "--hosts" : "--host", list, "--type", "3", "--json", "--timeout",
                 "1", "get-report", "-o", out + "/{host}.kel"},
                {"KELO_TRACE=" + out + "/trace.txt"});
            withheld += list == hosts ? 2 : 1;
            ASSERT_NE(machines->WaitForEvent("reply-withheld", withheld), "") << start;
            cli.Signal(SIGHUP);
            EXPECT_EQ(cli.Wait(), status) << start << list;
        }
    }
    EXPECT_EQ(machines->EventsNamed("frame-rejected").size(), 0u);
    const std::string trace = ReadFileText(out + "/trace.txt");
    EXPECT_EQ(trace.find("kelo-cli: "), std::string::npos) << trace;
    EXPECT_EQ(trace.find("\"result\""), std::string::npos) << trace;
}

// --resume runs the run's own command, options and -o template again for the hosts whose
// result was not ok, each as its type, and for no other, as a new run.
TEST_F(HostListRun, ResumeRunsTheCommandAgainForTheHostsThatDidNotSucceed) {
    StartMachines(4);
    WriteFile(env.File("done"), ReadFileText(hosts));
    WriteFile(hosts, ReadFileText(hosts) + "127.0.5.1\n127.0.5.2 4\n");
    CliProcess first({"--hosts", hosts, "--json", "get-report", "-o", out + "/{host}.kel"});
    EXPECT_EQ(first.Wait(), 1);
    const std::string firstId = Lines(first.Out()).at("")["summary"].value("run", "");
    ASSERT_NE(firstId, "");
    ASSERT_NE(machines->WaitForEvent("disconnect", 4), "");

    CliProcess again({"--resume", firstId});
    EXPECT_EQ(again.Wait(), 1);
    const std::map<std::string, json> lines = Lines(again.Out());
    ASSERT_EQ(lines.size(), 3u) << again.Out() << again.Err();
    EXPECT_EQ(lines.at("127.0.5.1")["result"], "failed");
    EXPECT_EQ(lines.at("127.0.5.2")["type"], 4);
    EXPECT_NE(lines.at("")["summary"].value("run", firstId), firstId);
    EXPECT_EQ(machines->EventsNamed("connect").size(), 4u) << "the hosts that were done";

    CliProcess done({"--hosts", env.File("done"), "get-report", "-o", out + "/{host}.kel"});
    EXPECT_EQ(done.Wait(), 0);
    CliProcess nothing({"--resume", "last"});
    EXPECT_EQ(nothing.Wait(), 0);
    EXPECT_TRUE(nothing.Err().starts_with("kelo-cli: nothing to resume: ")) << nothing.Err();
}

// A canary that fails (nothing listens at its address) starts no other host: the rest are
// skipped in the table, the JSON lines and the records, and a resume runs them.
TEST_F(HostListRun, AFailedCanarySkipsTheRestWhichAResumeRuns) {
    StartMachines(4);
    WriteFile(hosts, "127.0.5.1\n" + ReadFileText(hosts));
    CliProcess run(
        {"--hosts", hosts, "--canary", "1", "--json", "get-report", "-o", out + "/{host}.kel"});
    EXPECT_EQ(run.Wait(), 1);
    const std::map<std::string, json> lines = Lines(run.Out());
    const std::string runId = lines.at("")["summary"].value("run", "");
    EXPECT_EQ(lines.at(Address(3))["result"], "skipped");
    EXPECT_TRUE(run.Err().ends_with(", 4 skipped (run " + runId +
                                    ")\nkelo-cli: 1 of 1 canary machine failed; 4 machines " +
                                    "skipped (resume with --resume " + runId + ")\n"))
        << run.Err();
    EXPECT_TRUE(machines->EventsNamed("connect").empty());
    const auto kept = kelo::records::ServiceRecords::Open(env.RecordsPath());
    kelo::records::HistoryQuery skipped;
    skipped.result = kelo::records::Result::Skipped;
    EXPECT_EQ((*kept.value)->History(skipped)->size(), 4u);

    // The canaries now are the failed host and the first skipped one, in the list's order.
    CliProcess again({"--resume", runId, "--canary", "2"});
    EXPECT_EQ(again.Wait(), 1);
    EXPECT_EQ(Lines(again.Out()).at("")["summary"]["skipped"], 3);
    EXPECT_EQ(machines->EventsNamed("connect").size(), 1u);
}

// A canary that holds the set already ends unchanged, which lets the rest start; the list
// ends as succeeded, wrote to no machine, and leaves nothing to resume.
TEST_F(HostListRun, AnUnchangedCanaryLetsTheRestStart) {
    StartMachines(4);
    CliProcess got({"--host", Address(0), "get-params", "-o", env.File("set.prm")});
    ASSERT_EQ(got.Wait(), 0) << got.Err();
    CliProcess run({"--hosts", hosts, "--canary", "1", "--json", "put-params", "--if-changed",
                    env.File("set.prm")});
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    const std::map<std::string, json> lines = Lines(run.Out());
    EXPECT_EQ(lines.at(Address(3))["result"], "unchanged");
    EXPECT_EQ(lines.at("")["summary"]["unchanged"], 4);
    EXPECT_NE(run.Err().find("4 hosts: 0 done, 0 failed, 0 cancelled, 4 unchanged"),
              std::string::npos)
        << run.Err();
    EXPECT_TRUE(machines->EventsNamed("params").empty());
    CliProcess again({"--resume", "last"});
    EXPECT_EQ(again.Wait(), 0);
    EXPECT_TRUE(again.Err().starts_with("kelo-cli: nothing to resume: ")) << again.Err();
}

// --max-fail 2 with five silent hosts first: no host starts after the third failure, so
// the machines after them never see a connection.
TEST_F(HostListRun, MaxFailStartsNoHostOnceTheBudgetIsSpent) {
    StartMachines(4);
    WriteFile(hosts,
              "127.0.5.1\n127.0.5.2\n127.0.5.3\n127.0.5.4\n127.0.5.5\n" + ReadFileText(hosts));
    CliProcess run({"--hosts", hosts, "--jobs", "1", "--max-fail", "2", "get-report", "-o",
                    out + "/{host}.kel"});
    EXPECT_EQ(run.Wait(), 1);
    EXPECT_TRUE(machines->EventsNamed("connect").empty());
    EXPECT_NE(run.Err().find("\n127.0.5.3: failed\n127.0.5.4: skipped\n"), std::string::npos)
        << run.Err();
    EXPECT_NE(run.Err().find("\nkelo-cli: 3 machines failed, more than --max-fail 2 allows; 6 "
                             "machines skipped (resume with --resume "),
              std::string::npos)
        << run.Err();
}

// SIGKILL to a list and its hosts while they record leaves a database SQLite finds sound.
TEST_F(HostListRun, SigkillInTheMiddleLeavesASoundDatabase) {
    StartMachines(16);
    CliProcess run({"--hosts", hosts, "--jobs", "8", "get-report", "-o", out + "/{host}.kel"});
    ASSERT_NE(machines->WaitForEvent("disconnect", 12), "");
    // Stopped first, so that no host starts while the running ones are found and killed.
    ASSERT_EQ(::kill(run.Pid(), SIGSTOP), 0);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string pid, name, state, parent;
        std::ifstream(entry.path() / "stat") >> pid >> name >> state >> parent;
        if (parent == std::to_string(run.Pid()))
            ::kill(std::stoi(pid), SIGKILL);
    }
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    SQLite::Database database(env.RecordsPath());
    database.setBusyTimeout(10000);  // the killed hosts may not have ended yet
    EXPECT_EQ(database.execAndGet("PRAGMA integrity_check").getString(), "ok");
    EXPECT_FALSE(SQLite::Statement(database, "PRAGMA foreign_key_check").executeStep());
}

TEST_F(HostListRun, ASingleHostsJsonLineCarriesTheReportText) {
    std::string report;
    for (int b = 1; b < 256; ++b)
        report += static_cast<char>(b);  // every byte but 0, which ends a report
    everyReport = report;
    StartMachines(1);
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);

    const CliResult printed = RunCli({"--host", "127.0.4.0", "--json", "--progress-fd",
                                      std::to_string(progress[1]), "get-report"});
    ::close(progress[1]);
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.err, "");
    ASSERT_EQ(printed.out.find('\n'), printed.out.size() - 1) << "one line and no summary";
    const json line = json::parse(printed.out);
    EXPECT_EQ(line["host"], "127.0.4.0");
    EXPECT_EQ(line["result"], "ok");
    EXPECT_TRUE(line["output"].is_null());
    EXPECT_EQ(line["bytes"], 255);
    std::string text;  // each byte as the code point of its value, in UTF-8
    for (unsigned char b : report) {
        text += static_cast<char>(b < 0x80 ? b : 0xC0 | (b >> 6));
        if (b >= 0x80)
            text += static_cast<char>(0x80 | (b & 0x3F));
    }
    EXPECT_EQ(line["text"], text);
    const std::string percents = ReadFileText("/proc/self/fd/" + std::to_string(progress[0]));
    ::close(progress[0]);
    EXPECT_TRUE(percents.starts_with("0\n") && percents.ends_with("\n100\n")) << percents;

    const CliResult refused =
        RunCli({"--host", "127.0.5.1", "--type", "3", "--json", "get-report"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "kelo-cli: Failed to connect.\n");
    const json failed = json::parse(refused.out);
    EXPECT_EQ(failed["message"], "Failed to connect.");
    EXPECT_TRUE(failed["text"].is_null());
}

}  // namespace
}  // namespace cli_testing
