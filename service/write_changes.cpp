#include "service/write_changes.h"

#include <algorithm>

namespace kelo::service {
namespace {

constexpr size_t kHalfSize = 32768;

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
    return std::vector<uint8_t>(bytes.begin() + static_cast<long>(std::min(begin, bytes.size())),
                                bytes.begin() + static_cast<long>(std::min(end, bytes.size())));
}

// A count with a comma between each three digits: 67,108,864.
std::string Grouped(long long count) {
    std::string digits = std::to_string(count);
    for (int at = static_cast<int>(digits.size()) - 3; at > (digits[0] == '-' ? 1 : 0); at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

}  // namespace

std::vector<records::ChangedBytes> WrittenChanges(const std::vector<uint8_t>& machineSet,
                                                  const std::vector<uint8_t>& plainBlock,
                                                  bool packets) {
    if (packets) {
        std::vector<records::ChangedBytes> changes =
            records::ChangedByteRanges(Slice(machineSet, kHalfSize, 2 * kHalfSize),
                                       Slice(plainBlock, kHalfSize, 2 * kHalfSize));
        for (records::ChangedBytes& change : changes)
            change.offset += kHalfSize;
        return changes;
    }
    const size_t setSize = plainBlock.empty() ? 0 : plainBlock.size() - 1;
    const size_t heldSize = machineSet.size() == plainBlock.size() ? setSize : machineSet.size();
    return records::ChangedByteRanges(Slice(machineSet, 0, heldSize),
                                      Slice(plainBlock, 0, setSize));
}

std::string WouldChangeText(const std::vector<records::ChangedBytes>& changes) {
    if (changes.empty())
        return "unchanged";
    const size_t bytes = records::ChangedByteCount(changes);
    return "would change " + std::to_string(bytes) + (bytes == 1 ? " byte in " : " bytes in ") +
           std::to_string(changes.size()) + (changes.size() == 1 ? " range" : " ranges");
}

std::string WouldSendText(long long bytes) {
    return "would send " + Grouped(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace kelo::service
