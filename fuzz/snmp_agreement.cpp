// libFuzzer target that sets Kelo's SNMP codec against the simulated machine's, two codecs
// written apart from each other:
// - a request Kelo builds from a fuzzed object identifier, value, community and request-id
//   decodes in the machine's BER decoder to the same fields (and in Kelo's own parser, which
//   reads a request like an answer), and a machine's answer to it parses in Kelo to that
//   request;
// - an answer the machine builds from fuzzed fields parses in Kelo to the same fields.
//
// Where the two sides' ranges differ, each is held to what it promises:
// - Kelo takes object identifiers as text. Text it cannot encode faithfully (fewer than two
//   arcs, the first two arcs not fitting one octet below 128, an arc beyond 32 bits) it must
//   refuse; anything it builds must decode to exactly the arcs given.
// - Kelo reads error-status and error-index as one-octet INTEGERs, so the answers built here
//   carry 0 to 127 there; an agent answering Kelo's one variable uses index 0 or 1 and the
//   statuses 0 to 5 of SNMP version 1.
// - The machine echoes any request's variable names, also ones that are no object identifier
//   at all; Kelo's text of a name is compared where the machine reads the name as one.
// - Kelo takes an answer of at most its 1,500-octet buffer and refuses a longer one.
// - Kelo prints an INTEGER as unsigned, so the value texts are compared for values >= 0.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "fuzz/sim_fixture.h"
#include "sim/snmp_ber.h"
#include "snmp/snmp_msg.h"

namespace {

// A fuzzed object identifier: mostly small arcs, now and then one of any size, or one of the
// objects the machine serves.
struct Oid {
    std::string text;
    bool encodable = false;  // what a BER object identifier of 32-bit arcs can carry
};

Oid FuzzedOid(FuzzedDataProvider& in) {
    static const char* const kServed[] = {kelo::sim::kStatusOid, kelo::sim::kRestartOid,
                                          kelo::sim::kSysDescrOid, kelo::sim::kSysNameOid};
    const int choice = in.ConsumeIntegralInRange(0, 7);
    if (choice < 4)
        return {kServed[choice], true};
    std::vector<uint64_t> arcs(in.ConsumeIntegralInRange(0, 30));
    for (uint64_t& arc : arcs) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0:
                arc = in.ConsumeIntegralInRange<uint64_t>(0, 50);
                break;
            case 1:
                arc = in.ConsumeIntegral<uint32_t>();
                break;
            case 2:
                arc = in.ConsumeIntegral<uint64_t>();
                break;
            default:
                arc = in.ConsumeIntegralInRange<uint64_t>(0, 20000);
        }
    }
    Oid oid;
    for (uint64_t arc : arcs)
        oid.text += "." + std::to_string(arc);
    oid.encodable = arcs.size() >= 2 && arcs[0] <= 2 && (arcs[0] == 2 || arcs[1] < 40) &&
                    arcs[0] * 40 + arcs[1] < 128;
    for (uint64_t arc : arcs)
        oid.encodable = oid.encodable && arc <= std::numeric_limits<uint32_t>::max();
    return oid;
}

std::vector<uint8_t> BigEndian(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

std::vector<uint8_t> Octets(const uint8_t* data, int length) {
    return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + length);
}

// The value text Kelo makes of a value agrees with the value: an OCTET STRING in quotes
// without its zero octets, a non-negative INTEGER in hexadecimal and decimal.
void CheckValueText(uint8_t tag, const std::vector<uint8_t>& value) {
    const std::string text =
        kelo::snmp::ValueTextOf(tag, value.data(), static_cast<int>(value.size()));
    if (tag == kelo::sim::kBerOctetString) {
        std::string expected = "\"";
        for (uint8_t octet : value) {
            if (octet != 0)
                expected += static_cast<char>(octet);
        }
        FUZZ_REQUIRE(text == expected + "\"");
    } else if (tag == kelo::sim::kBerInteger && !value.empty() && value.size() <= 4 &&
               !(value[0] & 0x80)) {
        const long long number = kelo::sim::IntegerValue(value);
        char expected[48];
        std::snprintf(expected, sizeof expected, "0x%llx(%lld)", number, number);
        FUZZ_REQUIRE(text == expected);
    }
}

