#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "net/target.h"

namespace kelo {
namespace {

constexpr int kSliceMilliseconds = 10;

using platform::ActiveTraceSink;
using platform::TraceDirection;
using platform::TraceSink;

}  // namespace

Socket::~Socket() {
    Close();
}

bool Socket::Create(int type) {
    Close();
    type_ = type;
    trace_.Restart();
    fd_ = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

void Socket::Close() {
    if (fd_ >= 0) {
        if (TraceSink* sink = ActiveTraceSink(); sink != nullptr && connected_)
            TracedChannel().Closed(*sink);
        ::close(fd_);
        fd_ = -1;
        connected_ = false;
    }
}

Socket::Wait Socket::WaitFor(short events, Deadline deadline) {
    using std::chrono::milliseconds;
    while (true) {
        int slice = kSliceMilliseconds;
        if (deadline) {
            const auto left =
                std::chrono::ceil<milliseconds>(*deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                lastError_ = ETIMEDOUT;
                return Wait::Failed;
            }
            slice = static_cast<int>(std::min<long long>(slice, left.count()));
        }
        pollfd entry{fd_, events, 0};
        const int n = ::poll(&entry, 1, slice);
        if (n > 0)
            return Wait::Ready;
        if (n < 0 && errno != EINTR) {
            lastError_ = errno;
            return Wait::Failed;
        }
        if (!OnMessagePending()) {
            lastError_ = kInterrupted;
            return Wait::Aborted;
        }
    }
}

bool Socket::Connect(const sockaddr_in& address) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    peer_ = address;
    connected_ = ConnectNow(address);
    if (TraceSink* sink = ActiveTraceSink())
        TraceConnect(*sink, connected_);
    return connected_;
}

bool Socket::ConnectNow(const sockaddr_in& address) {
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        lastError_ = errno;
        return false;
    }
    if (TraceSink* sink = ActiveTraceSink())
        TracedChannel().Connecting(*sink);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(connectDeadlineMilliseconds_);
    if (WaitFor(POLLOUT, deadline) != Wait::Ready)
        return false;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        lastError_ = error;
        return false;
    }
    return true;
}

int Socket::Send(const void* data, int length) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return -1;
    }
    int sent = 0;
    const bool whole = SendAll(static_cast<const char*>(data), length, sent);
    if (TraceSink* sink = ActiveTraceSink()) {
        if (sent > 0) {
            TracedChannel().Bytes(*sink, TraceDirection::kToMachine,
                                  static_cast<const uint8_t*>(data), static_cast<size_t>(sent));
        }
        if (!whole)
            TraceFailure(*sink, "send");
    }
    return whole ? sent : -1;
}

bool Socket::SendAll(const char* bytes, int length, int& sent) {
    while (sent < length) {
        const ssize_t n =
            ::send(fd_, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errno;
            return false;
        }
        if (WaitFor(POLLOUT) != Wait::Ready)
            return false;
    }
    return true;
}

int Socket::Receive(void* buffer, int length) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return -1;
    }
    if (length <= 0)
        return 0;
    const int received = ReceiveOnce(buffer, length);
    if (TraceSink* sink = ActiveTraceSink()) {
        if (received > 0) {
            TracedChannel().Bytes(*sink, TraceDirection::kFromMachine,
                                  static_cast<const uint8_t*>(buffer),
                                  static_cast<size_t>(received));
        } else if (received == 0 && type_ == SOCK_STREAM) {
            TracedChannel().PeerClosed(*sink);
        } else if (received < 0) {
            TraceFailure(*sink, "receive");
        }
    }
    return received;
}

int Socket::ReceiveOnce(void* buffer, int length) {
    while (true) {
        const ssize_t n = ::recv(fd_, buffer, static_cast<size_t>(length), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            lastError_ = errno;
            return -1;
        }
        if (WaitFor(POLLIN) != Wait::Ready)
            return -1;
    }
}

bool Socket::ResolveIPv4(const std::string& host, int port, sockaddr_in* address) {
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    // A host stored before a form was refused on entry fails as a name that does not resolve,
    // rather than reach a machine nobody named.
    const Target target = ResolveTarget(host);
    if (!target.address)
        return false;
    address->sin_addr.s_addr = htonl(*target.address);
    return true;
}

platform::TraceChannel& Socket::TracedChannel() {
    if (!trace_.HasEndpoints()) {
        platform::TraceEndpoints endpoints;
        endpoints.transport =
            type_ == SOCK_DGRAM ? platform::TraceTransport::kUdp : platform::TraceTransport::kTcp;
        endpoints.peerAddress = ntohl(peer_.sin_addr.s_addr);
        endpoints.peerPort = ntohs(peer_.sin_port);
        sockaddr_in local{};
        socklen_t size = sizeof local;
        if (fd_ >= 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
            endpoints.localAddress = ntohl(local.sin_addr.s_addr);
            endpoints.localPort = ntohs(local.sin_port);
        }
        trace_.SetEndpoints(std::move(endpoints));
    }
    return trace_;
}

void Socket::TraceConnect(TraceSink& sink, bool connected) {
    platform::TraceChannel& channel = TracedChannel();
    if (connected) {
        channel.Opened(sink, platform::TraceOpenResult::kOpened);
    } else if (lastError_ == ECONNREFUSED) {
        channel.Opened(sink, platform::TraceOpenResult::kRefused, std::strerror(lastError_));
    } else if (lastError_ == ETIMEDOUT) {
        channel.Opened(sink, platform::TraceOpenResult::kNoAnswer,
                       "no answer within " + std::to_string(connectDeadlineMilliseconds_) + " ms");
    } else {
        channel.Opened(sink, platform::TraceOpenResult::kFailed,
                       lastError_ == kInterrupted ? "interrupted" : std::strerror(lastError_));
    }
}

// A call that the hook aborted is told by whoever aborted it (Cancel, the SNMP timer).
void Socket::TraceFailure(TraceSink& sink, const char* call) {
    if (lastError_ != kInterrupted)
        TracedChannel().Note(sink, std::string(call) + " failed: " + std::strerror(lastError_));
}

void Socket::TraceNote(const std::string& text) {
    if (TraceSink* sink = ActiveTraceSink())
        TracedChannel().Note(*sink, text);
}

}  // namespace kelo
