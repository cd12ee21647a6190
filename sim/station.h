// One machine on its address: its state, its event log and recorder, its listeners, and its
// restart.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/event_log.h"
#include "sim/listeners.h"
#include "sim/machine.h"
#include "sim/recorder.h"
#include "sim/server.h"

namespace kelo::sim {

struct Station {
    Station(MachinePlan plan, const EventLog& processLog, size_t index);

    // The descriptor the SNMP agent answers from; -1 when it runs without one.
    int AgentDescriptor() const;

    const size_t index;  // in the server's list, for the listeners' epoll tokens
    EventLog log;
    Recorder recorder;
    Machine machine;
    std::vector<Listener> listeners;
    size_t connections = 0;
    std::string pendingRestart;
    bool restarting = false;
    long long restartEndsMs = 0;
};

}  // namespace kelo::sim
