// Machine bytes in JSON: JSON strings are Unicode and a machine's bytes are not, so each byte
// becomes the code point of the same value, U+0000 to U+00FF. A reader gets every byte back by
// encoding the text as Latin-1.
#pragma once

#include <string>
#include <string_view>

namespace kelo::platform {

// Each byte as the code point of the same value, UTF-8 encoded.
inline std::string Latin1CodePoints(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char byte : bytes) {
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

}  // namespace kelo::platform
