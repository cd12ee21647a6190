// kelo-cli from its arguments to its exit status.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/terminal.h"

namespace kelo::cli {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitHangUp = 129,      // SIGHUP ended the run
    kExitCancelled = 130,   // Ctrl-C (SIGINT) ended the run
    kExitTerminated = 143,  // SIGTERM ended the run
};

// Where a run writes: standard output for reports, settings and help; standard error for
// messages and the progress line.
struct Console {
    // Writes bytes to standard output; false, with errno set, when they could not be written.
    std::function<bool(const std::string& bytes)> writeOut;
    TerminalWriter writeErr;
    // The progress line is drawn only on a terminal.
    bool errIsTerminal = false;
};

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
