// Texts from the network made fit to show: a machine may send any bytes as its name,
// description or status.
#pragma once

#include <cstddef>
#include <string>

namespace kelo::platform {

// The bytes as UTF-8 text of at most limit characters, in which every control character (C0,
// DEL, C1), every character that changes the layout of the text around it (bidirectional
// embeddings, overrides and isolates, U+2028, U+2029, U+FEFF) and every byte that is not part
// of valid UTF-8 is replaced by U+FFFD, so that nothing a machine sends can move a terminal's
// cursor, turn a line around or break a JSON writer.
std::string ShownText(const std::string& bytes, size_t limit = std::string::npos);

// The characters of valid UTF-8 text (what ShownText returns), for column widths.
size_t CharacterCount(const std::string& text);

// The columns a terminal gives UTF-8 text: wide East Asian characters take two, combining
// marks none.
size_t DisplayColumns(const std::string& text);

// The text when it fits the columns; else as many whole characters as leave one column free,
// and "…" in it.
std::string CutToColumns(const std::string& text, size_t columns);

}  // namespace kelo::platform
