#include "cli/interrupt.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

#include "cli/command_line.h"

namespace kelo::cli {
namespace {

constexpr int kInterruptedStatus = 130;

// Read and written by the signal handler, so lock-free atomics only.
std::atomic<platform::HeadlessCancelDialog*> g_dialog{nullptr};
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<platform::HeadlessCancelDialog*>::is_always_lock_free);

struct sigaction g_previous {};

// The host list's wake-up pipe and its running hosts, read by the signal handler.
std::atomic<int> g_wakeWriteEnd{-1};
int g_wakePipe[2] = {-1, -1};
std::array<std::atomic<pid_t>, kMostJobs> g_hostRuns{};
static_assert(std::atomic<pid_t>::is_always_lock_free);

void EndAtOnce() {
    static const char kNewLine = '\n';
    ssize_t ignored = ::write(STDERR_FILENO, &kNewLine, 1);
    (void)ignored;
    ::_exit(kInterruptedStatus);
}

void OnHostListInterrupt(int) {
    const int savedErrno = errno;
    if (g_interrupts.fetch_add(1) > 0) {
        for (std::atomic<pid_t>& run : g_hostRuns) {
            if (const pid_t pid = run.load(); pid > 0)
                ::kill(pid, SIGINT);
        }
        EndAtOnce();
    }
    static const char kWake = 'x';
    ssize_t ignored = ::write(g_wakeWriteEnd.load(), &kWake, 1);
    (void)ignored;
    errno = savedErrno;
}

void InstallHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked poll returns and the pump runs
    ::sigaction(SIGINT, &action, &g_previous);
}

void OnInterrupt(int) {
    if (g_interrupts.fetch_add(1) > 0)
        EndAtOnce();
    if (platform::HeadlessCancelDialog* dialog = g_dialog.load())
        dialog->RequestCancel();
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

InterruptGuard::InterruptGuard(platform::HeadlessCancelDialog& dialog) {
    g_interrupts.store(0);
    g_dialog.store(&dialog);
    InstallHandler(OnInterrupt);
}

InterruptGuard::~InterruptGuard() {
    ::sigaction(SIGINT, &g_previous, nullptr);
    g_dialog.store(nullptr);
}

HostListInterruptGuard::HostListInterruptGuard() {
    g_interrupts.store(0);
    if (::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wakePipe[0] = g_wakePipe[1] = -1;  // Ctrl-C is then seen at the next event
    g_wakeWriteEnd.store(g_wakePipe[1]);
    InstallHandler(OnHostListInterrupt);
}

HostListInterruptGuard::~HostListInterruptGuard() {
    ::sigaction(SIGINT, &g_previous, nullptr);
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
    return g_interrupts.load() > 0;
}

}  // namespace kelo::cli
