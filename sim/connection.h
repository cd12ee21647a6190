// One accepted TCP connection of a machine: the session of its port's protocol, the bytes
// that session has said and not yet sent, and how the connection ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/station.h"

namespace kelo::sim {

// The monotonic clock in milliseconds, which the loop's waits and the trickle's pauses use.
long long NowMs();

struct Connection {
    // Reads what arrived into buffer and hands it to the session; returns the reason the
    // connection ends (peer-closed, error), or nullptr while it goes on.
    const char* Receive(std::vector<uint8_t>& buffer);
    // Sends what is due (one piece under slow-trickle); the reason it ends, or nullptr.
    const char* Send();
    // The epoll events the connection waits for now: reading unless it only waits to close,
    // writing while it has bytes due. wakeMs is lowered to when a paused piece is due.
    uint32_t WantedEvents(long long now, long long& wakeMs) const;
    // Whatever the session had to say went out and it asked to close.
    bool Finished() const { return !dead && closeAfterSend && sent == out.size(); }
    // Ends the connection once: the session hears why, and the disconnect is logged.
    void Close(int id, const char* reason);

    int fd = -1;
    uint16_t port = 0;
    Station* station = nullptr;
    std::unique_ptr<Session> session;
    std::string out;
    size_t sent = 0;
    bool closeAfterSend = false;
    bool dead = false;
    long long nextSendMs = 0;
    size_t trickleStep = 0;
    uint32_t watched = 0;  // the epoll events asked for now
};

}  // namespace kelo::sim
