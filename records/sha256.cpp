#include "records/sha256.h"

#include "platform/hex.h"

#include <nettle/sha2.h>

#include <vector>

#include "files/firmware_file.h"
#include "platform/atomic_file.h"
#include "platform/hex.h"

namespace kelo::records {
namespace {

// The largest file Kelo reads: a firmware image.
constexpr size_t kLargestDescribedFile = kMaxFirmwareFileBytes;

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t length) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, length, data);
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    return platform::LowerHex(digest);
}

std::optional<FileUse> DescribeFile(const std::string& role, const std::string& path) {
    std::vector<uint8_t> bytes;
    bool tooLarge = false;
    if (!platform::ReadFileBytes(path, kLargestDescribedFile, bytes, &tooLarge).ok || tooLarge)
        return std::nullopt;
    return DescribeBytes(role, path, bytes);
}

FileUse DescribeBytes(const std::string& role, const std::string& path,
                      const std::vector<uint8_t>& bytes) {
    return FileUse{role, path, bytes.size(), Sha256Hex(bytes.data(), bytes.size())};
}

}  // namespace kelo::records
