// Byte helpers for the tests: expected bytes are written out in hex, frames built whole.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace testing_support {

// Hex text to the bytes it writes out: "80 00 02 00 01 7C" -> {0x80, 0x00, ...}, as a byte
// vector or, with HexBytes<std::string>, as a string of those bytes.
template <typename ByteString = std::vector<uint8_t>>
ByteString HexBytes(const std::string& hex) {
    ByteString bytes;
    std::istringstream in(hex);
    std::string pair;
    while (in >> pair)
        bytes.push_back(
            static_cast<typename ByteString::value_type>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

// Bytes to their hex text, the reverse of HexBytes: {0x80, 0x00} -> "80 00", or "8000" with
// an empty separator (the status text's line payloads).
inline std::string HexText(const std::vector<uint8_t>& bytes, const std::string& separator = " ") {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += separator;
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

inline std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const std::vector<uint8_t>& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The packet link's frame around a body: 80, L (2 bytes, big-endian), the body, and the check
// byte that makes the whole frame sum to 0xFF.
inline std::vector<uint8_t> Framed(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> frame;
    frame.reserve(body.size() + 4);
    frame.push_back(0x80);
    frame.push_back(static_cast<uint8_t>(body.size() >> 8));
    frame.push_back(static_cast<uint8_t>(body.size() & 0xFF));
    for (uint8_t byte : body)
        frame.push_back(byte);
    unsigned sum = 0;
    for (uint8_t byte : frame)
        sum += byte;
    frame.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    return frame;
}

}  // namespace testing_support

namespace sim_testing {

inline std::vector<uint8_t> Bytes(const std::string& hex) {
    return testing_support::HexBytes(hex);
}

inline std::vector<uint8_t> Bytes(const char* text, size_t size) {
    return std::vector<uint8_t>(text, text + size);
}

// A request frame as a client builds it: 80, L, command, data, [data-sum], checksum.
inline std::vector<uint8_t> RequestFrame(uint8_t high, uint8_t low,
                                         const std::vector<uint8_t>& data, bool dataSum) {
    std::vector<uint8_t> body{high, low};
    body.insert(body.end(), data.begin(), data.end());
    if (dataSum) {
        unsigned sum = 1;
        for (uint8_t byte : data)
            sum += byte;
        body.push_back(static_cast<uint8_t>(sum));
    }
    return testing_support::Framed(body);
}

}  // namespace sim_testing
