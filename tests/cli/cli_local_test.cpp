// kelo-cli without a machine: the profile, report files, usage errors and the messages of a
// connection that is not set up.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <SQLiteCpp/Database.h>

#include <filesystem>
#include <functional>

#include "cli/interrupt.h"
#include "files/parameter_file.h"
#include "files/report_file.h"
#include "link/settings.h"
#include "platform/code_points.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "records/service_records.h"
#include "tests/cli/cli_harness.h"

namespace cli_testing {
namespace {

kelo::ConnectionSettings StoredSettings(const CliEnvironment& env) {
    return kelo::LoadSettings(kelo::platform::ProfileStore(env.ProfilePath()));
}

// The first Ctrl-C is the Cancel; the second ends the program at once with 130.
TEST(CliCtrlC, SecondOneEndsTheProgramWith130) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    kelo::cli::TerminalCancelDialog dialog;
    EXPECT_EXIT(
        {
            kelo::cli::InterruptGuard guard(dialog);
            ::raise(SIGINT);
            if (!dialog.IsCancelled())
                ::_exit(3);
            ::raise(SIGINT);
        },
        ::testing::ExitedWithCode(130), "");
}

TEST(CliConfig, ChangesAreSavedInTheProfileTheGuiReads) {
    CliEnvironment env;
    env.SetProfile("[Window]\nLeft=10\n");
    const std::vector<std::vector<std::string>> changes = {
        {"config", "add-host", "127.0.0.2"}, {"config", "add-host", "printer-b"},
        {"config", "add-host", "printer-c"}, {"config", "select-host", "2"},
        {"config", "delete-host", "0"},      {"config", "type", "1"},
        {"config", "port", "usb"},
    };
    for (const std::vector<std::string>& change : changes) {
        const CliResult result = RunCli(change);
        ASSERT_EQ(result.status, 0) << change[1] << ": " << result.err;
        EXPECT_EQ(result.out + result.err, "");
    }
    const kelo::ConnectionSettings stored = StoredSettings(env);
    EXPECT_EQ(stored.hosts, (std::vector<std::string>{"printer-b", "printer-c"}));
    EXPECT_EQ(stored.selectedHost, 1);
    EXPECT_EQ(stored.machineTypeIndex, 0);
    EXPECT_EQ(stored.portKind, kelo::kPortUsb);
    EXPECT_NE(env.Profile().find("[Window]\nLeft=10\n"), std::string::npos)
        << "other sections stay as they were";

    const CliResult shown = RunCli({"config"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "port: usb\ntype: 1\nhosts:\n  0 printer-b\n* 1 printer-c\n");
}

TEST(CliConfig, RunOptionsAndFailedChangesAreNeverSaved) {
    CliEnvironment env;
    const std::string profile =
        "[Port]\nPort=1\nHostSel=0\nNumHost=1\nHost0=printer-a\nWin9x_ExtraDelay=22000\n"
        "MachineType=2\n";
    env.SetProfile(profile);

    const CliResult shown =
        RunCli({"--host", "127.0.0.9", "--type", "4", "--port", "parallel", "config"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, "port: parallel\ntype: 4\nhosts:\n* 0 127.0.0.9\n");

    // A device command with run options fails on the absent parallel port.
    const CliResult failed =
        RunCli({"--host", "127.0.0.9", "--type", "1", "--port", "parallel", "get-report"});
    EXPECT_EQ(failed.status, 1);

    EXPECT_EQ(RunCli({"config", "select-host", "3"}).status, 2);
    EXPECT_EQ(RunCli({"config", "delete-host", "1"}).status, 2);
    EXPECT_EQ(RunCli({"open-report", env.File("missing.kel")}).status, 1);
    EXPECT_EQ(env.Profile(), profile) << "byte for byte as it was";
}

TEST(CliConfig, MissingFoldersAreMadeAndAProfileThatCannotBeSavedFails) {
    CliEnvironment env;
    ::setenv("XDG_CONFIG_HOME", env.File("home/.config").c_str(), 1);
    for (const char* host : {"127.0.0.50", "printer-b", "PRINTER-B"})
        ASSERT_EQ(RunCli({"config", "add-host", host}).status, 0) << host;
    EXPECT_EQ(RunCli({"config"}).out,
              "port: network\ntype: 3\nhosts:\n  0 127.0.0.50\n* 1 printer-b\n")
        << "a listed host is selected, not added again";

    const std::string blocked = env.File("home/.config/kelo.INI/sub");
    ::setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    const CliResult failed = RunCli({"config", "type", "1"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err,
              "kelo-cli: " + kelo::platform::FileErrorText(blocked + "/kelo.INI", ENOTDIR) + "\n");
}

TEST(CliConfig, CommandsOtherThanAChangeCreateNoProfile) {
    CliEnvironment env;
    RunCli({"config"});
    RunCli({"get-report"});
    RunCli({"--host", "h", "config"});
    EXPECT_FALSE(std::filesystem::exists(env.ProfilePath()));
}

std::string ParameterFile(const CliEnvironment& env) {
    std::vector<uint8_t> set(65536);
    for (size_t i = 0; i < set.size(); ++i)
        set[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> file;
    EXPECT_TRUE(kelo::EncodeParameterBlock(set.data(), static_cast<int>(set.size()), file));
    const std::string path = env.File("set.prm");
    WriteFile(path, std::string(file.begin(), file.end()));
    return path;
}

TEST(CliWithoutHost, EveryMachineCommandAsksToSetUpThePort) {
    CliEnvironment env;
    const std::string parameters = ParameterFile(env);
    WriteFile(env.File("fw.rfw"), "image");
    const std::vector<std::vector<std::string>> commands = {
        {"get-report"},
        {"get-report", "-o", env.File("r.kel")},
        {"get-params", "-o", env.File("p.prm")},
        {"put-params", parameters},
        {"upgrade", env.File("fw.rfw")},
        {"restart"},
        {"--port", "parallel", "get-report"},
    };
    for (const std::vector<std::string>& command : commands) {
        const CliResult result = RunCli(command);
        EXPECT_EQ(result.status, 1) << command[0];
        EXPECT_EQ(result.err,
                  "kelo-cli: Set up \"SELECT PORT\"\n"
                  "kelo-cli: hint: kelo-cli config add-host HOST (and config type N)\n")
            << command[0];
        EXPECT_EQ(result.out, "") << command[0];
    }
    EXPECT_FALSE(std::filesystem::exists(env.File("r.kel")));
    EXPECT_FALSE(std::filesystem::exists(env.File("p.prm")));
}

TEST(CliFiles, ChecksTheFileBeforeItLooksForTheMachine) {
    CliEnvironment env;
    WriteFile(env.File("fw.RFW"), "image");
    WriteFile(env.File("bad.prm"), "not a parameter file");
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"upgrade", env.File("fw.RFW")}, "kelo-cli: Illegal File\n"},
        {{"upgrade", env.File("none.rfw")},
         "kelo-cli: " + kelo::platform::FileErrorText(env.File("none.rfw"), ENOENT) + "\n"},
        {{"put-params", env.File("bad.prm")}, "kelo-cli: Illegal Parameter File.\n"},
        // -o is checked before the machine is looked for, or a report file read.
        {{"open-report", env.File("none.kel"), "-o", env.File("none/r.txt")},
         "kelo-cli: " + kelo::platform::FileErrorText(env.File("none/r.txt"), ENOENT) + "\n"},
    };
    for (const Case& c : cases) {
        const CliResult result = RunCli(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments[1];
        EXPECT_EQ(result.err, c.err);
    }
}

// Bytes a viewer holds: high bytes of the system code page, CR LF and a tab.
const std::string kReportText = "SERVICE REPORT\r\n\tCounter \x81\x40 \xE9 42\r\nEND";

TEST(CliOpenReport, PrintsTheTextOrSavesItByTheViewersRules) {
    CliEnvironment env;
    const std::string report = env.File("saved.kel");
    ASSERT_TRUE(kelo::SaveReportText(report, kReportText));

    const CliResult printed = RunCli({"open-report", report});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, kReportText) << "byte for byte, nothing added";
    EXPECT_EQ(printed.err, "");

    EXPECT_EQ(RunCli({"open-report", report, "-o", env.File("copy.txt")}).status, 0);
    EXPECT_EQ(ReadFileText(env.File("copy.txt")), kReportText);
    EXPECT_EQ(RunCli({"open-report", report, "-o", env.File("copykel")}).status, 0);
    EXPECT_EQ(RunCli({"open-report", env.File("copykel"), "-o", env.File("again.txt")}).status, 1)
        << "opening asks for the dotted extension";
    ASSERT_TRUE(std::filesystem::copy_file(env.File("copykel"), env.File("copy.KEL")));
    EXPECT_EQ(RunCli({"open-report", env.File("copy.KEL")}).out, kReportText);
}

TEST(CliOpenReport, RefusalsShowTheSystemsMessages) {
    CliEnvironment env;
    const std::string report = env.File("saved.kel");
    ASSERT_TRUE(kelo::SaveReportText(report, kReportText));
    WriteFile(env.File("plain.txt"), kReportText);
    std::string damaged = ReadFileText(report);
    damaged[0] = static_cast<char>(damaged[0] ^ 0x01);
    WriteFile(env.File("damaged.kel"), damaged);
    struct Case {
        std::vector<std::string> arguments;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"open-report", env.File("plain.txt")}, "kelo-cli: Illegal File\n"},
        {{"open-report", env.File("damaged.kel")}, "kelo-cli: Illegal Report File.\n"},
        {{"open-report", env.File("none.kel")},
         "kelo-cli: " + kelo::platform::FileErrorText(env.File("none.kel"), ENOENT) + "\n"},
        // The viewer saves only names ending in "kel" or "txt", case counting.
        {{"open-report", report, "-o", env.File("out.TXT")}, "kelo-cli: Illegal File\n"},
        {{"open-report", report, "-o", env.File("out.html")}, "kelo-cli: Illegal File\n"},
    };
    for (const Case& c : cases) {
        const CliResult result = RunCli(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments.back();
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(env.File("out.TXT")));
    EXPECT_FALSE(std::filesystem::exists(env.File("out.html")));
}

TEST(CliOpenReport, ShowsTheTextInTheProfilesCodePageUnlessTheRunNamesAnother) {
    CliEnvironment env;
    const std::string bytes("25\x81\x8B\x43 \x83\x5C\r\n");
    const std::string report = env.File("cp932.kel");
    ASSERT_TRUE(kelo::SaveReportText(report, bytes));
    env.SetProfile("[Report]\nEncoding=cp932\n");
    EXPECT_EQ(RunCli({"open-report", report}).out, "25\u00B0C \u30BD\r\n");
    EXPECT_EQ(RunCli({"open-report", report, "--encoding", "ISO-8859-1"}).out,
              kelo::platform::Latin1CodePoints(bytes));
    const CliResult unknownOption = RunCli({"--encoding", "NOPE", "open-report", report});
    EXPECT_EQ(unknownOption.status, 2);
    EXPECT_EQ(unknownOption.err,
              "kelo-cli: --encoding: unknown encoding 'NOPE' (try 'kelo-cli --help')\n");
    env.SetProfile("[Report]\nEncoding=NOPE\n");
    const CliResult unknownSetting = RunCli({"open-report", report});
    EXPECT_EQ(unknownSetting.status, 2);
    EXPECT_EQ(unknownSetting.err, "kelo-cli: unknown encoding 'NOPE' in " + env.ProfilePath() +
                                      " (Encoding in [Report])\n");
    EXPECT_EQ(RunCli({"open-report", report, "-o", env.File("copy.txt")}).status, 0)
        << "saving needs no code page";
}

// A trace file that is another file of the run, by any name, would destroy it: a usage
// error before any traffic. A command without traffic creates no trace file at all.
TEST(CliTraceFiles, AClashIsAUsageErrorAndOnlyTrafficCreatesThem) {
    CliEnvironment env;
    const std::string kept = env.File("case.txt");
    const std::string fresh = env.File("fresh.pcapng");
    WriteFile(kept, "the case\n");
    ASSERT_EQ(::symlink(kept.c_str(), env.File("link.txt").c_str()), 0);
    std::filesystem::create_directory(env.File("sub"));
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--trace", kept, "-o", kept, "get-report"}, "--trace and -o"},
        {{"--trace", kept, "--pcap", env.File("link.txt"), "restart"}, "--trace and --pcap"},
        {{"--pcap", env.File("sub/../fresh.pcapng"), "-o", fresh, "get-report"}, "--pcap and -o"},
        {{"--hosts", kept, "--trace", env.File("{host}"), "-o", env.File("{host}"), "get-report"},
         "--trace and -o"},
        {{"--trace", kept, "put-params", env.File("link.txt")},
         "--trace and the FILE of put-params"},
        {{"--trace", env.File("new.txt"), "-o", env.File("dangling.txt"), "get-report"},
         "--trace and -o"},
        {{"--pcap", env.RecordsPath(), "get-report"}, "--pcap and the records"},
        {{"--hosts", kept, "--trace", kept, "get-report", "-o", env.File("{host}")},
         "--trace and --hosts"},
    };
    ASSERT_EQ(::symlink("new.txt", env.File("dangling.txt").c_str()), 0);
    std::filesystem::create_directories(env.File("kelo"));
    WriteFile(env.RecordsPath(), "records");
    ::setenv("KELO_TRACE", env.File("t.txt").c_str(), 1);
    for (const auto& [arguments, files] : cases) {
        EXPECT_EQ(RunCli(arguments).err,
                  "kelo-cli: " + files + " name the same file (try 'kelo-cli --help')\n");
    }
    EXPECT_EQ(RunCli({"-o", env.File("t.txt"), "get-report"}).status, 2) << "KELO_TRACE and -o";
    ASSERT_TRUE(kelo::SaveReportText(env.File("r.kel"), "SERVICE REPORT\r\nEND"));
    EXPECT_EQ(RunCli({"--pcap", fresh, "open-report", env.File("r.kel")}).status, 0);
    ::unsetenv("KELO_TRACE");
    EXPECT_EQ(ReadFileText(kept), "the case\n");
    EXPECT_EQ(ReadFileText(env.RecordsPath()), "records");
    EXPECT_FALSE(std::filesystem::exists(fresh) || std::filesystem::exists(env.File("t.txt")) ||
                 std::filesystem::exists(env.File("new.txt")));
}

