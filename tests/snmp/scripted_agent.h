// A scripted SNMP agent for tests: a UDP socket on 127.0.0.1 that records every datagram and
// answers each with what the script returns (or stays silent). Tests that use port 161 run in
// a private network namespace.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tests/snmp/ber_bytes.h"

namespace kelo::test {

class ScriptedAgent {
  public:
    using Script = std::function<std::optional<Bytes>(const Bytes& request)>;

    explicit ScriptedAgent(Script script, uint16_t port = 161) : script_(std::move(script)) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (fd_ >= 0)
                ::close(fd_);
            fd_ = -1;
            return;
        }
        thread_ = std::thread([this] { Run(); });
    }

    ~ScriptedAgent() {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            ::close(fd_);
    }
    ScriptedAgent(const ScriptedAgent&) = delete;
    ScriptedAgent& operator=(const ScriptedAgent&) = delete;

    bool Bound() const { return fd_ >= 0; }

    // Waits until n datagrams have arrived; false after the limit.
    bool WaitForRequests(size_t n, int limitMilliseconds = 5000) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::milliseconds(limitMilliseconds),
                                 [&] { return requests_.size() >= n; });
    }

    std::vector<Bytes> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    // Answers a request with itself turned into a GetResponse: the layout is the same, so
    // only the PDU type octet after the six-octet community changes.
    static std::optional<Bytes> Echo(const Bytes& request) {
        Bytes answer(request);
        if (answer.size() > 13)
            answer[13] = 0xA2;
        return answer;
    }

  private:
    void Run() {
        while (!stopping_) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            uint8_t buffer[65536];
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0)
                continue;
            const Bytes request(buffer, buffer + n);
            const std::optional<Bytes> answer = script_(request);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(request);
            }
            arrived_.notify_all();
            if (answer) {
                ::sendto(fd_, answer->data(), answer->size(), 0, reinterpret_cast<sockaddr*>(&from),
                         fromLength);
            }
        }
    }

    Script script_;
    int fd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Bytes> requests_;
};

}  // namespace kelo::test
