// Writing a whole file so that a failure never leaves a half-written file where a good one
// stood: the content goes to a temporary file in the same folder, which replaces the target
// only once it was written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct FileResult {
    bool ok = true;
    int error = 0;  // errno of the failing step
    std::string ErrorText(const std::string& path) const;
};

FileResult WriteFileAtomically(const std::string& path, const void* data, size_t length);

// Reads at most maxBytes of a file. tooLarge is set when the file holds more than maxBytes.
FileResult ReadFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out,
                         bool* tooLarge = nullptr);

}  // namespace platform
