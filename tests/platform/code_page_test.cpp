// Legacy code pages: which bytes make each character, what it stands for, and the way back.
#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace {

using platform::CodePage;
using platform::DecodedCharacter;

struct DecodeCase {
    const char* codePage;
    std::string bytes;
    std::vector<DecodedCharacter> expected;
};

TEST(CodePage, EachCharacterKnowsItsBytes) {
    const DecodeCase cases[] = {
        // A second byte 0x5C is no backslash; 0xA0 begins nothing; a cut-off lead at the end.
        {"CP932",
         "A\x83\x5C\xA0\xB1\x81\x8B\x83",
         {{0, 1, U"A"},
          {1, 2, U"\u30BD"},
          {3, 1, U"\uFFFD"},
          {4, 1, U"\uFF71"},
          {5, 2, U"\u00B0"},
          {7, 1, U"\uFFFD"}}},
        {"cp1252", "\x80\x81", {{0, 1, U"\u20AC"}, {1, 1, U"\uFFFD"}}},
        // Shift sequences belong to the character after them; a closing one stands for nothing.
        {"ISO-2022-JP", "\x1B$B\x24\x22\x1B(B", {{0, 5, U"\u3042"}, {5, 3, U""}}},
    };
    for (const DecodeCase& c : cases) {
        const std::vector<DecodedCharacter> got = CodePage::Named(c.codePage)->Decode(c.bytes);
        ASSERT_EQ(got.size(), c.expected.size()) << c.codePage;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].offset, c.expected[i].offset) << c.codePage << " " << i;
            EXPECT_EQ(got[i].length, c.expected[i].length) << c.codePage << " " << i;
            EXPECT_EQ(got[i].codePoints, c.expected[i].codePoints) << c.codePage << " " << i;
        }
    }
}

TEST(CodePage, ConvertsBothWaysAndKnowsOnlyPlainNames) {
    const std::optional<CodePage> cp932 = CodePage::Named("CP932");
    ASSERT_TRUE(cp932);
    EXPECT_EQ(cp932->ToUtf8("25\x81\x8B\x43 \x83\x5C\xFD"), "25\u00B0C \u30BD\uFFFD");
    EXPECT_EQ(cp932->FromUtf8("\u30BD\u00B0"), "\x83\x5C\x81\x8B");
    EXPECT_EQ(cp932->FromUtf8("\u00E9"), std::nullopt) << "no form in CP932";
    for (const char* name : {"", "NO-SUCH-PAGE", "CP932//IGNORE", "CP932 "})
        EXPECT_FALSE(CodePage::Named(name)) << name;
}

}  // namespace
