// libFuzzer target for the simulated machine's SNMP agent. The bytes after one settings byte
// are a datagram: taken apart by the BER request decoder, its fields built into an answer
// and taken apart again, then answered twice by a machine, whose answers must be well-formed
// GetResponses to that request.
//   settings byte: bits 0-1 machine type 1 to 4, bit 2 an offer of the report is running,
//   bit 3 the snmp-error fault, bit 4 snmp-silence, bit 5 never-answer
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/sim_fixture.h"
#include "sim/snmp_ber.h"

namespace {

bool SameVarBinds(const std::vector<kelo::sim::SnmpVarBind>& a,
                  const std::vector<kelo::sim::SnmpVarBind>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].valueTag != b[i].valueTag || a[i].value != b[i].value)
            return false;
    }
    return true;
}

// Object identifier text is read back to the same text.
void CheckOid(const std::vector<uint8_t>& name) {
    const std::string text = kelo::sim::OidText(name);
    if (!text.empty())
        FUZZ_REQUIRE(kelo::sim::OidText(kelo::sim::OidContent(text)) == text);
}

// A request taken apart holds what the decoder promises, and the answer built from its fields
// decodes to the same fields.
void CheckDecoded(const kelo::sim::SnmpParse& parse) {
    if (!parse.ok) {
        FUZZ_REQUIRE(!parse.reason.empty());
        return;
    }
    const kelo::sim::SnmpRequest& request = parse.request;
    FUZZ_REQUIRE(!request.requestId.empty() && request.requestId.size() <= 4);
    FUZZ_REQUIRE(request.requestIdValue == kelo::sim::IntegerValue(request.requestId));
    for (const kelo::sim::SnmpVarBind& varbind : request.varbinds) {
        FUZZ_REQUIRE(!varbind.name.empty());
        CheckOid(varbind.name);
    }
    const int status = static_cast<int>(request.varbinds.size() % 6);
    const int index = static_cast<int>(request.varbinds.size());
    const std::vector<uint8_t> answer =
        kelo::sim::EncodeGetResponse(request, status, index, request.varbinds);
    const kelo::sim::SnmpParse again = kelo::sim::ParseSnmpRequest(answer.data(), answer.size());
    FUZZ_REQUIRE(again.ok && again.request.pduType == kelo::sim::kPduGetResponse);
    FUZZ_REQUIRE(again.request.version == request.version);
    FUZZ_REQUIRE(again.request.community == request.community);
    FUZZ_REQUIRE(again.request.requestId == request.requestId);
    FUZZ_REQUIRE(SameVarBinds(again.request.varbinds, request.varbinds));
}

// A machine's answer is empty or a GetResponse echoing version, community and request-id,
// with one variable for each of the request's.
void CheckAnswer(const std::vector<uint8_t>& answer, const kelo::sim::SnmpParse& parse) {
    if (answer.empty())
        return;
    FUZZ_REQUIRE(parse.ok);
    const kelo::sim::SnmpParse taken = kelo::sim::ParseSnmpRequest(answer.data(), answer.size());
    FUZZ_REQUIRE(taken.ok && taken.request.pduType == kelo::sim::kPduGetResponse);
    FUZZ_REQUIRE(taken.request.version == 0 && parse.request.version == 0);
    FUZZ_REQUIRE(taken.request.community == parse.request.community);
    FUZZ_REQUIRE(taken.request.requestId == parse.request.requestId);
    FUZZ_REQUIRE(taken.request.varbinds.size() == parse.request.varbinds.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sim_fuzz::Input input = sim_fuzz::SplitInput(data, size, 1);
    const kelo::sim::SnmpParse parse = kelo::sim::ParseSnmpRequest(input.bytes, input.size);
    CheckDecoded(parse);

    using F = kelo::sim::Faults;
    const kelo::sim::Faults faults =
        sim_fuzz::FaultsOf(input.settings, 3, {&F::snmpError, &F::snmpSilence, &F::neverAnswer});
    sim_fuzz::FuzzMachine machine(1 + (input.settings & 0x03), faults);
    if (input.settings & 0x04)
        machine.Get().StartOffer("REPORT:");
    for (int read = 0; read < 2; ++read)
        CheckAnswer(machine.Get().AnswerSnmp(input.bytes, input.size, "127.0.0.1"), parse);
    return 0;
}
