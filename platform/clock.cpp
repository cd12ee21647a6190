#include "platform/clock.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>

#include "platform/trace.h"

namespace kelo::platform {
namespace {

Clock* g_clock = nullptr;

// How often a wait that can be stopped looks at its condition when no signal wakes it.
constexpr long long kStopCheckMilliseconds = 10;

long long RealNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::atomic<bool> g_waitsStopped{false};
static_assert(std::atomic<bool>::is_always_lock_free);
bool g_stopHandled = false;
std::function<void()> g_stopHandler;

bool WaitEnds(const std::function<bool()>& stop) {
    return WaitsStopped() || (stop && stop());
}

// The first wait that meets a stop tells the owner of the run, once.
void HandleStop() {
    if (!WaitsStopped() || g_stopHandled)
        return;
    g_stopHandled = true;
    if (g_stopHandler)
        g_stopHandler();
}

// Waits in slices, so that a stop set by a signal handler (which ends the slice at once) or
// by the passing of time is seen soon. Returns how long it waited.
long long RealSleepUnless(int milliseconds, const std::function<bool()>& stop) {
    const long long start = RealNow();
    const long long end = start + milliseconds;
    for (long long rest = milliseconds; rest > 0 && !WaitEnds(stop); rest = end - RealNow()) {
        const long long slice = std::min(rest, kStopCheckMilliseconds);
        timespec wait{0, slice * 1000000L};
        nanosleep(&wait, nullptr);
    }
    return RealNow() - start;
}

}  // namespace

Clock* SetClock(Clock* clock) {
    Clock* previous = g_clock;
    g_clock = clock;
    return previous;
}

void Sleep(int milliseconds) {
    Sleep(milliseconds, nullptr);
}

void Sleep(int milliseconds, const std::function<bool()>& stop) {
    if (WaitEnds(stop)) {
        HandleStop();
        return;
    }
    if (TraceSink* sink = ActiveTraceSink())
        sink->Wait(milliseconds);
    if (g_clock != nullptr) {
        g_clock->Sleep(milliseconds);
    } else if (milliseconds > 0) {
        const long long waited = RealSleepUnless(milliseconds, stop);
        if (TraceSink* sink = ActiveTraceSink(); sink != nullptr && waited < milliseconds)
            sink->WaitCutShort(milliseconds, waited);
    }
    HandleStop();
}

void StopWaits() {
    g_waitsStopped.store(true);
}

void ResumeWaits() {
    g_waitsStopped.store(false);
    g_stopHandled = false;
}

bool WaitsStopped() {
    return g_waitsStopped.load();
}

void SetWaitStopHandler(std::function<void()> handler) {
    g_stopHandler = std::move(handler);
}

long long NowMilliseconds() {
    return g_clock != nullptr ? g_clock->Now() : RealNow();
}

int Poll(pollfd* fds, nfds_t count, int milliseconds) {
    if (g_clock != nullptr)
        return g_clock->Poll(fds, count, milliseconds);
    return ::poll(fds, count, milliseconds);
}

}  // namespace kelo::platform
