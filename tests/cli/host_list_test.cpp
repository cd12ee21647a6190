// Host lists of kelo-cli: the list file, the -o template, the rules of the command line, the
// JSON result lines and the table on standard error.
#include <gtest/gtest.h>
#include <signal.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "cli/host_list.h"
#include "cli/host_pool.h"
#include "cli/host_table.h"
#include "cli/json_result.h"
#include "cli/rollout_limits.h"
#include "link/settings.h"
#include "platform/shown_text.h"
#include "tests/cli/cli_harness.h"

namespace kelo::cli {
namespace {

TEST(HostListFile, TakesOneHostALineWithAnOptionalType) {
    const HostListParse parse = ParseHostList(
        "# site A\n10.1.2.3\r\n\n  printer-b 1\n\t# spare\n10.1.2.4\t4  \nlast-line", "hosts");
    ASSERT_TRUE(parse.ok) << parse.error;
    ASSERT_EQ(parse.hosts.size(), 4u);
    EXPECT_EQ(parse.hosts[0].host, "10.1.2.3");
    EXPECT_EQ(parse.hosts[0].machineTypeIndex, std::nullopt);
    EXPECT_EQ(parse.hosts[1].host, "printer-b");
    EXPECT_EQ(parse.hosts[1].machineTypeIndex, 0);
    EXPECT_EQ(parse.hosts[2].machineTypeIndex, 3);
    EXPECT_EQ(parse.hosts[2].line, 6);
    EXPECT_EQ(parse.hosts[3].host, "last-line");
}

TEST(HostListFile, RefusesLinesThatNameNoSingleHost) {
    const std::pair<const char*, const char*> cases[] = {
        {"a\nb 5\n", "hosts:2: the type must be 1, 2, 3 or 4"},
        {"a 3 x\n", "hosts:1: a line holds a host and at most its type"},
        // A host becomes part of a file name: nothing may lead it out of the folder.
        {"../etc/x\n", "hosts:1: '../etc/x' is not a host name or address"},
        {"-o\n", "hosts:1: '-o' is not a host name or address"},
        {"Printer-A\n\nprinter-a 2\n", "hosts:3: printer-a is listed twice (first on line 1)"},
        {"# none yet\n\n", "hosts names no hosts"},
        {"10.78.1.020\n",
         "hosts:1: 10.78.1.020: write IPv4 addresses without leading zeros (did "
         "you mean 10.78.1.20?)"},
        // The list's words reach the terminal only through the filter of machine texts.
        {"a\x1b]0;title\x07\n",
         "hosts:1: 'a\xEF\xBF\xBD]0;title\xEF\xBF\xBD' is not a host name "
         "or address"},
    };
    for (const auto& [text, error] : cases) {
        const HostListParse parse = ParseHostList(text, "hosts");
        EXPECT_FALSE(parse.ok) << text;
        EXPECT_EQ(parse.error, error);
    }
}

// Two lines that reach one machine would race for it as a host listed twice does; a name that
// resolves to no one machine's address is no machine to service.
TEST(HostListFile, ResolvesEachHostOnceAndRefusesTwoThatReachOneMachine) {
    const std::map<std::string, uint32_t> names = {{"printer-a", 0x0A000007},
                                                   {"10.0.0.7", 0x0A000007},
                                                   {"printer-b", 0x0A000008},
                                                   {"everyone", 0xFFFFFFFF}};
    int lookups = 0;
    const HostResolver resolve = [&](const std::string& host) {
        ++lookups;
        const auto found = names.find(host);
        if (found == names.end())
            return kelo::Target{};
        if (found->second == 0xFFFFFFFF)
            return kelo::Target{std::nullopt, host + " resolves to the broadcast address"};
        return kelo::Target{found->second, std::nullopt};
    };
    HostListParse parse = ParseHostList("printer-a\nunknown\nprinter-b\n10.0.0.7\n", "hosts");
    ASSERT_TRUE(parse.ok) << parse.error;
    EXPECT_EQ(ResolveListTargets(parse.hosts, "hosts", resolve),
              "hosts:4: 10.0.0.7 reaches 10.0.0.7, as printer-a on line 1 does");
    std::vector<HostEntry> apart(parse.hosts.begin(), parse.hosts.end() - 1);
    lookups = 0;
    EXPECT_EQ(ResolveListTargets(apart, "run 1", resolve), std::nullopt)
        << "a name that does not resolve is left to its run";
    EXPECT_EQ(lookups, 3);
    EXPECT_EQ(apart[0].address, 0x0A000007u);
    EXPECT_EQ(apart[1].address, std::nullopt);
    std::vector<HostEntry> broadcast{{"everyone", std::nullopt, 2, std::nullopt}};
    EXPECT_EQ(ResolveListTargets(broadcast, "hosts", resolve),
              "hosts:2: everyone resolves to the broadcast address");
}

TEST(HostListFile, TemplateNamesEachHostsFile) {
    EXPECT_EQ(ExpandHostTemplate("out/{host}/{host}.kel", "10.1.2.3"), "out/10.1.2.3/10.1.2.3.kel");
    EXPECT_EQ(ExpandHostTemplate("{hos}t{host", "a"), "{hos}t{host");
    ParseResult parse = ParseCommandLine({"--hosts", "-", "get-report", "-o", "r/{host}.kel"});
    ASSERT_TRUE(parse.ok) << parse.error;
    const Invocation run = HostRunInvocation(parse.invocation, "h1", 0, true);
    EXPECT_EQ(run.output, "r/h1.kel");
    EXPECT_EQ(run.overrides.host, "h1");
    EXPECT_EQ(run.overrides.machineTypeIndex, 0);
    EXPECT_EQ(run.overrides.portKind, kelo::kPortNetwork);
    EXPECT_TRUE(run.json);
    EXPECT_FALSE(run.hostList.has_value()) << "a host's run is a single run";
}

TEST(HostListCommandLine, MistakesAreUsageErrors) {
    cli_testing::CliEnvironment env;
    const std::string list = env.File("hosts");
    cli_testing::WriteFile(list, "127.0.0.2\n");
    const std::vector<std::vector<std::string>> mistakes = {
        {"--hosts", list, "--jobs", "0", "get-report", "-o", "{host}.kel"},
        {"--hosts", list, "--jobs", "65", "get-report", "-o", "{host}.kel"},
        {"--hosts", list, "get-report", "-o", "report.kel"},
        {"--hosts", list, "get-params"},
        {"--hosts", env.File("missing"), "get-report", "-o", "{host}.kel"},
        {"--hosts", env.File("."), "put-params", "p.prm"},  // a folder
        {"--jobs", "4", "get-report"},
        {"--hosts", list, "--host", "h", "restart"},
        {"--hosts", list, "--port", "usb", "restart"},
        {"--hosts", list, "restart", "printer-b"},
        {"--hosts", list, "config"},
        {"--json", "open-report", "a.kel"},
        {"--hosts", list, "--canary", "-1", "restart"},
        {"--hosts", list, "--canary", "two", "restart"},
        {"--hosts", list, "--max-fail", "101%", "restart"},
        {"--hosts", list, "--max-fail", "5%%", "restart"},
        {"--canary", "1", "restart"},
        {"--max-fail", "0", "restart"},
    };
    for (const std::vector<std::string>& arguments : mistakes) {
        const cli_testing::CliResult result = cli_testing::RunCli(arguments);
        EXPECT_EQ(result.status, 2) << arguments[1] << " " << arguments[2];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind("kelo-cli: ", 0), 0u) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
}

TEST(JsonResults, CarryNamesAsUtf8AndReportBytesOneToOne) {
    HostResult result;
    result.host =
        "dr\xfc"
        "cker";  // Latin-1, not UTF-8
    result.type = 3;
    result.command = "get-report";
    result.result = RunResult::kOk;
    result.bytes = 256;
    result.ms = 41;
    result.carriesText = true;
    result.text = std::string(1, '\0');
    for (int b = 1; b < 256; ++b)
        *result.text += static_cast<char>(b);
    const std::string line = ResultLine(result);
    ASSERT_EQ(line.find('\n'), line.size() - 1) << "one line";
    const nlohmann::json parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["host"],
              "dr\xef\xbf\xbd"
              "cker");
    EXPECT_TRUE(parsed["message"].is_null());
    EXPECT_TRUE(parsed["output"].is_null());
    // Every code point is below U+0100: one byte, or two in UTF-8.
    const std::string utf8 = parsed["text"];
    std::string bytes;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        bytes += lead < 0x80 ? static_cast<char>(lead)
                             : static_cast<char>(((lead & 0x1F) << 6) | (utf8[++i] & 0x3F));
    }
    EXPECT_EQ(bytes, *result.text);
    EXPECT_EQ(ResultOfLine(line), RunResult::kOk);
    EXPECT_EQ(ResultOfLine("not json"), std::nullopt);

