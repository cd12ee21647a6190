// Searching the report text the way the viewer's find boxes do. The report is a byte string,
// UTF-8 (the locale's encoding) or in the code page chosen for reports; positions are byte
// offsets into it, and a match always covers whole characters.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/code_page.h"

namespace kelo::app {

enum class SearchDirection { kUp, kDown };

struct TextRange {
    size_t start = 0;
    size_t end = 0;
    bool operator==(const TextRange&) const = default;
};

// Searches text for needle without regard to the case of letters.
// Down: the first match that starts after selectionStart (from selectionStart + 1 on), so
// asking again from a selected match moves to the next one and a match beginning exactly at
// the caret is passed over.
// Up: the last match that ends at or before selectionStart.
// There is no wrap-around; nothing is found for an empty needle.
// The needle is UTF-8, as typed. With a code page, the text is in that code page and the
// needle is searched in its form there; a needle that has no such form is found nowhere.
std::optional<TextRange> FindInReport(std::string_view text, size_t selectionStart,
                                      std::string_view needle, SearchDirection direction,
                                      const platform::CodePage* codePage = nullptr);

// The characters of a report: in the code page when one is given, else as UTF-8, where a byte
// that starts no well-formed sequence is a character of its own, U+FFFD.
std::vector<platform::DecodedCharacter> ReportCharacters(std::string_view text,
                                                         const platform::CodePage* codePage);

// The byte length of the character at pos: the length of a well-formed UTF-8 sequence, else 1
// (a byte that starts no well-formed sequence stands for itself).
size_t CharacterLength(std::string_view text, size_t pos);

}  // namespace kelo::app
