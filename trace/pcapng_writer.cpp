#include "trace/pcapng_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/system.h"

namespace kelo::trace {
namespace {

// pcapng block types, and the option that names the writing program.
constexpr uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr uint32_t kInterfaceDescription = 0x00000001;
constexpr uint32_t kEnhancedPacket = 0x00000006;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptionUserApplication = 4;
constexpr uint32_t kSnapLength = 262144;

constexpr uint8_t kProtocolTcp = 6;
constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kIpHeader = 20;
constexpr size_t kTcpHeader = 20;
constexpr size_t kSynOptions = 8;  // MSS, a no-op, the window scale
constexpr size_t kUdpHeader = 8;
constexpr size_t kEnhancedPacketHeader = 28;

constexpr uint8_t kFin = 0x01;
constexpr uint8_t kSyn = 0x02;
constexpr uint8_t kRst = 0x04;
constexpr uint8_t kPsh = 0x08;
constexpr uint8_t kAck = 0x10;

// Made-up initial sequence numbers, different for every connection.
uint32_t OurInitialSequence(uint64_t id) {
    return static_cast<uint32_t>(0x10000000u + id * 0x00100000u);
}
uint32_t PeerInitialSequence(uint64_t id) {
    return static_cast<uint32_t>(0x80000000u + id * 0x00100000u);
}

// Little-endian block fields, as the byte-order magic announces.
void Put16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}
void PadTo4(std::vector<uint8_t>& out) {
    while (out.size() % 4 != 0)
        out.push_back(0);
}

// Network byte order inside the packets.
void SetBig16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}
void SetBig32(uint8_t* at, uint32_t value) {
    SetBig16(at, static_cast<uint16_t>(value >> 16));
    SetBig16(at + 2, static_cast<uint16_t>(value));
}

// The Internet checksum's running sum of 16-bit words.
uint32_t SumWords(const uint8_t* data, size_t size, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if (size % 2 != 0)
        sum += static_cast<uint32_t>(data[size - 1] << 8);
    return sum;
}
uint16_t FoldChecksum(uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// A block whose total length stands at its start and end; body is everything between.
std::vector<uint8_t> Block(uint32_t type, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> block;
    const uint32_t total = static_cast<uint32_t>(12 + body.size());
    Put32(block, type);
    Put32(block, total);
    block.insert(block.end(), body.begin(), body.end());
    Put32(block, total);
    return block;
}

std::vector<uint8_t> SectionHeader() {
    std::vector<uint8_t> body;
    Put32(body, kByteOrderMagic);
    Put16(body, 1);  // version 1.0
    Put16(body, 0);
    Put32(body, 0xFFFFFFFF);  // section length not given
    Put32(body, 0xFFFFFFFF);
    const std::string application = "Kelo " + platform::ProgramVersion();
    Put16(body, kOptionUserApplication);
    Put16(body, static_cast<uint16_t>(application.size()));
    body.insert(body.end(), application.begin(), application.end());
    PadTo4(body);
    Put32(body, 0);  // end of options
    return Block(kSectionHeader, body);
}

std::vector<uint8_t> InterfaceDescription() {
    std::vector<uint8_t> body;
    Put16(body, PcapngTraceWriter::kLinkTypeIpv4);
    Put16(body, 0);
    Put32(body, kSnapLength);
    return Block(kInterfaceDescription, body);
}

bool IsTcp(const TraceChannel& channel) {
    return channel.HasEndpoints() && channel.Endpoints().transport == TraceTransport::kTcp;
}

}  // namespace

PcapngTraceWriter::PcapngTraceWriter(TraceOutput output, TraceClock clock)
    : output_(std::move(output)), clock_(std::move(clock)) {
    std::vector<uint8_t> start = SectionHeader();
    const std::vector<uint8_t> interface = InterfaceDescription();
    start.insert(start.end(), interface.begin(), interface.end());
    output_(start.data(), start.size());
}

// The SYN when it goes out, so that a connect that gets no answer is stamped when it began.
void PcapngTraceWriter::Connecting(const TraceChannel& channel) {
    if (!IsTcp(channel))
        return;
    TcpSegment(channel.Endpoints(), true, OurInitialSequence(channel.Id()), 0, kSyn);
    synSent_.insert(channel.Id());
}

