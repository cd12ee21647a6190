// A blocking socket that keeps the program responsive: the descriptor is non-blocking and
// every connect, send and receive waits in poll() slices of at most 10 ms. After each slice
// that found the socket not ready, the pending-message hook runs; a hook that returns false
// aborts the call, which then fails with -1 and the "interrupted" error. A connect that gets
// no answer gives up at its deadline and fails as a refused one does.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/trace.h"

namespace kelo {

class Socket {
  public:
    // The error of a call that the hook aborted.
    static constexpr int kInterrupted = 4;  // EINTR
    // How long a connect waits for an answer. A host that drops connection requests would
    // otherwise hold the call for the kernel's SYN retries, over two minutes.
    static constexpr int kConnectDeadlineMilliseconds = 20000;

    Socket() = default;
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // Makes an IPv4 socket of the given type (SOCK_STREAM or SOCK_DGRAM) on any local port.
    bool Create(int type);
    // Connects, waiting in slices up to the connect deadline (then the error is ETIMEDOUT);
    // for a datagram socket it fixes the peer.
    bool Connect(const sockaddr_in& address);
    // Sets the connect deadline of this socket; a test waits less than the program does.
    void SetConnectDeadline(int milliseconds) { connectDeadlineMilliseconds_ = milliseconds; }
    // Sends the whole block: the length, or -1.
    int Send(const void* data, int length);
    // One receive of at most length bytes: the count (0 when the peer closed), or -1.
    int Receive(void* buffer, int length);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    // errno of the last failed call; kInterrupted when the hook aborted it.
    int LastError() const { return lastError_; }

    // The address host reaches (ResolveTarget: within a run, the one its first lookup gave).
    // False when none, and for refused forms ("10.1", "10.0.0.010", "::1", "0.0.0.0").
    static bool ResolveIPv4(const std::string& host, int port, sockaddr_in* address);

    // How the protocol trace describes what this socket carries; the owner chooses it.
    void SetTraceDecoder(platform::TraceDecoderFactory factory) {
        trace_.SetDecoder(std::move(factory));
    }
    // What the trace must hide in the bytes this socket sends; the owner chooses it, and a
    // socket without one shows its bytes as they are.
    void SetTraceMask(platform::TraceMaskFactory factory) { trace_.SetMask(std::move(factory)); }

  protected:
    // Runs while a call waits; returning false aborts the call.
    virtual bool OnMessagePending() { return true; }

    // Says something about this socket in the trace (only while a trace runs).
    void TraceNote(const std::string& text);

  private:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;
    enum class Wait { Ready, Failed, Aborted };
    // Waits until the events are ready, the hook aborts, or the deadline (when set) passes.
    Wait WaitFor(short events, Deadline deadline = std::nullopt);
    bool ConnectNow(const sockaddr_in& address);
    // Sends until all went or a call failed; sent counts what went.
    bool SendAll(const char* bytes, int length, int& sent);
    int ReceiveOnce(void* buffer, int length);

    // The trace's slow paths, run only while a trace sink is installed.
    platform::TraceChannel& TracedChannel();
    void TraceConnect(platform::TraceSink& sink, bool connected);
    void TraceFailure(platform::TraceSink& sink, const char* call);

    int fd_ = -1;
    int type_ = 0;
    bool connected_ = false;
    int lastError_ = 0;
    int connectDeadlineMilliseconds_ = kConnectDeadlineMilliseconds;
    sockaddr_in peer_{};
    platform::TraceChannel trace_;
};

}  // namespace kelo
