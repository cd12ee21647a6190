// The command line and the config commands of kelo-cli.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/settings_commands.h"

namespace kelo::cli {
namespace {

struct Accepted {
    std::vector<std::string> arguments;
    Command command;
    std::string file;
    std::string output;
    std::string host;
    int value;
};

class AcceptedCommandLine : public ::testing::TestWithParam<Accepted> {};

// The table's file is the FILE or restore-params' RECORD, its host the HOST of restart,
// restore-params or config add-host, its value the number a config change was given.
TEST_P(AcceptedCommandLine, ParsesToItsCommand) {
    const Accepted& expected = GetParam();
    const ParseResult parse = ParseCommandLine(expected.arguments);
    ASSERT_TRUE(parse.ok) << parse.error;
    const Invocation& run = parse.invocation;
    EXPECT_EQ(run.command, expected.command);
    EXPECT_EQ(run.command == Command::RestoreParams ? run.restore.record : run.file, expected.file);
    EXPECT_EQ(run.output, expected.output);
    EXPECT_EQ(run.command == Command::ConfigAddHost ? run.config.host : run.host, expected.host);
    const ConfigChange& change = run.config;
    EXPECT_EQ(change.portKind + change.typeIndex + change.index, expected.value);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AcceptedCommandLine,
    ::testing::Values(
        Accepted{{"get-report"}, Command::GetReport, "", "", "", 0},
        Accepted{{"get-report", "-o", "r.kel"}, Command::GetReport, "", "r.kel", "", 0},
        Accepted{{"-o", "r.txt", "get-report"}, Command::GetReport, "", "r.txt", "", 0},
        Accepted{{"open-report", "a.kel"}, Command::OpenReport, "a.kel", "", "", 0},
        Accepted{
            {"open-report", "a.kel", "-o", "b.txt"}, Command::OpenReport, "a.kel", "b.txt", "", 0},
        Accepted{{"get-params", "-o", "p"}, Command::GetParams, "", "p", "", 0},
        Accepted{{"put-params", "p"}, Command::PutParams, "p", "", "", 0},
        Accepted{{"upgrade", "--", "-fw.rfw"}, Command::Upgrade, "-fw.rfw", "", "", 0},
        Accepted{{"restart"}, Command::Restart, "", "", "", 0},
        Accepted{{"restart", "printer-b"}, Command::Restart, "", "", "printer-b", 0},
        // A lone word of digits is a RECORD; any other word the HOST.
        Accepted{{"restore-params"}, Command::RestoreParams, "", "", "", 0},
        Accepted{{"restore-params", "42"}, Command::RestoreParams, "42", "", "", 0},
        Accepted{{"restore-params", "printer-b"}, Command::RestoreParams, "", "", "printer-b", 0},
        Accepted{{"restore-params", "b", "7"}, Command::RestoreParams, "7", "", "b", 0},
        Accepted{{"--resume", "last", "--no-progress"}, Command::Resume, "", "", "", 0},
        Accepted{{"config"}, Command::ConfigShow, "", "", "", 0},
        Accepted{{"config", "port", "parallel"}, Command::ConfigPort, "", "", "", 0},
        Accepted{{"config", "port", "usb"}, Command::ConfigPort, "", "", "", 2},
        Accepted{{"config", "type", "4"}, Command::ConfigType, "", "", "", 3},
        Accepted{{"config", "add-host", "10.0.0.7"}, Command::ConfigAddHost, "", "", "10.0.0.7", 0},
        Accepted{{"config", "select-host", "12"}, Command::ConfigSelectHost, "", "", "", 12},
        Accepted{{"config", "delete-host", "0"}, Command::ConfigDeleteHost, "", "", "", 0},
        Accepted{{"get-report", "--help"}, Command::Help, "", "", "", 0},
        Accepted{{"--version", "nonsense"}, Command::Version, "", "", "", 0}));

TEST(RunOptions, HoldTheirValuesWhereverTheyStand) {
    const ParseResult parse = ParseCommandLine(
        {"--host", "127.0.0.2", "get-report", "--type=2", "--port", "usb", "--no-progress"});
    ASSERT_TRUE(parse.ok) << parse.error;
    const Invocation& invocation = parse.invocation;
    EXPECT_EQ(invocation.overrides.host, "127.0.0.2");
    EXPECT_EQ(invocation.overrides.machineTypeIndex, 1);
    EXPECT_EQ(invocation.overrides.portKind, kPortUsb);
    EXPECT_FALSE(invocation.showProgress);

    const ParseResult plain = ParseCommandLine({"get-report"});
    EXPECT_FALSE(plain.invocation.overrides.Any());
    EXPECT_TRUE(plain.invocation.showProgress);

    // The run's --timeout is seconds; discover's own, after the command, milliseconds.
    EXPECT_EQ(ParseCommandLine({"upgrade", "a.rfw", "--timeout=90"}).invocation.timeoutSeconds, 90);
    const ParseResult discover = ParseCommandLine({"discover", "--timeout", "200"});
    ASSERT_TRUE(discover.ok) << discover.error;
    EXPECT_EQ(discover.invocation.discover.timeoutMs, 200);
    EXPECT_EQ(discover.invocation.timeoutSeconds, std::nullopt);
}

using Words = std::vector<std::string>;

class RefusedCommandLine : public ::testing::TestWithParam<Words> {};

TEST_P(RefusedCommandLine, IsAUsageError) {
    const ParseResult parse = ParseCommandLine(GetParam());
    EXPECT_FALSE(parse.ok);
    EXPECT_FALSE(parse.error.empty());
    EXPECT_EQ(parse.error.find('\n'), std::string::npos) << "the hint is one line";
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, RefusedCommandLine,
    ::testing::Values(
        Words{}, Words{"report"}, Words{"get-report", "extra"}, Words{"get-report", "-o"},
        Words{"get-params"}, Words{"put-params"}, Words{"put-params", "-o", "x", "p"},
        Words{"upgrade", "a.rfw", "b.rfw"}, Words{"restart", "a", "b"},
        Words{"restore-params", "b", "c"}, Words{"--host", "a", "restore-params", "b"},
        Words{"--no-backup", "get-params", "-o", "p"}, Words{"--resume", "last", "get-report"},
        Words{"--resume", "last", "--json"}, Words{"--resume", "RUN;"},
        Words{"--type", "5", "get-report"}, Words{"--type", "0", "get-report"},
        Words{"--type", "3x", "get-report"}, Words{"--port", "serial", "get-report"},
        Words{"--host", "", "get-report"}, Words{"--host", "a\nNumHost=99", "get-report"},
        Words{"get-report", "--host"}, Words{"--verbose", "get-report"}, Words{"config", "port"},
        Words{"config", "port", "lpt"}, Words{"config", "type", "1", "2"},
        Words{"config", "select-host", "-1"}, Words{"config", "select-host", "99999999999"},
        Words{"config", "delete-host", "one"}, Words{"config", "add-host", "a\rb"},
        Words{"config", "colour", "red"}, Words{"config", "-o", "x"},
        Words{"--host", "h", "config", "type", "1"}, Words{"discover", "--subnet", "10.0.0.0/15"},
        Words{"discover", "--subnet", "10.0.0.0/16", "--subnet", "10.1.0.0/30", "--subnet",
              "10.1.0.9"},
        Words{"discover", "--rate", "0"}, Words{"discover", "--rate", "100001"},
        Words{"discover", "--subnet", "10.0.0.0/33"}, Words{"discover", "--subnet", "10.0.0/24"},
        Words{"discover", "--timeout", "-5"}, Words{"discover", "--community", ""},
        Words{"discover", "extra"}, Words{"--hosts", "list", "discover"},
        Words{"--timeout", "5", "discover"}, Words{"--timeout", "5", "config"},
        Words{"--timeout", "1.5", "get-report"},
        // A value that lost its place to --help never names a file.
        Words{"get-params", "-o", "--help"}, Words{"discover", "--rate", "0"}));

// Every place a host enters refuses the numeric forms that reach another address, with the
// form's own message and no pointer to --help; the plain dotted quad is taken.
TEST(HostForms, AreRefusedWhereverAHostEnters) {
    const std::string leadingZeros =
        "10.0.0.010: write IPv4 addresses without leading zeros (did you mean 10.0.0.10?)";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--host", "10.0.0.010", "get-report"}, leadingZeros},
        {{"restart", "10.0.0.010"}, leadingZeros},
        {{"config", "add-host", "10.0.0.010"}, leadingZeros},
        {{"--host=10.1", "restart"},
         "10.1: write IPv4 addresses as four numbers (did you mean 10.0.0.1?)"},
        {{"restart", "0x0a.0.0.1"},
         "0x0a.0.0.1: write IPv4 addresses in decimal (did you mean 10.0.0.1?)"},
        {{"discover", "--subnet", "10.0.0.010/30"}, leadingZeros},
    };
    for (const auto& [arguments, error] : cases) {
        const ParseResult parse = ParseCommandLine(arguments);
        EXPECT_FALSE(parse.ok) << arguments[0];
        EXPECT_EQ(parse.error, error);
        EXPECT_FALSE(parse.helpHint) << error;
    }
    EXPECT_TRUE(ParseCommandLine({"--host", "10.0.0.10", "restart"}).ok);
    EXPECT_TRUE(ParseCommandLine({"restart", "10.0.0.10"}).ok);
    EXPECT_TRUE(ParseCommandLine({"discover", "--subnet", "10.0.0.8/30"}).ok);
    EXPECT_TRUE(ParseCommandLine({"get-report", "now"}).helpHint);
}

// Blocks may overlap: an address counts once towards the limit, which these reach exactly.
TEST(DiscoverOptions, HoldTheSubnetsAndTheirSettings) {
    const ParseResult parse = ParseCommandLine(
        {"discover", "--subnet=10.0.0.0/16", "--subnet", "10.1.0.0/30", "--subnet", "10.0.0.9",
         "--timeout", "200", "--rate", "100000", "--community=lab", "--json"});
    ASSERT_TRUE(parse.ok) << parse.error;
    const DiscoverOptions& options = parse.invocation.discover;
    ASSERT_EQ(options.subnets.size(), 3u);
    EXPECT_EQ(options.subnets[2].prefix, 32);
    EXPECT_EQ(options.timeoutMs, 200);
    EXPECT_EQ(options.rate, 100000);
    EXPECT_EQ(options.community, "lab");
    EXPECT_EQ(ParseCommandLine({"discover"}).invocation.discover.rate, discover::kDefaultRate);
    EXPECT_EQ(ParseCommandLine({"discover", "--rate=50"}).invocation.discover.rate, 50);
    EXPECT_TRUE(parse.invocation.json);
    // --json is the one run option, also before the command.
    EXPECT_TRUE(ParseCommandLine({"--json", "discover"}).invocation.json);
}

// The help is laid out from the parser: a line for each command with its operands and one for
// each option the parser takes, none wider than 80 columns.
TEST(Help, NamesEveryCommandAndOptionWithinEightyColumns) {
    const std::string help = UsageText();
    EXPECT_EQ(help.rfind("Usage: kelo-cli [--host HOST] [--type N] [--port KIND]", 0), 0u) << help;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
    for (const CommandDefinition& definition : CommandDefinitions()) {
        const std::string label = std::string("\n  ") + definition.word + " " + definition.operands;
        EXPECT_NE(
            help.find(definition.operands[0] == 0 ? label.substr(0, label.size() - 1) : label),
            std::string::npos)
            << definition.word;
    }
    EXPECT_NE(help.find("\n  config port network|parallel|usb\n"), std::string::npos);
    EXPECT_NE(help.find("\n  config select-host INDEX\n"), std::string::npos);
    const CommandLineWords words = KnownWords();
    for (const std::string& option : words.runOptions) {
        if (option != "-o") {  // each command's line names it
            EXPECT_NE(help.find(" " + option + " "), std::string::npos) << option;
        }
    }
    for (const auto& [command, options] : words.commandOptions) {
        for (const std::string& option : options)
            EXPECT_NE(help.find("\n  " + option + " "), std::string::npos) << option;
    }
    EXPECT_NE(help.find("  --timeout MS      wait this long for answers (default 1500)\n"),
              std::string::npos);
}

TEST(ConfigShow, ListsPortTypeAndHostsWithTheSelectedOneMarked) {
    ConnectionSettings settings;
    settings.portKind = kPortNetwork;
    settings.machineTypeIndex = 2;
    settings.hosts = {"127.0.0.2", "printer-b"};
    settings.selectedHost = 0;
    EXPECT_EQ(FormatSettings(settings),
              "port: network\ntype: 3\nhosts:\n* 0 127.0.0.2\n  1 printer-b\n");

    // Values the profile may hold but no command sets.
    settings.portKind = 5;
    settings.machineTypeIndex = 6;
    settings.selectedHost = 9;
    EXPECT_EQ(FormatSettings(settings),
              "port: 5 (unknown)\ntype: 7 (unknown)\nhosts:\n  0 127.0.0.2\n  1 printer-b\n");

    EXPECT_EQ(FormatSettings(ConnectionSettings{kPortUsb, 0, 0, {}}),
              "port: usb\ntype: 1\nhosts: none\n");
}

struct HostChange {
    std::vector<std::string> arguments;
    int selectedBefore;
    std::vector<std::string> hostsAfter;
    int selectedAfter;
};

class HostListChange : public ::testing::TestWithParam<HostChange> {};

// The list alpha, beta, gamma before each change.
TEST_P(HostListChange, KeepsASensibleSelection) {
    const HostChange& change = GetParam();
    ConnectionSettings settings;
    settings.hosts = {"alpha", "beta", "gamma"};
    settings.selectedHost = change.selectedBefore;
    const ParseResult parse = ParseCommandLine(change.arguments);
    ASSERT_TRUE(parse.ok) << parse.error;
    EXPECT_EQ(ApplyConfigChange(parse.invocation, settings), std::nullopt);
    EXPECT_EQ(settings.hosts, change.hostsAfter);
    EXPECT_EQ(settings.selectedHost, change.selectedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, HostListChange,
    ::testing::Values(
        // The entry that moves into the deleted one's place stays selected.
        HostChange{{"config", "delete-host", "1"}, 1, {"alpha", "gamma"}, 1},
        // Deleting the selected last entry selects the new last one.
        HostChange{{"config", "delete-host", "2"}, 2, {"alpha", "beta"}, 1},
        // Deleting before the selection keeps the same host selected.
        HostChange{{"config", "delete-host", "0"}, 2, {"beta", "gamma"}, 1},
        HostChange{{"config", "delete-host", "2"}, 0, {"alpha", "beta"}, 0},
        HostChange{{"config", "select-host", "2"}, 0, {"alpha", "beta", "gamma"}, 2},
        // Adding keeps the selection; with none selected the new host becomes it.
        HostChange{{"config", "add-host", "delta"}, 1, {"alpha", "beta", "gamma", "delta"}, 1},
        HostChange{{"config", "add-host", "delta"}, 7, {"alpha", "beta", "gamma", "delta"}, 3}));

TEST(HostListChange, RefusesAnIndexPastTheListAndChangesNothing) {
    for (const char* command : {"select-host", "delete-host"}) {
        ConnectionSettings settings;
        settings.hosts = {"alpha"};
        const ParseResult parse = ParseCommandLine({"config", command, "1"});
        ASSERT_TRUE(parse.ok);
        EXPECT_NE(ApplyConfigChange(parse.invocation, settings), std::nullopt) << command;
        EXPECT_EQ(settings.hosts, std::vector<std::string>{"alpha"});
        EXPECT_EQ(settings.selectedHost, 0);
    }
}

TEST(HostListChange, DeletingTheOnlyHostLeavesAnEmptyList) {
    ConnectionSettings settings;
    settings.hosts = {"alpha"};
    const ParseResult parse = ParseCommandLine({"config", "delete-host", "0"});
    ASSERT_EQ(ApplyConfigChange(parse.invocation, settings), std::nullopt);
    EXPECT_TRUE(settings.hosts.empty());
    EXPECT_EQ(settings.selectedHost, 0);
}

}  // namespace
}  // namespace kelo::cli
