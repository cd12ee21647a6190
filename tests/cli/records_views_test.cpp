// history, show and compare on records written straight into the database.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>

#include "records/service_records.h"
#include "tests/cli/cli_harness.h"

namespace cli_testing {
namespace {

namespace records = kelo::records;

const std::string kImageSha(64, 'c');

records::OperationRecord Kept(const std::string& host, const std::string& operation,
                              int64_t startedMs, records::Result result = records::Result::Ok) {
    records::OperationRecord kept;
    kept.machine = records::Machine{host, "127.0.0.1", 3, "network", "desk"};
    kept.startedMs = kept.endedMs = startedMs;
    kept.durationMs = 10;
    kept.operation = operation, kept.result = result, kept.program = "kelo-cli";
    return kept;
}

class RecordsViews : public ::testing::Test {
  protected:
    int64_t Keep(const records::OperationRecord& record) {
        auto opened = records::ServiceRecords::Open(env.RecordsPath());
        return opened ? (*opened.value)->RecordOperation(record).value.value_or(0) : 0;
    }

    std::vector<int64_t> Listed(std::vector<std::string> options) {
        options.insert(options.begin(), {"history", "--json"});
        std::istringstream lines(RunCli(options).out);
        std::vector<int64_t> ids;
        for (std::string line; std::getline(lines, line);)
            ids.push_back(nlohmann::json::parse(line)["id"]);
        return ids;
    }

    CliEnvironment env;
};

// A host holding a terminal's escape, U+202E or a byte that is not UTF-8 is labelled as
// shown text; JSON escapes the characters that turn a line around.
TEST_F(RecordsViews, CompareLabelsAreShownTextAndJsonEscapesBidiControls) {
    records::OperationRecord kept = Kept("a\x1b]0;owned\x07\xE2\x80\xAE!\xFF", "get-report", 1000);
    kept.content = records::ReadContent{records::ContentKind::Report, {'x', '\n'}};
    const std::string a = std::to_string(Keep(kept));
    kept.content->plain[0] = 'y';
    const CliResult compared = RunCli({"compare", a, std::to_string(Keep(kept))});
    EXPECT_TRUE(compared.out.starts_with("--- a\uFFFD]0;owned\uFFFD\uFFFD!\uFFFD "))
        << compared.out;

    kept.machine = {"m", "", 0, "", "x\xE2\x80\x8F\xE2\x81\xA6y"};
    Keep(kept);
    const CliResult listed = RunCli({"history", "--json", "m"});
    EXPECT_NE(listed.out.find(R"("name":"x\u200f\u2066y")"), std::string::npos) << listed.out;
}

// Sets are compared without the check byte their files end with; the list ends with the
// total and shows 100 ranges unless --all.
TEST_F(RecordsViews, ParameterSetCompareLeavesOutTheCheckByteAndEndsWithTheTotal) {
    records::OperationRecord read = Kept("h", "get-params", 1000);
    read.content = {records::ContentKind::Parameters, std::vector<uint8_t>(65536, 0)};
    const std::string zeros = std::to_string(Keep(read));
    for (size_t i = 1; i < 65536; i += 2)
        read.content->plain[i] = 1;
    const std::string everyOther = std::to_string(Keep(read));
    const CliResult cut = RunCli({"compare", zeros, everyOther});
    EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'), 102);
    EXPECT_NE(cut.out.find("0x0000c7: 00 -> 01\n... 32668 more ranges"), std::string::npos);
    EXPECT_TRUE(cut.out.ends_with("\n32768 bytes differ in 32768 ranges\n")) << cut.out;
    const CliResult all = RunCli({"compare", "--all", zeros, everyOther});
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 32769);
    EXPECT_TRUE(all.out.ends_with("0x00ffff: 00 -> 01\n32768 bytes differ in 32768 ranges\n"));
}

// Which machine got which firmware: show tells the image, history --file finds the upgrade.
TEST_F(RecordsViews, ShowTellsAnUpgradesImageAndHistoryFindsItByShaOrName) {
    records::OperationRecord upgrade = Kept("printer7", "upgrade", 2000);
    upgrade.files = {records::FileUse{"input", "/srv/fw/v2.rfw", 1234567, kImageSha}};
    const int64_t id = Keep(upgrade);
    records::OperationRecord other = Kept("printer8", "upgrade", 3000);
    other.files = {records::FileUse{"input", "/srv/fw/old-v2.rfw", 10, std::string(64, 'd')}};
    Keep(other);
    const CliResult shown = RunCli({"show", std::to_string(id)});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("kept: nothing\n"), std::string::npos);
    EXPECT_NE(shown.out.find("input file: /srv/fw/v2.rfw, 1234567 bytes, sha256 " + kImageSha),
              std::string::npos)
        << shown.out;
    EXPECT_EQ(Listed({"--file", std::string(64, 'C')}), std::vector<int64_t>{id});
    EXPECT_EQ(Listed({"--file", "v2.rfw"}), std::vector<int64_t>{id});
    EXPECT_TRUE(Listed({"--file", "fw/v2.rfw"}).empty());
    EXPECT_TRUE(Listed({"--file", std::string(64, 'e')}).empty());
}

