// One SNMP version 1 exchange with a machine's network interface: one request of one variable
// sent as one datagram, one answer taken apart into its error status and the text of its
// value. The bytes are built and read by the codec (snmp_codec.h); this class owns the socket.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/cancel_dialog.h"
#include "platform/trace.h"
#include "snmp/snmp_codec.h"

namespace kelo {

class SnmpExchange {
  public:
    // The request-id is the process id, so every request of one run carries the same one.
    SnmpExchange();
    ~SnmpExchange();
    SnmpExchange(const SnmpExchange&) = delete;
    SnmpExchange& operator=(const SnmpExchange&) = delete;

    // The request.

    // Builds a request of one variable with a NULL value; returns its length (-1 when the
    // object identifier is too long for a short-form request, which leaves nothing to send).
    int MakeGetRequest(const char* oid, int pduType);
    // The same with an INTEGER value in the fewest two's-complement octets.
    int MakeSetRequest(const char* oid, int pduType, int value);
    const uint8_t* Request() const { return request_.data(); }
    int RequestLength() const { return static_cast<int>(request_.size()); }
    void SetRequestId(uint32_t requestId) { requestId_ = requestId; }
    // The community of the requests built from now on.
    void SetCommunity(std::string community) { community_ = std::move(community); }

    // The answer.

    // Copies a received datagram into the response buffer and parses it.
    bool TakeResponse(const uint8_t* data, int length);
    // Takes a received answer as ReceiveResponse does: its length once the value text is
    // made, or -1 when it is malformed or carries a non-zero error status.
    int AcceptResponse(const uint8_t* data, int length);
    // Appends the text of the parsed value to the value text.
    void MakeValueText();
    const std::string& ValueText() const { return valueText_; }
    int ResponseLength() const { return responseLength_; }
    const snmp::SnmpVarBind& Fields() const { return fields_; }

    // The exchange.

    // The dialog that pumps events, supplies Cancel and times the receive; set it before
    // any blocking call.
    void SetCancelDialog(platform::CancelDialog& dialog) { dialog_ = &dialog; }
    // How the protocol trace describes the datagrams; the SNMP decoder unless told otherwise.
    void SetTraceDecoder(platform::TraceDecoderFactory factory);
    // A datagram socket connected to the host's SNMP port: 0, or -1.
    int Open(const std::string& host);
    // Sends the request as one datagram: the octets sent, or -1.
    int SendRequest();
    // Waits up to 200 ms for the answer: its length; 0 when none came (the value text is
    // then empty); -1 on failure, Cancel, a malformed answer or a non-zero error status.
    int ReceiveResponse();

  private:
    class Channel;
    void AppendValueText(const std::string& text);

    uint32_t requestId_;
    std::string community_ = snmp::kDefaultCommunity;
    std::vector<uint8_t> request_;
    uint8_t response_[snmp::kMessageSize] = {};
    int responseLength_ = snmp::kMessageSize;
    snmp::SnmpVarBind fields_;
    std::string valueText_;
    platform::CancelDialog* dialog_ = nullptr;
    std::unique_ptr<Channel> socket_;
};

}  // namespace kelo
