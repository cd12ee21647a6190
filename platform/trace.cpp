#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/access_codes.h"

namespace platform {
namespace detail {
TraceSink* g_traceSink = nullptr;
}  // namespace detail

namespace {

uint64_t g_lastChannelId = 0;

const uint8_t* Marker() {
    return reinterpret_cast<const uint8_t*>(kAccessLinePrefix);
}
constexpr size_t kMarkerLength = kAccessLinePrefixLength;
constexpr size_t kCodeLength = kAccessCodeLength;

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

std::string AddressText(uint32_t address, uint16_t port) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF, port);
    return text;
}

std::string QuotedPreview(const uint8_t* data, size_t size, size_t limit) {
    std::string text = "\"";
    for (size_t i = 0; i < size && i < limit; ++i) {
        const uint8_t c = data[i];
        switch (c) {
            case '\r':
                text += "\\r";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\t':
                text += "\\t";
                break;
            case '"':
            case '\\':
                text += '\\';
                text += static_cast<char>(c);
                break;
            default:
                if (c >= 0x20 && c < 0x7F) {
                    text += static_cast<char>(c);
                } else {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
                    text += escaped;
                }
        }
    }
    text += '"';
    if (size > limit)
        text += "...";
    return text;
}

std::string ByteCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

TraceSink* SetTraceSink(TraceSink* sink) {
    TraceSink* previous = detail::g_traceSink;
    detail::g_traceSink = sink;
    return previous;
}

// 1. What earlier blocks left to hide. 2. A marker that began in an earlier block and ends in
// this one. 3. Every marker inside the block, hidden or not: the 500 bytes after each are
// hidden, and overlapping stretches merge. 4. Keep the end of the stream in case a marker
// begins there.
std::vector<TraceHiddenRange> AccessCodeMask::Apply(const uint8_t* data, size_t size,
                                                    std::vector<uint8_t>& masked) {
    std::vector<TraceHiddenRange> ranges;
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
        for (const TraceHiddenRange& range : ranges)
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

TraceChannel::~TraceChannel() = default;

uint64_t TraceChannel::Id() const {
    if (id_ == 0)
        id_ = ++g_lastChannelId;
    return id_;
}

void TraceChannel::SetDecoder(TraceDecoderFactory factory) {
    factory_ = std::move(factory);
    decoder_.reset();
}

void TraceChannel::Restart() {
    id_ = 0;
    hasEndpoints_ = false;
    decoder_.reset();
    mask_ = AccessCodeMask();
}

void TraceChannel::SetEndpoints(TraceEndpoints endpoints) {
    endpoints_ = std::move(endpoints);
    hasEndpoints_ = true;
    const std::string& device = endpoints_.device;
    switch (endpoints_.transport) {
        case TraceTransport::kTcp:
            name_ = "tcp " + AddressText(endpoints_.peerAddress, endpoints_.peerPort);
            break;
        case TraceTransport::kUdp:
            name_ = "udp " + AddressText(endpoints_.peerAddress, endpoints_.peerPort);
            break;
        case TraceTransport::kUsb:
            name_ = device.empty() ? "usb" : "usb " + device;
            break;
        case TraceTransport::kParallel:
            name_ = device.empty() ? "parallel" : "parallel " + device;
            break;
    }
}

void TraceChannel::Opened(TraceSink& sink, TraceOpenResult result, const std::string& detail) {
    sink.Opened(*this, result, detail);
}

void TraceChannel::Bytes(TraceSink& sink, TraceDirection direction, const uint8_t* data,
                         size_t size) {
    TraceBlock block;
    block.direction = direction;
    block.data = data;
    block.size = size;
    std::vector<uint8_t> masked;
    if (direction == TraceDirection::kToMachine && carriesAccessLines_) {
        block.hidden = mask_.Apply(data, size, masked);
        if (!block.hidden.empty())
            block.data = masked.data();
    }
    if (!decoder_ && factory_)
        decoder_ = factory_();
    if (decoder_)
        block.decoding = decoder_->Decode(direction, block.data, size);
    sink.Bytes(*this, block);
}

}  // namespace platform