// Kelo's request, taken apart by the machine and by Kelo, and answered by a machine.
void CheckRequest(FuzzedDataProvider& in) {
    const uint32_t requestId = in.ConsumeIntegral<uint32_t>();
    const bool set = in.ConsumeBool();
    const int value = in.ConsumeIntegral<int>();
    const int type = in.ConsumeIntegralInRange(1, 4);
    const std::string community = in.ConsumeRandomLengthString(130);
    const Oid oid = FuzzedOid(in);

    kelo::SnmpExchange codec;
    codec.SetRequestId(requestId);
    codec.SetCommunity(community);
    const int pduType = set ? kelo::snmp::kPduSetRequest : kelo::snmp::kPduGetRequest;
    const int length = set ? codec.MakeSetRequest(oid.text.c_str(), pduType, value)
                           : codec.MakeGetRequest(oid.text.c_str(), pduType);
    const std::vector<uint8_t> name = kelo::sim::OidContent(oid.text);
    if (length < 0) {
        // Refused: the identifier cannot be encoded, or it and the community leave no room
        // in a request of one-octet lengths.
        FUZZ_REQUIRE(!oid.encodable || name.size() + community.size() > 80);
        return;
    }
    FUZZ_REQUIRE(oid.encodable);

    const kelo::sim::SnmpParse parse = kelo::sim::ParseSnmpRequest(codec.Request(), length);
    FUZZ_REQUIRE(parse.ok);
    const kelo::sim::SnmpRequest& request = parse.request;
    FUZZ_REQUIRE(request.version == 0 && request.community == community);
    FUZZ_REQUIRE(request.pduType == pduType && request.requestId == BigEndian(requestId));
    FUZZ_REQUIRE(request.requestIdValue == static_cast<int32_t>(requestId));
    FUZZ_REQUIRE(request.varbinds.size() == 1);
    const kelo::sim::SnmpVarBind& variable = request.varbinds[0];
    FUZZ_REQUIRE(variable.name == name && kelo::sim::OidText(variable.name) == oid.text);
    if (set) {
        FUZZ_REQUIRE(variable.valueTag == kelo::sim::kBerInteger &&
                     kelo::sim::IntegerValue(variable.value) == value);
        FUZZ_REQUIRE(variable.value == kelo::sim::IntegerContent(value));
    } else {
        FUZZ_REQUIRE(variable.valueTag == kelo::sim::kBerNull && variable.value.empty());
    }

    kelo::snmp::SnmpVarBind fields;
    FUZZ_REQUIRE(kelo::snmp::ParseMessage(codec.Request(), length, fields));
    FUZZ_REQUIRE(fields.pdu_type == pduType &&
                 fields.request_id == static_cast<int32_t>(requestId));
    FUZZ_REQUIRE(Octets(fields.oidname_data, fields.oidname_length) == variable.name);
    FUZZ_REQUIRE(fields.oidvalue_type == variable.valueTag);
    FUZZ_REQUIRE(Octets(fields.oidvalue_data, fields.oidvalue_length) == variable.value);

    sim_fuzz::FuzzMachine machine(type, {});
    const std::vector<uint8_t> answer =
        machine.Get().AnswerSnmp(codec.Request(), static_cast<size_t>(length), "127.0.0.1");
    if (answer.empty())
        return;  // a request the machine leaves unanswered: not version 1 Get or Set
    FUZZ_REQUIRE(codec.TakeResponse(answer.data(), static_cast<int>(answer.size())));
    const kelo::snmp::SnmpVarBind& answered = codec.Fields();
    FUZZ_REQUIRE(answered.pdu_type == kelo::sim::kPduGetResponse &&
                 answered.request_id == fields.request_id);
    FUZZ_REQUIRE(answered.error_status == 0 ||
                 answered.error_status == kelo::sim::kSnmpNoSuchName ||
                 answered.error_status == kelo::sim::kSnmpBadValue);
    FUZZ_REQUIRE(Octets(answered.oidname_data, answered.oidname_length) == variable.name);
    const kelo::sim::SnmpParse own = kelo::sim::ParseSnmpRequest(answer.data(), answer.size());
    FUZZ_REQUIRE(own.ok && own.request.varbinds.size() == 1);
    FUZZ_REQUIRE(answered.oidvalue_type == own.request.varbinds[0].valueTag);
    FUZZ_REQUIRE(Octets(answered.oidvalue_data, answered.oidvalue_length) ==
                 own.request.varbinds[0].value);
    CheckValueText(own.request.varbinds[0].valueTag, own.request.varbinds[0].value);
}

