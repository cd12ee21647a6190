// Legacy code pages: which bytes make each character, what it stands for, and the way back.
#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace {

using kelo::platform::CodePage;

// Each character as its offset, its byte count and its text: "0+1A 1+2ソ ...".
std::string Described(const char* codePage, std::string_view bytes) {
    std::string text;
    for (const kelo::platform::DecodedCharacter& c : CodePage::Named(codePage)->Decode(bytes)) {
        text += std::to_string(c.offset) + "+" + std::to_string(c.length);
        for (char32_t codePoint : c.codePoints)
            kelo::platform::AppendUtf8(text, codePoint);
        text += ' ';
    }
    return text;
}

TEST(CodePage, EachCharacterKnowsItsBytesAndOnlyPlainNamesAreKnown) {
    // A second byte 0x5C is no backslash; 0xA0 begins nothing; a cut-off lead at the end.
    EXPECT_EQ(Described("cp932", "A\x83\x5C\xA0\xB1\x81\x8B\x83"),
              "0+1A 1+2\u30BD 3+1\uFFFD 4+1\uFF71 5+2\u00B0 7+1\uFFFD ");
    EXPECT_EQ(Described("cp1252", "\x80\x81"), "0+1\u20AC 1+1\uFFFD ");
    // Shift sequences belong to the character after them; a closing one stands for nothing.
    EXPECT_EQ(Described("ISO-2022-JP", "\x1B$B\x24\x22\x1B(B"), "0+5\u3042 5+3 ");
    for (const char* name : {"", "NO-SUCH-PAGE", "CP932//IGNORE", "CP932 "})
        EXPECT_FALSE(CodePage::Named(name)) << name;
}

}  // namespace
