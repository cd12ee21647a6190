// What a write would change on the machine, told before it is made (--if-changed, --check,
// --diff) and checked after it (--verify): the changed ranges of a parameter set, as compare
// forms them, and the words that say what the write would do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/compare.h"

namespace kelo::service {

// The ranges where the machine's set differs from what a write of plainBlock (a parameter
// file's set and its check byte) would leave there, offsets within the set. Types 3 and 4
// (packets) are sent only the second half, bytes 32768 to 65535: the machine keeps its own
// first half, so a difference there is none the write could change, and only that half is
// compared. Types 1 and 2 are sent the whole block; its check byte follows from the set, so
// the sets are compared without it (the machine's too, when it holds the block as sent).
std::vector<records::ChangedBytes> WrittenChanges(const std::vector<uint8_t>& machineSet,
                                                  const std::vector<uint8_t>& plainBlock,
                                                  bool packets);

// "unchanged", or "would change 38 bytes in 3 ranges".
std::string WouldChangeText(const std::vector<records::ChangedBytes>& changes);

// "would send 67,108,864 bytes".
std::string WouldSendText(long long bytes);

}  // namespace kelo::service
