// A program started by a test or a benchmark, with its standard output and standard error
// collected apart on threads of their own, so the caller sees exactly what a shell would.
// Every wait is bounded, and the child is killed when its owner ends or dies.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kelo::test {

class ChildProcess {
  public:
    // Starts argv[0] (a full path) with this process's environment plus the extra
    // "NAME=value" entries, which win over the inherited ones. When standardOutput names a
    // file (such as /dev/full), the child writes its standard output there instead.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const std::vector<std::string>& extraEnv = {},
                          const std::string& standardOutput = "");
    // Kills the child if it still runs.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running() const { return pid_ > 0 && !reaped_; }
    pid_t Pid() const { return pid_; }

    // Sends the signal while the child runs.
    void Signal(int signalNumber);

    // Waits up to limitMs until the standard output satisfies `holds`; false after the limit
    // or once both streams ended without it.
    bool WaitForStandardOutput(const std::function<bool(const std::string&)>& holds, int limitMs);
    // Waits up to limitMs until either stream holds the text.
    bool WaitForOutput(const std::string& text, int limitMs);

    // Waits up to limitMs for the end; the exit status, 128 + signal when a signal ended it,
    // or -1 when it did not start or had to be killed. Both streams are whole afterwards.
    int Wait(int limitMs = 10000);
    // Sends the signal, then waits as Wait does.
    int Stop(int signalNumber = SIGTERM, int limitMs = 10000);

    std::string Out() const;
    std::string Err() const;
    // Both streams as their bytes arrived.
    std::string Output() const;

  private:
    struct Stream {
        std::string text;
        bool ended = true;
        std::thread reader;
    };

    void Collect(int fd, Stream& stream);
    void Reap(int status);
    void JoinReaders();

    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Stream out_;
    Stream err_;
    std::string both_;
};

}  // namespace kelo::test
