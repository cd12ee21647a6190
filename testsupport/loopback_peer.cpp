#include "testsupport/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "testsupport/test_bytes.h"

namespace testing_support {

bool PeerConnection::ReadExactly(size_t n, std::vector<uint8_t>& out) {
    out.resize(n);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::recv(fd_, out.data() + got, n - got, 0);
        if (r <= 0) {
            out.resize(got);
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

std::vector<uint8_t> PeerConnection::ReadUntilClosed(int limitMilliseconds) {
    std::vector<uint8_t> all;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMilliseconds);
    uint8_t chunk[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const ssize_t r = ::recv(fd_, chunk, sizeof chunk, 0);
        if (r <= 0)
            break;
        all.insert(all.end(), chunk, chunk + r);
    }
    return all;
}

bool PeerConnection::Write(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t r = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (r <= 0)
            return false;
        sent += static_cast<size_t>(r);
    }
    return true;
}

bool PeerConnection::Write(const std::string& text) {
    return Write(std::vector<uint8_t>(text.begin(), text.end()));
}

void PeerConnection::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

LoopbackPeer::LoopbackPeer(uint16_t port, Handler handler, const std::string& address)
    : handler_(std::move(handler)) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
        ::close(fd);
        return;
    }
    socklen_t size = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size);
    port_ = ntohs(sa.sin_port);
    listenFd_ = fd;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

LoopbackPeer::~LoopbackPeer() {
    stopping_ = true;
    if (acceptThread_.joinable())
        acceptThread_.join();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    std::lock_guard<std::mutex> lock(mutex_);
    for (std::thread& worker : workers_)
        worker.join();
}

void LoopbackPeer::AcceptLoop() {
    while (!stopping_) {
        pollfd entry{listenFd_, POLLIN, 0};
        if (::poll(&entry, 1, 20) <= 0)
            continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, fd] {
            PeerConnection connection(fd);
            handler_(connection);
            connection.Close();
            {
                std::lock_guard<std::mutex> lock(servedMutex_);
                ++served_;
            }
            servedChanged_.notify_all();
        });
    }
}

bool LoopbackPeer::WaitForServed(int n, int limitMilliseconds) const {
    std::unique_lock<std::mutex> lock(servedMutex_);
    return servedChanged_.wait_for(lock, std::chrono::milliseconds(limitMilliseconds),
                                   [&] { return served_ >= n; });
}

std::vector<uint8_t> ReplyFrame(const std::vector<uint8_t>& body) {
    return Framed(body);
}

}  // namespace testing_support
