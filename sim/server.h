// The machine's network side: it binds the real ports of the machine type, runs one
// single-threaded poll() loop over listeners, connections and the SNMP socket, and stops
// on SIGINT or SIGTERM.
//
// A restart closes every listening TCP socket for the restart time, so that new connections
// are refused as by a machine that is booting, and SNMP requests go unanswered (the socket
// stays, so no ICMP error reaches the client). Connections already open stay open, which is
// what lets the LPD job that carried "BOOT_UpdateMain 0\n" go on to carry the image.
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

struct ServeResult {
    int exitCode = 0;   // 0 after a signal; 2 when a port could not be bound; 1 otherwise
    std::string error;  // what went wrong, for standard error
};

ServeResult Serve(Machine& machine, const std::string& bindAddress, int restartMs);

}  // namespace sim
