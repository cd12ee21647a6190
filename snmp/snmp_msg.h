// One SNMP version 1 exchange with a machine's network interface: a request of one variable
// built from dotted object-identifier text, one datagram sent, one answer taken apart into
// its error status and the text of its value.
#pragma once

#include <cstdint>
#include <string>

#include "link/socket.h"
#include "platform/cancel_dialog.h"

namespace kelo {

// PDU type octets of the two requests the system sends.
constexpr int kPduGetRequest = 0xA0;
constexpr int kPduSetRequest = 0xA3;

// The parsed answer: the PDU's header fields and the one variable binding. The data fields
// point into the received datagram and never past its received length.
struct SnmpVarBind {
    int pdu_type = 0;
    int32_t request_id = 0;
    int error_status = 0;
    int error_index = 0;
    int oidname_type = 0;
    int oidname_length = 0;
    const uint8_t* oidname_data = nullptr;
    int oidvalue_type = 0;
    int oidvalue_length = 0;
    const uint8_t* oidvalue_data = nullptr;
};

class CSnmpMsg : public CSocket {
  public:
    // Capacity of the request and of the response buffer.
    static constexpr int kMessageSize = 1500;
    // The value text holds at most this many characters; more is dropped.
    static constexpr int kValueTextSize = 513;
    // Every length of a request is one short-form octet, so the object identifier content
    // must leave the outer SEQUENCE under 128 octets.
    static constexpr int kMaxOidContent = 90;
    // The community a request carries unless told otherwise.
    static constexpr const char* kDefaultCommunity = "public";

    // The request-id is the process id, so every request of one run carries the same one.
    CSnmpMsg();
    ~CSnmpMsg() override;

    // Codec.

    // Builds a request of one variable with a NULL value; returns its length (-1 when the
    // object identifier is too long for a short-form request).
    int MakeGetRequest(const char* oid, int pduType);
    // The same with an INTEGER value in the fewest two's-complement octets.
    int MakeSetRequest(const char* oid, int pduType, int value);
    // Dotted object-identifier text to BER content octets; returns the content length, or -1
    // when it would not fit in capacity octets.
    static int EncodeOid(const char* text, uint8_t* out, int capacity);
    // Walks an answer at the fixed steps of an SNMPv1 GetResponse without checking tags, but
    // checks every step and every length the answer claims against the octets received.
    // False when the answer is shorter than it claims; the record is then incomplete.
    static bool ParseMessage(const uint8_t* message, int length, SnmpVarBind& fields);
    // Copies a received datagram into the response buffer and parses it.
    bool TakeResponse(const uint8_t* data, int length);
    // Takes a received answer as ReceiveResponse does: its length once the value text is
    // made, or -1 when it is malformed or carries a non-zero error status.
    int AcceptResponse(const uint8_t* data, int length);
    // Appends the text of the parsed value to the value text.
    void MakeValueText();
    // The text of one value by the rules of the value text (without its length limit).
    static std::string ValueTextOf(int type, const uint8_t* data, int length);
    // BER content octets of an object identifier as dotted text with a leading '.'.
    static std::string OidText(const uint8_t* data, int length);
    const std::string& ValueText() const { return valueText_; }

    const uint8_t* Request() const { return request_; }
    int RequestLength() const { return requestLength_; }
    int ResponseLength() const { return responseLength_; }
    const SnmpVarBind& Fields() const { return fields_; }
    void SetRequestId(uint32_t requestId) { requestId_ = requestId; }
    // The community of the requests built from now on.
    void SetCommunity(std::string community) { community_ = std::move(community); }

    // Exchange.

    // The dialog that pumps events, supplies Cancel and times the receive; set it before
    // any blocking call.
    void SetCancelDialog(platform::CancelDialog& dialog) { dialog_ = &dialog; }
    // A datagram socket connected to the host's SNMP port: 0, or -1.
    int Open(const std::string& host);
    // Sends the request as one datagram: the octets sent, or -1.
    int SendRequest();
    // Waits up to 200 ms for the answer: its length; 0 when none came (the value text is
    // then empty); -1 on failure, Cancel, a malformed answer or a non-zero error status.
    int ReceiveResponse();

  protected:
    // Lets events run while a call waits and gives up on Cancel or on the receive timer.
    bool OnMessagePending() override;

  private:
    int BuildRequest(const char* oid, int pduType, int valueTag, const uint8_t* value,
                     int valueLength);
    void AppendValueText(const std::string& text);

    uint32_t requestId_;
    std::string community_ = kDefaultCommunity;
    uint8_t request_[kMessageSize] = {};
    int requestLength_ = kMessageSize;
    bool requestBuilt_ = false;
    uint8_t response_[kMessageSize] = {};
    int responseLength_ = kMessageSize;
    SnmpVarBind fields_;
    std::string valueText_;
    platform::CancelDialog* dialog_ = nullptr;
};

}  // namespace kelo
