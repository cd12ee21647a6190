// The viewer's search on the byte string of the report: direction rules, case, whole
// characters, and the end of the text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/report_search.h"

namespace {

using kelo::app::FindInReport;
using kelo::app::SearchDirection;
using kelo::app::TextRange;
constexpr SearchDirection kDown = SearchDirection::kDown;
constexpr SearchDirection kUp = SearchDirection::kUp;
constexpr std::optional<TextRange> kNone = std::nullopt;

struct SearchCase {
    const char* label;
    std::string text;
    size_t selectionStart;
    std::string needle;
    SearchDirection direction;
    std::optional<TextRange> expected;
};

TEST(FindInReport, FollowsTheDirectionRules) {
    const std::string t = "abc xx abc yy ABC";  // matches at 0, 7 and 14
    const SearchCase cases[] = {
        {"down passes a match at the caret", t, 0, "abc", kDown, TextRange{7, 10}},
        {"down from a selected match finds the next", t, 7, "abc", kDown, TextRange{14, 17}},
        {"down after the last match fails", t, 14, "abc", kDown, kNone},
        {"down from the end fails", t, 17, "abc", kDown, kNone},
        {"down from past the end fails", t, 40, "abc", kDown, kNone},
        {"up from the end finds the last", t, 17, "abc", kUp, TextRange{14, 17}},
        {"up from a selected match finds the one before", t, 14, "abc", kUp, TextRange{7, 10}},
        {"up takes a match ending exactly at the start", t, 10, "abc", kUp, TextRange{7, 10}},
        {"up skips a match that reaches past the start", t, 9, "abc", kUp, TextRange{0, 3}},
        {"up from the first match fails", t, 0, "abc", kUp, kNone},
        {"up from past the end searches the whole text", t, 99, "abc", kUp, TextRange{14, 17}},
        {"overlapping matches, down", "aaaa", 0, "aa", kDown, TextRange{1, 3}},
        {"overlapping matches, down again", "aaaa", 1, "aa", kDown, TextRange{2, 4}},
        {"overlapping matches, down at the end", "aaaa", 2, "aa", kDown, kNone},
        {"overlapping matches, up", "aaaa", 4, "aa", kUp, TextRange{2, 4}},
        {"overlapping matches, up again", "aaaa", 2, "aa", kUp, TextRange{0, 2}},
        {"empty needle", t, 0, "", kDown, kNone},
        {"needle longer than the text", "ab", 0, "abc", kUp, kNone},
        {"empty text", "", 0, "a", kDown, kNone},
    };
    for (const SearchCase& c : cases) {
        EXPECT_EQ(FindInReport(c.text, c.selectionStart, c.needle, c.direction), c.expected)
            << c.label;
    }
}

TEST(FindInReport, IgnoresTheCaseOfLettersBothWays) {
    const SearchCase cases[] = {
        {"upper text, lower needle", "x ABC", 0, "abc", kDown, TextRange{2, 5}},
        {"lower text, upper needle", "x abc", 0, "ABC", kDown, TextRange{2, 5}},
        {"mixed, up", "Total: 12\r\nTOTAL: 13", 20, "total", kUp, TextRange{11, 16}},
        {"digits and signs are not letters", "a[1]", 0, "{1}", kDown, kNone},
    };
    for (const SearchCase& c : cases) {
        EXPECT_EQ(FindInReport(c.text, c.selectionStart, c.needle, c.direction), c.expected)
            << c.label;
    }
}

TEST(FindInReport, KeepsMultibyteCharactersWhole) {
    const std::string a = "\xE3\x81\x82";  // a three-byte character
    const std::string e = "\xC3\xA9";      // a two-byte character
    const SearchCase cases[] = {
        {"a character is found whole", "x" + a + "y", 0, a, kDown, TextRange{1, 4}},
        {"no match starting inside a character", a + "x", 0, "\x81\x82x", kDown, kNone},
        {"no match ending inside a character", "y" + a, 0, "y\xE3\x81", kDown, kNone},
        {"no match ending inside one, up", "y" + a, 4, "y\xE3\x81", kUp, kNone},
        {"up walks back character by character", a + a, 6, a, kUp, TextRange{3, 6}},
        {"up from inside a character finds the one before", a + a + a, 7, a, kUp, TextRange{3, 6}},
        {"down from inside a character", a + "a" + a, 1, "A", kDown, TextRange{3, 4}},
        {"letters beside multibyte characters fold", e + "ABC" + e, 0, "abc" + e, kDown,
         TextRange{2, 7}},
        {"a stray byte counts as a character of its own",
         "\x83"
         "A",
         0, "a", kDown, TextRange{1, 2}},
    };
    for (const SearchCase& c : cases) {
        EXPECT_EQ(FindInReport(c.text, c.selectionStart, c.needle, c.direction), c.expected)
            << c.label;
    }
}

struct LengthCase {
    std::string bytes;
    size_t expected;
};

TEST(CharacterLength, MeasuresWellFormedSequencesAndTreatsOthersAsSingleBytes) {
    const LengthCase cases[] = {
        {"A", 1},
        {"\xC3\xA9", 2},
        {"\xE3\x81\x82", 3},
        {"\xF0\x9F\x98\x80", 4},
        {"\xC3", 1},              // cut short
        {"\xC0\x80", 1},          // overlong
        {"\xE0\x80\x80", 1},      // overlong
        {"\xED\xA0\x80", 1},      // surrogate
        {"\xF4\x90\x80\x80", 1},  // beyond U+10FFFF
        {"\xE3\x81"
         "A",
         1},          // third byte missing
        {"\x80", 1},  // continuation without lead
        {"\xFF", 1},
    };
    for (const LengthCase& c : cases) {
        EXPECT_EQ(kelo::app::CharacterLength(c.bytes, 0), c.expected)
            << testing::PrintToString(c.bytes);
    }
    EXPECT_EQ(kelo::app::CharacterLength("ab", 2), 0u);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
