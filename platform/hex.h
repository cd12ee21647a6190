// Hexadecimal digits as the machines' status texts and the kept records write them.
#pragma once

#include <iterator>
#include <string>

namespace kelo::platform {

// The value of one hexadecimal digit, either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Bytes (of a string, a vector or an array) as lowercase hex digits without spaces: "0a1b".
template <class Bytes>
std::string LowerHex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(std::size(bytes) * 2);
    for (const auto byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0x0F];
    }
    return hex;
}

}  // namespace kelo::platform
