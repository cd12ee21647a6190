#include "link/access_code_mask.h"

#include <algorithm>
#include <cstring>

#include "platform/access_codes.h"

namespace kelo {
namespace {

const uint8_t* Marker() {
    return reinterpret_cast<const uint8_t*>(platform::kAccessLinePrefix);
}
constexpr size_t kMarkerLength = platform::kAccessLinePrefixLength;
constexpr size_t kCodeLength = platform::kAccessCodeLength;

// Where the marker ends in [data, data + size), searching from start; 0 when it is not there.
// memchr for its first byte runs at memory speed through a firmware image.
size_t MarkerEnd(const uint8_t* data, size_t size, size_t start) {
    if (start >= size)
        return 0;
    const uint8_t* end = data + size;
    for (const uint8_t* at = data + start; at + kMarkerLength <= end; ++at) {
        at = static_cast<const uint8_t*>(
            std::memchr(at, Marker()[0], static_cast<size_t>(end - at)));
        if (at == nullptr || at + kMarkerLength > end)
            return 0;
        if (std::memcmp(at, Marker(), kMarkerLength) == 0)
            return static_cast<size_t>(at - data) + kMarkerLength;
    }
    return 0;
}

}  // namespace

// 1. What earlier blocks left to hide. 2. A marker that began in an earlier block and ends in
// this one. 3. Every marker inside the block, hidden or not: the 500 bytes after each are
// hidden, and overlapping stretches merge. 4. Keep the end of the stream in case a marker
// begins there.
std::vector<platform::TraceHiddenRange> AccessCodeMask::Apply(const uint8_t* data, size_t size,
                                                              std::vector<uint8_t>& masked) {
    std::vector<platform::TraceHiddenRange> ranges;
    size_t hideFrom = 0;
    size_t hideTo = hiddenLeft_;  // may reach past the block
    const auto hideAfterMarker = [&](size_t markerEnd) {
        if (markerEnd > hideTo) {
            if (hideTo > hideFrom)
                ranges.push_back({hideFrom, hideTo - hideFrom});
            hideFrom = markerEnd;
        }
        hideTo = std::max(hideTo, markerEnd + kCodeLength);
    };
    if (const size_t end = BoundaryMarkerEnd(data, size); end > 0)
        hideAfterMarker(end);
    for (size_t end = MarkerEnd(data, size, 0); end > 0; end = MarkerEnd(data, size, end))
        hideAfterMarker(end);
    if (std::min(hideTo, size) > hideFrom)
        ranges.push_back({hideFrom, std::min(hideTo, size) - hideFrom});
    hiddenLeft_ = hideTo > size ? hideTo - size : 0;
    KeepTail(data, size);
    if (!ranges.empty()) {
        masked.assign(data, data + size);
        for (const platform::TraceHiddenRange& range : ranges)
            std::fill_n(masked.begin() + static_cast<long>(range.offset), range.length, '*');
    }
    return ranges;
}

size_t AccessCodeMask::BoundaryMarkerEnd(const uint8_t* data, size_t size) const {
    if (tail_.empty())
        return 0;
    uint8_t boundary[2 * kMarkerLength];
    const size_t taken = std::min(size, kMarkerLength - 1);
    std::memcpy(boundary, tail_.data(), tail_.size());
    std::memcpy(boundary + tail_.size(), data, taken);
    const size_t end = MarkerEnd(boundary, tail_.size() + taken, 0);
    // The tail is shorter than a marker, so a marker found ends in this block.
    return end > tail_.size() ? end - tail_.size() : 0;
}

// The last bytes of the stream, one fewer than a marker; a short block adds to what the
// earlier ones left.
void AccessCodeMask::KeepTail(const uint8_t* data, size_t size) {
    const size_t keep = kMarkerLength - 1;
    const size_t from = size > keep ? size - keep : 0;
    tail_.append(reinterpret_cast<const char*>(data) + from, size - from);
    if (tail_.size() > keep)
        tail_.erase(0, tail_.size() - keep);
}

std::unique_ptr<platform::TraceMask> MakeAccessCodeMask() {
    return std::make_unique<AccessCodeMask>();
}

}  // namespace kelo
