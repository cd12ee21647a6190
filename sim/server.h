// The machines' network side. One process serves one machine per address: for each it binds
// the real ports of the machine type on that address, and one single-threaded epoll loop runs
// every listener, connection and SNMP socket of them all until SIGINT or SIGTERM.
//
// A restart closes the listening TCP sockets of that one machine for the restart time, so
// that new connections are refused as by a machine that is booting, and its SNMP requests go
// unanswered (the socket stays, so no ICMP error reaches the client). Connections already
// open stay open, which is what lets the LPD job that carried "BOOT_UpdateMain 0\n" go on to
// carry the image. The other machines of the process go on serving. A machine with the
// silent-after-restart fault stays in its first restart until the process ends.
#pragma once

#include <string>
#include <vector>

#include "sim/event_log.h"
#include "sim/machine.h"

namespace kelo::sim {

// One machine to serve: what it is (its address among it) and where it records what it gets.
struct MachinePlan {
    MachineConfig config;
    std::string recordDir;  // "" records nothing
};

struct ServeResult {
    int exitCode = 0;   // 0 after a signal; 2 when a port could not be bound; 1 otherwise
    std::string error;  // what went wrong, for standard error
};

// Serves the machines until a stop signal. Their events go to the log, each tagged with the
// address of the machine it concerns.
ServeResult Serve(std::vector<MachinePlan> plans, int restartMs, const EventLog& log);

}  // namespace kelo::sim
