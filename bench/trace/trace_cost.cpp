// trace_cost report|upgrade HOST ROUNDS [TRACE_FILE]: runs a type 3 Get Report or a 64 MiB
// firmware upgrade ROUNDS times against kelo-sim at HOST and prints the best wall time and
// the best CPU time of this process, in seconds, of one operation: the whole Get Report, the
// upgrade's image from its first chunk to its last. With TRACE_FILE the text trace runs into
// that file. bench/trace/compare.sh runs it from a build with the trace's hooks and one
// without.
#include <time.h>

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
#include "testsupport/ops_calls.h"
#include "trace/trace_session.h"

namespace {

constexpr size_t kImageSize = 64u << 20;

// Wall time and this process's CPU time, in seconds.
struct Moment {
    double wall = 0;
    double cpu = 0;
};

Moment Now() {
    timespec wall{};
    timespec cpu{};
    ::clock_gettime(CLOCK_MONOTONIC, &wall);
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {wall.tv_sec + wall.tv_nsec / 1e9, cpu.tv_sec + cpu.tv_nsec / 1e9};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: trace_cost report|upgrade HOST ROUNDS [TRACE_FILE]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const int rounds = std::max(1, std::atoi(argv[3]));
    kelo::trace::TraceSession trace(
        [](const std::string& problem) { std::fprintf(stderr, "trace: %s\n", problem.c_str()); });
    if (argc > 4 && !trace.StartText(argv[4]))
        return 1;

    // The restart waits are not spent, but the machine, which restarts in real time, is
    // given a moment before it is polled again.
    kelo::platform::FakeClock clock;
    clock.onSleep = [](int milliseconds) {
        if (milliseconds >= 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    kelo::platform::MessageRecorder messages;
    kelo::platform::HeadlessCancelDialog dialog;
    // The image goes from the second position 10 (the first chunk's) to position 100.
    Moment firstChunk;
    Moment lastChunk;
    int tens = 0;
    dialog.onProgress = [&](kelo::platform::HeadlessCancelDialog& d) {
        if (d.Pos() == 10 && ++tens == 2)
            firstChunk = Now();
        if (d.Pos() == 100)
            lastChunk = Now();
    };
    kelo::DeviceLink link(dialog);
    link.MutableSettings() = {kelo::kPortNetwork, 0, 2, {argv[2]}};
    std::vector<uint8_t> image(mode == "upgrade" ? kImageSize : 0);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 2654435761u >> 24);

    Moment best{1e9, 1e9};
    for (int round = 0; round < rounds; ++round) {
        Moment start = Now();
        Moment end;
        bool done = false;
        if (mode == "report") {
            std::string report;
            done = testing_support::ReportInto(link.Port(), report) && !report.empty();
            end = Now();
        } else {
            messages.Clear();
            tens = 0;
            kelo::ops::UpgradeFirmware(link.Port(), image.data(), static_cast<int>(image.size()));
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
        best.wall = std::min(best.wall, end.wall - start.wall);
        best.cpu = std::min(best.cpu, end.cpu - start.cpu);
    }
    std::printf("%.9f %.9f\n", best.wall, best.cpu);
    return 0;
}