    result.result = RunResult::kTimedOut;
    EXPECT_EQ(ResultOfLine(ResultLine(result)), RunResult::kTimedOut);
    // A host's run that a signal ended was cancelled, whichever signal it was.
    for (int status : {kExitCancelled, kExitTerminated, kExitHangUp})
        EXPECT_EQ(ResultOfStatus(status), RunResult::kCancelled) << status;
    EXPECT_EQ(ResultOfStatus(kExitFailed), RunResult::kFailed);
    HostListSummary summary;
    for (RunResult each :
         {RunResult::kOk, RunResult::kFailed, RunResult::kCancelled, RunResult::kTimedOut})
        summary.Count(each);
    summary.ms = 20010;
    EXPECT_EQ(SummaryLine(summary),
              "{\"summary\":{\"hosts\":4,\"ok\":1,\"failed\":1,"
              "\"cancelled\":1,\"timed_out\":1,\"skipped\":0,\"ms\":20010}}\n");
    // Each host's run is bounded unless the list says otherwise; 0 lifts the bound.
    Invocation list;
    EXPECT_EQ(HostRunInvocation(list, "h", 0, false).timeoutSeconds, kDefaultHostTimeout);
    list.timeoutSeconds = 0;
    EXPECT_EQ(HostRunInvocation(list, "h", 0, false).timeoutSeconds, 0);
}

