// Helpers shared by the file tests: a scratch folder, whole-file reads and writes, hex bytes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "files/scramble.h"
#include "platform/system.h"

namespace kelo::filetest {

using Bytes = std::vector<uint8_t>;

// "81 41 00" -> {0x81, 0x41, 0x00}.
inline Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    return bytes;
}

inline Bytes Repeat(size_t count, uint8_t value) {
    return Bytes(count, value);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

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

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = platform::TempFolder() + "kelo-files-test-XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        path_ = made != nullptr ? made : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }
    // Names of the entries in the folder, to see that nothing was left behind.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

  private:
    std::string path_;
};

inline Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline void WriteAll(const std::string& path, const std::string& text) {
    WriteAll(path, Bytes(text.begin(), text.end()));
}

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}

}  // namespace kelo::filetest
