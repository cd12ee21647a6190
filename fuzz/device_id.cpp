// libFuzzer target for the IEEE 1284 device ID: the bytes are exactly what a port delivered,
// its two length bytes first, alone in a buffer of their own size so that a read past them is
// caught. The text is taken out with room to spare, with little room and with none, and
// described for the protocol trace. Besides the sanitizers, it stops when a text is not the
// received bytes after the length field, holds a zero, or disagrees with a roomier reading.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz/require.h"
#include "link/device_id.h"

namespace {

constexpr int kLengthFieldSize = 2;

// Reads the text into a buffer of exactly capacity bytes and checks what the rules promise
// whatever the length bytes say; returns the count.
int ReadText(const uint8_t* raw, int arrived, int capacity, std::unique_ptr<uint8_t[]>& text) {
    text = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity));
    const int count = kelo::DeviceIdText(raw, arrived, text.get(), capacity);
    if (capacity < 1) {
        FUZZ_REQUIRE(count == 0);
        return count;
    }
    FUZZ_REQUIRE(count >= 0 && count <= capacity - 1);
    FUZZ_REQUIRE(count <= std::max(arrived - kLengthFieldSize, 0));
    FUZZ_REQUIRE(text[static_cast<size_t>(count)] == 0);
    FUZZ_REQUIRE(std::equal(text.get(), text.get() + count, raw + kLengthFieldSize));
    FUZZ_REQUIRE(std::find(text.get(), text.get() + count, 0) == text.get() + count);
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto raw = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::copy(data, data + size, raw.get());
    const int arrived = static_cast<int>(size);

    std::unique_ptr<uint8_t[]> roomy;
    const int full = ReadText(raw.get(), arrived, arrived + 1, roomy);
    // Less room cuts the same text short.
    std::unique_ptr<uint8_t[]> tight;
    const int capacity = static_cast<int>(size % 9);
    const int cut = ReadText(raw.get(), arrived, capacity, tight);
    if (capacity >= 1)
        FUZZ_REQUIRE(cut == std::min(full, capacity - 1));

    kelo::DescribeDeviceId(raw.get(), arrived);
    return 0;
}