// A host whose process a signal killed wrote no result line: the line made for it, and the
// table, say what killed it.
TEST(HostPool, AHostKilledByASignalSaysWhatKilledIt) {
    Invocation list;
    list.command = Command::GetReport;
    list.json = true;
    std::string out, err;
    const Console console{[&out](const std::string& bytes) { return !(out += bytes).empty(); },
                          [&err](const std::string& bytes) { err += bytes; }};
    EXPECT_EQ(RunHostList(list, {HostEntry{"h1", 2, 1, std::nullopt}}, 0, console,
                          [](const Invocation&) { return ::raise(SIGKILL); }),
              1);
    EXPECT_EQ(nlohmann::json::parse(out.substr(0, out.find('\n')))["message"],
              "killed by signal 9 (Killed)");
    EXPECT_NE(err.find("kelo-cli: h1: killed by signal 9 (Killed)\n"), std::string::npos);
}

// Which hosts a list starts under --canary and --max-fail, and what it says when it stops.
TEST(RolloutGate, WaitsForTheCanariesAndStopsOnAFailureOrASpentBudget) {
    using Step = RolloutGate::Step;
    // Ends the hosts with their results, then asks what the host next may do.
    const auto after = [](RolloutGate& gate, std::initializer_list<std::pair<int, RunResult>> ended,
                          int next) {
        for (const auto& [host, result] : ended)
            gate.Ended(host, result);
        return gate.Next(next);
    };
    RolloutGate canary({2, std::nullopt}, 5);
    EXPECT_EQ(after(canary, {}, 1), Step::kStart);
    EXPECT_EQ(after(canary, {{0, RunResult::kOk}}, 2), Step::kWait);
    EXPECT_EQ(after(canary, {{1, RunResult::kTimedOut}}, 2), Step::kStop);
    EXPECT_EQ(StoppedListLine(canary.StopReason(), 3, "r1"),
              "1 of 2 canary machines failed; 3 machines skipped (resume with --resume r1)");

    RolloutGate percent({std::nullopt, ParseFailBudget("40%")}, 5);  // two of five may fail
    EXPECT_EQ(after(percent, {{0, RunResult::kFailed}, {1, RunResult::kCancelled}}, 2),
              Step::kStart);
    EXPECT_EQ(after(percent, {{2, RunResult::kFailed}}, 3), Step::kStop);
    EXPECT_EQ(StoppedListLine(percent.StopReason(), 1, ""),
              "3 machines failed, more than --max-fail 40% allows; 1 machine skipped");
    EXPECT_FALSE(ParseFailBudget("%") || ParseFailBudget("+3") || ParseFailBudget("-1"));
}

