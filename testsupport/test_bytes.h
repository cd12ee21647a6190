// Byte helpers for the simulated machine's tests: expected bytes are written out in hex.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace sim_testing {

// "80 00 02 00 01 7C" -> bytes.
inline std::vector<uint8_t> Bytes(const std::string& hex) {
    std::vector<uint8_t> bytes;
    std::istringstream in(hex);
    std::string pair;
    while (in >> pair)
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    return bytes;
}

inline std::vector<uint8_t> Bytes(const char* text, size_t size) {
    return std::vector<uint8_t>(text, text + size);
}

inline std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ' ';
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
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
    std::vector<uint8_t> frame{0x80, static_cast<uint8_t>(body.size() >> 8),
                               static_cast<uint8_t>(body.size() & 0xFF)};
    frame.insert(frame.end(), body.begin(), body.end());
    unsigned sum = 0;
    for (uint8_t byte : frame)
        sum += byte;
    frame.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    return frame;
}

}  // namespace sim_testing
