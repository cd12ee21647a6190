// Runs kelo-sim as a child process for tests and benchmarks: starts it with arguments, waits
// until it reports that it is listening, reads its JSON event lines, and stops it with SIGTERM.
// Tests that start a machine of type 1 or 2 (ports 515 and 161) or any machine on its
// fixed ports must be NETNS tests.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace sim_testing {

// The kelo-sim binary of this build.
const char* SimPath();

class SimProcess {
  public:
    // Starts kelo-sim with the arguments (without the program name) and waits up to
    // limitMs until its "listening" event arrives or it ends.
    explicit SimProcess(const std::vector<std::string>& arguments, int limitMs = 10000);
    // Stops it with SIGTERM if it is still running.
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // True once the "listening" event has arrived.
    bool Listening() const;
    pid_t Pid() const { return child_.Pid(); }

    // Every event line so far, in order.
    std::vector<std::string> Events() const;
    // The event lines of that name so far.
    std::vector<std::string> EventsNamed(const std::string& name) const;
    // Waits up to limitMs until there are count events of that name; returns the last of
    // them, or "" when they did not come (or the machine ended first).
    std::string WaitForEvent(const std::string& name, int count = 1, int limitMs = 10000);

    // Sends the signal (SIGTERM unless told) and waits up to limitMs for the end; returns
    // the exit code, 128 + signal when a signal ended it, or -1 when it had to be killed.
    int Stop(int signalNumber = 15, int limitMs = 10000);

    // What it wrote to standard error so far.
    std::string StandardError() const { return child_.Err(); }

  private:
    kelo::test::ChildProcess child_;
};

// Runs kelo-sim to its end, for arguments that make it stop at once (errors, --help).
struct SimRun {
    int exitCode = -1;
    std::string standardOutput;
    std::string standardError;
};
SimRun RunSimToEnd(const std::vector<std::string>& arguments, int limitMs = 10000);

// One field of an event line: a string value with each code point back to its byte, a
// number or true/false as written; "" when the key is absent or the line is no JSON object.
std::string EventField(const std::string& line, const std::string& key);

}  // namespace sim_testing