// The filters, the one order (newest start first, ties by the later record) and CSV.
// A kept report is printed in the code page chosen as get-report's: the profile's, and a
// name there that no converter knows is refused as get-report refuses it.
TEST_F(RecordsViews, ShowPrintsAReportInTheProfilesCodePageAndRefusesAnUnknownOne) {
    records::OperationRecord read = Kept("h", "get-report", 1000);
    read.content = records::ReadContent{records::ContentKind::Report, {'2', '5', 0xB0, 'C'}};
    const std::string id = std::to_string(Keep(read));
    env.SetProfile("[Report]\nEncoding=ISO-8859-1\n");
    EXPECT_EQ(RunCli({"show", id}).out, "25\u00B0C");
    env.SetProfile("[Report]\nEncoding=NOPE\n");
    const CliResult refused = RunCli({"show", id});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "kelo-cli: unknown encoding 'NOPE' in " + env.ProfilePath() +
                               " (Encoding in [Report])\n");
    EXPECT_EQ(RunCli({"show", id, "--encoding", "ISO-8859-1"}).status, 0);
}

TEST_F(RecordsViews, HistoryFiltersAndWritesCsv) {
    const auto at = [](int day, int hour) {  // 2026-12-DAY HOUR:00 local time
        std::tm parts{};
        parts.tm_year = 126, parts.tm_mon = 11, parts.tm_mday = day, parts.tm_hour = hour;
        return (parts.tm_isdst = -1, std::mktime(&parts)) * int64_t{1000};
    };
    records::OperationRecord failed = Kept("p1", "get-report", at(8, 23), records::Result::Failed);
    failed.runId = "20261208-230000-abcd";
    const int64_t a = Keep(failed);
    const int64_t b = Keep(Kept("p1", "backup", at(9, 10)));
    const int64_t c = Keep(Kept("p1", "put-params", at(9, 10)));
    const int64_t d = Keep(Kept("p2", "get-report", at(10, 0), records::Result::TimedOut));
    const std::vector<std::pair<std::vector<std::string>, std::vector<int64_t>>> cases = {
        {{}, {d, c, b, a}},
        {{"--result", "failed"}, {a}},
        {{"--run", "20261208-230000-abcd"}, {a}},
        {{"--until", "2026-12-08"}, {a}},
        {{"--until", "2026-12-09 10:00"}, {c, b, a}},
        {{"--since", "2026-12-09", "--until", "2026-12-09"}, {c, b}},
    };
    for (const auto& [options, ids] : cases)
        EXPECT_EQ(Listed(options), ids) << ::testing::PrintToString(options);
    EXPECT_EQ(RunCli({"history", "--until", "2026-13-01"}).status, 2);
    EXPECT_EQ(RunCli({"history", "--csv", "--json"}).status, 2);
    records::OperationRecord odd = Kept("h,\"q\"", "put-params", at(11, 0));
    odd.message = "=1+1\r\nsecond";
    odd.files = {records::FileUse{"input", "a.prm", 7, kImageSha},
                 records::FileUse{"output", "b,c", 8, kImageSha}};
    const int64_t e = Keep(odd);
    const CliResult csv = RunCli({"history", "--csv", "h,\"q\""});
    EXPECT_EQ(csv.out,
              "id,started,ended,host,address,name,type,port,operation,result,message,"
              "ms,program,run,role,file,size,sha256\r\n" +
                  std::to_string(e) +
                  ",2026-12-11 00:00:00,2026-12-11 00:00:00,\"h,\"\"q\"\"\",127.0.0.1,"
                  "desk,3,network,put-params,ok,\"'=1+1\r\nsecond\",10,kelo-cli,,"
                  "\"input\noutput\",\"a.prm\nb,c\",\"7\n8\",\"" +
                  kImageSha + "\n" + kImageSha + "\"\r\n");
}

}  // namespace
}  // namespace cli_testing