// A file to write that is a device or a FIFO is refused before anything else, whichever option
// names it, and stays what it was; an input that is no regular file is refused at once.
TEST(CliFileKinds, DevicesAndFifosAreNeitherWrittenNorRead) {
    CliEnvironment env;
    const std::string fifo = env.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> nodes{fifo};
    if (::mknod(env.File("null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0)
        nodes.push_back(env.File("null"));
    for (const std::string& node : nodes) {
        const std::string kind = node == fifo ? "a FIFO" : "a character device";
        const std::pair<std::vector<std::string>, std::string> runs[] = {
            {{"--host", "127.0.0.1", "get-params", "-o", node}, "-o"},
            {{"--host", "127.0.0.1", "--pcap", node, "get-report"}, "--pcap"},
            {{"show", "1", "-o", node}, "-o"},
        };
        for (const auto& [arguments, option] : runs) {
            const CliResult refused = RunCli(arguments);
            EXPECT_EQ(refused.status, 2);
            EXPECT_EQ(refused.err, "kelo-cli: " + node + " is " + kind + "; " + option +
                                       " writes regular files\n");
        }
        struct stat info {};
        ASSERT_EQ(::lstat(node.c_str(), &info), 0);
        EXPECT_EQ(node == fifo ? S_ISFIFO(info.st_mode) : S_ISCHR(info.st_mode), true) << node;
    }
    for (const std::string& input : {fifo, std::string("/dev/zero")}) {
        const CliResult refused = RunCli({"put-params", input});
        EXPECT_EQ(refused.status, 2);
        EXPECT_NE(refused.err.find("; put-params reads regular files"), std::string::npos)
            << refused.err;
    }
    EXPECT_EQ(RunCli({"--hosts", fifo, "get-params", "-o", env.File("{host}")}).status, 2);
}

TEST(CliUsage, MistakesGiveStatusTwoAndOneLineOnStandardError) {
    CliEnvironment env;
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{}, {"fetch"}, {"get-params"}, {"--type", "9"}}) {
        const CliResult result = RunCli(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("kelo-cli: ", 0), 0u) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
    const CliResult help = RunCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kelo-cli ", 0), 0u);
    EXPECT_EQ(RunCli({"--version"}).out, "kelo-cli " + kelo::platform::ProgramVersion() + "\n");
}

// A program that reads discover's JSON from a pipe gets no progress line on the terminal; a
// person at the terminal does. Only loopback's one address is probed.
TEST(CliDiscover, DrawsNoProgressLineWhenItsJsonGoesToAProgram) {
    const std::vector<std::string> json = {"discover",  "--subnet", "127.0.0.1",
                                           "--timeout", "10",       "--json"};
    EXPECT_EQ(RunCli(json, /*terminal=*/true).err.find("Discover"), std::string::npos);
    const std::vector<std::string> table = {"discover", "--subnet", "127.0.0.1", "--timeout", "10"};
    EXPECT_NE(RunCli(table, /*terminal=*/true).err.find("Discover"), std::string::npos);
}

// Looking at the records never makes a database, whether recording is on or off: without one a
// line says so, and only what asks for a record fails.
TEST(CliRecords, LookingAtTheRecordsMakesNoDatabase) {
    CliEnvironment env;
    const std::string noRecords = "kelo-cli: " + env.RecordsPath() + ": no records kept yet\n";
    const std::pair<std::vector<std::string>, int> commands[] = {
        {{"history"}, 0},
        {{"records"}, 0},
        {{"records", "prune", "--older-than", "5"}, 0},
        {{"show", "1"}, 1},
        {{"compare", "1", "2"}, 2}};
    for (const char* profile : {"", "[Records]\nEnabled=0\n"}) {
        env.SetProfile(profile);
        for (const auto& [words, status] : commands) {
            for (bool off : {false, true}) {
                std::vector<std::string> arguments = words;
                if (off)
                    arguments.insert(arguments.begin(), "--no-records");
                const CliResult result = RunCli(arguments);
                EXPECT_EQ(result.status, status) << words[0];
                EXPECT_EQ(result.err, noRecords) << words[0];
            }
        }
    }
    EXPECT_FALSE(std::filesystem::exists(env.File("kelo")));
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A records file Kelo must not change (a newer Kelo's, another program's) stays byte for byte
// as it was, whatever command meets it; those that read it end with 2.
TEST(CliRecords, AFileKeloMustNotChangeIsLeftByteForByte) {
    CliEnvironment env;
    const std::string path = env.RecordsPath();
    ASSERT_TRUE(kelo::records::ServiceRecords::Open(path));
    const auto makeNewer = [&] {
        SQLite::Database(path, SQLite::OPEN_READWRITE)
            .exec("PRAGMA journal_mode = DELETE; PRAGMA user_version = 99");
    };
    const auto makeForeign = [&] {
        std::filesystem::remove(path);
        SQLite::Database db(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        db.exec("CREATE TABLE notes (text TEXT); PRAGMA user_version = 1");
    };
    const std::pair<std::vector<std::string>, int> commands[] = {
        {{"history"}, 2},
        {{"show", "1"}, 2},
        {{"compare", "1", "2"}, 2},
        {{"records"}, 2},
        {{"records", "prune", "--older-than", "0"}, 2},
        {{"--host", "127.0.0.1", "restore-params"}, 2},
        {{"--resume", "last"}, 2},
        // Nothing listens on loopback's packet port: the failed run is to be recorded.
        {{"--host", "127.0.0.1", "--type", "3", "get-report"}, 1}};
    for (const auto& make :
         {std::function<void()>(makeNewer), std::function<void()>(makeForeign)}) {
        make();
        const std::vector<std::string> before = FolderNames(env.File("kelo"));
        const std::vector<uint8_t> bytes = testing_support::ReadFileBytes(path);
        for (const auto& [words, status] : commands) {
            const CliResult result = RunCli(words);
            EXPECT_EQ(result.status, status) << words[0] << ": " << result.err;
            EXPECT_NE(result.err.find("left as it is"), std::string::npos) << result.err;
            EXPECT_EQ(testing_support::ReadFileBytes(path), bytes) << words[0];
            EXPECT_EQ(FolderNames(env.File("kelo")), before) << words[0];
        }
    }
}

// prune --older-than N removes what started more than N whole days ago, and takes N only as
// digits; a date that does not exist is refused, not moved on.
TEST(CliRecords, PruneCountsWholeDaysAndImpossibleDatesAreRefused) {
    CliEnvironment env;
    constexpr int64_t kDay = 86400000;
    const int64_t now = kelo::records::WallClockMs();
    {
        auto opened = kelo::records::ServiceRecords::Open(env.RecordsPath());
        ASSERT_TRUE(opened) << opened.reason;
        for (int64_t age : {3 * kDay + 60000, 3 * kDay - 60000}) {
            kelo::records::OperationRecord record;
            record.machine.host = "p";
            record.startedMs = record.endedMs = now - age;
            record.operation = "get-report";
            record.program = "kelo-cli";
            ASSERT_TRUE((*opened.value)->RecordOperation(record));
        }
    }
    for (const char* days : {"0x10", "+5", " 5", "3.5", ""})
        EXPECT_EQ(RunCli({"records", "prune", "--older-than", days}).status, 2) << days;
    const CliResult pruned = RunCli({"records", "prune", "--older-than", "3"});
    EXPECT_EQ(pruned.status, 0) << pruned.err;
    EXPECT_TRUE(pruned.out.starts_with("removed 1 operations and 0 contents, and gave back "))
        << pruned.out;
    const CliResult left = RunCli({"history", "--json"});
    EXPECT_EQ(std::count(left.out.begin(), left.out.end(), '\n'), 1) << left.out;
    EXPECT_NE(left.out.find(std::to_string(now - 3 * kDay + 60000)), std::string::npos);

    for (const char* date : {"2026-02-31", "2026-02-29", "2026-13-01", "2026-04-31 10:00"})
        EXPECT_EQ(RunCli({"history", "--since", date}).status, 2) << date;
    EXPECT_EQ(RunCli({"history", "--since", "2028-02-29"}).status, 0);
}

}  // namespace
}  // namespace cli_testing
