// SHA-256 digests, as the records name files and contents by them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelo::records {

// The SHA-256 of the bytes as 64 lower-case hex digits (OpenSSL's libcrypto).
std::string Sha256Hex(const uint8_t* data, size_t length);

}  // namespace kelo::records
