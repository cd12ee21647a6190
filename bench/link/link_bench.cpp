// Costs of the packet link over loopback: a blocked receive while the machine is silent, and
// one request and one reply of the largest sizes the operations use.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/device_link.h"
#include "link/packet_link.h"
#include "platform/headless_cancel_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

// A loopback listener on a free port whose single connection is served by `serve`.
class Peer {
  public:
    template <typename Serve>
    explicit Peer(Serve serve, uint16_t port = 0) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(listener_);
            listener_ = -1;
            return;
        }
        ::listen(listener_, 1);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, serve] {
            const int fd = ::accept(listener_, nullptr, nullptr);
            serve(fd, stop_);
            ::close(fd);
        });
    }
    ~Peer() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    bool Listening() const { return listener_ >= 0; }
    uint16_t Port() const { return port_; }

  private:
    int listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// While the machine stays silent for 5 s, the waiting receive should cost under 1% of a core.
void BM_SilentMachineReceive(benchmark::State& state) {
    Peer peer([](int, std::atomic<bool>& stop) {
        while (!stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
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
    Peer peer([](int fd, std::atomic<bool>& stop) {
        std::vector<uint8_t> sink(1 << 16);
        while (!stop && ::recv(fd, sink.data(), sink.size(), 0) > 0) {
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
    Peer peer(
        [&frame](int fd, std::atomic<bool>& stop) {
            uint8_t request[6];
            while (!stop) {
                size_t got = 0;
                while (got < sizeof request) {
                    const ssize_t n = ::recv(fd, request + got, sizeof request - got, 0);
                    if (n <= 0)
                        return;
                    got += static_cast<size_t>(n);
                }
                ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
            }
        },
        9101);
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
