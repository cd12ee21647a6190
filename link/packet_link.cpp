#include "link/packet_link.h"

#include <memory>
#include <vector>

#include "link/frame_trace.h"
#include "link/wire_format.h"
#include "platform/messages.h"

namespace kelo {

PacketLink::PacketLink(uint16_t port) : port_(port) {
    // The packet link carries no access line: "OPEN CODE=" there would be data of its own.
    SetTraceDecoder(MakePacketLinkDecoder);
    SetTraceMask(nullptr);
}

FirmwareStream::FirmwareStream() {
    SetTraceDecoder(MakeRawDataDecoder);
    SetTraceMask(nullptr);
}

int PacketLink::Open(const std::string& host, const std::string& queue) {
    queue_ = queue;
    return OpenStream(host, port_);
}

int PacketLink::BuildPacket(uint8_t* out, uint8_t lead, const uint8_t* data, int length,
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

int PacketLink::PutPacket(const uint8_t* data, int length) {
    // The payload must hold its command and fit the packet buffer with the framing bytes.
    if (data == nullptr || length < 2 || length > kPacketBufferSize - 5)
        return -1;
    const bool withDataSum = wire::CarriesDataSum(data[0], data[1]);
    // Left unfilled: the frame is built over its own bytes, and untouched pages cost nothing.
    const auto packet = std::make_unique_for_overwrite<uint8_t[]>(kPacketBufferSize);
    const int frameLength = BuildPacket(packet.get(), wire::kLeadByte, data, length, withDataSum);
    return Send(packet.get(), frameLength) == frameLength ? 0 : -1;
}

int FirmwareStream::Open(const std::string& host, const std::string& /*queue*/) {
    return OpenStream(host, kPort);
}

}  // namespace kelo

namespace kelo {
namespace {

constexpr int kRestartAttempts = 10;
constexpr int kRestartRetryWait = 2000;

// Receives until count bytes are in, asking each time only for the bytes still missing, and
// tells afterEach the total after every receive. False when a receive fails or the peer closes
// first.
template <typename AfterEach>
bool ReceiveExactly(const ReplyReceive& receive, uint8_t* into, int count, AfterEach afterEach) {
    int got = 0;
    while (got < count) {
        const int n = receive(into + got, count - got);
        if (n <= 0)
            return false;
        got += n;
        afterEach(got);
    }
    return true;
}

}  // namespace

int ReadReplyFrame(const ReplyReceive& receive, uint8_t* buffer, platform::CancelDialog& dialog,
                   bool showProgress, int progressBase) {
    // 1. The three header bytes: lead byte and the 16-bit length. A failed receive, or the
    //    machine closing the connection, ends the read.
    uint8_t header[wire::kFrameHeaderSize];
    if (!ReceiveExactly(receive, header, wire::kFrameHeaderSize, [](int) {})) {
        platform::ShowMessage(platform::MessageId::kFailedReceive);
        return -1;
    }
    if (header[0] != wire::kLeadByte)
        return -1;
    const int bodyLength = header[1] * 256 + header[2];
    // The data and check byte of a 65535-byte body cannot fit the reply buffer.
    if (bodyLength + 1 > Transport::kReplyBufferSize)
        return -1;
    const int frameRest = bodyLength + 1;
    if (showProgress && progressBase == -1) {
        dialog.SetRange(frameRest);
        progressBase = 0;
    }
    // 2. Data and check byte, and nothing after them: whatever the machine sends next is not
    //    part of this reply, and the check byte covers only the frame.
    const bool received = ReceiveExactly(receive, buffer, frameRest, [&](int total) {
        if (showProgress)
            dialog.SetPos(progressBase + total);
    });
    if (!received)
        return -1;
    // 3. The whole frame sums to 0xFF.
    const unsigned sum = wire::ByteSum(buffer, static_cast<size_t>(frameRest),
                                       wire::ByteSum(header, wire::kFrameHeaderSize));
    if (!wire::FrameSumsRight(sum))
        return -1;
    // 4. A zero in place of the check byte ends the data as a text.
    buffer[bodyLength] = 0;
    return bodyLength;
}

bool PacketLinkTransport::OpenChannel(bool quiet) {
    return Connect(
        std::make_unique<PacketLink>(MachineType() == 3 ? wire::kType3Port : wire::kType4Port),
        quiet);
}

bool PacketLinkTransport::WriteBlock(const uint8_t* data, int length) {
    if (Connected() && Connected()->PutPacket(data, length) == 0)
        return true;
    platform::ShowMessage(platform::MessageId::kFailedSend);
    return false;
}

int PacketLinkTransport::ReadReply(uint8_t* buffer, bool showProgress, int progressBase) {
    if (!Connected())
        return Transport::ReadReply(buffer, showProgress, progressBase);
    PacketLink& sender = *Connected();
    return ReadReplyFrame(
        [&sender](uint8_t* bytes, int length) { return sender.Receive(bytes, length); }, buffer,
        Dialog(), showProgress, progressBase);
}

bool PacketLinkTransport::WaitForRestart() {
    Dialog().SetBusyCursor(true);
    WaitUnlessCancelled(MachineType() == 3 ? 3000 : 10000);
    bool reachable = false;
    for (int attempt = 0; attempt < kRestartAttempts && !reachable; ++attempt) {
        reachable = Open(true);
        if (!reachable)
            WaitUnlessCancelled(kRestartRetryWait);
    }
    Dialog().SetBusyCursor(false);
    return reachable;
}

}  // namespace kelo
