// The ports a machine listens on: which ports each type has, binding them on the machine's
// address (and on its network's broadcast address for SNMP), and the open files they take.
#pragma once

#include <netinet/in.h>
#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/machine.h"

namespace kelo::sim {

struct PortPlan {
    uint16_t port;
    bool udp;
    PortRole role;
    // A port the machine can do without: types 3 and 4 ran without their SNMP agent before
    // they had one, and still do where UDP 161 cannot be bound.
    bool optional;
};

std::vector<PortPlan> PortsOf(int machineType);

struct Listener {
    PortPlan plan;
    int fd = -1;
    int filler = -1;  // never-accept: our own connection that fills its accept queue
    // The SNMP agent's ear on its network's broadcast address: it receives what is sent
    // there, and the answers go out from the machine's own address.
    std::string broadcast;
};

// The broadcast address of the interface network that holds the address, as a real machine
// on it hears it: the one the system gives, or the address with every host bit set when it
// gives none or the address itself. Empty on loopback, on a /31 or /32, or off every network.
std::string BroadcastAddressOf(const std::string& dotted);

// Makes room for the open files the machines need: the limit is raised to the hard limit
// when it is lower than that; false when even the hard limit is too low.
bool EnsureOpenFiles(rlim_t needed, std::string& error);

// Binds one port of the machine on machineAddress (or on the listener's broadcast address)
// and hands the socket to watch, or, when the port never accepts, fills its accept queue
// instead. Returns 0, or the errno of what failed, with nothing left open.
int OpenListener(Listener& listener, const std::string& machineAddress, bool neverAccepts,
                 const std::function<bool(int fd)>& watch);

void CloseListener(Listener& listener);

// Keeps the socket in its slot, or closes it when setting it up failed; the failure.
int KeepUnlessFailed(int fd, int failure, int& slot);

std::string BindError(const PortPlan& plan, const std::string& address, int failure);

// Types 3 and 4 whose SNMP agent could not be bound: one line on standard error for all.
struct MissingAgents {
    std::string firstAddress;
    int failure = 0;
    size_t count = 0;

    void Add(const std::string& address, int error);
    void Report() const;
};

}  // namespace kelo::sim
