// libFuzzer target for the packet frames a simulated machine of type 3 or 4 takes. The bytes
// after two settings bytes are checked as a request frame and as the command frame of types 1
// and 2, then fed to a machine's packet session whole and in pieces.
//   settings byte 0: bit 0 machine type 4 (else 3), bits 1-6 the reply faults
//   settings byte 1: how the bytes are cut into pieces
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/sim_fixture.h"
#include "sim/packet_frame.h"
#include "testsupport/test_bytes.h"

namespace {

// A complete frame is exactly the frame a client builds from its command and data, and the
// bytes after it play no part.
void CheckRequestFrame(const uint8_t* bytes, size_t size) {
    const kelo::sim::FrameParse parse = kelo::sim::ParsePacketFrame(bytes, size);
    if (parse.status != kelo::sim::FrameStatus::kComplete) {
        FUZZ_REQUIRE(parse.frameLength == 0 && parse.frame.data.empty());
        return;
    }
    const kelo::sim::PacketFrame& frame = parse.frame;
    FUZZ_REQUIRE(parse.frameLength <= size);
    FUZZ_REQUIRE(frame.hasDataSum == kelo::sim::CarriesDataSum(frame.command[0], frame.command[1]));
    const std::vector<uint8_t> rebuilt =
        sim_testing::RequestFrame(frame.command[0], frame.command[1], frame.data, frame.hasDataSum);
    FUZZ_REQUIRE(rebuilt == std::vector<uint8_t>(bytes, bytes + parse.frameLength));
}

// A good command frame gives its text back, and framing the text again gives the frame.
void CheckCommandFrame(const uint8_t* bytes, size_t size) {
    const std::vector<uint8_t> frame(bytes, bytes + size);
    std::string text;
    if (kelo::sim::ParseCommandFrame(frame, text) != nullptr) {
        FUZZ_REQUIRE(text.empty());
        return;
    }
    std::vector<uint8_t> again{static_cast<uint8_t>(text.size() >> 8),
                               static_cast<uint8_t>(text.size() & 0xFF)};
    again.insert(again.end(), text.begin(), text.end());
    unsigned sum = 1;
    for (uint8_t byte : again)
        sum += byte;
    again.push_back(static_cast<uint8_t>(sum));
    FUZZ_REQUIRE(again == frame);
}

// Without reply faults everything sent is whole reply frames: 80, L, L body bytes, and a
// check byte that makes the frame sum to 0xFF.
void CheckReplyFrames(const std::string& sent) {
    size_t at = 0;
    while (at < sent.size()) {
        FUZZ_REQUIRE(sent.size() - at >= 4 && static_cast<uint8_t>(sent[at]) == 0x80);
        const size_t length = (static_cast<size_t>(static_cast<uint8_t>(sent[at + 1])) << 8) |
                              static_cast<uint8_t>(sent[at + 2]);
        FUZZ_REQUIRE(sent.size() - at >= length + 4);
        unsigned sum = 0;
        for (size_t i = at; i < at + length + 4; ++i)
            sum += static_cast<uint8_t>(sent[i]);
        FUZZ_REQUIRE((sum & 0xFF) == 0xFF);
        at += length + 4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const sim_fuzz::Input input = sim_fuzz::SplitInput(data, size, 2);
    CheckRequestFrame(input.bytes, input.size);
    CheckCommandFrame(input.bytes, input.size);

    using F = kelo::sim::Faults;
    const kelo::sim::Faults faults =
        sim_fuzz::FaultsOf(input.settings, 1,
                           {&F::badChecksum, &F::badLead, &F::closeMidHeader, &F::closeMidBody,
                            &F::length65535, &F::neverAnswer});
    const int type = (input.settings & 0x01) ? 4 : 3;
    const sim_fuzz::Transcript transcript = sim_fuzz::RunWholeAndInPieces(
        kelo::sim::PortRole::kPackets, type, faults, input.bytes, input.size, input.seed);
    if ((input.settings & 0x3E) == 0)
        CheckReplyFrames(transcript.sent);
    return 0;
}