TEST(HostTableOnStandardError, KeepsTheRunningHostsBelowMessagesAndResults) {
    std::string written;
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    HostTable table([&](const std::string& bytes) { written += bytes; }, true,
                    [] {
                        return TerminalSize{80, 3};
                    },
                    [&] { return now; });
    table.Started(0, "10.1.2.3");
    EXPECT_EQ(written, HostTable::Row("10.1.2.3", 15, 0, 80) + "\n");
    written.clear();
    for (size_t id = 1; id <= 2; ++id)
        table.Started(id, "10.1.2." + std::to_string(3 + id));
    EXPECT_EQ(written, "") << "at most one redraw each 100 ms";
    now += HostTable::kRedrawInterval;
    table.Progress(0, 37);
    // Three hosts and two rows of room: one row, and the rest counted.
    EXPECT_EQ(written, "\x1b[1A\r\x1b[J" + HostTable::Row("10.1.2.3", 15, 37, 80) +
                           "\nand 2 more running\n");
    written.clear();
    table.Ended(0, "10.1.2.3", RunResult::kFailed);
    EXPECT_EQ(written, "\x1b[2A\r\x1b[J10.1.2.3: failed\n" + HostTable::Row("10.1.2.4", 15, 0, 80) +
                           "\n" + HostTable::Row("10.1.2.5", 15, 0, 80) + "\n");
    EXPECT_EQ(HostTable::Row("10.1.2.3", 15, 37, 80),
              "10.1.2.3        [#######             ]  37%");
    EXPECT_EQ(HostTable::Row("10.1.2.3", 15, 37, 20), "10.1.2.3        [##");
}

// A long name is cut to the host column with an ellipsis, so the bars stay in one column.
TEST(HostTableOnStandardError, CutsNamesWiderThan32Columns) {
    std::string written;
    HostTable table([&](const std::string& bytes) { written += bytes; }, true,
                    [] {
                        return TerminalSize{100, 10};
                    });
    const std::string longName = "printer-" + std::string(40, 'x') + ".example";
    table.Started(0, longName);
    const std::string cut = "printer-" + std::string(23, 'x') + "\xE2\x80\xA6";  // 32 columns
    EXPECT_TRUE(written.starts_with(cut + " [")) << written;
    // Wide characters count two columns each.
    EXPECT_EQ(platform::CutToColumns("\xE5\x8D\xB0\xE5\x88\xB7\xE6\xA9\x9F", 4),
              "\xE5\x8D\xB0\xE2\x80\xA6");
}

}  // namespace
}  // namespace kelo::cli
