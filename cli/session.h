// One single run of kelo-cli: a command for one machine, or one that needs none, with its
// progress line, --progress-fd lines, messages, Cancel, deadline, traces and record.
#pragma once

#include <string>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/console.h"

namespace kelo::cli {

// Runs the invocation as one run and gives its exit status.
int RunSingle(const Invocation& invocation, const Console& console);

// The config commands: show the settings, or change them and save them through the
// connection's own save, whose failure (shown naming the profile) fails the command.
int RunConfig(const SessionParts& session, const Invocation& invocation);

// The text trace of --trace, else of KELO_TRACE; empty for none. Only a command that talks
// to a machine has traffic to trace, so no other creates a trace file.
std::string TextTracePath(const Invocation& invocation);

}  // namespace kelo::cli
