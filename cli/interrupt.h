// The signals that stop a run: SIGINT (Ctrl-C), SIGTERM (timeout, systemctl stop, kill) and
// SIGHUP (a closed terminal or SSH session). The first one stops the run as the progress
// dialog's Cancel does: the dialog is asked to cancel (its next pump turns the request into a
// Cancel, which ends the operation exactly as the Cancel button would) and every wait ends at
// once, so the ports are closed, nothing half made is delivered, and the trace ends whole.
// The same signal a second time ends the program at once with that signal's status. A signal
// that was ignored when the program started (nohup, a script's background job) stays ignored.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/headless_cancel_dialog.h"

namespace kelo::cli {

// The terminal's progress dialog. A stop that came before an operation showed the dialog
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
    // True once a signal stopped the run or the deadline passed: it is to deliver nothing more.
    bool Stopped() const;

  protected:
    std::string CancelCause() const override;

  private:
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

// Handles the stop signals for the dialog while it lives, without SA_RESTART so that a
// blocked call returns and the pump runs; every wait of the run ends when one comes.
class InterruptGuard {
  public:
    explicit InterruptGuard(TerminalCancelDialog& dialog);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
};

// The stop signals during a host list. Each host runs in a process group of its own, so a
// Ctrl-C at the terminal reaches this process alone; the first signal only wakes the pool
// (WakeDescriptor becomes readable), which passes it on to each running host (each then ends
// as its own run does) and starts no new one. The same signal again passes it to every host
// still running, which ends them at once, and ends the program with that signal's status.
class HostListInterruptGuard {
  public:
    HostListInterruptGuard();
    ~HostListInterruptGuard();
    HostListInterruptGuard(const HostListInterruptGuard&) = delete;
    HostListInterruptGuard& operator=(const HostListInterruptGuard&) = delete;

    // Readable after a signal; Drain empties it.
    int WakeDescriptor() const;
    void Drain() const;

    // The running hosts' processes, for the repeated signal (at most kMostJobs at once).
    static void Track(pid_t pid);
    static void Untrack(pid_t pid);
};

// True once a stop signal came during this run.
bool Interrupted();
// The signal that stopped this run (SIGINT, SIGTERM or SIGHUP); 0 while none did.
int StopSignal();
// "signal 15 (Terminated)".
std::string SignalText(int signalNumber);
// The signals a run handles, to reset in a forked child and to block around the fork.
void AddStopSignals(sigset_t& set);

}  // namespace kelo::cli
