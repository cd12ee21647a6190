#include "link/device_id.h"

#include <algorithm>
#include <vector>

#include "link/status_text.h"
#include "platform/trace.h"

namespace kelo {
namespace {

constexpr int kLengthFieldSize = 2;

bool PossibleLength(int length, int arrived) {
    return length >= kLengthFieldSize && length <= arrived;
}

// The length field as counted from the first length byte, or 0 when it cannot be used.
int DeviceIdLength(const uint8_t* raw, int arrived) {
    int length = raw[0] << 8 | raw[1];
    // Some devices put the length low byte first.
    if (!PossibleLength(length, arrived))
        length = raw[1] << 8 | raw[0];
    length = std::min(length, arrived);
    return length >= kLengthFieldSize ? length : 0;
}

}  // namespace

int DeviceIdText(const uint8_t* raw, int arrived, uint8_t* text, int capacity) {
    if (capacity < 1)
        return 0;
    int count = 0;
    if (raw != nullptr && arrived >= kLengthFieldSize) {
        const int length = DeviceIdLength(raw, arrived);
        const uint8_t* begin = raw + kLengthFieldSize;
        const uint8_t* end = raw + std::max(length, kLengthFieldSize);
        end = std::find(begin, end, 0);
        count = std::min(static_cast<int>(end - begin), capacity - 1);
        std::copy(begin, begin + count, text);
    }
    text[count] = 0;
    return count;
}

std::string DescribeDeviceId(const uint8_t* raw, int arrived) {
    std::vector<uint8_t> text(static_cast<size_t>(std::max(arrived, 0)) + 1);
    const int length = DeviceIdText(raw, arrived, text.data(), static_cast<int>(text.size()));
    const std::string status(reinterpret_cast<const char*>(text.data()),
                             static_cast<size_t>(length));
    std::string description =
        "device ID " + platform::QuotedPreview(text.data(), status.size(), 60);
    const std::string fields = DescribeStatusText(status);
    return fields.empty() ? description : description + "; " + fields;
}

}  // namespace kelo
