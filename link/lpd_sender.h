// The LPD client of machine types 1 and 2 (RFC 1179): one print job on queue "lp1" per link,
// every block written as one data file named "x". The job never gets a control file; closing
// the connection ends it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/sender_socket.h"
#include "link/transport.h"

namespace kelo {

class LpdSender : public SenderSocket {
  public:
    static constexpr int kLineBufferSize = 50;

    LpdSender();

    // Connects to the host's printer service and opens a job on the queue. 0 or -1.
    int Open(const std::string& host, const std::string& queue);
    // Sends one block as one data file. 0 or -1.
    int PutData(const uint8_t* data, int length);

  private:
    // Sends the command line in the line buffer in one call.
    bool SendLine(int length);
    // One receive into the line buffer; positive when the machine answered 0x00. A closed
    // connection is never a positive answer.
    bool ReceiveAcknowledgement();

    char line_[kLineBufferSize] = {};
};

// The LPD sender as the transport of machine types 1 and 2 on the network: a job per exchange,
// the machine's status through SNMP.
// The job stays open while the machine restarts, so the fixed wait is all a restart takes.
class LpdTransport : public NetworkTransport<LpdSender> {
  public:
    using NetworkTransport::NetworkTransport;

  protected:
    bool OpenChannel(bool quiet) override;
    bool WriteBlock(const uint8_t* data, int length) override;
};

}  // namespace kelo
