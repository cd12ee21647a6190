// libFuzzer target for the LPD side of a simulated machine of type 1 or 2. The bytes after two
// settings bytes are what a client sends on TCP 515: fed to a machine's LPD session whole and
// in pieces (job command, subcommands, files and the machine's own commands inside them),
// after which the status text is read a few times as an SNMP client would read it.
//   settings byte 0: bit 0 machine type 2 (else 1), bits 1-7 the LPD and line faults
//   settings byte 1: how the bytes are cut into pieces
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/sim_fixture.h"
#include "sim/lpd_job.h"

namespace {

// Every element is acknowledged with 0x00; only a refused job command is answered otherwise,
// and that answer is the last byte before the machine closes the connection.
void CheckAcknowledgements(const sim_fuzz::Transcript& transcript) {
    const size_t refusal = transcript.sent.find_first_not_of('\0');
    if (refusal == std::string::npos)
        return;
    FUZZ_REQUIRE(transcript.sent[refusal] == 0x01 && refusal + 1 == transcript.sent.size());
    FUZZ_REQUIRE(refusal == 0 && transcript.closedByMachine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sim_fuzz::Input input = sim_fuzz::SplitInput(data, size, 2);
    using F = kelo::sim::Faults;
    const kelo::sim::Faults faults =
        sim_fuzz::FaultsOf(input.settings, 1,
                           {&F::lpdNak, &F::neverAnswer, &F::linesRepeated, &F::linesOutOfRange,
                            &F::linesOddDigits, &F::linesBeforeCount, &F::linesWithoutSemicolon});
    const int type = (input.settings & 0x01) ? 2 : 1;
    // A few status reads after the job show the offer it started, if any.
    const sim_fuzz::Transcript transcript = sim_fuzz::RunWholeAndInPieces(
        kelo::sim::PortRole::kLpd, type, faults, input.bytes, input.size, input.seed, 8);
    CheckAcknowledgements(transcript);
    return 0;
}
