// Texts from the network made fit to show: a machine may send any bytes as its name,
// description or status.
#pragma once

#include <cstddef>
#include <string>

namespace kelo::discover {

// The bytes as UTF-8 text of at most limit characters, in which every control character (C0,
// DEL, C1) and every byte that is not part of valid UTF-8 is replaced by U+FFFD, so that
// nothing a machine sends can move a terminal's cursor or break a JSON writer.
std::string ShownText(const std::string& bytes, size_t limit = std::string::npos);

// The characters of valid UTF-8 text (what ShownText returns), for column widths.
size_t CharacterCount(const std::string& text);

}  // namespace kelo::discover
