// Names that compare with ASCII letters in either case, byte for byte otherwise, whatever
// locale the program runs in: profile sections and keys, host names, file extensions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelo::platform {

// Every byte with A-Z in lower case; looked up rather than tested, since names are compared a
// byte at a time, often.
inline constexpr std::array<uint8_t, 256> kAsciiLowerCase = [] {
    std::array<uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<size_t>(c)] = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return table;
}();

inline uint8_t AsciiLower(char c) {
    return kAsciiLowerCase[static_cast<uint8_t>(c)];
}

// The text with A-Z in lower case, as names that compare without case are kept apart.
inline std::string AsciiLowerText(std::string text) {
    for (char& c : text)
        c = static_cast<char>(AsciiLower(c));
    return text;
}

inline bool SameAsciiName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (a == b)
        return true;  // the usual case, compared a word at a time
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

}  // namespace kelo::platform