// Connecting: SYN (unless it went out already); then SYN-ACK and ACK, or the refusal's RST,
// or nothing more when no answer came.
void PcapngTraceWriter::Opened(const TraceChannel& channel, TraceOpenResult result,
                               const std::string&) {
    if (!IsTcp(channel))
        return;
    const bool synSent = synSent_.erase(channel.Id()) > 0;
    if (result == TraceOpenResult::kOpened) {
        Handshake(channel, synSent);
        return;
    }
    const TraceEndpoints& ends = channel.Endpoints();
    const uint32_t ours = OurInitialSequence(channel.Id());
    if (!synSent)
        TcpSegment(ends, true, ours, 0, kSyn);
    if (result == TraceOpenResult::kRefused)
        TcpSegment(ends, false, 0, ours + 1, kRst | kAck);
}

PcapngTraceWriter::TcpStream& PcapngTraceWriter::Handshake(const TraceChannel& channel,
                                                           bool synSent) {
    const TraceEndpoints& ends = channel.Endpoints();
    const uint32_t ours = OurInitialSequence(channel.Id());
    const uint32_t peers = PeerInitialSequence(channel.Id());
    if (!synSent)
        TcpSegment(ends, true, ours, 0, kSyn);
    TcpSegment(ends, false, peers, ours + 1, kSyn | kAck);
    TcpSegment(ends, true, ours + 1, peers + 1, kAck);
    TcpStream& stream = streams_[channel.Id()];
    stream = TcpStream{ours + 1, peers + 1, false};
    return stream;
}

// A connection the capture has not seen open (the trace started later) gets its handshake
// when it first carries something.
PcapngTraceWriter::TcpStream& PcapngTraceWriter::Stream(const TraceChannel& channel) {
    const auto found = streams_.find(channel.Id());
    return found != streams_.end() ? found->second : Handshake(channel);
}

// The block in segments of at most kMaxSegment bytes, the last one pushed, then the
// receiver's acknowledgement.
void PcapngTraceWriter::Bytes(const TraceChannel& channel, const TraceBlock& block) {
    if (!channel.HasEndpoints())
        return;
    const TraceEndpoints& ends = channel.Endpoints();
    const bool fromUs = block.direction == TraceDirection::kToMachine;
    if (ends.transport == TraceTransport::kUdp) {
        UdpDatagram(ends, fromUs, block.data, block.size);
        return;
    }
    if (ends.transport != TraceTransport::kTcp)
        return;
    TcpStream& stream = Stream(channel);
    uint32_t& sender = fromUs ? stream.ourNext : stream.peerNext;
    const uint32_t receiver = fromUs ? stream.peerNext : stream.ourNext;
    for (size_t offset = 0; offset < block.size; offset += kMaxSegment) {
        const size_t size = std::min(kMaxSegment, block.size - offset);
        const bool last = offset + size == block.size;
        TcpSegment(ends, fromUs, sender, receiver, last ? kAck | kPsh : kAck, block.data + offset,
                   size);
        sender += static_cast<uint32_t>(size);
    }
    TcpSegment(ends, !fromUs, receiver, sender, kAck);
}

void PcapngTraceWriter::PeerClosed(const TraceChannel& channel) {
    if (!IsTcp(channel))
        return;
    TcpStream& stream = Stream(channel);
    if (!stream.peerClosed)
        PeerFin(channel.Endpoints(), stream);
}

// The machine's FIN and our acknowledgement of it.
void PcapngTraceWriter::PeerFin(const TraceEndpoints& ends, TcpStream& stream) {
    TcpSegment(ends, false, stream.peerNext, stream.ourNext, kFin | kAck);
    ++stream.peerNext;
    stream.peerClosed = true;
    TcpSegment(ends, true, stream.ourNext, stream.peerNext, kAck);
}

// Our FIN; the machine's FIN with its acknowledgement (or only the acknowledgement when it
// closed first); our last acknowledgement.
void PcapngTraceWriter::Closed(const TraceChannel& channel) {
    if (!IsTcp(channel))
        return;
    TcpStream& stream = Stream(channel);
    const TraceEndpoints& ends = channel.Endpoints();
    TcpSegment(ends, true, stream.ourNext, stream.peerNext, kFin | kAck);
    ++stream.ourNext;
    if (stream.peerClosed)
        TcpSegment(ends, false, stream.peerNext, stream.ourNext, kAck);
    else
        PeerFin(ends, stream);
    streams_.erase(channel.Id());
}

