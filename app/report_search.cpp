#include "app/report_search.h"

#include <string>
#include <vector>

namespace kelo::app {
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

// Where characters start: position i is true when a character begins there. The end of the
// text counts as a start too, so that a match may end there.
std::vector<bool> CharacterStarts(std::string_view text, const platform::CodePage* codePage) {
    std::vector<bool> starts(text.size() + 1, false);
    if (codePage != nullptr) {
        for (const platform::DecodedCharacter& character : codePage->Decode(text))
            starts[character.offset] = true;
    } else {
        for (size_t pos = 0; pos < text.size(); pos += CharacterLength(text, pos))
            starts[pos] = true;
    }
    starts[text.size()] = true;
    return starts;
}

// Lower-cases the letters A to Z that are characters of their own. Every other byte stays as
// it is: in a double-byte code page a letter's byte can be the second half of another
// character. Offsets into the lowered copy are offsets into the text.
std::string LowerLetters(std::string_view text, const std::vector<bool>& starts) {
    std::string lowered(text);
    for (size_t i = 0; i < lowered.size(); ++i) {
        char& c = lowered[i];
        if (c >= 'A' && c <= 'Z' && starts[i] && starts[i + 1])
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lowered;
}

// The code point of a well-formed UTF-8 sequence of the given length.
char32_t Utf8CodePoint(std::string_view text, size_t pos, size_t length) {
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t codePoint = static_cast<unsigned char>(text[pos]) & kLeadBits[length];
    for (size_t i = 1; i < length; ++i)
        codePoint = codePoint << 6 | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    return codePoint;
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

std::vector<platform::DecodedCharacter> ReportCharacters(std::string_view text,
                                                         const platform::CodePage* codePage) {
    if (codePage != nullptr)
        return codePage->Decode(text);
    std::vector<platform::DecodedCharacter> characters;
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = CharacterLength(text, pos);
        const bool stray = length == 1 && static_cast<unsigned char>(text[pos]) >= 0x80;
        const char32_t codePoint = stray ? char32_t{0xFFFD} : Utf8CodePoint(text, pos, length);
        characters.push_back({pos, length, std::u32string(1, codePoint)});
        pos += length;
    }
    return characters;
}

std::optional<TextRange> FindInReport(std::string_view text, size_t selectionStart,
                                      std::string_view typed, SearchDirection direction,
                                      const platform::CodePage* codePage) {
    std::string needle(typed);
    if (codePage != nullptr) {
        std::optional<std::string> encoded = codePage->FromUtf8(typed);
        if (!encoded)
            return std::nullopt;
        needle = std::move(*encoded);
    }
    if (needle.empty() || needle.size() > text.size())
        return std::nullopt;
    const std::vector<bool> starts = CharacterStarts(text, codePage);
    const std::string haystack = LowerLetters(text, starts);
    const std::string pattern = LowerLetters(needle, CharacterStarts(needle, codePage));
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

}  // namespace kelo::app
