#include "snmp/snmp_trace.h"

#include <cstdio>

#include "snmp/snmp_codec.h"

namespace kelo {
namespace {

using platform::ByteCount;
using namespace snmp;

// The octet strings of the status text can be long; the hex rows show them whole.
constexpr size_t kValuePreview = 60;

std::string PduName(int type) {
    switch (type) {
        case kPduGetRequest:
            return "GetRequest";
        case kPduGetNextRequest:
            return "GetNextRequest";
        case kPduGetResponse:
            return "GetResponse";
        case kPduSetRequest:
            return "SetRequest";
        default: {
            char text[16];
            std::snprintf(text, sizeof text, "PDU 0x%02X", type);
            return text;
        }
    }
}

std::string ErrorStatusName(int status) {
    static const char* const kNames[] = {"noError",  "tooBig",   "noSuchName",
                                         "badValue", "readOnly", "genErr"};
    return status >= 0 && status < 6 ? kNames[status] : "error " + std::to_string(status);
}

std::string ValueDescription(const SnmpVarBind& fields) {
    const uint8_t* data = fields.oidvalue_data;
    const int length = fields.oidvalue_length;
    switch (fields.oidvalue_type) {
        case kTagNull:
            return "NULL";
        case kTagInteger:
            return "INTEGER " + ValueTextOf(kTagInteger, data, length);
        case kTagOctetString:
            return "OCTET STRING " +
                   platform::QuotedPreview(data, static_cast<size_t>(length), kValuePreview) +
                   " (" + std::to_string(length) + " octets)";
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "type 0x%02X, ", fields.oidvalue_type);
            return text + ValueTextOf(fields.oidvalue_type, data, length);
        }
    }
}

class SnmpDecoder : public platform::TraceDecoder {
  public:
    explicit SnmpDecoder(SnmpValueDescriber describe) : describe_(describe) {}

    std::string Decode(platform::TraceDirection, const uint8_t* data, size_t size) override {
        SnmpVarBind fields;
        if (!ParseMessage(data, static_cast<int>(size), fields))
            return "SNMP message cut short or malformed, " + ByteCount(size);
        std::string text =
            "SNMP " + PduName(fields.pdu_type) + " request-id " + std::to_string(fields.request_id);
        if (fields.pdu_type == kPduGetResponse || fields.error_status != 0) {
            text += ", error-status " + std::to_string(fields.error_status) + " (" +
                    ErrorStatusName(fields.error_status) + "), error-index " +
                    std::to_string(fields.error_index);
        }
        text += ", " + OidText(fields.oidname_data, fields.oidname_length) + " = " +
                ValueDescription(fields);
        if (describe_ != nullptr && fields.oidvalue_type == kTagOctetString) {
            const std::string meaning =
                describe_(std::string(reinterpret_cast<const char*>(fields.oidvalue_data),
                                      static_cast<size_t>(fields.oidvalue_length)));
            if (!meaning.empty())
                text += "; " + meaning;
        }
        return text;
    }

  private:
    SnmpValueDescriber describe_;
};

}  // namespace

std::unique_ptr<platform::TraceDecoder> MakeSnmpDecoder(SnmpValueDescriber describe) {
    return std::make_unique<SnmpDecoder>(describe);
}

}  // namespace kelo
