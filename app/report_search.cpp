#include "app/report_search.h"

#include <string>
#include <vector>

namespace app {
namespace {

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool InRange(std::string_view text, size_t pos, unsigned char low, unsigned char high) {
    if (pos >= text.size())
        return false;
    const unsigned char c = static_cast<unsigned char>(text[pos]);
    return c >= low && c <= high;
}

// Lower-cases the letters A to Z. Every other byte, the bytes of multibyte characters
// included, stays as it is, so offsets into the lowered copy are offsets into the text.
std::string LowerLetters(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

// Where characters start: position i is true when a character begins there. The end of the
// text counts as a start too, so that a match may end there.
std::vector<bool> CharacterStarts(std::string_view text) {
    std::vector<bool> starts(text.size() + 1, false);
    for (size_t pos = 0; pos < text.size(); pos += CharacterLength(text, pos))
        starts[pos] = true;
    starts[text.size()] = true;
    return starts;
}

}  // namespace

size_t CharacterLength(std::string_view text, size_t pos) {
    if (pos >= text.size())
        return 0;
    const unsigned char lead = static_cast<unsigned char>(text[pos]);
    size_t length = 1;
    unsigned char low = 0x80;  // the bounds of the second byte, narrower after some leads
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return 1;
    }
    if (!InRange(text, pos + 1, low, high))
        return 1;
    for (size_t i = 2; i < length; ++i) {
        if (pos + i >= text.size() || !IsContinuation(static_cast<unsigned char>(text[pos + i])))
            return 1;
    }
    return length;
}

std::optional<TextRange> FindInReport(std::string_view text, size_t selectionStart,
                                      std::string_view needle, SearchDirection direction) {
    if (needle.empty() || needle.size() > text.size())
        return std::nullopt;
    const std::string haystack = LowerLetters(text);
    const std::string pattern = LowerLetters(needle);
    const std::vector<bool> starts = CharacterStarts(text);
    const size_t k = pattern.size();
    auto wholeCharacters = [&](size_t at) { return starts[at] && starts[at + k]; };

    if (direction == SearchDirection::kDown) {
        if (selectionStart >= text.size())
            return std::nullopt;
        for (size_t at = haystack.find(pattern, selectionStart + 1); at != std::string::npos;
             at = haystack.find(pattern, at + 1)) {
            if (wholeCharacters(at))
                return TextRange{at, at + k};
        }
        return std::nullopt;
    }

    const size_t limit = selectionStart < text.size() ? selectionStart : text.size();
    if (limit < k)
        return std::nullopt;
    for (size_t at = haystack.rfind(pattern, limit - k); at != std::string::npos;
         at = at == 0 ? std::string::npos : haystack.rfind(pattern, at - 1)) {
        if (wholeCharacters(at))
            return TextRange{at, at + k};
    }
    return std::nullopt;
}

}  // namespace app
