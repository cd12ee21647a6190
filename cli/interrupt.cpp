#include "cli/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "cli/command_line.h"
#include "platform/clock.h"
#include "platform/process_life.h"

namespace kelo::cli {
namespace {

constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

// Read and written by the signal handlers, so lock-free atomics only.
std::atomic<TerminalCancelDialog*> g_dialog{nullptr};
std::atomic<int> g_stopSignal{0};
std::atomic<unsigned> g_signalsSeen{0};  // a bit for each signal number that came
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<unsigned>::is_always_lock_free);
static_assert(std::atomic<TerminalCancelDialog*>::is_always_lock_free);

std::array<struct sigaction, kStopSignals.size()> g_previous{};
// Which of the stop signals have a handler of this program; one ignored at start has none.
std::array<bool, kStopSignals.size()> g_handled{};

// The host list's wake-up pipe and its running hosts, read by the signal handler.
std::atomic<int> g_wakeWriteEnd{-1};
int g_wakePipe[2] = {-1, -1};
std::array<std::atomic<pid_t>, kMostJobs> g_hostRuns{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void EndAtOnce(int signalNumber) {
    static const char kNewLine = '\n';
    ssize_t ignored = ::write(STDERR_FILENO, &kNewLine, 1);
    (void)ignored;
    ::_exit(platform::SignalExitStatus(signalNumber));
}

// Notes the signal; true when the same signal came before, which ends the program at once.
bool NoteSignal(int signalNumber) {
    const unsigned bit = 1u << signalNumber;
    const bool repeated = (g_signalsSeen.fetch_or(bit) & bit) != 0;
    int none = 0;
    g_stopSignal.compare_exchange_strong(none, signalNumber);
    return repeated;
}

void OnHostListSignal(int signalNumber) {
    const int savedErrno = errno;
    if (NoteSignal(signalNumber)) {
        // Each host's own process group, so nothing a host started outlives it.
        for (std::atomic<pid_t>& run : g_hostRuns) {
            if (const pid_t pid = run.load(); pid > 0)
                ::kill(-pid, signalNumber);
        }
        EndAtOnce(signalNumber);
    }
    static const char kWake = 'x';
    ssize_t ignored = ::write(g_wakeWriteEnd.load(), &kWake, 1);
    (void)ignored;
    errno = savedErrno;
}

void OnRunSignal(int signalNumber) {
    // A host's run whose list is gone ends through its Cancel whatever comes, so that it keeps
    // its record: the signal of its parent's end may follow the one its parent passed on.
    if (NoteSignal(signalNumber) && !platform::ParentGone())
        EndAtOnce(signalNumber);
    platform::StopWaits();
    if (TerminalCancelDialog* dialog = g_dialog.load())
        dialog->RequestCancel();
}

void InstallHandlers(void (*handler)(int)) {
    g_stopSignal.store(0);
    g_signalsSeen.store(0);
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    AddStopSignals(action.sa_mask);  // one handler at a time
    action.sa_flags = 0;             // no SA_RESTART: a blocked poll returns and the pump runs
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        // A signal ignored when the program started (nohup) stays ignored.
        g_handled[i] = !platform::IgnoredAtStart(kStopSignals[i]);
        if (g_handled[i])
            ::sigaction(kStopSignals[i], &action, &g_previous[i]);
    }
    // A host's run starts with the stop signals blocked, so that one that came before its
    // handlers were in place (its list stopped, or ended) is acted on here.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    AddStopSignals(stopSignals);
    ::sigprocmask(SIG_UNBLOCK, &stopSignals, nullptr);
}

void RestoreHandlers() {
    for (size_t i = 0; i < kStopSignals.size(); ++i) {
        if (g_handled[i])
            ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
        g_handled[i] = false;
    }
}

}  // namespace

void TerminalCancelDialog::Show() {
    HeadlessCancelDialog::Show();
    if (Stopped())
        RequestCancel();
}

void TerminalCancelDialog::PumpMessages(bool socketSafe) {
    // The deadline turns into a Cancel where Ctrl-C would: at the pump.
    if (PastDeadline() && !HeadlessCancelDialog::IsCancelled())
        RequestCancel();
    HeadlessCancelDialog::PumpMessages(socketSafe);
}

bool TerminalCancelDialog::IsCancelled() const {
    return HeadlessCancelDialog::IsCancelled() || PastDeadline();
}

void TerminalCancelDialog::SetDeadline(std::chrono::milliseconds fromNow) {
    deadline_ = std::chrono::steady_clock::now() + fromNow;
}

bool TerminalCancelDialog::PastDeadline() const {
    return deadline_ && std::chrono::steady_clock::now() >= *deadline_;
}

bool TerminalCancelDialog::Stopped() const {
    return Interrupted() || PastDeadline();
}

std::string TerminalCancelDialog::CancelCause() const {
    if (const int signalNumber = StopSignal(); signalNumber != 0) {
        const char* name = ::sigabbrev_np(signalNumber);
        return name != nullptr ? std::string("SIG") + name : SignalText(signalNumber);
    }
    return PastDeadline() ? "timed out" : "";
}

InterruptGuard::InterruptGuard(TerminalCancelDialog& dialog) {
    platform::ResumeWaits();
    g_dialog.store(&dialog);
    // The first wait that a signal ends turns it into the dialog's Cancel there and then, so
    // the trace shows the Cancel where the run stopped even when no pump follows.
    platform::SetWaitStopHandler([&dialog] { dialog.PumpMessages(false); });
    InstallHandlers(OnRunSignal);
}

InterruptGuard::~InterruptGuard() {
    RestoreHandlers();
    g_dialog.store(nullptr);
    platform::SetWaitStopHandler(nullptr);
    platform::ResumeWaits();
}

HostListInterruptGuard::HostListInterruptGuard() {
    if (::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wakePipe[0] = g_wakePipe[1] = -1;  // a signal is then seen at the next event
    g_wakeWriteEnd.store(g_wakePipe[1]);
    InstallHandlers(OnHostListSignal);
}

HostListInterruptGuard::~HostListInterruptGuard() {
    RestoreHandlers();
    g_wakeWriteEnd.store(-1);
    for (int& end : g_wakePipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

int HostListInterruptGuard::WakeDescriptor() const {
    return g_wakePipe[0];
}

void HostListInterruptGuard::Drain() const {
    char buffer[64];
    while (g_wakePipe[0] >= 0 && ::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
    }
}

void HostListInterruptGuard::Track(pid_t pid) {
    for (std::atomic<pid_t>& run : g_hostRuns) {
        pid_t empty = 0;
        if (run.compare_exchange_strong(empty, pid))
            return;
    }
}

void HostListInterruptGuard::Untrack(pid_t pid) {
    for (std::atomic<pid_t>& run : g_hostRuns) {
        pid_t tracked = pid;
        if (run.compare_exchange_strong(tracked, 0))
            return;
    }
}

bool Interrupted() {
    return StopSignal() != 0;
}

int StopSignal() {
    return g_stopSignal.load();
}

std::string SignalText(int signalNumber) {
    const char* description = ::strsignal(signalNumber);
    return "signal " + std::to_string(signalNumber) +
           (description != nullptr ? std::string(" (") + description + ")" : "");
}

void AddStopSignals(sigset_t& set) {
    for (int signalNumber : kStopSignals)
        sigaddset(&set, signalNumber);
}

}  // namespace kelo::cli
