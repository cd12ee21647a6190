// kelo-cli against kelo-sim, for every machine type, each test in a network namespace of its
// own: what reaches the machine, what comes back, and how failures and Ctrl-C end a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include <SQLiteCpp/Database.h>
#include <nlohmann/json.hpp>

#include "cli/interrupt.h"
#include "files/parameter_file.h"
#include "net/target.h"
#include "ops/operations.h"
#include "records/service_records.h"
#include "records/sha256.h"
#include "tests/cli/cli_harness.h"
#include "testsupport/sim_process.h"

namespace cli_testing {
namespace {

using sim_testing::EventField;
using sim_testing::SimProcess;

constexpr char kMachineHost[] = "127.0.0.2";
constexpr size_t kSetSize = 65536;

// A report with every byte value but 0 (which ends a report text), in numbered lines.
std::string MakeReport(size_t size) {
    std::string report;
    for (int line = 0; report.size() < size; ++line) {
        report += "line " + std::to_string(line) + ": ";
        for (int b = 1; b < 256 && report.size() < size; b += 3)
            report += static_cast<char>(b);
        report += "\r\n";
    }
    report.resize(size);
    return report;
}

std::string MakeBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 16);
    }
    return bytes;
}

uint8_t ParameterCheckByte(const std::string& set) {
    return kelo::ParameterCheckByte(reinterpret_cast<const uint8_t*>(set.data()),
                                    static_cast<int>(set.size()));
}

class CliAgainstSim : public ::testing::TestWithParam<int> {
  protected:
    int Type() const { return GetParam(); }
    bool LineProtocol() const { return Type() == 1 || Type() == 2; }

