// kelo-cli from its arguments to its exit status: help, version, a resumed run, a host list,
// or one single run.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/standard_output.h"

namespace kelo::cli {

// Runs one command line (the arguments after the program name) and returns the exit status.
int RunCommandLine(const std::vector<std::string>& arguments, const Console& console);

// Runs a parsed command line; each host of a host list runs through here in a child process.
int RunInvocation(const Invocation& invocation, const Console& console);

}  // namespace kelo::cli
