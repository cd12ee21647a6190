#include "platform/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kelo::platform {
namespace detail {
TraceSink* g_traceSink = nullptr;
}  // namespace detail

namespace {

uint64_t g_lastChannelId = 0;

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

void TraceChannel::SetMask(TraceMaskFactory factory) {
    maskFactory_ = std::move(factory);
    mask_.reset();
}

void TraceChannel::Restart() {
    id_ = 0;
    hasEndpoints_ = false;
    decoder_.reset();
    mask_.reset();
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
    if (direction == TraceDirection::kToMachine && maskFactory_) {
        if (!mask_)
            mask_ = maskFactory_();
        block.hidden = mask_->Apply(data, size, masked);
        if (!block.hidden.empty())
            block.data = masked.data();
    }
    if (!decoder_ && factory_)
        decoder_ = factory_();
    if (decoder_)
        block.decoding = decoder_->Decode(direction, block.data, size);
    sink.Bytes(*this, block);
}

}  // namespace kelo::platform
