#include "cli/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "cli/terminal.h"
#include "platform/atomic_file.h"
#include "platform/system.h"

namespace kelo::cli {

Console StandardOutput::MakeConsole() {
    Console console;
    // One write() a call, so that a JSON line reaches a pipe whole. After a failure nothing more
    // is written, so that no result follows a gap; the failure is told at the end.
    console.writeOut = [this](const std::string& bytes) {
        if (error_ == 0 && platform::WriteWhole(STDOUT_FILENO, bytes))
            return true;
        if (error_ == 0)
            error_ = errno;
        errno = error_;
        return false;
    };
    console.writeErr = WriteStandardError;
    console.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    console.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
    return console;
}

int StandardOutput::Finish(int status) {
    // Nothing is buffered; the close reports what a file system could only tell then. A
    // standard output that was never open and never written to is no failure.
    if (error_ == 0 && ::close(STDOUT_FILENO) != 0 && errno != EBADF && errno != EINTR)
        error_ = errno;
    if (error_ == 0)
        return status;
    WriteStandardError(
        platform::FileErrorText(std::string(kMessagePrefix) + "standard output", error_) + "\n");
    return status == kExitSuccess ? kExitFailed : status;
}

}  // namespace kelo::cli
