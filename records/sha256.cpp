#include "records/sha256.h"

#include <openssl/evp.h>

#include <new>
#include <vector>

#include "files/firmware_file.h"
#include "platform/atomic_file.h"

namespace kelo::records {
namespace {

// The largest file Kelo reads: a firmware image.
constexpr size_t kLargestDescribedFile = kMaxFirmwareFileBytes;

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    // Fails only when the library cannot allocate its context.
    if (EVP_Digest(data, length, digest, &digestLength, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * digestLength);
    for (unsigned int i = 0; i < digestLength; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
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
