// Starting another program and waiting for it to end, as the report viewer does with the
// desktop's browser launcher: the program gets its words as they are (no shell runs, so nothing
// is expanded), and the wait asks for the end after each fixed pause without handling any
// events.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kelo::platform {

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts words[0] (looked up in PATH when it holds no "/") with the words as arguments,
    // this process's environment and working folder, and no open descriptors but standard
    // input, output and error. False, with Error() set, when it cannot be started.
    bool Start(const std::vector<std::string>& words);

    // Whether a started program has ended; collects its exit status when it has.
    bool HasEnded();

    // Waits until the program has ended: pauses for pollMilliseconds through platform::Sleep,
    // then asks, and again until it has ended.
    void WaitPolling(int pollMilliseconds);

    // Blocks until the program has ended, for short helper programs.
    void Wait();

    pid_t Pid() const { return pid_; }
    int Error() const { return error_; }
    // The status as waitpid gives it; meaningful once HasEnded() said so.
    int RawStatus() const { return status_; }

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
    int error_ = 0;
};

}  // namespace kelo::platform
