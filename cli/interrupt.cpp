#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace kelo::cli {
namespace {

constexpr int kInterruptedStatus = 130;

// Read and written by the signal handler, so lock-free atomics only.
std::atomic<platform::HeadlessCancelDialog*> g_dialog{nullptr};
std::atomic<int> g_interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<platform::HeadlessCancelDialog*>::is_always_lock_free);

struct sigaction g_previous {};

void OnInterrupt(int) {
    if (g_interrupts.fetch_add(1) > 0) {
        static const char kNewLine = '\n';
        ssize_t ignored = ::write(STDERR_FILENO, &kNewLine, 1);
        (void)ignored;
        ::_exit(kInterruptedStatus);
    }
    if (platform::HeadlessCancelDialog* dialog = g_dialog.load())
        dialog->RequestCancel();
}

}  // namespace

void TerminalCancelDialog::Show() {
    HeadlessCancelDialog::Show();
    if (Interrupted())
        RequestCancel();
}

InterruptGuard::InterruptGuard(platform::HeadlessCancelDialog& dialog) {
    g_interrupts.store(0);
    g_dialog.store(&dialog);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked poll returns and the pump runs
    ::sigaction(SIGINT, &action, &g_previous);
}

InterruptGuard::~InterruptGuard() {
    ::sigaction(SIGINT, &g_previous, nullptr);
    g_dialog.store(nullptr);
}

bool Interrupted() {
    return g_interrupts.load() > 0;
}

}  // namespace kelo::cli