// An answer of fuzzed fields built by the machine's encoder, parsed by Kelo.
void CheckAnswer(FuzzedDataProvider& in) {
    static const uint8_t kTags[] = {kelo::sim::kBerInteger,
                                    kelo::sim::kBerOctetString,
                                    kelo::sim::kBerNull,
                                    kelo::sim::kBerObjectId,
                                    0x40,
                                    0x41,
                                    0x43};
    kelo::sim::SnmpRequest request;
    request.community = in.ConsumeRandomLengthString(300);
    request.requestId = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 4));
    if (request.requestId.empty())
        request.requestId.push_back(0);
    const int status = in.ConsumeIntegralInRange(0, 127);
    const int index = in.ConsumeIntegralInRange(0, 127);
    std::vector<kelo::sim::SnmpVarBind> varbinds(in.ConsumeIntegralInRange(1, 3));
    for (kelo::sim::SnmpVarBind& varbind : varbinds) {
        varbind.name = in.ConsumeBool()
                           ? kelo::sim::OidContent(FuzzedOid(in).text)
                           : in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(1, 40));
        if (varbind.name.empty())
            varbind.name.push_back(0x2B);
        varbind.valueTag = in.PickValueInArray(kTags);
        const std::string value = in.ConsumeRandomLengthString(700);
        varbind.value.assign(value.begin(), value.end());
    }
    const std::vector<uint8_t> answer =
        kelo::sim::EncodeGetResponse(request, status, index, varbinds);

    kelo::SnmpExchange codec;
    const bool taken = codec.TakeResponse(answer.data(), static_cast<int>(answer.size()));
    if (answer.size() > static_cast<size_t>(kelo::snmp::kMessageSize)) {
        FUZZ_REQUIRE(!taken);
        return;
    }
    FUZZ_REQUIRE(taken);
    const kelo::snmp::SnmpVarBind& fields = codec.Fields();
    FUZZ_REQUIRE(fields.pdu_type == kelo::sim::kPduGetResponse);
    FUZZ_REQUIRE(fields.request_id ==
                 static_cast<int32_t>(kelo::sim::IntegerValue(request.requestId)));
    FUZZ_REQUIRE(fields.error_status == status && fields.error_index == index);
    const kelo::sim::SnmpVarBind& first = varbinds[0];
    FUZZ_REQUIRE(fields.oidname_type == kelo::sim::kBerObjectId);
    FUZZ_REQUIRE(Octets(fields.oidname_data, fields.oidname_length) == first.name);
    const std::string oidText = kelo::sim::OidText(first.name);
    if (!oidText.empty()) {
        FUZZ_REQUIRE(kelo::snmp::OidText(fields.oidname_data, fields.oidname_length) == oidText);
    }
    FUZZ_REQUIRE(fields.oidvalue_type == first.valueTag);
    FUZZ_REQUIRE(Octets(fields.oidvalue_data, fields.oidvalue_length) == first.value);
    CheckValueText(first.valueTag, first.value);
    codec.MakeValueText();
    FUZZ_REQUIRE(codec.ValueText().size() <= static_cast<size_t>(kelo::snmp::kValueTextSize));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    CheckRequest(in);
    CheckAnswer(in);
    return 0;
}