void PcapngTraceWriter::TcpSegment(const TraceEndpoints& ends, bool fromUs, uint32_t seq,
                                   uint32_t ack, uint8_t flags, const uint8_t* payload,
                                   size_t size) {
    const Side us{ends.localAddress, ends.localPort};
    const Side peer{ends.peerAddress, ends.peerPort};
    const Side& from = fromUs ? us : peer;
    const Side& to = fromUs ? peer : us;
    const size_t header = kTcpHeader + ((flags & kSyn) ? kSynOptions : 0);
    packet_.assign(kIpHeader + header, 0);
    uint8_t* tcp = packet_.data() + kIpHeader;
    SetBig16(tcp, from.port);
    SetBig16(tcp + 2, to.port);
    SetBig32(tcp + 4, seq);
    SetBig32(tcp + 8, (flags & kAck) ? ack : 0);
    tcp[12] = static_cast<uint8_t>((header / 4) << 4);
    tcp[13] = flags;
    SetBig16(tcp + 14, 0xFFFF);  // the window, scaled by kWindowScale
    if (flags & kSyn) {
        const uint8_t options[kSynOptions] = {2,
                                              4,
                                              static_cast<uint8_t>(kMaxSegment >> 8),
                                              static_cast<uint8_t>(kMaxSegment & 0xFF),
                                              1,
                                              3,
                                              3,
                                              kWindowScale};
        std::memcpy(tcp + kTcpHeader, options, kSynOptions);
    }
    if (size > 0)
        packet_.insert(packet_.end(), payload, payload + size);
    WritePacket(from, to, kProtocolTcp);
}

void PcapngTraceWriter::UdpDatagram(const TraceEndpoints& ends, bool fromUs, const uint8_t* payload,
                                    size_t size) {
    // A datagram that does not fit one IPv4 packet never went out whole.
    if (size > 0xFFFF - kIpHeader - kUdpHeader)
        return;
    const Side us{ends.localAddress, ends.localPort};
    const Side peer{ends.peerAddress, ends.peerPort};
    const Side& from = fromUs ? us : peer;
    const Side& to = fromUs ? peer : us;
    packet_.assign(kIpHeader + kUdpHeader, 0);
    uint8_t* udp = packet_.data() + kIpHeader;
    SetBig16(udp, from.port);
    SetBig16(udp + 2, to.port);
    SetBig16(udp + 4, static_cast<uint16_t>(kUdpHeader + size));
    packet_.insert(packet_.end(), payload, payload + size);
    WritePacket(from, to, kProtocolUdp);
}

// Fills in the IPv4 header and the transport checksum, then writes one enhanced packet block.
void PcapngTraceWriter::WritePacket(const Side& from, const Side& to, uint8_t protocol) {
    const size_t length = packet_.size();
    uint8_t* ip = packet_.data();
    ip[0] = 0x45;  // version 4, five words of header
    SetBig16(ip + 2, static_cast<uint16_t>(length));
    SetBig16(ip + 4, ++ipId_);
    SetBig16(ip + 6, 0x4000);  // don't fragment
    ip[8] = 64;                // time to live
    ip[9] = protocol;
    SetBig32(ip + 12, from.address);
    SetBig32(ip + 16, to.address);
    SetBig16(ip + 10, FoldChecksum(SumWords(ip, kIpHeader)));

    // The pseudo-header: both addresses, the protocol and the transport length.
    const size_t transportLength = length - kIpHeader;
    uint32_t sum = SumWords(ip + 12, 8);
    sum += protocol + static_cast<uint32_t>(transportLength);
    uint8_t* transport = ip + kIpHeader;
    uint16_t checksum = FoldChecksum(SumWords(transport, transportLength, sum));
    if (protocol == kProtocolUdp && checksum == 0)
        checksum = 0xFFFF;  // 0 would mean "no checksum"
    SetBig16(transport + (protocol == kProtocolTcp ? 16 : 6), checksum);

    // Every packet gets a time of its own, later than the one before.
    lastTime_ = std::max(clock_(), lastTime_ + 1);
    std::vector<uint8_t>& block = block_;
    block.clear();
    block.reserve(kEnhancedPacketHeader + length + 8);
    Put32(block, kEnhancedPacket);
    Put32(block, 0);  // total length, set below
    Put32(block, 0);  // interface 0
    Put32(block, static_cast<uint32_t>(static_cast<uint64_t>(lastTime_) >> 32));
    Put32(block, static_cast<uint32_t>(lastTime_));
    Put32(block, static_cast<uint32_t>(length));
    Put32(block, static_cast<uint32_t>(length));
    block.insert(block.end(), packet_.begin(), packet_.end());
    PadTo4(block);
    Put32(block, 0);
    const uint32_t total = static_cast<uint32_t>(block.size());
    Set32(block, 4, total);
    Set32(block, block.size() - 4, total);
    output_(block.data(), block.size());
}

}  // namespace kelo::trace
