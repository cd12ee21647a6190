#include "discover/shown_text.h"

namespace kelo::discover {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at bytes[at] and its code point; 0 when the bytes
// there are no valid sequence (stray continuation, cut short, overlong, surrogate, too large).
size_t DecodeCharacter(const std::string& bytes, size_t at, char32_t& codePoint) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, smallest = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, smallest = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, smallest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() - at < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

std::string ShownText(const std::string& bytes, size_t limit) {
    std::string text;
    size_t characters = 0;
    for (size_t at = 0; at < bytes.size() && characters < limit; ++characters) {
        char32_t codePoint = 0;
        const size_t length = DecodeCharacter(bytes, at, codePoint);
        if (length == 0 || IsControl(codePoint)) {
            text += kReplacement;
            at += length == 0 ? 1 : length;
        } else {
            text.append(bytes, at, length);
            at += length;
        }
    }
    return text;
}

size_t CharacterCount(const std::string& text) {
    size_t count = 0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

}  // namespace kelo::discover
