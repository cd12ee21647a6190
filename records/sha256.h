// SHA-256 digests, as the records name files and contents by them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/record.h"

namespace kelo::records {

// The SHA-256 of the bytes as 64 lower-case hex digits (Nettle's).
std::string Sha256Hex(const uint8_t* data, size_t length);

// The file at path with its role, size and SHA-256; nullopt when it cannot be read, is no
// regular file, or is larger than any file Kelo reads or writes.
std::optional<FileUse> DescribeFile(const std::string& role, const std::string& path);

// A file by the bytes that were read from it or written to it: what the operation used, even
// when the name holds something else by the time the record is written.
FileUse DescribeBytes(const std::string& role, const std::string& path,
                      const std::vector<uint8_t>& bytes);

}  // namespace kelo::records
