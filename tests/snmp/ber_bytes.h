// Hand-built SNMP answers for the tests, written from the BER rules independently of the
// codec under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "testsupport/test_bytes.h"

namespace kelo::test {

using Bytes = std::vector<uint8_t>;

using testing_support::HexBytes;
using testing_support::HexText;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    return testing_support::Concat(parts);
}

// Tag, definite length (short form below 128, else long form), content.
inline Bytes Tlv(uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// Content octets of .1.3.6.1.4.1.1229.2.2.2.1.24.1, the status object.
inline Bytes StatusOidContent() {
    return HexBytes("2B 06 01 04 01 89 4D 02 02 02 01 18 01");
}

// A GetResponse with community "public", one variable binding of the status object and the
// given request-id element and value element.
inline Bytes Answer(const Bytes& requestIdElement, uint8_t errorStatus, const Bytes& value,
                    uint8_t errorIndex = 0) {
    const Bytes varBind = Tlv(0x30, Cat({Tlv(0x06, StatusOidContent()), value}));
    const Bytes pdu = Tlv(0xA2, Cat({requestIdElement, Bytes{0x02, 0x01, errorStatus},
                                     Bytes{0x02, 0x01, errorIndex}, Tlv(0x30, varBind)}));
    return Tlv(0x30, Cat({HexBytes("02 01 00"), Tlv(0x04, {'p', 'u', 'b', 'l', 'i', 'c'}), pdu}));
}

// An answer with request-id 0x1A2B and no error.
inline Bytes AnswerWithValue(const Bytes& value) {
    return Answer(HexBytes("02 04 00 00 1A 2B"), 0, value);
}

inline Bytes OctetString(const std::string& text) {
    return Tlv(0x04, Bytes(text.begin(), text.end()));
}

}  // namespace kelo::test
