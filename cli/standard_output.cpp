#include "cli/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "cli/terminal.h"
#include "platform/system.h"

namespace kelo::cli {
namespace {

// The first failed write to the process's standard output (an errno value), or 0.
int g_standardOutputError = 0;

}  // namespace

Console SystemConsole() {
    Console console;
    // One write() a call, so that a JSON line reaches a pipe whole. After a failure nothing more
    // is written, so that no result follows a gap; the failure is told at the end.
    console.writeOut = [](const std::string& bytes) {
        if (g_standardOutputError == 0 && WriteWhole(STDOUT_FILENO, bytes))
            return true;
        if (g_standardOutputError == 0)
            g_standardOutputError = errno;
        errno = g_standardOutputError;
        return false;
    };
    console.writeErr = WriteStandardError;
    console.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    console.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    return console;
}

int FinishStandardOutput(int status) {
    // Nothing is buffered; the close reports what a file system could only tell then. A
    // standard output that was never open and never written to is no failure.
    if (g_standardOutputError == 0 && ::close(STDOUT_FILENO) != 0 && errno != EBADF &&
        errno != EINTR) {
        g_standardOutputError = errno;
    }
    if (g_standardOutputError == 0)
        return status;
    WriteStandardError(platform::FileErrorText(std::string(kMessagePrefix) + "standard output",
                                               g_standardOutputError) +
                       "\n");
    return status == kExitSuccess ? kExitFailed : status;
}

void ForgetStandardOutputError() {
    g_standardOutputError = 0;
}

}  // namespace kelo::cli
