// The files one run of kelo-cli writes or reads besides the profile: the trace files, -o and
// the command's FILE. Two of them that are one file would destroy each other.
#pragma once

#include <optional>
#include <string>

#include "cli/command_line.h"

namespace kelo::cli {

// True when both paths name one file: the same device and inode where both exist, else the
// same path once "." and ".." and the links of the folders are resolved.
bool IsSameFile(const std::string& a, const std::string& b);

// The usage error when two files of the run are one, such as "--trace and -o name the same
// file"; nullopt when they are all apart. textTracePath is the text trace the run writes
// ("" for none, "-" for standard error); traceSource names where it came from ("--trace" or
// "KELO_TRACE").
std::optional<std::string> SharedFileError(const Invocation& invocation,
                                           const std::string& textTracePath,
                                           const std::string& traceSource);

}  // namespace kelo::cli
