// Helpers shared by the file tests: hex bytes, made-up content, and scrambled files past the
// program's own limits.
#pragma once

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files/scramble.h"
#include "testsupport/test_bytes.h"

namespace kelo::filetest {

using Bytes = std::vector<uint8_t>;

using testing_support::HexBytes;

inline Bytes Repeat(size_t count, uint8_t value) {
    return Bytes(count, value);
}

using testing_support::Concat;

inline Bytes RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(generator());
    return bytes;
}

// Scrambles a plain block with a target large enough for any content, so tests can build
// files past the limits the program itself keeps to.
inline Bytes ScrambleWithoutLimit(Bytes plain, uint8_t mode) {
    Bytes file(plain.size() * 2 + 16);
    const int n = ScrambleFileData(plain.data(), static_cast<int>(plain.size()), file.data(),
                                   static_cast<int>(file.size()), mode);
    file.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return file;
}

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

}  // namespace kelo::filetest
