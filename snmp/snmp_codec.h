// The SNMP version 1 messages Kelo sends and reads, over bytes: a request of one variable built
// from dotted object-identifier text, and an answer taken apart into its header fields and its
// one variable binding. No socket is involved; SnmpExchange (snmp_msg.h) carries the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::snmp {

// BER tags of the universal types a message uses.
constexpr int kTagInteger = 0x02;
constexpr int kTagOctetString = 0x04;
constexpr int kTagNull = 0x05;
constexpr int kTagObjectId = 0x06;
constexpr int kTagSequence = 0x30;

// PDU type octets.
constexpr int kPduGetRequest = 0xA0;
constexpr int kPduGetNextRequest = 0xA1;
constexpr int kPduGetResponse = 0xA2;
constexpr int kPduSetRequest = 0xA3;

// Capacity of a request and of an answer.
constexpr int kMessageSize = 1500;
// The value text holds at most this many characters; more is dropped.
constexpr int kValueTextSize = 513;
// Every length of a request is one short-form octet, so the object identifier content must
// leave the outer SEQUENCE under 128 octets.
constexpr int kMaxOidContent = 90;
// The community a request carries unless told otherwise.
constexpr const char* kDefaultCommunity = "public";
// The port an SNMP agent listens on.
constexpr int kSnmpPort = 161;

// The parsed answer: the PDU's header fields and the one variable binding. The data fields
// point into the received datagram and never past its received length.
struct SnmpVarBind {
    int pdu_type = 0;
    int32_t request_id = 0;
    // The request-id element's tag and content length, so that a reader can refuse an id
    // that is not a plain INTEGER of at most four octets.
    int request_id_tag = 0;
    int request_id_length = 0;
    int error_status = 0;
    int error_index = 0;
    int oidname_type = 0;
    int oidname_length = 0;
    const uint8_t* oidname_data = nullptr;
    int oidvalue_type = 0;
    int oidvalue_length = 0;
    const uint8_t* oidvalue_data = nullptr;
};

// What a request carries besides its object identifier.
struct RequestHeader {
    int pduType = kPduGetRequest;
    uint32_t requestId = 0;
    std::string_view community = kDefaultCommunity;
};

// A request of one variable with a NULL value; empty when the object identifier cannot be
// encoded or the request would not fit a short-form length.
std::vector<uint8_t> BuildGetRequest(const char* oid, const RequestHeader& header);
// The same with an INTEGER value in the fewest two's-complement octets.
std::vector<uint8_t> BuildSetRequest(const char* oid, int value, const RequestHeader& header);

// Dotted object-identifier text to BER content octets; returns the content length, or -1 when
// it would not fit in capacity octets or names no object.
int EncodeOid(const char* text, uint8_t* out, int capacity);

// Walks an answer at the fixed steps of an SNMPv1 GetResponse without checking tags, but checks
// every step and every length the answer claims against the octets received. False when the
// answer is shorter than it claims; the record is then incomplete.
bool ParseMessage(const uint8_t* message, int length, SnmpVarBind& fields);

// The text of one value by the rules of the value text (without its length limit).
std::string ValueTextOf(int type, const uint8_t* data, int length);
// BER content octets of an object identifier as dotted text with a leading '.'.
std::string OidText(const uint8_t* data, int length);

}  // namespace kelo::snmp
