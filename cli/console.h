// Where kelo-cli writes, how its message lines begin, and the exit statuses it ends with.
#pragma once

#include <functional>
#include <string>

#include "cli/terminal.h"

namespace kelo::cli {

// What begins every message line kelo-cli writes on standard error.
inline constexpr char kMessagePrefix[] = "kelo-cli: ";

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
    // A discover whose JSON goes to a program draws no progress line.
    bool outIsTerminal = false;
};

// Writes one message line, "kelo-cli: TEXT", on the console's standard error.
inline void TellError(const Console& console, const std::string& text) {
    console.writeErr(kMessagePrefix + text + "\n");
}

// What follows a usage error that the help answers.
inline constexpr char kHelpHint[] = " (try 'kelo-cli --help')";

// Tells a usage error, with the pointer to the help unless hint says otherwise, and gives the
// exit status it ends with.
inline int UsageError(const Console& console, const std::string& error,
                      const char* hint = kHelpHint) {
    console.writeErr(kMessagePrefix + error + hint + "\n");
    return kExitUsage;
}

}  // namespace kelo::cli
