// kelo-cli from its arguments to its exit status.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"

namespace kelo::cli {

// The process's own standard output and standard error.
Console SystemConsole();

// Runs one command line (the arguments after the program name) and returns the exit status.
int RunCommandLine(const std::vector<std::string>& arguments, const Console& console);

// Runs a parsed command line; each host of a host list runs through here in a child process.
int RunInvocation(const Invocation& invocation, const Console& console);

// At the end of the program: closes standard output and, when a write to it or the close
// failed, says "kelo-cli: standard output: REASON" and turns a status of 0 into 1, as GNU
// tools do, so that a result lost on a full disk is no success.
int FinishStandardOutput(int status);

}  // namespace kelo::cli
