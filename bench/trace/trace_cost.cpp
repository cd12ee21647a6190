// trace_cost report|upgrade HOST ROUNDS [TRACE_FILE]: runs a type 3 Get Report (ROUNDS times)
// or a 64 MiB firmware upgrade (ROUNDS times) against kelo-sim at HOST and prints the
// median seconds of one operation: the whole Get Report, the upgrade's image from its first
// chunk to its last. With TRACE_FILE the text trace runs into that file.
// bench/trace/compare.sh runs it from a build with the trace's hooks and one without.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "platform/trace_session.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kImageSize = 64u << 20;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: trace_cost report|upgrade HOST ROUNDS [TRACE_FILE]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int rounds = std::max(1, std::atoi(argv[3]));
    platform::TraceSession trace(
        [](const std::string& problem) { std::fprintf(stderr, "trace: %s\n", problem.c_str()); });
    if (argc > 4 && !trace.StartText(argv[4]))
        return 1;

    // The restart waits are not spent, but the machine, which restarts in real time, is
    // given a moment before it is polled again.
    platform::FakeClock clock;
    clock.onSleep = [](int milliseconds) {
        if (milliseconds >= 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    platform::MessageRecorder messages;
    platform::HeadlessCancelDialog dialog;
    // The image goes from the second position 10 (the first chunk's) to position 100.
    Clock::time_point firstChunk{};
    Clock::time_point lastChunk{};
    int tens = 0;
    dialog.onProgress = [&](platform::HeadlessCancelDialog& d) {
        if (d.Pos() == 10 && ++tens == 2)
            firstChunk = Clock::now();
        if (d.Pos() == 100)
            lastChunk = Clock::now();
    };
    kelo::CDeviceLink link(dialog, "/nonexistent/kelo.INI");
    link.DiscardSettingsOnExit();
    link.MutableSettings() = {kelo::kPortNetwork, 0, 2, {argv[2]}};
    std::vector<uint8_t> image(mode == "upgrade" ? kImageSize : 0);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 2654435761u >> 24);

    std::vector<double> seconds;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        auto end = start;
        bool done = false;
        if (mode == "report") {
            std::string report;
            done = link.GetReport(report) && !report.empty();
            end = Clock::now();
        } else {
            messages.Clear();
            tens = 0;
            link.UpgradeFirmware(image.data(), static_cast<int>(image.size()));
            done = messages.Texts() == std::vector<std::string>{"Done."};
            start = firstChunk;
            end = lastChunk;
        }
        if (!done) {
            std::fprintf(stderr, "%s failed in round %d\n", mode.c_str(), round + 1);
            for (const std::string& text : messages.Texts())
                std::fprintf(stderr, "  %s\n", text.c_str());
            return 1;
        }
        seconds.push_back(std::chrono::duration<double>(end - start).count());
    }
    std::printf("%.9f\n", Median(seconds));
    return 0;
}
