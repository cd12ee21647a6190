// A scripted TCP peer on loopback for tests: it accepts connections one after another and
// runs a handler for each on its own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class PeerConnection {
  public:
    explicit PeerConnection(int fd) : fd_(fd) {}
    // Reads exactly n bytes; false when the connection ended first.
    bool ReadExactly(size_t n, std::vector<uint8_t>& out);
    // Reads until the peer closes (or the wait limit passes) and returns everything.
    std::vector<uint8_t> ReadUntilClosed(int limitMilliseconds = 5000);
    bool Write(const std::vector<uint8_t>& bytes);
    bool Write(const std::string& text);
    void Close();
    int Fd() const { return fd_; }

  private:
    int fd_;
};

class LoopbackPeer {
  public:
    using Handler = std::function<void(PeerConnection&)>;
    // Listens on address:port (port 0 picks one). A handler that returns closes the
    // connection.
    LoopbackPeer(uint16_t port, Handler handler, const std::string& address = "127.0.0.1");
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    bool Listening() const { return listenFd_ >= 0; }
    uint16_t Port() const { return port_; }
    int Connections() const { return connections_.load(); }
    // Waits until n connections have been served to the end; false after the limit.
    bool WaitForServed(int n, int limitMilliseconds = 5000) const;

  private:
    void AcceptLoop();

    int listenFd_ = -1;
    uint16_t port_ = 0;
    Handler handler_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    int served_ = 0;  // under servedMutex_
    mutable std::mutex servedMutex_;
    mutable std::condition_variable servedChanged_;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
};

// Frames a reply of machine types 3 and 4: 80, L, body, check byte (frame sums to 0xFF).
std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& body);

}  // namespace testing_support
