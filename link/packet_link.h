// The network transport of machine types 3 and 4: PacketLink carries the command conversation
// on 9101 or 9500 as framed packets, FirmwareStream the raw firmware image on 9100.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "link/sender_socket.h"
#include "link/transport.h"

namespace kelo {

// Packet frame, host to machine:
//   80 | L (2 bytes, big-endian) | command (2) | data (n) | data-sum (0 or 1) | checksum
// L counts from the command up to and including the data-sum. The data-sum is
// (sum of the data + 1) mod 256; the checksum makes the whole frame sum to 0xFF.
class PacketLink : public SenderSocket {
  public:
    static constexpr int kPacketBufferSize = 65535;

    explicit PacketLink(uint16_t port);

    int Open(const std::string& host, const std::string& queue);
    // Sends one packet for a request payload that starts with its two command bytes.
    int PutPacket(const uint8_t* data, int length);
    // Fills out with the frame and returns its length (L + 4). out must hold length + 5 bytes.
    static int BuildPacket(uint8_t* out, uint8_t lead, const uint8_t* data, int length,
                           bool withDataSum);

    uint16_t Port() const { return port_; }
    const std::string& Queue() const { return queue_; }

  private:
    std::string queue_;
    uint16_t port_;
};

class FirmwareStream : public SenderSocket {
  public:
    static constexpr int kPort = 9100;
    FirmwareStream();
    // The queue argument is ignored.
    int Open(const std::string& host, const std::string& queue);
};

// One receive of at most length bytes: the count, 0 when the peer closed, or -1.
using ReplyReceive = std::function<int(uint8_t* bytes, int length)>;
// Reads one reply frame from whatever receive delivers (the packet link's socket, or bytes in
// memory for a check): exactly the frame, nothing after it. The body's length with a zero in
// place of the check byte, or -1; the progress goes to the dialog when shown.
int ReadReplyFrame(const ReplyReceive& receive, uint8_t* buffer, platform::CancelDialog& dialog,
                   bool showProgress, int progressBase);

// The packet link as a transport: a connection per exchange, status through SNMP.
class PacketLinkTransport : public NetworkTransport<PacketLink> {
  public:
    using NetworkTransport::NetworkTransport;

    int ReadReply(uint8_t* buffer, bool showProgress, int progressBase) override;
    bool WaitForRestart() override;

  protected:
    bool OpenChannel(bool quiet) override;
    bool WriteBlock(const uint8_t* data, int length) override;
};

}  // namespace kelo
