#include "sim/station.h"

#include <utility>

namespace kelo::sim {

Station::Station(MachinePlan plan, const EventLog& processLog, size_t index)
    : index(index),
      log(processLog.ForAddress(plan.config.address)),
      recorder(std::move(plan.recordDir)),
      machine(std::move(plan.config), log, recorder) {
    for (const PortPlan& port : PortsOf(machine.Type())) {
        listeners.push_back({port, -1, -1, ""});
        const std::string broadcast = port.udp ? BroadcastAddressOf(machine.Address()) : "";
        if (!broadcast.empty())
            listeners.push_back({{port.port, true, port.role, true}, -1, -1, broadcast});
    }
}

int Station::AgentDescriptor() const {
    for (const Listener& listener : listeners) {
        if (listener.plan.udp && listener.broadcast.empty())
            return listener.fd;
    }
    return -1;
}

}  // namespace kelo::sim
