// history, show and compare on records written straight into the database.
#include <gtest/gtest.h>

#include <algorithm>

#include "records/service_records.h"
#include "tests/cli/cli_harness.h"

namespace cli_testing {
namespace {

namespace records = kelo::records;

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

    CliEnvironment env;
};

// A host holding a terminal's escape, U+202E or a byte that is not UTF-8 is labelled as
// shown text.
TEST_F(RecordsViews, CompareLabelsAreShownText) {
    const std::string host =
        "a\x1b]0;owned\x07\xE2\x80\xAE"
        "b\xFF";
    records::OperationRecord kept = Kept(host, "get-report", 1000);
    kept.content = records::ReadContent{records::ContentKind::Report, {'x', '\n'}};
    const std::string a = std::to_string(Keep(kept));
    kept.content->plain[0] = 'y';
    const CliResult compared = RunCli({"compare", a, std::to_string(Keep(kept))});
    EXPECT_EQ(compared.status, 1);
    EXPECT_TRUE(compared.out.starts_with("--- a\uFFFD]0;owned\uFFFD\uFFFDb\uFFFD "))
        << compared.out;
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
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(std::count(cut.out.begin(), cut.out.end(), '\n'), 102);
    EXPECT_NE(cut.out.find("0x0000c7: 00 -> 01\n... 32668 more ranges"), std::string::npos);
    EXPECT_TRUE(cut.out.ends_with("\n32768 bytes differ in 32768 ranges\n")) << cut.out;
    const CliResult all = RunCli({"compare", "--all", zeros, everyOther});
    EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '\n'), 32769);
    EXPECT_TRUE(all.out.ends_with("0x00ffff: 00 -> 01\n32768 bytes differ in 32768 ranges\n"));
}

}  // namespace
}  // namespace cli_testing
