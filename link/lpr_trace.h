// The protocol trace's reading of an LPD job (RFC 1179) as LpdSender sends it: the job
// command, a data-file subcommand before each block, the block, its end byte, and the
// machine's acknowledgements. The blocks are the machine's commands (CommandReader).
#pragma once

#include <memory>

#include "platform/trace.h"

namespace kelo {

std::unique_ptr<platform::TraceDecoder> MakeLpdDecoder();

}  // namespace kelo
