// Firmware upgrade throughput: a 64 MiB image to kelo-sim (type 3) over loopback, timed from
// the first chunk to the last, against a plain socket send of the same bytes in the same run.
// The machine's ports are fixed, so run it in a private network namespace:
//   tests/netns-run build/bench/firmware/firmware_throughput
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "link/device_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/ops_calls.h"
#include "testsupport/sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kImageSize = 64u << 20;
constexpr int kRounds = 3;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Kelo's upgrade; the fixed restart waits go to the fake clock and are not timed.
double KeloSeconds(const std::vector<uint8_t>& image) {
    kelo::platform::FakeClock clock;
    kelo::platform::MessageRecorder messages;
    kelo::platform::HeadlessCancelDialog dialog;
    std::vector<std::pair<int, Clock::time_point>> marks;
    dialog.onProgress = [&](kelo::platform::HeadlessCancelDialog& d) {
        marks.emplace_back(d.Pos(), Clock::now());
    };
    kelo::DeviceLink link(dialog);
    link.MutableSettings() = {kelo::kPortNetwork, 0, 2, {"127.0.0.1"}};
    kelo::ops::UpgradeFirmware(link.Port(), image.data(), static_cast<int>(image.size()));
    if (messages.Texts() != std::vector<std::string>{"Done."}) {
        for (const std::string& text : messages.Texts())
            std::fprintf(stderr, "%s\n", text.c_str());
        return -1;
    }
    // The second position 10 is the first chunk's; 100 follows the last one.
    Clock::time_point first{}, last{};
    int tens = 0;
    for (auto [pos, when] : marks) {
        if (pos == 10 && ++tens == 2)
            first = when;
        if (pos == 100)
            last = when;
    }
    return Seconds(first, last);
}

// The same bytes through a plain blocking socket.
double PlainSeconds(const std::vector<uint8_t>& image) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(9100);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    const auto start = Clock::now();
    size_t sent = 0;
    while (sent < image.size()) {
        const size_t chunk = std::min<size_t>(102400, image.size() - sent);
        const ssize_t n = ::send(fd, image.data() + sent, chunk, MSG_NOSIGNAL);
        if (n <= 0)
            return -1;
        sent += static_cast<size_t>(n);
    }
    const auto end = Clock::now();
    ::close(fd);
    return Seconds(start, end);
}

}  // namespace

int main() {
    sim_testing::SimProcess machine({"--type", "3", "--restart-ms", "0"});
    if (!machine.Listening()) {
        std::fprintf(stderr, "kelo-sim did not start (run in a network namespace): %s\n",
                     machine.StandardError().c_str());
        return 1;
    }
    std::vector<uint8_t> image(kImageSize);
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 2654435761u >> 24);

    double bestKelo = 1e9, bestPlain = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const double kelo = KeloSeconds(image);
        const double plain = PlainSeconds(image);
        if (kelo < 0 || plain < 0) {
            std::fprintf(stderr, "round %d failed\n", round + 1);
            return 1;
        }
        bestKelo = std::min(bestKelo, kelo);
        bestPlain = std::min(bestPlain, plain);
        std::printf("round %d: kelo %.1f MB/s, plain socket %.1f MB/s\n", round + 1,
                    kImageSize / kelo / 1e6, kImageSize / plain / 1e6);
    }
    const double ratio = bestPlain / bestKelo;
    std::printf(
        "best: kelo %.1f MB/s, plain socket %.1f MB/s, kelo at %.0f%% of plain (goal 90%%)\n",
        kImageSize / bestKelo / 1e6, kImageSize / bestPlain / 1e6, 100 * ratio);
    return 0;
}
