// Texts from the network and from files as they are shown on a terminal.
#include "platform/shown_text.h"

#include <gtest/gtest.h>

namespace kelo::platform {
namespace {

TEST(ShownText, ReplacesControlsAndBrokenUtf8AndCutsWholeCharacters) {
    const std::string r = "\xEF\xBF\xBD";  // U+FFFD
    const struct {
        std::string bytes;
        size_t limit;
        std::string shown;
    } cases[] = {
        {"Kelo simulated machine", 40, "Kelo simulated machine"},
        {"red\x1b[31m!\r\n", 40, "red" + r + "[31m!" + r + r},
        {std::string("a\0b", 3), 40, "a" + r + "b"},
        {"\xC2\x9B[2J", 40, r + "[2J"},   // C1 CSI
        {"\xFF\xC0\xAF", 40, r + r + r},  // not UTF-8, overlong
        {"\xED\xA0\x80", 40, r + r + r},  // a surrogate
        // Layout changers: a right-to-left override, an isolate, the line separator, a BOM;
        // the characters just beside them stay.
        {"a\xE2\x80\xAE"
         "b\xE2\x81\xA6"
         "c\xE2\x80\xA8"
         "d\xEF\xBB\xBF\xE2\x80\xAF",
         40, "a" + r + "b" + r + "c" + r + "d" + r + "\xE2\x80\xAF"},
        {"\xE2\x82", 40, r + r},                              // cut short
        {"\xC3\xA4\xC3\xB6\xC3\xBC", 2, "\xC3\xA4\xC3\xB6"},  // äöü cut to äö
        {"0123456789", 4, "0123"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShownText(c.bytes, c.limit), c.shown) << c.bytes;
    }
    EXPECT_EQ(CharacterCount("a\xC3\xA4\xEF\xBF\xBD"), 3u);
}

}  // namespace
}  // namespace kelo::platform
