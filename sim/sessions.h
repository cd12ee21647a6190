// The sessions of a machine's TCP ports, one per protocol, each in a file of its own: the LPD
// job of types 1 and 2, the packet frames of types 3 and 4, and the raw firmware image on
// TCP 9100. A session reads what its connection brings and says what goes back; the machine
// keeps what they share (the offer, the restarts, the recordings).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/machine.h"
#include "sim/recorder.h"

namespace kelo::sim {

std::unique_ptr<Session> MakeLpdSession(Machine& machine, int connection);
std::unique_ptr<Session> MakePacketSession(Machine& machine, int connection);
std::unique_ptr<Session> MakeRawImageSession(Machine& machine, int connection);

inline std::string_view AsText(const std::vector<uint8_t>& bytes) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// A packet command as the events name it: "00 01".
std::string CommandName(const uint8_t command[2]);

// Ends a firmware image with its connection and logs what arrived.
void FinishFirmware(Machine& machine, Recorder::Image& image, int connection, const char* via,
                    bool announced, const char* reason);

}  // namespace kelo::sim
