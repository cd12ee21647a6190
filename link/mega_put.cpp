#include "link/mega_put.h"

#include <memory>
#include <vector>

#include "link/frame_trace.h"
#include "link/wire_format.h"

namespace kelo {

CMegaPut::CMegaPut(uint16_t port) : port_(port) {
    // The packet link carries no access line: "OPEN CODE=" there would be data of its own.
    SetTraceDecoder(MakePacketLinkDecoder);
    SetTraceMask(nullptr);
}

CMega9100Put::CMega9100Put() {
    SetTraceDecoder(MakeRawDataDecoder);
    SetTraceMask(nullptr);
}

int CMegaPut::Open(const std::string& host, const std::string& queue) {
    queue_ = queue;
    return OpenStream(host, port_);
}

int CMegaPut::BuildPacket(uint8_t* out, uint8_t lead, const uint8_t* data, int length,
                          bool withDataSum) {
    const int bodyLength = withDataSum ? length + 1 : length;
    unsigned sum = 0;
    int w = 0;
    auto put = [&](uint8_t byte) {
        out[w++] = byte;
        sum += byte;
    };
    put(lead);
    put(static_cast<uint8_t>(bodyLength >> 8));
    put(static_cast<uint8_t>(bodyLength & 0xFF));
    for (int i = 0; i < length; ++i)
        put(data[i]);
    // The data-sum covers the data after the two command bytes.
    if (withDataSum)
        put(wire::PlusOneSum(data + 2, static_cast<size_t>(length - 2)));
    out[w++] = wire::FrameChecksum(sum);
    return w;
}

int CMegaPut::PutPacket(const uint8_t* data, int length) {
    // The payload must hold its command and fit the packet buffer with the framing bytes.
    if (data == nullptr || length < 2 || length > kPacketBufferSize - 5)
        return -1;
    const bool withDataSum = wire::CarriesDataSum(data[0], data[1]);
    // Left unfilled: the frame is built over its own bytes, and untouched pages cost nothing.
    const auto packet = std::make_unique_for_overwrite<uint8_t[]>(kPacketBufferSize);
    const int frameLength = BuildPacket(packet.get(), wire::kLeadByte, data, length, withDataSum);
    return Send(packet.get(), frameLength) == frameLength ? 0 : -1;
}

int CMega9100Put::Open(const std::string& host, const std::string& /*queue*/) {
    return OpenStream(host, kPort);
}

}  // namespace kelo
