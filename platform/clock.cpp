#include "platform/clock.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/trace.h"

namespace platform {
namespace {

Clock* g_clock = nullptr;

// How often a wait that can be stopped looks at its condition when no signal wakes it.
constexpr long long kStopCheckMilliseconds = 10;

void RealSleep(int milliseconds) {
    if (milliseconds <= 0)
        return;
    timespec rest{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) == -1 && errno == EINTR) {
    }
}

long long RealNow() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Waits in slices, so that a condition set by a signal handler (which ends the slice at once)
// or by the passing of time is seen soon.
void RealSleepUnless(int milliseconds, const std::function<bool()>& stop) {
    const long long end = RealNow() + milliseconds;
    for (long long rest = milliseconds; rest > 0 && !stop(); rest = end - RealNow()) {
        const long long slice = std::min(rest, kStopCheckMilliseconds);
        timespec wait{0, slice * 1000000L};
        nanosleep(&wait, nullptr);
    }
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
    if (stop && stop())
        return;
    if (TraceSink* sink = ActiveTraceSink())
        sink->Wait(milliseconds);
    if (g_clock != nullptr) {
        g_clock->Sleep(milliseconds);
    } else if (stop) {
        RealSleepUnless(milliseconds, stop);
    } else {
        RealSleep(milliseconds);
    }
}

long long NowMilliseconds() {
    return g_clock != nullptr ? g_clock->Now() : RealNow();
}

int Poll(pollfd* fds, nfds_t count, int milliseconds) {
    if (g_clock != nullptr)
        return g_clock->Poll(fds, count, milliseconds);
    return ::poll(fds, count, milliseconds);
}

}  // namespace platform
