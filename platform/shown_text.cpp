#include "platform/shown_text.h"

#include <algorithm>

namespace kelo::platform {
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

// Control characters (C0, DEL, C1), and the characters that change how the text around them
// is laid out: the bidirectional embeddings, overrides and isolates (which can make a line
// read backwards), the line and paragraph separators, and the byte order mark.
bool IsControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) ||
           (codePoint >= 0x202A && codePoint <= 0x202E) ||
           (codePoint >= 0x2066 && codePoint <= 0x2069) || codePoint == 0x2028 ||
           codePoint == 0x2029 || codePoint == 0xFEFF;
}

// The columns a terminal gives a character: none for combining marks, two for the wide
// characters of East Asian scripts, one for the rest.
size_t ColumnsOf(char32_t c) {
    const bool combining = (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) ||
                           (c >= 0x1DC0 && c <= 0x1DFF) || (c >= 0x20D0 && c <= 0x20FF) ||
                           (c >= 0xFE20 && c <= 0xFE2F) || c == 0x200B || c == 0x200C ||
                           c == 0x200D;
    if (combining)
        return 0;
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
                      (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
                      (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                      (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
                      (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
    return wide ? 2 : 1;
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

size_t DisplayColumns(const std::string& text) {
    size_t columns = 0;
    char32_t codePoint = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        const size_t decoded = DecodeCharacter(text, at, codePoint);
        columns += decoded == 0 ? 1 : ColumnsOf(codePoint);
        length = std::max<size_t>(decoded, 1);
    }
    return columns;
}

std::string CutToColumns(const std::string& text, size_t columns) {
    if (columns == 0 || DisplayColumns(text) <= columns)
        return text;
    // Whole characters up to one column short of the width, then the ellipsis.
    std::string cut;
    size_t used = 0;
    char32_t codePoint = 0;
    for (size_t at = 0, length = 0; at < text.size(); at += length) {
        const size_t decoded = DecodeCharacter(text, at, codePoint);
        length = std::max<size_t>(decoded, 1);
        const size_t width = decoded == 0 ? 1 : ColumnsOf(codePoint);
        if (used + width > columns - 1)
            break;
        cut.append(text, at, length);
        used += width;
    }
    return cut + "\xE2\x80\xA6";  // U+2026
}

}  // namespace kelo::platform
