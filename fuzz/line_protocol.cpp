// libFuzzer target for the line protocol of machine types 1 and 2: a scripted machine on the
// parallel port answers Get Report or Get Parameters with fuzzed status texts, and the
// operation runs whole, its waits on a fake clock. When the script runs out the user presses
// Cancel. Besides the sanitizers, it stops when a result passes its bounds, the bar passes its
// range, a message appears, or the exchange's writes or waits differ from the protocol's.
//
// Input: one control byte, then the status texts, each ended by a zero byte (a status read
// ends its text at the first zero byte anyway).
//   bit 0     Get Parameters instead of Get Report
//   bits 1-7  the parameter buffer holds (value + 1) * 2048 bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/require.h"
#include "link/device_link.h"
#include "link/wire_format.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/fake_parallel_port.h"
#include "testsupport/ops_calls.h"

namespace {

constexpr int kLineSize = 128;
constexpr int kMaxLineCount = 2048;
constexpr int kCommandWait = 300;
constexpr int kPayloadWait = 5;

struct Harness {
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::platform::MessageRecorder messages;
    kelo::platform::FakeClock clock;
    std::unique_ptr<kelo::DeviceLink> link;
    bool progressPump = false;
    bool barPassedRange = false;

    Harness() {
        // The profile path names no file: the link starts from the defaults.
        link = testing_support::MakeScriptedParallelLink(dialog, 0);
        dialog.onProgress = [this](kelo::platform::HeadlessCancelDialog& d) {
            progressPump = true;  // the pump that follows belongs to the bar
            barPassedRange = barPassedRange || d.Pos() > d.Range() || d.Pos() < 0;
        };
        // Cancel once the machine has nothing more to say, at the wait for the next status.
        dialog.onPump = [this](kelo::platform::HeadlessCancelDialog& d) {
            if (std::exchange(progressPump, false))
                return;
            if (testing_support::CurrentMachine().statuses.empty())
                d.Cancel();
        };
    }

    void Reset() {
        testing_support::ResetMachine();
        messages.Clear();
        clock.Clear();
        progressPump = false;
        barPassedRange = false;
    }
};

void Script(const uint8_t* data, size_t size) {
    auto& statuses = testing_support::CurrentMachine().statuses;
    const uint8_t* end = data + size;
    for (const uint8_t* start = data; start < end;) {
        const uint8_t* zero = std::find(start, end, 0);
        statuses.emplace_back(reinterpret_cast<const char*>(start),
                              static_cast<size_t>(zero - start));
        start = zero + 1;
    }
}

// Access line and command first; the end-of-exchange byte last, unless the user cancelled.
// A result needs that byte written.
void CheckWrites(const Harness& h, const std::string& command, bool succeeded) {
    const bool completed = !h.dialog.IsCancelled();
    FUZZ_REQUIRE(completed || !succeeded);
    const auto& writes = testing_support::CurrentMachine().writes;
    FUZZ_REQUIRE(writes.size() == (completed ? 3u : 2u));
    const std::string access = kelo::Transport::AccessLine(1);
    FUZZ_REQUIRE(writes[0] == std::vector<uint8_t>(access.begin(), access.end()));
    FUZZ_REQUIRE(writes[1] == std::vector<uint8_t>(command.begin(), command.end()));
    if (completed)
        FUZZ_REQUIRE(writes[2] == std::vector<uint8_t>{kelo::wire::kEndOfExchange});
    FUZZ_REQUIRE(!testing_support::CurrentMachine().open);
}

void CheckWaits(const std::vector<int>& waits) {
    FUZZ_REQUIRE(!waits.empty() && waits[0] == kCommandWait);
    FUZZ_REQUIRE(
        std::all_of(waits.begin() + 1, waits.end(), [](int w) { return w == kPayloadWait; }));
}

void RunReport(Harness& h) {
    std::string report = "untouched";
    const bool ok = testing_support::ReportInto(h.link->Port(), report);
    CheckWrites(h, "GET REPORT", ok);
    if (ok) {
        FUZZ_REQUIRE(report.size() <= static_cast<size_t>(kMaxLineCount) * kLineSize);
        FUZZ_REQUIRE(report.find('\0') == std::string::npos);
    }
}

void RunParameters(Harness& h, int capacity) {
    // Exactly the room the caller gives, so a write past it is caught.
    const auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity));
    const int result = testing_support::ParametersInto(h.link->Port(), buffer.get(), capacity);
    FUZZ_REQUIRE(result >= -1 && result <= capacity);
    CheckWrites(h, "GET PARAM", result >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Harness harness;
    if (size < 1)
        return 0;
    harness.Reset();
    Script(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        RunReport(harness);
    } else {
        RunParameters(harness, ((data[0] >> 1) + 1) * 2048);
    }
    FUZZ_REQUIRE(harness.messages.Messages().empty());
    FUZZ_REQUIRE(!harness.barPassedRange);
    CheckWaits(harness.clock.Waits());
    return 0;
}
