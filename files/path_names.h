// The two ways the file operations test a file name.
#pragma once

#include <string>

namespace kelo {

// The extension of the path's last component from its last dot, dot included; "" if none.
std::string DottedExtension(const std::string& path);

// True when the path's last three characters are exactly these (case counting). Only these
// characters count: no dot needs to stand before them.
bool EndsWithLetters(const std::string& path, const std::string& letters);

}  // namespace kelo
