// libFuzzer target for the SNMP answer: the bytes are one received datagram, taken apart by
// the codec's parser, turned into the status text, read for the line protocol's fields and
// described by the protocol trace. Besides the sanitizers, it stops when a parsed field points
// outside the datagram, or when the status text or a field payload breaks its rules.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz/require.h"
#include "link/status_text.h"
#include "snmp/snmp_msg.h"
#include "snmp/snmp_trace.h"

namespace {

using kelo::snmp::kTagInteger;
using kelo::snmp::kTagNull;
using kelo::snmp::kTagOctetString;

// A field's data lies inside the datagram.
void CheckInside(const uint8_t* field, int length, const uint8_t* data, size_t size) {
    FUZZ_REQUIRE(length >= 0 && field != nullptr && field >= data);
    FUZZ_REQUIRE(static_cast<size_t>(field - data) + static_cast<size_t>(length) <= size);
}

// The status text: an OCTET STRING's octets without its zero octets, in quotes; an INTEGER in
// hexadecimal and decimal; nothing for NULL; at most the value text's size in any case.
void CheckValueText(const std::string& text, const kelo::snmp::SnmpVarBind& fields) {
    FUZZ_REQUIRE(text.size() <= static_cast<size_t>(kelo::snmp::kValueTextSize));
    switch (fields.oidvalue_type) {
        case kTagOctetString: {
            std::string quoted = "\"";
            for (int i = 0; i < fields.oidvalue_length; ++i) {
                if (fields.oidvalue_data[i] != 0)
                    quoted += static_cast<char>(fields.oidvalue_data[i]);
            }
            quoted += '"';
            FUZZ_REQUIRE(text == quoted.substr(0, kelo::snmp::kValueTextSize));
            break;
        }
        case kTagNull:
            FUZZ_REQUIRE(text.empty());
            break;
        case kTagInteger: {
            // Unsigned, from the last four octets; read back from the text.
            uint32_t value = 0;
            for (int i = std::max(fields.oidvalue_length - 4, 0); i < fields.oidvalue_length; ++i)
                value = value << 8 | fields.oidvalue_data[i];
            unsigned hex = 0;
            int decimal = 0;
            char close = 0;
            FUZZ_REQUIRE(std::sscanf(text.c_str(), "0x%x(%d%c", &hex, &decimal, &close) == 3);
            FUZZ_REQUIRE(hex == value && decimal == static_cast<int32_t>(value) && close == ')');
            break;
        }
        default:
            FUZZ_REQUIRE(text == "Unknown ASN.1 object type");
    }
}

// A payload is the text between the key's first occurrence and the first ";" after it.
void CheckField(const std::string& status, const std::string& key) {
    std::string payload = status;
    payload = kelo::FieldPayload(payload, key);
    const size_t keyAt = status.find(key);
    if (keyAt == std::string::npos) {
        FUZZ_REQUIRE(payload.empty());
        return;
    }
    const size_t payloadAt = keyAt + key.size();
    FUZZ_REQUIRE(payload.find(';') == std::string::npos);
    if (!payload.empty()) {
        FUZZ_REQUIRE(status.compare(payloadAt, payload.size(), payload) == 0);
        FUZZ_REQUIRE(status.size() > payloadAt + payload.size() &&
                     status[payloadAt + payload.size()] == ';');
    }
    size_t end = 0;
    kelo::LeadingDecimal(payload, 0, &end);
    FUZZ_REQUIRE(end <= payload.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The receive takes at most the response buffer's size of a datagram, as the socket does;
    // what arrived lies alone in a buffer of its own size, so a read past it is caught.
    size = std::min(size, static_cast<size_t>(kelo::snmp::kMessageSize));
    const auto datagram = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::copy(data, data + size, datagram.get());
    const int length = static_cast<int>(size);

    kelo::snmp::SnmpVarBind fields;
    const bool parsed = kelo::snmp::ParseMessage(datagram.get(), length, fields);
    if (parsed) {
        CheckInside(fields.oidname_data, fields.oidname_length, datagram.get(), size);
        CheckInside(fields.oidvalue_data, fields.oidvalue_length, datagram.get(), size);
    }

    // The path of a status query's answer, and the trace's reading of the same datagram.
    kelo::SnmpExchange message;
    const int accepted = message.AcceptResponse(datagram.get(), length);
    FUZZ_REQUIRE(accepted == (parsed && fields.error_status == 0 ? length : -1));
    if (accepted >= 0) {
        CheckValueText(message.ValueText(), fields);
    } else {
        FUZZ_REQUIRE(message.ValueText().empty());
    }
    const std::string status = message.ValueText();
    CheckField(status, "REPORT:");
    CheckField(status, "READ_PARAM:");
    kelo::DescribeStatusText(status);
    kelo::MakeSnmpDecoder(kelo::DescribeStatusText)
        ->Decode(kelo::platform::TraceDirection::kFromMachine, datagram.get(), size);
    return 0;
}
