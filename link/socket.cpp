#include "link/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kelo {
namespace {

constexpr int kSliceMilliseconds = 10;

}  // namespace

CSocket::~CSocket() {
    Close();
}

bool CSocket::Create(int type) {
    Close();
    fd_ = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        return false;
    }
    return true;
}

void CSocket::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

CSocket::Wait CSocket::WaitFor(short events, Deadline deadline) {
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

bool CSocket::Connect(const sockaddr_in& address) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        lastError_ = errno;
        return false;
    }
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

int CSocket::Send(const void* data, int length) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return -1;
    }
    const char* bytes = static_cast<const char*>(data);
    int sent = 0;
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
            return -1;
        }
        if (WaitFor(POLLOUT) != Wait::Ready)
            return -1;
    }
    return sent;
}

int CSocket::Receive(void* buffer, int length) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return -1;
    }
    if (length <= 0)
        return 0;
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

bool CSocket::ResolveIPv4(const std::string& host, int port, sockaddr_in* address) {
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &address->sin_addr) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 ||
        result == nullptr) {
        return false;
    }
    address->sin_addr = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr;
    ::freeaddrinfo(result);
    return true;
}

}  // namespace kelo
