#include "testsupport/full_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace testing_support {

FullListener::FullListener(uint16_t port, const std::string& address) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    socklen_t size = sizeof where;
    const int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&where), size) != 0 ||
        ::listen(listenFd_, 1) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&where), &size) != 0) {
        return;
    }
    port_ = ntohs(where.sin_port);
    // One connection at a time, each begun only while the queue still has room, so that none
    // of them is dropped: the kernel counts the queue full once it holds more than its limit.
    unsigned queued = 0;
    unsigned limit = 0;
    while (QueueCounts(queued, limit) && queued <= limit) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        fillers_.push_back(filler);
        ::connect(filler, reinterpret_cast<sockaddr*>(&where), sizeof where);
        if (!WaitUntilQueued(queued + 1))
            return;
    }
    full_ = queued > limit;
}

FullListener::~FullListener() {
    for (int filler : fillers_)
        ::close(filler);
    if (listenFd_ >= 0)
        ::close(listenFd_);
}

bool FullListener::QueueCounts(unsigned& queued, unsigned& limit) const {
    // For a listening socket the kernel reports the accept queue's length and limit here.
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(listenFd_, IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return false;
    queued = info.tcpi_unacked;
    limit = info.tcpi_sacked;
    return true;
}

bool FullListener::WaitUntilQueued(unsigned count) const {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    unsigned queued = 0;
    unsigned limit = 0;
    while (QueueCounts(queued, limit) && queued < count) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return queued >= count;
}

}  // namespace testing_support
