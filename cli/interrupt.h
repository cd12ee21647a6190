// Ctrl-C as the progress dialog's Cancel. The first SIGINT asks the dialog to cancel (its
// next pump turns the request into a Cancel, which ends the operation exactly as the Cancel
// button would); a second one ends the program at once with status 130.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

#include "platform/headless_cancel_dialog.h"

namespace kelo::cli {

// The terminal's progress dialog. A Ctrl-C that came before an operation showed the dialog
// (Show clears a pending request) still cancels that operation. A run may also be given a
// deadline (--timeout): once the clock reaches it, the dialog is cancelled as by Ctrl-C, and
// stays so for every later operation of the run.
class TerminalCancelDialog : public platform::HeadlessCancelDialog {
  public:
    void Show() override;
    void PumpMessages(bool socketSafe) override;
    bool IsCancelled() const override;

    // The run ends this long from now, in real time like the dialog's timer: the sockets'
    // waits do not go through the platform clock.
    void SetDeadline(std::chrono::milliseconds fromNow);
    bool PastDeadline() const;
    // True once Ctrl-C was pressed or the deadline passed: the run is to deliver nothing more.
    bool Stopped() const;

  private:
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

// Installs the SIGINT handler for the dialog while it lives, without SA_RESTART so that a
// blocked call returns and the pump runs.
class InterruptGuard {
  public:
    explicit InterruptGuard(platform::HeadlessCancelDialog& dialog);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// Ctrl-C during a host list. Each host runs in a process group of its own, so a Ctrl-C at the
// terminal reaches this process alone; the first one only wakes the pool (WakeDescriptor
// becomes readable), which passes one SIGINT to each running host (each then ends as Cancel
// ends it) and starts no new one. The second passes a SIGINT to every host still running,
// which ends them at once as their own second Ctrl-C does, and ends the program with 130.
class HostListInterruptGuard {
  public:
    HostListInterruptGuard();
    ~HostListInterruptGuard();
    HostListInterruptGuard(const HostListInterruptGuard&) = delete;
    HostListInterruptGuard& operator=(const HostListInterruptGuard&) = delete;

    // Readable after a Ctrl-C; Drain empties it.
    int WakeDescriptor() const;
    void Drain() const;

    // The running hosts' processes, for the second Ctrl-C (at most kMostJobs at once).
    static void Track(pid_t pid);
    static void Untrack(pid_t pid);
};

// True once Ctrl-C was pressed during this run.
bool Interrupted();

}  // namespace kelo::cli
