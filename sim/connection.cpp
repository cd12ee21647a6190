#include "sim/connection.h"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "sim/socket_faults.h"

namespace kelo::sim {
namespace {

bool Transient(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

// A connection that waits to close after its last bytes still notices a peer that left.
bool PeerLeft(int fd) {
    char probe;
    const ssize_t got = recv(fd, &probe, 1, MSG_PEEK);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

}  // namespace

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const char* Connection::Receive(std::vector<uint8_t>& buffer) {
    if (closeAfterSend)
        return PeerLeft(fd) ? "peer-closed" : nullptr;
    const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
    if (got == 0)
        return "peer-closed";
    if (got < 0)
        return Transient(errno) ? nullptr : "error";
    Outbox box;
    session->Receive(buffer.data(), static_cast<size_t>(got), box);
    out += box.bytes;
    if (box.closeAfterSend)
        closeAfterSend = true;
    return nullptr;
}

const char* Connection::Send() {
    size_t length = out.size() - sent;
    const bool trickle = station->machine.GetFaults().slowTrickle;
    if (trickle)
        length = std::min(length, TricklePiece(trickleStep++));
    const ssize_t count = send(fd, out.data() + sent, length, MSG_NOSIGNAL);
    if (count < 0)
        return Transient(errno) ? nullptr : "error";
    sent += static_cast<size_t>(count);
    if (trickle)
        nextSendMs = NowMs() + kTricklePauseMs;
    if (sent == out.size()) {
        out.clear();
        sent = 0;
    }
    return nullptr;
}

uint32_t Connection::WantedEvents(long long now, long long& wakeMs) const {
    uint32_t events = closeAfterSend ? 0u : uint32_t{EPOLLIN};
    if (sent < out.size()) {
        if (nextSendMs <= now) {
            events |= EPOLLOUT;
        } else if (wakeMs < 0 || nextSendMs < wakeMs) {
            wakeMs = nextSendMs;
        }
    }
    return events;
}

void Connection::Close(int id, const char* reason) {
    if (dead)
        return;
    dead = true;
    session->Closed(reason);
    close(fd);  // which also takes it out of epoll
    fd = -1;
    --station->connections;
    station->log.Emit(
        Event("disconnect").Number("conn", id).Number("port", port).Text("reason", reason));
}

}  // namespace kelo::sim
