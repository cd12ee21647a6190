// The protocol trace's reading of what machine types 1 and 2 take as plain data: the access
// line, bare commands, "PIPE MONITOR" and the command frame after it, the end-of-exchange
// byte, a parameter set after "PUT PARAM", the firmware image after "BOOT_UpdateMain 0\n".
// The LPD job carries these as its data files; USB and the parallel port carry them as they
// are, and answer with the device ID.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/trace.h"

namespace kelo {

// Reads the blocks of one link in order: what a block is may depend on the one before it.
class CommandReader {
  public:
    std::string Describe(const uint8_t* data, size_t size);

  private:
    enum class Expect { kCommand, kCommandFrame, kParameterSet, kFirmware };
    std::string DescribeText(const std::string& text);
    std::string DescribeFrame(const uint8_t* data, size_t size);

    Expect expect_ = Expect::kCommand;
};

// USB and the parallel port: commands to the machine, device IDs from it.
std::unique_ptr<platform::TraceDecoder> MakeLocalPortDecoder();

}  // namespace kelo
