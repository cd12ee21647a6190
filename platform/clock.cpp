#include "platform/clock.h"

#include <time.h>

#include <cerrno>
#include <chrono>

#include "platform/trace.h"

namespace platform {
namespace {

Clock* g_clock = nullptr;

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

}  // namespace

Clock* SetClock(Clock* clock) {
    Clock* previous = g_clock;
    g_clock = clock;
    return previous;
}

void Sleep(int milliseconds) {
    if (TraceSink* sink = ActiveTraceSink())
        sink->Wait(milliseconds);
    if (g_clock != nullptr) {
        g_clock->Sleep(milliseconds);
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