    // Starts the machine with the test's report and parameter set, recording what it takes.
    void StartMachine(const std::vector<std::string>& extra = {}) {
        WriteFile(env.File("machine-report"), report);
        WriteFile(env.File("machine-params"), parameterSet);
        std::vector<std::string> arguments{
            "--type",   std::to_string(Type()),     "--bind",       kMachineHost,
            "--report", env.File("machine-report"), "--params",     env.File("machine-params"),
            "--record", env.File("record"),         "--restart-ms", "0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        machine = std::make_unique<SimProcess>(arguments);
        ASSERT_TRUE(machine->Listening()) << machine->StandardError();
    }

    // Runs kelo-cli for this machine with the options that hold for this run only.
    CliResult Run(std::vector<std::string> arguments, bool terminal = false) {
        arguments.insert(arguments.begin(),
                         {"--host", kMachineHost, "--type", std::to_string(Type())});
        return RunCli(arguments, terminal);
    }

    // Runs get-report -o name: the save is refused with message and leaves no file.
    void ExpectReportSaveRefused(const std::string& name, const std::string& message) {
        const CliResult saved = Run({"get-report", "-o", env.File(name)});
        EXPECT_EQ(saved.status, 1);
        EXPECT_EQ(saved.err, "kelo-cli: " + message + "\n");
        EXPECT_FALSE(std::filesystem::exists(env.File(name)));
    }

    // What the machine recorded in the file named by the event.
    std::string Recorded(const std::string& event) {
        const std::string line = machine->WaitForEvent(event);
        EXPECT_NE(line, "") << "no " << event << " event";
        return ReadFileText(EventField(line, "file"));
    }

    CliEnvironment env;
    std::string report = MakeReport(5000);
    std::string parameterSet = MakeBytes(kSetSize, 7);
    std::unique_ptr<SimProcess> machine;
};

TEST_P(CliAgainstSim, ReportGoesToStandardOutputAndToBothFileKinds) {
    StartMachine();
    const CliResult printed = Run({"get-report"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.err, "");
    EXPECT_EQ(printed.out, report) << "byte for byte";

    EXPECT_EQ(Run({"get-report", "-o", env.File("r.kel")}).status, 0);
    EXPECT_EQ(Run({"get-report", "-o", env.File("r.txt")}).status, 0);
    EXPECT_EQ(ReadFileText(env.File("r.txt")), report);
    const CliResult reopened = RunCli({"open-report", env.File("r.kel")});
    EXPECT_EQ(reopened.status, 0);
    EXPECT_EQ(reopened.out, report);

    ExpectReportSaveRefused("r.htm", "Illegal File");
}

TEST_P(CliAgainstSim, ParameterSetGoesBackAsTheMachineGaveIt) {
    StartMachine();
    const CliResult got = Run({"get-params", "-o", env.File("set.prm")});
    ASSERT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.err, "");
    std::vector<uint8_t> plainBlock;
    ASSERT_TRUE(kelo::LoadParameterFile(
        [&](std::string& path) {
            path = env.File("set.prm");
            return true;
        },
        plainBlock));
    EXPECT_EQ(std::string(plainBlock.begin(), plainBlock.end()),
              parameterSet + static_cast<char>(ParameterCheckByte(parameterSet)));

    const CliResult put = Run({"put-params", env.File("set.prm")});
    EXPECT_EQ(put.status, 0);
    EXPECT_EQ(put.err, "kelo-cli: Done.\n");
    if (LineProtocol()) {
        // The whole set goes, with the file's check byte.
        EXPECT_EQ(Recorded("params"),
                  parameterSet + static_cast<char>(ParameterCheckByte(parameterSet)));
    } else {
        // Without "all" only the second half goes.
        EXPECT_EQ(Recorded("params"), parameterSet.substr(kSetSize / 2));
        EXPECT_EQ(EventField(machine->WaitForEvent("params"), "half"), "2");
    }
    EXPECT_NE(machine->WaitForEvent("restart"), "") << "the closing rs restarts the machine";
}

TEST_P(CliAgainstSim, FirmwareImageArrivesByteForByte) {
    StartMachine();
    const std::string image = MakeBytes(250000, 11);
    WriteFile(env.File("main.rfw"), image);
    // While kelo-cli waits for the restart, the machine restarts.
    env.Clock().onSleep = [this](int milliseconds) {
        if (milliseconds >= 3000 && !LineProtocol())
            machine->WaitForEvent("ready");
    };
    const CliResult upgraded = Run({"upgrade", env.File("main.rfw")});
    EXPECT_EQ(upgraded.status, 0);
    EXPECT_EQ(upgraded.err, "kelo-cli: Done.\n");
    EXPECT_EQ(Recorded("firmware"), image);
    EXPECT_EQ(EventField(machine->WaitForEvent("restart"), "cause"), "firmware-update");
}

TEST_P(CliAgainstSim, CtrlCInALongReadEndsItAsCancelDoes) {
    StartMachine({"--fault", "never-answer"});
    const std::string folder = env.File("out");
    std::filesystem::create_directory(folder);
    // The read is under way once the machine has taken the request and keeps quiet.
    std::thread pressCtrlC([this] {
        if (LineProtocol())
            machine->WaitForEvent("snmp", 3);
        else
            machine->WaitForEvent("reply-withheld");
        ::kill(::getpid(), SIGINT);
    });
    const CliResult cancelled = Run({"get-report", "-o", folder + "/x.kel"});
    pressCtrlC.join();

    EXPECT_EQ(cancelled.status, 130);
    EXPECT_EQ(cancelled.out, "");
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "no report file, no temporary file";
    // The connection was closed, and types 1 and 2 got no end-of-exchange byte.
    EXPECT_NE(machine->WaitForEvent("disconnect"), "");
    EXPECT_TRUE(machine->EventsNamed("end-of-exchange").empty());
    if (LineProtocol()) {
        EXPECT_TRUE(cancelled.err == "" || cancelled.err == "kelo-cli: Failed to receive.\n")
            << cancelled.err;
    } else {
        EXPECT_EQ(cancelled.err, "kelo-cli: Failed to receive.\n");
    }
}

TEST_P(CliAgainstSim, OutputNamesAreRefusedBeforeTheMachineIsContacted) {
    StartMachine();
    EXPECT_EQ(Run({"get-report", "-o", env.File("r.KEL")}).status, 1);
    EXPECT_EQ(Run({"get-report", "-o", env.File("missing/r.kel")}).status, 1);
    EXPECT_EQ(Run({"get-params", "-o", env.File("missing/set.prm")}).status, 1);
    machine->Stop();
    EXPECT_EQ(machine->Events().size(), 2u) << "listening and stopped only";
}

// Ctrl-C in the wait for the restart, after the machine took the update command.
TEST_P(CliAgainstSim, UpgradeCancelledAfterTheUpdateCommandSaysTheMachineWaits) {
    StartMachine();
    WriteFile(env.File("main.rfw"), MakeBytes(250000, 11));
    env.Clock().onSleep = [](int milliseconds) {
        if (milliseconds >= 3000 && !kelo::cli::Interrupted())
            ::raise(SIGINT);
    };
    const CliResult cancelled = Run({"upgrade", env.File("main.rfw")});
    env.Clock().onSleep = nullptr;
    EXPECT_EQ(cancelled.status, 130);
    EXPECT_TRUE(cancelled.err.ends_with(
        "kelo-cli: the machine may be waiting for its firmware; run the upgrade again\n"))
        << cancelled.err;
}

TEST_P(CliAgainstSim, RefusedConnectionFails) {
    const CliResult refused = Run({"get-report"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "kelo-cli: Failed to connect.\n");
    EXPECT_EQ(refused.out, "");
}

// Forms that the C library reads as the machine's address 127.0.0.8 other than as its dotted
// quad are refused with status 2 before anything is sent, from every place a host enters; the
// machine sees no connection and no datagram.
// Each operation is kept with its machine, result, files and what it read; a record that
// cannot be written changes neither the output nor the exit status.
TEST_P(CliAgainstSim, RecordsKeepEachOperationAndNeverChangeIt) {
    StartMachine();
    ASSERT_EQ(Run({"get-report", "-o", env.File("r.kel")}).status, 0);
    ASSERT_EQ(Run({"get-params", "-o", env.File("set.prm")}).status, 0);
    auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(opened) << opened.reason;
    kelo::records::ServiceRecords& records = **opened.value;
    const auto history = records.History({});
    ASSERT_TRUE(history) << history.reason;
    ASSERT_EQ(history->size(), 2u);
    const auto kept = records.Operation(history->back().id);
    ASSERT_TRUE(kept) << kept.reason;
    EXPECT_EQ(kept->operation, "get-report");
    EXPECT_EQ(kept->program, "kelo-cli");
    EXPECT_EQ(kept->result, kelo::records::Result::Ok);
    EXPECT_EQ(kept->machine.host, kMachineHost);
    EXPECT_EQ(kept->machine.type, Type());
    EXPECT_EQ(kept->machine.portKind, "network");
    const std::vector<uint8_t> file = testing_support::ReadFileBytes(env.File("r.kel"));
    ASSERT_EQ(kept->files.size(), 1u);
    EXPECT_EQ(kept->files[0].role, "output");
    EXPECT_EQ(kept->files[0].size, file.size());
    EXPECT_EQ(kept->files[0].sha256, kelo::records::Sha256Hex(file.data(), file.size()));
    const auto content = records.Content(kept->content.value_or(""));
    ASSERT_TRUE(content) << content.reason;
    EXPECT_EQ(kelo::records::DecodeReport(*content).value, report);
    const auto params = records.Operation(history->front().id);
    ASSERT_TRUE(params && params->content);
    const auto set = kelo::records::DecodeParameters(*records.Content(*params->content));
    ASSERT_TRUE(set) << set.reason;
    EXPECT_EQ(std::string(set->begin(), set->end() - 1), parameterSet);

    // history lists them newest first; show and compare give the kept ones back.
    const CliResult listed = RunCli({"history", "--json"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(nlohmann::json::parse(listed.out.substr(0, listed.out.find('\n')))["operation"],
              "get-params");
    const std::string reportId = std::to_string(kept->id);
    const std::string paramsId = std::to_string(params->id);
    EXPECT_EQ(RunCli({"show", reportId}).out, report);
    ASSERT_EQ(RunCli({"show", reportId, "-o", env.File("again.kel")}).status, 0);
    EXPECT_EQ(testing_support::ReadFileBytes(env.File("again.kel")), file);
    ASSERT_EQ(RunCli({"show", paramsId, "-o", env.File("again.prm")}).status, 0);
    EXPECT_EQ(testing_support::ReadFileBytes(env.File("again.prm")),
              testing_support::ReadFileBytes(env.File("set.prm")));
    EXPECT_EQ(RunCli({"compare", reportId, env.File("r.kel")}).status, 0);
    EXPECT_EQ(RunCli({"compare", paramsId, reportId}).status, 2);
    WriteFile(env.File("other.txt"), report + "more\n");
    const CliResult differ = RunCli({"compare", reportId, env.File("other.txt")});
    EXPECT_EQ(differ.status, 1);
    EXPECT_NE(differ.out.find("+++ " + env.File("other.txt")), std::string::npos) << differ.out;

    // A folder that is a file: the database cannot be made.
    WriteFile(env.File("plain"), "");
    const CliResult unrecorded = Run({"--records", env.File("plain/r.sqlite3"), "get-report"});
    EXPECT_EQ(unrecorded.status, 0);
    EXPECT_EQ(unrecorded.out, report);
    EXPECT_TRUE(unrecorded.err.starts_with("kelo-cli: not recorded: ")) << unrecorded.err;
    EXPECT_EQ(std::count(unrecorded.err.begin(), unrecorded.err.end(), '\n'), 1);

    EXPECT_EQ(Run({"--no-records", "get-report"}).err, "");
    env.SetProfile("[Records]\nEnabled=0\n");
    EXPECT_EQ(Run({"get-report"}).err, "");
    EXPECT_EQ(records.History({})->size(), 2u);
}

// A parameter write first keeps the machine's set as its backup; restore-params writes that
// set back as put-params would write its file, and refuses what is no parameter set.
TEST_P(CliAgainstSim, PutParamsKeepsTheOldSetThatRestoreParamsWritesBack) {
    StartMachine();
    const std::string other = MakeBytes(kSetSize, 9);
    ASSERT_TRUE(SaveAsParameterFile(other, env.File("other.prm")));
    const CliResult put = Run({"put-params", env.File("other.prm")});
    ASSERT_EQ(put.status, 0) << put.err;
    EXPECT_EQ(put.err, "kelo-cli: Done.\n");
    auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(opened) << opened.reason;
    kelo::records::ServiceRecords& records = **opened.value;
    const auto backup = records.NewestBackup(kMachineHost);
    ASSERT_TRUE(backup) << backup.reason;
    EXPECT_EQ(backup->operation, "backup");
    // The write's record starts after the backup it began with, so it lists above it.
    const auto listed = *records.History({});
    EXPECT_GE(listed[0].startedMs, listed[1].endedMs) << listed[0].operation;
    const auto kept = kelo::records::DecodeParameters(*records.Content(*backup->content));
    ASSERT_TRUE(kept) << kept.reason;
    EXPECT_EQ(std::string(kept->begin(), kept->end()),
              parameterSet + static_cast<char>(ParameterCheckByte(parameterSet)));

    ASSERT_NE(machine->WaitForEvent("ready"), "") << "the write restarted it";
    const CliResult restored =
        RunCli({"--type", std::to_string(Type()), "restore-params", kMachineHost});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(restored.err.starts_with("kelo-cli: writing back record " +
                                         std::to_string(backup->id) +
                                         ", the parameter set of 127.0.0.2 kept "))
        << restored.err;
    EXPECT_TRUE(restored.err.ends_with("\nkelo-cli: Done.\n")) << restored.err;
    ASSERT_NE(machine->WaitForEvent("params", 2), "");
    const std::string written = ReadFileText(EventField(machine->EventsNamed("params")[1], "file"));
    EXPECT_EQ(written, LineProtocol() ? std::string(kept->begin(), kept->end())
                                      : parameterSet.substr(kSetSize / 2));
    EXPECT_NE(records.NewestBackup(kMachineHost)->id, backup->id) << "a backup of its own";

    EXPECT_EQ(Run({"--no-backup", "get-report"}).status, 2) << "only with parameter writes";
    ASSERT_NE(machine->WaitForEvent("ready", 2), "");
    ASSERT_EQ(Run({"get-report", "-o", env.File("r.kel")}).status, 0);
    const std::string reportId = std::to_string(records.History({})->front().id);
    const CliResult refused = Run({"restore-params", reportId});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "kelo-cli: record " + reportId + " kept a report, not a parameter set\n");
    const int otherType = Type() == 1 ? 2 : 1;
    const CliResult mistyped = RunCli({"--type", std::to_string(otherType), "restore-params",
                                       kMachineHost, std::to_string(backup->id)});
    EXPECT_EQ(mistyped.status, 1);
    EXPECT_NE(mistyped.err.find("is the parameter set of a type " + std::to_string(Type()) +
                                " machine, and this one is type " + std::to_string(otherType) +
                                "; nothing was written"),
              std::string::npos)
        << mistyped.err;
    EXPECT_EQ(Run({"--no-records", "restore-params"}).status, 1);
    const CliResult unkept = Run({"--no-records", "put-params", env.File("other.prm")});
    EXPECT_EQ(unkept.err, "kelo-cli: records are off; no backup was kept\nkelo-cli: Done.\n");
    ASSERT_NE(machine->WaitForEvent("params", 3), "");
    EXPECT_EQ(machine->EventsNamed("params").size(), 3u) << "refusals wrote nothing";

    // A backup that was read but cannot be recorded does not stop the write; the line says so.
    ASSERT_NE(machine->WaitForEvent("ready", 3), "");
    WriteFile(env.File("plain"), "");
    const CliResult unrecorded =
        Run({"--records", env.File("plain/r.sqlite3"), "put-params", env.File("other.prm")});
    EXPECT_EQ(unrecorded.status, 0);
    EXPECT_TRUE(unrecorded.err.starts_with("kelo-cli: not recorded: ")) << unrecorded.err;
    EXPECT_NE(unrecorded.err.find("\nkelo-cli: Done.\n"), std::string::npos) << unrecorded.err;
    EXPECT_NE(machine->WaitForEvent("params", 4), "");
}

// --if-changed writes nothing to a machine that holds the set, --check and --diff say what a
// write would change (for types 3 and 4 only the second half they are sent), and --verify
// reads back what went.
TEST_P(CliAgainstSim, WritesOnlyWhatChangesAndSaysWhatWouldChange) {
    StartMachine();
    std::string other = parameterSet;
    other[16] = static_cast<char>(~other[16]);  // the first half, which types 3 and 4 keep
    for (size_t at = 40000; at < 40003; ++at)
        other[at] = static_cast<char>(~other[at]);
    for (const auto& [name, set] : {std::pair{"same.prm", &parameterSet}, {"other.prm", &other}})
        ASSERT_TRUE(SaveAsParameterFile(*set, env.File(name)));
    const auto line = [](const CliResult& run) {
        EXPECT_EQ(run.status, 0) << run.err;
        return nlohmann::json::parse(run.out);
    };
    const CliResult held = Run({"--json", "put-params", "--if-changed", env.File("same.prm")});
    EXPECT_EQ(held.status, 0) << held.err;
    EXPECT_EQ(held.err, "kelo-cli: unchanged: the machine already holds this set\n");
    EXPECT_EQ(line(held)["result"], "unchanged");
    EXPECT_TRUE(line(held)["backup"].is_number()) << held.out;

    const CliResult checked = Run({"put-params", "--check", env.File("other.prm")});
    EXPECT_EQ(checked.status, 0) << checked.err;
    EXPECT_EQ(checked.out, LineProtocol() ? "would change 4 bytes in 2 ranges\n"
                                          : "would change 3 bytes in 1 range\n");
    const auto diffed =
        line(RunCli({"--type", std::to_string(Type()), "--json", "restore-params", "--check",
                     "--diff", kMachineHost, std::to_string(line(held)["backup"].get<int64_t>())}));
    EXPECT_EQ(diffed["check"], "unchanged");
    EXPECT_EQ(diffed["diff"], nlohmann::json::array());
    const auto ranges =
        line(Run({"--json", "put-params", "--diff", "--check", env.File("other.prm")}))["diff"];
    ASSERT_EQ(ranges.size(), LineProtocol() ? 2u : 1u) << ranges;
    const auto& last = ranges.back();
    EXPECT_EQ(last["offset"], 40000);
    EXPECT_EQ(last["length"], 3);
    const auto hex = [](const std::string& bytes) {
        std::string text;
        for (const unsigned char byte : bytes)
            text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
        return text;
    };
    EXPECT_EQ(last["before"], hex(parameterSet.substr(40000, 3)));
    EXPECT_EQ(last["after"], hex(other.substr(40000, 3)));
    WriteFile(env.File("main.rfw"), MakeBytes(250000, 11));
    EXPECT_EQ(Run({"upgrade", "--check", env.File("main.rfw")}).out, "would send 250,000 bytes\n");
    EXPECT_TRUE(machine->EventsNamed("params").empty());
    EXPECT_TRUE(machine->EventsNamed("restart").empty());
    EXPECT_TRUE(machine->EventsNamed("firmware").empty());

    // The write's wait after its closing command lasts until the machine is back.
    env.Clock().onSleep = [this](int milliseconds) {
        if (milliseconds == 3000)
            machine->WaitForEvent("ready");
    };
    const CliResult written =
        Run({"put-params", "--if-changed", "--verify", env.File("other.prm")});
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.err,
              "kelo-cli: Done.\nkelo-cli: verified: the machine answered again and "
              "holds the set written\n");
    EXPECT_NE(machine->WaitForEvent("params"), "");
    auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
    kelo::records::HistoryQuery unchanged;
    unchanged.result = kelo::records::Result::Unchanged;
    EXPECT_EQ((*opened.value)->History(unchanged)->size(), 1u);
}

// A machine that does not give its parameter set for the backup gets nothing written.
TEST_P(CliAgainstSim, ABackupThatCannotBeReadWritesNothing) {
    StartMachine({"--fault", "never-answer"});
    ASSERT_TRUE(SaveAsParameterFile(parameterSet, env.File("set.prm")));
    const CliResult put = Run({"--timeout", "1", "put-params", env.File("set.prm")});
    EXPECT_EQ(put.status, 1);
    EXPECT_NE(put.err.find("kelo-cli: could not read the machine's parameters for a backup; "
                           "nothing was written (--no-backup writes without one)\n"),
              std::string::npos)
        << put.err;
    EXPECT_NE(machine->WaitForEvent("disconnect"), "");
    EXPECT_TRUE(machine->EventsNamed("params").empty());
    auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
    ASSERT_TRUE(opened) << opened.reason;
    EXPECT_FALSE((*opened.value)->NewestBackup(kMachineHost));
}

TEST(CliHostForms, OtherNumericFormsReachNoMachine) {
    CliEnvironment env;
    SimProcess machine({"--type", "3", "--bind", "127.0.0.8", "--restart-ms", "0"});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    env.SetProfile("[Port]\nPort=1\nNumHost=1\nHost0=127.0.0.010\nHostSel=0\nMachineType=2\n");
    WriteFile(env.File("hosts"), "127.8\n");
    const std::vector<std::vector<std::string>> runs = {
        {"--host", "127.0.0.010", "--type", "3", "get-report"},
        {"--host", "0x7f.0.0.8", "--type", "3", "get-report"},
        {"restart", "127.8"},
        {"get-report"},  // the profile's host, kept from before
        {"--hosts", env.File("hosts"), "get-report", "-o", env.File("{host}.kel")},
        {"discover", "--subnet", "127.0.0.010/32"},
    };
    for (const std::vector<std::string>& arguments : runs) {
        const CliResult refused = RunCli(arguments);
        EXPECT_EQ(refused.status, 2) << arguments[1];
        EXPECT_NE(refused.err.find(": write IPv4 addresses "), std::string::npos) << refused.err;
    }
    EXPECT_EQ(machine.Events().size(), 1u) << "listening only";
    EXPECT_EQ(RunCli({"--host", "127.0.0.8", "--type", "3", "get-report"}).status, 0);
}

// A name service of the test's own for as long as it lives.
class ReplacedNameService {
  public:
    explicit ReplacedNameService(kelo::NameService service)
        : previous_(kelo::ReplaceNameService(std::move(service))) {}
    ~ReplacedNameService() { kelo::ReplaceNameService(std::move(previous_)); }

  private:
    kelo::NameService previous_;
};

// A resolver that answers one name with two addresses in turn (only the first has a machine):
// a run looks its host up once and every connection of it goes there, a single run as a host
// of a list, and the address reached is told.
TEST_P(CliAgainstSim, ANameAnsweredWithTwoAddressesInTurnReachesOneMachine) {
    StartMachine();
    int lookups = 0;
    ReplacedNameService resolver([&lookups](const std::string& name) -> std::optional<uint32_t> {
        if (name != "printer-a")
            return std::nullopt;
        return ++lookups % 2 == 1 ? 0x7F000002u : 0x7F000003u;
    });
    const std::string type = std::to_string(Type());
    const CliResult single = RunCli(
        {"--host", "printer-a", "--type", type, "--json", "get-params", "-o", env.File("a.prm")});
    EXPECT_EQ(single.status, 0) << single.err;
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(nlohmann::json::parse(single.out)["address"], kMachineHost);
    WriteFile(env.File("hosts"), "printer-a\n");
    lookups = 0;
    const CliResult listed = RunCli({"--hosts", env.File("hosts"), "--type", type, "--json",
                                     "get-params", "-o", env.File("{host}.prm")});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(lookups, 1) << "the list looks it up once, its host's run not again";
    EXPECT_EQ(nlohmann::json::parse(listed.out.substr(0, listed.out.find('\n')))["address"],
              kMachineHost);
    EXPECT_TRUE(ReadFileText(env.File("printer-a.prm")) == ReadFileText(env.File("a.prm")));
}

// Numeric forms a resolver would answer as names, IPv6 forms and addresses of no one machine
// are refused before any packet, on the command line and from a name's answer alike.
TEST(CliHostForms, TrailingDotsIPv6AndNoMachinesAddressesAreRefused) {
    CliEnvironment env;
    SimProcess machine({"--type", "3", "--bind", "127.0.0.8", "--restart-ms", "0"});
    ASSERT_TRUE(machine.Listening()) << machine.StandardError();
    ReplacedNameService resolver([](const std::string& name) -> std::optional<uint32_t> {
        return name == "everyone" ? std::optional<uint32_t>(0xFFFFFFFFu) : 0x7F000008u;
    });
    for (const char* host : {"127.0.0.8.", "::ffff:127.0.0.8", "::ffff:7f00:8", "0.0.0.0", "0",
                             "224.0.0.1", "everyone"}) {
        const CliResult refused = RunCli({"--host", host, "--type", "3", "get-report"});
        EXPECT_EQ(refused.status, 2) << host << ": " << refused.err;
        EXPECT_EQ(refused.err.find("did you mean 0.0.0.0"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(machine.Events().size(), 1u) << "listening only";
}

// --resume goes through the list's resolve-and-compare: two hosts that reach one machine by
// now are refused as a list naming them would be.
TEST(CliHostForms, ResumeRefusesHostsThatNowReachOneMachine) {
    CliEnvironment env;
    std::map<std::string, uint32_t> names = {{"a", 0x7F000009u}, {"b", 0x7F00000Au}};
    ReplacedNameService resolver([&names](const std::string& name) -> std::optional<uint32_t> {
        const auto found = names.find(name);
        return found == names.end() ? std::nullopt : std::optional(found->second);
    });
    WriteFile(env.File("hosts"), "a\nb\n");
    const CliResult first = RunCli({"--hosts", env.File("hosts"), "--type", "3", "--timeout", "5",
                                    "get-params", "-o", env.File("{host}.prm")});
    EXPECT_EQ(first.status, 1) << "nobody listens: " << first.err;
    names["b"] = names["a"];
    const CliResult resumed = RunCli({"--resume", "last"});
    EXPECT_EQ(resumed.status, 2) << resumed.err;
    EXPECT_NE(resumed.err.find(":2: b reaches 127.0.0.9, as a on line 1 does"), std::string::npos)
        << resumed.err;
}

INSTANTIATE_TEST_SUITE_P(EveryType, CliAgainstSim, ::testing::Values(1, 2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Type" + std::to_string(info.param);
                         });

// Ctrl-C as the run starts its nth wait of waitMs (0: while a withheld reply is awaited)
// always cancels it, with 130 and no "Done."; once the machine has everything (the closing rs,
// the whole image) a line says so. Each run's trace holds its Cancel, named by its cause.
TEST_P(CliAgainstSim, CtrlCCancelsARunAndSaysWhatTheMachineAlreadyHas) {
    struct Point {
        const char* command;
        int waitMs, nth;
        bool machineHasAll;
    };
    const int restartWait = Type() == 4 ? 10000 : 3000;
    const std::vector<Point> points = LineProtocol()
                                          ? std::vector<Point>{{"put-params", 3000, 1, false},
                                                               {"put-params", 3000, 2, true},
                                                               {"upgrade", 300, 1, false},
                                                               {"upgrade", 3000, 1, false},
                                                               {"upgrade", 300, 2, true}}
                                          : std::vector<Point>{{"put-params", 3000, 1, true},
                                                               {"put-params", 0, 1, false},
                                                               {"upgrade", restartWait, 1, false},
                                                               {"upgrade", 300, 1, true}};
    WriteFile(env.File("main.rfw"), parameterSet);
    for (const Point& p : points) {
        const bool upgrade = p.command == std::string("upgrade");
        machine.reset();
        StartMachine(p.waitMs > 0 ? std::vector<std::string>{}
                                  : std::vector<std::string>{"--fault", "never-answer"});
        if (!upgrade && !std::filesystem::exists(env.File("set.prm"))) {
            ASSERT_EQ(Run({"get-params", "-o", env.File("set.prm")}).status, 0);
        }
        env.Clock().onSleep = [this, p, seen = 0](int milliseconds) mutable {
            if (milliseconds >= 3000 && !LineProtocol())
                machine->WaitForEvent("ready");  // it restarted at the update or rs command
            if (milliseconds == p.waitMs && ++seen == p.nth)
                ::kill(::getpid(), SIGINT);
        };
        std::thread withheld([this, p] {
            if (p.waitMs == 0 && !machine->WaitForEvent("reply-withheld").empty())
                ::kill(::getpid(), SIGINT);
        });
        env.Clock().Clear();
        const std::string trace = env.File(std::string(p.command) + std::to_string(p.waitMs) + "-" +
                                           std::to_string(p.nth) + ".txt");
        const CliResult run =
            Run({"--trace", trace, p.command, env.File(upgrade ? "main.rfw" : "set.prm")});
        withheld.join();
        const std::string where = std::string(p.command) + " at " + std::to_string(p.waitMs);
        EXPECT_EQ(run.status, 130) << where;
        const std::string had = upgrade ? "received the whole firmware image"
                                        : "received the whole parameter set and restarts";
        EXPECT_EQ(run.err.ends_with("kelo-cli: interrupted; the machine had already " + had + "\n"),
                  p.machineHasAll)
            << where << run.err;
        EXPECT_EQ(run.err.find("Done."), std::string::npos) << where << run.err;
        const std::vector<int>& waits = env.Clock().Waits();
        EXPECT_TRUE(waits.empty() || waits.back() == p.waitMs) << where << ": a wait after";
        EXPECT_NE(ReadFileText(trace).find("Z Cancel (SIGINT)\n"), std::string::npos) << where;
        // Only a run stopped after the closing rs or the whole image gave the machine all.
        const char* last = !p.machineHasAll ? "disconnect" : upgrade ? "firmware" : "restart";
        EXPECT_NE(machine->WaitForEvent(last), "") << where;
        bool whole = !upgrade && !machine->EventsNamed("restart").empty();
        for (const std::string& event : machine->EventsNamed("firmware"))
            whole = whole || EventField(event, "bytes") == std::to_string(kSetSize);
        EXPECT_EQ(whole, p.machineHasAll) << where;
    }
}

// --timeout ends a run that gets no answer as Ctrl-C would, as a failure that says why.
TEST_P(CliAgainstSim, TimeoutEndsARunWithoutAnswer) {
    StartMachine({"--fault", "never-answer"});
    const std::string folder = env.File("out");
    std::filesystem::create_directory(folder);
    const CliResult run = Run({"--timeout", "1", "--json", "get-report", "-o", folder + "/r.kel"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with("kelo-cli: no answer within 1 s\n")) << run.err;
    EXPECT_NE(run.out.find(R"("result":"timed-out","message":"no answer within 1 s")"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << "no report file, no temporary file";
    EXPECT_NE(machine->WaitForEvent("disconnect"), "") << "the port was closed";
    if (Type() == 1) {  // addressed as type 2, it ignores the commands
        EXPECT_EQ(Run({"--type", "2", "--timeout", "1", "get-report"}).status, 1);
    }
}

class CliAgainstPacketSim : public CliAgainstSim {};

TEST_P(CliAgainstPacketSim, DamagedRepliesFailWithALineOfTheirOwn) {
    const std::string damaged = "the machine's reply was damaged or incomplete";
    for (const char* fault : {"bad-checksum", "bad-lead", "close-mid-body"}) {
        machine.reset();
        StartMachine({"--fault", fault});
        const CliResult report = Run({"get-report"});
        EXPECT_EQ(report.status, 1) << fault;
        EXPECT_EQ(report.out + report.err, "kelo-cli: " + damaged + "\n") << fault;
        const CliResult params = Run({"--json", "get-params", "-o", env.File("set.prm")});
        EXPECT_EQ(EventField(params.out, "message"), damaged) << fault;
        EXPECT_FALSE(std::filesystem::exists(env.File("set.prm"))) << fault;
    }
}

TEST_P(CliAgainstPacketSim, ReportInACodePageIsShownConvertedAndSavedAsTheMachinesBytes) {
    report = "25\x81\x8B\x43 \x83\x5C\r\n";  // 25 degrees C, then a katakana ending in 0x5C
    StartMachine();
    const std::string shown = "25\u00B0C \u30BD\r\n";
    EXPECT_EQ(Run({"--encoding", "CP932", "get-report"}).out, shown);
    const auto line = nlohmann::json::parse(Run({"--encoding=CP932", "--json", "get-report"}).out);
    EXPECT_EQ(line["encoding"], "CP932");
    EXPECT_EQ(line["text"], shown);
    EXPECT_EQ(Run({"--encoding", "CP932", "get-report", "-o", env.File("r.txt")}).status, 0);
    EXPECT_EQ(ReadFileText(env.File("r.txt")), report);
}

// Another program holding the records' write lock holds put-params up by one wait of at most
// a second more than the same put without the lock (on the test's clock); the backup reaches
// the records once the lock is gone.
TEST_P(CliAgainstPacketSim, ALockedDatabaseDelaysTheWriteOneSecondAtMostAndKeepsTheBackup) {
    StartMachine();
    ASSERT_TRUE(SaveAsParameterFile(parameterSet, env.File("set.prm")));
    ASSERT_TRUE(kelo::records::ServiceRecords::Open(env.RecordsPath()));
    long long lockedWaits = 0;
    {
        SQLite::Database other(env.RecordsPath(), SQLite::OPEN_READWRITE);
        other.exec("BEGIN IMMEDIATE");
        env.Clock().Clear();
        const CliResult put = Run({"put-params", env.File("set.prm")});
        EXPECT_EQ(put.status, 0);
        EXPECT_EQ(put.err, "kelo-cli: Done.\n");
        lockedWaits = env.Clock().Total();
        EXPECT_EQ(RunCli({"history"}).status, 0) << "reading waits for no writer";
    }
    env.Clock().Clear();
    ASSERT_EQ(Run({"put-params", env.File("set.prm")}).status, 0);
    EXPECT_GT(lockedWaits, env.Clock().Total());
    EXPECT_LE(lockedWaits, env.Clock().Total() + kelo::records::kBusyTimeoutMilliseconds);

    const CliResult listed = RunCli({"history", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 4) << listed.out;
    EXPECT_TRUE(std::filesystem::is_empty(env.RecordsPath() + "-pending"));
}

// SIGTERM while the record of a finished run waits for a locked database ends that wait at
// once, and the run ends as stopped (143); the record is set aside, not lost.
TEST_P(CliAgainstPacketSim, ASignalDuringTheRecordsWaitEndsItAndTheRun) {
    StartMachine();
    ASSERT_TRUE(kelo::records::ServiceRecords::Open(env.RecordsPath()));
    SQLite::Database other(env.RecordsPath(), SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    env.Clock().Clear();
    env.Clock().onSleep = [](int) { ::raise(SIGTERM); };
    const CliResult got = Run({"get-report", "-o", env.File("r.kel")});
    env.Clock().onSleep = nullptr;
    EXPECT_EQ(got.status, 143) << got.err;
    EXPECT_EQ(env.Clock().Waits().size(), 1u) << "the first slice of the wait was its last";
    EXPECT_FALSE(std::filesystem::is_empty(env.RecordsPath() + "-pending"));
}

// --verify fails a write after which the machine does not come back, after the whole bound.
TEST_P(CliAgainstPacketSim, VerifyFailsAWriteAfterWhichTheMachineStaysAway) {
    StartMachine({"--fault", "silent-after-restart"});
    ASSERT_TRUE(SaveAsParameterFile(parameterSet, env.File("set.prm")));
    // The write's wait after its closing command lasts until the machine has gone.
    env.Clock().onSleep = [this](int milliseconds) {
        if (milliseconds == 3000)
            machine->WaitForEvent("restart");
    };
    env.Clock().Clear();
    const CliResult put = Run({"--json", "put-params", "--verify", env.File("set.prm")});
    EXPECT_EQ(put.status, 1);
    EXPECT_TRUE(
        put.err.ends_with("kelo-cli: Done.\nkelo-cli: written, but the machine did not "
                          "answer within 60 s\n"))
        << put.err;
    EXPECT_EQ(nlohmann::json::parse(put.out)["result"], "failed");
    const auto waits = env.Clock().Waits();
    EXPECT_EQ(std::count(waits.begin(), waits.end(), kelo::ops::kAnswerRetryMs),
              kelo::ops::kAnswerAgainSeconds * 1000 / kelo::ops::kAnswerRetryMs);
}

INSTANTIATE_TEST_SUITE_P(Types3And4, CliAgainstPacketSim, ::testing::Values(3, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Type" + std::to_string(info.param);
                         });

class CliAgainstLineSim : public CliAgainstSim {};

TEST_P(CliAgainstLineSim, RestartSetsTheInterfacesRestartObject) {
    StartMachine();
    ASSERT_EQ(RunCli({"config", "add-host", kMachineHost}).status, 0);
    const CliResult selected = RunCli({"--json", "restart"});
    EXPECT_EQ(selected.status, 0);
    EXPECT_EQ(selected.err, "");
    EXPECT_EQ(EventField(selected.out, "answered"), "true");
    const std::string request = machine->WaitForEvent("snmp");
    EXPECT_EQ(EventField(request, "pdu"), "set");
    EXPECT_EQ(EventField(request, "oid"), ".1.3.6.1.4.1.1229.2.8.1.0");
    EXPECT_EQ(EventField(machine->WaitForEvent("restart"), "cause"), "snmp");

    // A host named on the command line needs no profile entry.
    ASSERT_EQ(RunCli({"config", "delete-host", "0"}).status, 0);
    machine->WaitForEvent("ready");
    EXPECT_EQ(RunCli({"restart", kMachineHost}).status, 0);
    EXPECT_NE(machine->WaitForEvent("restart", 2), "");
    // An agent that never answers may still restart: the run waits and stands, but says so.
    machine.reset();
    StartMachine({"--fault", "snmp-silence"});
    const std::string unanswered = "no answer to the restart request; the machine may not restart";
    const CliResult silent = Run({"--json", "restart"});
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(silent.err, "kelo-cli: " + unanswered + "\n");
    EXPECT_EQ(EventField(silent.out, "answered"), "false");
    EXPECT_EQ(EventField(silent.out, "message"), unanswered);
}

TEST_P(CliAgainstLineSim, ReportOverTheViewersLimitIsNotSaved) {
    report = MakeReport(131073);
    StartMachine();
    const CliResult printed = Run({"get-report"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, report);
    ExpectReportSaveRefused("big.txt", "Too Large File");
}

TEST_P(CliAgainstLineSim, ProgressLineFollowsTheLinesOnATerminal) {
    StartMachine();
    const int lines = static_cast<int>((report.size() + 127) / 128);
    const CliResult drawn = Run({"get-report", "-o", env.File("r.kel")}, true);
    EXPECT_EQ(drawn.status, 0);
    const std::string last = "Get Report [##############################] " +
                             std::to_string(lines) + "/" + std::to_string(lines);
    EXPECT_EQ(drawn.err.rfind("\rGet Report [", 0), 0u) << drawn.err;
    // The full bar is drawn, then cleared away.
    EXPECT_TRUE(drawn.err.ends_with("\r" + last + "\r" + std::string(last.size(), ' ') + "\r"))
        << drawn.err;

    const CliResult quiet = Run({"--no-progress", "get-report", "-o", env.File("r.kel")}, true);
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
}

// A backup the records cannot keep whole is no backup, and nothing is written: a set too large
// for a parameter file, and a read that gives no bytes (one line offered, sent empty).
TEST_P(CliAgainstLineSim, ABackupThatCannotBeKeptWholeWritesNothing) {
    ASSERT_TRUE(SaveAsParameterFile(parameterSet, env.File("set.prm")));
    const std::string unread =
        "kelo-cli: could not read the machine's parameters for a backup; nothing was written "
        "(--no-backup writes without one)\n";
    for (const bool tooLarge : {true, false}) {
        parameterSet = MakeBytes(tooLarge ? 131000 : kSetSize, 3);
        machine.reset();
        StartMachine(tooLarge ? std::vector<std::string>{}
                              : std::vector<std::string>{"--fault", "lines-empty"});
        const CliResult put = Run({"--timeout", "20", "put-params", env.File("set.prm")});
        EXPECT_EQ(put.status, 1) << put.err;
        EXPECT_TRUE(put.err.ends_with(unread)) << put.err;
        EXPECT_TRUE(machine->EventsNamed("params").empty());
        auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
        ASSERT_TRUE(opened) << opened.reason;
        EXPECT_FALSE((*opened.value)->NewestBackup(kMachineHost));
    }
}

INSTANTIATE_TEST_SUITE_P(Types1And2, CliAgainstLineSim, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Type" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace cli_testing
