// libFuzzer target for the scrambling routine. The bytes are unscrambled as a report file or a
// parameter file with the capacity that kind uses, and scrambled in that kind's mode and
// unscrambled again as the file decoders do, which must give them back. Stops on any result
// that breaks the routine's promises: a length past the capacity, more than 64 bytes out for
// each byte in, a round trip that changes the data, a scrambled form longer than the room the
// encoders give it, a scrambling refused although it fits.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "files/scramble.h"
#include "fuzz/require.h"

namespace {

// Blocks as large as the files' buffers, allocated once: the routine writes only what it
// reports, so nothing needs clearing between inputs.
uint8_t* Block(size_t capacity) {
    static std::vector<uint8_t> block(static_cast<size_t>(kelo::kReportReadCapacity));
    FUZZ_REQUIRE(capacity <= block.size());
    return block.data();
}

std::vector<uint8_t>& Source(const uint8_t* data, size_t size) {
    static std::vector<uint8_t> source;
    source.assign(data, data + size);
    return source;
}

void CheckUnscramble(const uint8_t* data, size_t size, int capacity, uint8_t mode) {
    std::vector<uint8_t>& source = Source(data, size);
    const int length = kelo::ScrambleFileData(source.data(), static_cast<int>(source.size()),
                                              Block(static_cast<size_t>(capacity)), capacity, mode);
    FUZZ_REQUIRE(length >= -1 && length <= capacity);
    FUZZ_REQUIRE(length <= static_cast<int>(size) * kelo::kMaxUnscrambleExpansion);
}

void CheckRoundTrip(const uint8_t* data, size_t size, uint8_t encode, uint8_t decode,
                    int readCapacity) {
    constexpr int kSaveCapacity = kelo::kParameterFileCapacity;
    static_assert(kelo::kReportSaveCapacity == kSaveCapacity);
    std::vector<uint8_t>& source = Source(data, size);
    uint8_t* block = Block(kSaveCapacity);
    const int scrambled =
        kelo::ScrambleFileData(source.data(), static_cast<int>(size), block, kSaveCapacity, encode);
    FUZZ_REQUIRE(scrambled <= kSaveCapacity);
    if (scrambled < 0) {
        FUZZ_REQUIRE(kelo::ScrambleRoom(size, INT_MAX) > kSaveCapacity);
        return;
    }
    // The encoders size their target by this room.
    FUZZ_REQUIRE(scrambled <= kelo::ScrambleRoom(size, kSaveCapacity));
    FUZZ_REQUIRE(
        std::equal(data, data + size, source.begin()));  // scrambling leaves its source alone
    // Unscrambled as the file decoders do, into a block of exactly the plain size.
    std::vector<uint8_t> file(block, block + scrambled);
    std::vector<uint8_t> plain;
    FUZZ_REQUIRE(kelo::UnscrambleFileBlock(file.data(), scrambled, readCapacity, decode, plain));
    FUZZ_REQUIRE(std::equal(data, data + size, plain.begin(), plain.end()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the files' kind (bit 0) and the check (bit 1): unscrambling the
    // rest as the file would hold it, or the round trip from it as plain data. Each input so
    // runs one or two passes of the routine rather than six.
    const bool report = (data[0] & 1) != 0;
    const bool roundTrip = (data[0] & 2) != 0;
    const int capacity = report ? kelo::kReportReadCapacity : kelo::kParameterFileCapacity;
    const uint8_t encode = report ? kelo::ModeEncodeTagged : kelo::ModeEncodeUntagged;
    const uint8_t decode = report ? kelo::ModeDecodeTagged : kelo::ModeDecodeUntagged;
    const uint8_t* block = data + 1;
    const size_t length = size - 1;
    if (roundTrip)
        CheckRoundTrip(block, length, encode, decode, capacity);
    else
        CheckUnscramble(block, length, capacity, decode);
    return 0;
}
