#include "records/compare.h"

#include <gtest/gtest.h>

namespace kelo::records {
namespace {

// Lines "1" to "20", with the named lines replaced by their words.
std::string Numbers(const std::vector<std::pair<int, const char*>>& replaced = {}) {
    std::string text;
    for (int line = 1; line <= 20; ++line) {
        std::string word = std::to_string(line);
        for (const auto& [at, replacement] : replaced)
            word = at == line ? replacement : word;
        text += word + "\n";
    }
    return text;
}

// Each expectation was checked against `diff -u --label A --label B` of the same texts.
TEST(CompareTest, ReportDiffsHaveTheFormOfDiffU) {
    const struct {
        std::string before, after, hunks;
    } cases[] = {
        {"same\n", "same\n", ""},
        {"x\n", "y\n", "@@ -1 +1 @@\n-x\n+y\n"},
        {"", "n\n", "@@ -0,0 +1 @@\n+n\n"},
        {"a\nb", "a\nb\n", "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        {"a\r\nb\r\n", "a\r\nc\r\nb\r\n", "@@ -1,2 +1,3 @@\n a\r\n+c\r\n b\r\n"},
        // Six kept lines between two changes join them in one hunk; seven part them.
        {Numbers(), Numbers({{2, "two"}, {9, "nine"}}),
         "@@ -1,12 +1,12 @@\n 1\n-2\n+two\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+nine\n 10\n 11\n 12\n"},
        {Numbers(), Numbers({{2, "two"}, {10, "ten"}}),
         "@@ -1,5 +1,5 @@\n 1\n-2\n+two\n 3\n 4\n 5\n"
         "@@ -7,7 +7,7 @@\n 7\n 8\n 9\n-10\n+ten\n 11\n 12\n 13\n"},
    };
    for (const auto& c : cases) {
        const std::string labels = c.hunks.empty() ? "" : "--- A\n+++ B\n";
        EXPECT_EQ(UnifiedDiff(c.before, c.after, "A", "B"), labels + c.hunks) << c.after;
    }
}

TEST(CompareTest, ParameterSetsGiveTheirChangedByteRanges) {
    const std::vector<uint8_t> before = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_TRUE(ChangedByteRanges(before, before).empty());
    EXPECT_EQ(FormatChangedBytes(
                  ChangedByteRanges(before, {0x00, 0xAA, 0xBB, 0x33, 0x44, 0x55, 0x66, 0x77})),
              "0x000001: 11 22 -> aa bb\n0x000006: - -> 66 77\n");
    EXPECT_EQ(FormatChangedBytes(ChangedByteRanges(before, {0x00, 0x11, 0x22, 0x30})),
              "0x000003: 33 44 55 -> 30\n");
    EXPECT_EQ(FormatChangedBytes(ChangedByteRanges({}, {0x01})), "0x000000: - -> 01\n");
}

}  // namespace
}  // namespace kelo::records
