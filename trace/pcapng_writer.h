// The capture file: the network traffic of a run as pcapng with the raw IPv4 link type, so
// that Wireshark and tshark open it and dissect LPD on 515 and SNMP on 161 with their own
// dissectors. The IPv4, TCP and UDP headers are made up but consistent: the real addresses
// and ports, a handshake, sequence and acknowledgement numbers that add up, the receiver's
// acknowledgement after each block, a close, and correct checksums. USB and parallel
// traffic is left to the text trace.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "trace/trace_text_writer.h"

namespace kelo::trace {

class PcapngTraceWriter : public TraceSink {
  public:
    // The link type of raw IPv4 packets.
    static constexpr uint16_t kLinkTypeIpv4 = 228;
    // The largest TCP payload an IPv4 packet holds without options (65,535 - 20 - 20).
    static constexpr size_t kMaxSegment = 65495;
    // The window scale both ends announce, so that a whole block fits the window.
    static constexpr uint8_t kWindowScale = 7;

    // Writes the section header and the interface description at once.
    explicit PcapngTraceWriter(TraceOutput output, TraceClock clock = RealTimeMicroseconds);

    void Connecting(const TraceChannel& channel) override;
    void Opened(const TraceChannel& channel, TraceOpenResult result,
                const std::string& detail) override;
    void Bytes(const TraceChannel& channel, const TraceBlock& block) override;
    void PeerClosed(const TraceChannel& channel) override;
    void Closed(const TraceChannel& channel) override;

  private:
    // The state of one TCP connection: the next sequence number of each side.
    struct TcpStream {
        uint32_t ourNext = 0;
        uint32_t peerNext = 0;
        bool peerClosed = false;
    };
    // One side of a packet.
    struct Side {
        uint32_t address;
        uint16_t port;
    };

    TcpStream& Stream(const TraceChannel& channel);
    TcpStream& Handshake(const TraceChannel& channel, bool synSent = false);
    void TcpSegment(const TraceEndpoints& ends, bool fromUs, uint32_t seq, uint32_t ack,
                    uint8_t flags, const uint8_t* payload = nullptr, size_t size = 0);
    void PeerFin(const TraceEndpoints& ends, TcpStream& stream);
    void UdpDatagram(const TraceEndpoints& ends, bool fromUs, const uint8_t* payload, size_t size);
    // Writes the packet built in packet_ (IPv4 header space included) as one block.
    void WritePacket(const Side& from, const Side& to, uint8_t protocol);

    TraceOutput output_;
    TraceClock clock_;
    int64_t lastTime_ = 0;
    uint16_t ipId_ = 0;
    std::map<uint64_t, TcpStream> streams_;
    std::set<uint64_t> synSent_;  // connects whose answer is awaited
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> block_;  // the enhanced packet block being written, kept for the next
};

}  // namespace kelo::trace
