#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>

#include "platform/process_life.h"

namespace kelo::app {
namespace {

constexpr std::array<int, 2> kHandled = {SIGTERM, SIGHUP};

// Written by the signal handler, so lock-free atomics and a pipe only.
std::atomic<int> g_received{0};
std::atomic<int> g_wakeWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);
int g_wakePipe[2] = {-1, -1};
std::array<struct sigaction, kHandled.size()> g_previous{};
// Which signals have this handler; one ignored when kelo started (nohup) has none.
std::array<bool, kHandled.size()> g_installed{};

void OnStopSignal(int signalNumber) {
    int none = 0;
    g_received.compare_exchange_strong(none, signalNumber);
    static const char kWake = 'x';
    ssize_t ignored = ::write(g_wakeWriteEnd.load(), &kWake, 1);
    (void)ignored;
}

}  // namespace

StopSignals::StopSignals(std::function<void(int signalNumber)> onStop)
    : onStop_(std::move(onStop)) {
    g_received.store(0);
    if (::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeWriteEnd.store(g_wakePipe[1]);
        notifier_ = std::make_unique<QSocketNotifier>(g_wakePipe[0], QSocketNotifier::Read);
        connect(notifier_.get(), &QSocketNotifier::activated, this, &StopSignals::OnSignal);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // Qt's own calls go on; the pipe wakes its loop
    for (size_t i = 0; i < kHandled.size(); ++i) {
        g_installed[i] = !platform::IgnoredAtStart(kHandled[i]);
        if (g_installed[i])
            ::sigaction(kHandled[i], &action, &g_previous[i]);
    }
}

StopSignals::~StopSignals() {
    for (size_t i = 0; i < kHandled.size(); ++i) {
        if (g_installed[i])
            ::sigaction(kHandled[i], &g_previous[i], nullptr);
        g_installed[i] = false;
    }
    notifier_.reset();
    g_wakeWriteEnd.store(-1);
    for (int& end : g_wakePipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

int StopSignals::Received() {
    return g_received.load();
}

void StopSignals::OnSignal() {
    char buffer[16];
    while (::read(g_wakePipe[0], buffer, sizeof buffer) > 0) {
    }
    if (onStop_ && Received() != 0)
        onStop_(Received());
}

}  // namespace kelo::app
