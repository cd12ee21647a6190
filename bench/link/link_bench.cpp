// Costs of the packet link over loopback: a blocked receive while the machine is silent, and
// one request and one reply of the largest sizes the operations use.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <vector>

#include "link/device_link.h"
#include "link/packet_link.h"
#include "platform/headless_cancel_dialog.h"
#include "testsupport/loopback_peer.h"

namespace {

using Clock = std::chrono::steady_clock;
using testing_support::LoopbackPeer;
using testing_support::PeerConnection;

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// While the machine stays silent for 5 s, the waiting receive should cost under 1% of a core.
void BM_SilentMachineReceive(benchmark::State& state) {
    // Silent until the link closes its end.
    LoopbackPeer peer(0, [](PeerConnection& connection) { connection.ReadUntilClosed(60000); });
    for (auto _ : state) {
        kelo::platform::HeadlessCancelDialog dialog;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        dialog.onPump = [deadline](kelo::platform::HeadlessCancelDialog& d) {
            if (Clock::now() >= deadline)
                d.Cancel();
        };
        kelo::PacketLink put(peer.Port());
        put.SetCancelDialog(&dialog);
        put.Open("127.0.0.1", "lp1");
        const double cpuBefore = CpuSeconds();
        const auto wallBefore = Clock::now();
        uint8_t byte;
        benchmark::DoNotOptimize(put.Receive(&byte, 1));
        const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
        state.counters["cpu_percent"] = 100.0 * (CpuSeconds() - cpuBefore) / wall;
    }
}
BENCHMARK(BM_SilentMachineReceive)->Iterations(1)->Unit(benchmark::kSecond);

// One 32,770-byte request payload (a parameter half) framed and sent.
void BM_PutPacket(benchmark::State& state) {
    LoopbackPeer peer(0, [](PeerConnection& connection) {
        std::vector<uint8_t> sink(1 << 16);
        while (::recv(connection.Fd(), sink.data(), sink.size(), 0) > 0) {
        }
    });
    kelo::PacketLink put(peer.Port());
    put.Open("127.0.0.1", "lp1");
    std::vector<uint8_t> payload(32770, 0x5A);
    payload[0] = 0x00;
    payload[1] = 0x05;
    for (auto _ : state) {
        benchmark::DoNotOptimize(put.PutPacket(payload.data(), static_cast<int>(payload.size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 32775);
    put.Close();
}
BENCHMARK(BM_PutPacket);

// One request and its reply of 65,534 data bytes: the largest frame the reply buffer holds.
// The connection uses the machine's fixed port, so run the benchmark in a private network
// namespace (tests/netns-run).
void BM_RequestAndLargestReply(benchmark::State& state) {
    std::vector<uint8_t> frame{0x80, 0xFF, 0xFE};
    frame.resize(3 + 65534, 0x41);
    unsigned sum = 0;
    for (uint8_t b : frame)
        sum += b;
    frame.push_back(static_cast<uint8_t>(0xFF - (sum & 0xFF)));
    LoopbackPeer peer(9101, [&frame](PeerConnection& connection) {
        std::vector<uint8_t> request;
        while (connection.ReadExactly(6, request))
            connection.Write(frame);
    });
    if (!peer.Listening()) {
        state.SkipWithError("port 9101 is taken: run in a network namespace (tests/netns-run)");
        return;
    }
    kelo::platform::HeadlessCancelDialog dialog;
    kelo::DeviceLink link(dialog);
    link.MutableSettings() = {kelo::kPortNetwork, 0, 2, {"127.0.0.1"}};
    link.Port().Open(false);
    std::vector<uint8_t> buffer(kelo::Transport::kReplyBufferSize);
    const uint8_t request[2] = {0x00, 0x01};
    for (auto _ : state) {
        link.Port().Write(request, 2);
        if (link.Port().ReadReply(buffer.data(), false, -1) != 65534) {
            state.SkipWithError("reply not read");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65538);
    link.Port().Close();
}
BENCHMARK(BM_RequestAndLargestReply);

}  // namespace

BENCHMARK_MAIN();
