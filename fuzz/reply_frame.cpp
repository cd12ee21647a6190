// libFuzzer target for the reply frames of the packet link: the bytes are what the machine
// sends after a request, delivered in pieces to the connection's own reply reader, which may
// meet a close or a failed receive at any point. Besides the sanitizers, it stops when the
// reader asks for a byte past the frame, or when its result, its data, its messages or its
// progress differ from what the frame's layout says.
//
// Input: one control byte, then the bytes the machine sends.
//   bit 0     show progress
//   bit 1     progress base 32768 instead of -1 (the second half of a parameter set)
//   bit 2     the stream ends in a failed receive instead of a close
//   bits 3-7  the most one receive delivers (0: as much as asked for)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz/require.h"
#include "link/packet_link.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/messages.h"

namespace {

constexpr uint8_t kLeadByte = 0x80;
constexpr int kHeaderSize = 3;
constexpr int kTooLong = 65535;

struct Control {
    bool showProgress;
    int progressBase;
    int endResult;
    int pieceLimit;
};

Control ReadControl(uint8_t byte) {
    return {(byte & 1) != 0, (byte & 2) != 0 ? 32768 : -1, (byte & 4) != 0 ? -1 : 0, byte >> 3};
}

// The machine's side: hands out the stream in pieces and refuses to be asked past the frame
// that the header announces.
class MachineStream {
  public:
    MachineStream(const uint8_t* data, size_t size, const Control& control)
        : data_(data), size_(static_cast<int>(size)), control_(control) {}

    int Receive(uint8_t* into, int length) {
        FUZZ_REQUIRE(length > 0 && position_ + length <= AskLimit());
        if (position_ == size_)
            return control_.endResult;
        int n = std::min(length, size_ - position_);
        if (control_.pieceLimit > 0)
            n = std::min(n, control_.pieceLimit);
        std::copy(data_ + position_, data_ + position_ + n, into);
        position_ += n;
        return n;
    }
    int Taken() const { return position_; }

  private:
    // The header first, then the data and check byte it announces.
    int AskLimit() const {
        if (position_ < kHeaderSize)
            return kHeaderSize;
        return kHeaderSize + data_[1] * 256 + data_[2] + 1;
    }

    const uint8_t* data_;
    int size_;
    Control control_;
    int position_ = 0;
};

// What the frame's layout says the read gives, worked out from the whole stream at once.
struct Expected {
    int result = -1;
    int taken = 0;
    bool headerMissing = false;
    int frameRest = 0;  // data and check byte announced by a usable header, else 0
};

Expected ExpectedRead(const uint8_t* s, int size) {
    if (size < kHeaderSize)
        return {-1, size, true, 0};
    const int length = s[1] * 256 + s[2];
    if (s[0] != kLeadByte || length == kTooLong)
        return {-1, kHeaderSize, false, 0};
    const int frameSize = kHeaderSize + length + 1;
    if (size < frameSize)
        return {-1, size, false, length + 1};
    unsigned sum = 0;
    for (int i = 0; i < frameSize; ++i)
        sum += s[i];
    return {(sum & 0xFF) == 0xFF ? length : -1, frameSize, false, length + 1};
}

struct Harness {
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::platform::MessageRecorder messages;
    std::vector<int> positions;

    Harness() {
        dialog.onProgress = [this](kelo::platform::HeadlessCancelDialog& d) {
            positions.push_back(d.Pos());
        };
    }
};

// A usable header sets the range to the frame's rest (unless a base was given); then each
// receive moves the bar forward, to the base plus the bytes of the rest received so far.
void CheckProgress(const Harness& h, const Control& control, const Expected& expected) {
    if (!control.showProgress || expected.frameRest == 0) {
        FUZZ_REQUIRE(h.positions.empty());
        return;
    }
    size_t first = 0;
    int base = control.progressBase;
    if (base == -1) {
        FUZZ_REQUIRE(!h.positions.empty() && h.dialog.Range() == expected.frameRest);
        first = 1;
        base = 0;
    }
    int last = base;
    for (size_t i = first; i < h.positions.size(); ++i) {
        FUZZ_REQUIRE(h.positions[i] > last);
        last = h.positions[i];
    }
    FUZZ_REQUIRE(last == base + expected.taken - kHeaderSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    if (size < 1)
        return 0;
    const Control control = ReadControl(data[0]);
    const uint8_t* stream = data + 1;
    const int streamSize = static_cast<int>(size - 1);
    harness.messages.Clear();
    harness.positions.clear();

    MachineStream machine(stream, static_cast<size_t>(streamSize), control);
    // A reply buffer of exactly the size the link promises to stay inside, not filled first.
    const auto buffer =
        std::make_unique_for_overwrite<uint8_t[]>(kelo::Transport::kReplyBufferSize);
    const int result = kelo::ReadReplyFrame(
        [&machine](uint8_t* into, int length) { return machine.Receive(into, length); },
        buffer.get(), harness.dialog, control.showProgress, control.progressBase);

    const Expected expected = ExpectedRead(stream, streamSize);
    FUZZ_REQUIRE(result == expected.result);
    FUZZ_REQUIRE(machine.Taken() == expected.taken);
    FUZZ_REQUIRE(harness.messages.Messages().size() == (expected.headerMissing ? 1u : 0u));
    if (expected.headerMissing)
        FUZZ_REQUIRE(harness.messages.Messages()[0].id ==
                     kelo::platform::MessageId::kFailedReceive);
    if (result >= 0) {
        FUZZ_REQUIRE(std::equal(buffer.get(), buffer.get() + result, stream + kHeaderSize));
        FUZZ_REQUIRE(buffer[static_cast<size_t>(result)] == 0);
    }
    CheckProgress(harness, control, expected);
    return 0;
}
