// The protocol trace's reading of the packet link of machine types 3 and 4: packet frames to
// the machine and reply frames from it, each of which may be split over several blocks
// (a reply's header and body arrive in separate receives), and the raw firmware stream.
#pragma once

#include <memory>

#include "platform/trace.h"

namespace kelo {

// Packet frames to the machine, reply frames from it.
std::unique_ptr<platform::TraceDecoder> MakePacketLinkDecoder();
// The firmware stream on 9100: raw data without framing.
std::unique_ptr<platform::TraceDecoder> MakeRawDataDecoder();

}  // namespace kelo
