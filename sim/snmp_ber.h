// The SNMP version 1 messages the simulated machine's agent understands, in BER: it takes
// GetRequest and SetRequest messages apart and builds the GetResponse.
//
// Message  = SEQUENCE { version INTEGER, community OCTET STRING, PDU }
// PDU      = [A0..A4] { request-id INTEGER, error-status INTEGER, error-index INTEGER,
//                       SEQUENCE OF SEQUENCE { name OBJECT IDENTIFIER, value } }
// Lengths come in short form (one octet below 0x80) or long form (0x8n and n octets).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::sim {

constexpr uint8_t kBerInteger = 0x02;
constexpr uint8_t kBerOctetString = 0x04;
constexpr uint8_t kBerNull = 0x05;
constexpr uint8_t kBerObjectId = 0x06;
constexpr uint8_t kBerSequence = 0x30;
constexpr uint8_t kPduGetRequest = 0xA0;
constexpr uint8_t kPduGetNextRequest = 0xA1;
constexpr uint8_t kPduGetResponse = 0xA2;
constexpr uint8_t kPduSetRequest = 0xA3;

constexpr int kSnmpNoError = 0;
constexpr int kSnmpNoSuchName = 2;
constexpr int kSnmpBadValue = 3;

struct SnmpVarBind {
    std::vector<uint8_t> name;  // content octets of the object identifier
    uint8_t valueTag = kBerNull;
    std::vector<uint8_t> value;  // content octets of the value
};

struct SnmpRequest {
    long long version = 0;
    std::string community;
    uint8_t pduType = 0;
    std::vector<uint8_t> requestId;  // content octets, echoed unchanged in the answer
    long long requestIdValue = 0;
    std::vector<SnmpVarBind> varbinds;
};

struct SnmpParse {
    bool ok = false;
    std::string reason;  // why a datagram was not a request, e.g. "truncated"
    SnmpRequest request;
};

// Takes one datagram apart; never reads past its end. Bytes after the message are ignored.
SnmpParse ParseSnmpRequest(const uint8_t* datagram, size_t size);

// The GetResponse to a request: version, community and request-id as in the request.
std::vector<uint8_t> EncodeGetResponse(const SnmpRequest& request, int errorStatus, int errorIndex,
                                       const std::vector<SnmpVarBind>& varbinds);

// Object identifier content octets as dotted text with a leading dot (".1.3.6.1..."),
// or "" when the content is not a well-formed identifier.
std::string OidText(const std::vector<uint8_t>& content);

// Dotted text (leading dot optional) to content octets; empty for text it cannot encode.
std::vector<uint8_t> OidContent(std::string_view dotted);

// Appends a BER length: short form below 0x80, else long form with the fewest octets.
void AppendBerLength(std::vector<uint8_t>& out, size_t length);

// The fewest two's-complement octets of the value, big-endian.
std::vector<uint8_t> IntegerContent(long long value);

// The value of INTEGER content octets (at most 8), sign taken from the first octet.
long long IntegerValue(const std::vector<uint8_t>& content);

}  // namespace kelo::sim
