// The framed packet senders of machine types 3 and 4: CMegaPut carries the command
// conversation on 9101 or 9500, CMega9100Put the raw firmware stream on 9100.
#pragma once

#include <cstdint>
#include <string>

#include "link/sender_socket.h"

namespace kelo {

// Packet frame, host to machine:
//   80 | L (2 bytes, big-endian) | command (2) | data (n) | data-sum (0 or 1) | checksum
// L counts from the command up to and including the data-sum. The data-sum is
// (sum of the data + 1) mod 256; the checksum makes the whole frame sum to 0xFF.
class CMegaPut : public CSenderSocket {
  public:
    static constexpr int kPacketBufferSize = 65535;

    explicit CMegaPut(uint16_t port);

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

class CMega9100Put : public CSenderSocket {
  public:
    static constexpr int kPort = 9100;
    CMega9100Put();
    // The queue argument is ignored.
    int Open(const std::string& host, const std::string& queue);
};

}  // namespace kelo
