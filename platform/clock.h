// Every fixed wait of the program goes through Sleep, and every wait that watches sockets
// through Poll, so tests can record waits instead of spending them; Now reads the same
// clock.
#pragma once

#include <poll.h>

#include <functional>
#include <vector>

namespace kelo::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void Sleep(int milliseconds) = 0;
    virtual long long Now() = 0;
    virtual int Poll(pollfd* fds, nfds_t count, int milliseconds) = 0;
};

// Installs the process-wide clock and returns the previous one (nullptr is the real clock).
Clock* SetClock(Clock* clock);

// Blocks for the given time without handling any events; a stop (StopWaits) ends it.
void Sleep(int milliseconds);

// The same wait, ended early once stop() turns true: it is looked at before the wait (which is
// then skipped), whenever a signal arrives, and at least every 10 ms. A fake clock records the
// whole wait unless stop() was already true. An empty stop never ends it.
void Sleep(int milliseconds, const std::function<bool()>& stop);

// Stops every wait of the process: the one under way ends at once and later ones are skipped,
// until ResumeWaits. It is how a signal stops a run (async-signal-safe); the fake clock
// records the waits that began before it.
void StopWaits();
void ResumeWaits();
bool WaitsStopped();

// Runs once, in the first wait that a stop ends or skips, so that the owner of the run acts on
// the stop where the run was (kelo-cli's dialog turns it into its Cancel there). Empty: none.
void SetWaitStopHandler(std::function<void()> handler);

// Milliseconds on a clock that never goes back (a fake clock's: the sum of its waits).
long long NowMilliseconds();

// Waits as poll() does for events on the descriptors, at most the given time.
int Poll(pollfd* fds, nfds_t count, int milliseconds);

// Records each requested wait instead of spending it. While installed it replaces the real
// clock; onSleep, when set, runs at each wait so a test can change the world at that moment.
// Its time is the sum of the waits. Poll looks at the descriptors without waiting; when none
// is ready it records the wait as a Sleep and looks once more.
class FakeClock : public Clock {
  public:
    FakeClock() : previous_(SetClock(this)) {}
    ~FakeClock() override { SetClock(previous_); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void Sleep(int milliseconds) override {
        waits_.push_back(milliseconds);
        total_ += milliseconds;
        if (onSleep)
            onSleep(milliseconds);
    }
    long long Now() override { return total_; }
    int Poll(pollfd* fds, nfds_t count, int milliseconds) override {
        const int ready = ::poll(fds, count, 0);
        if (ready != 0 || milliseconds <= 0)
            return ready;
        Sleep(milliseconds);
        return ::poll(fds, count, 0);
    }

    const std::vector<int>& Waits() const { return waits_; }
    long long Total() const { return total_; }
    void Clear() {
        waits_.clear();
        total_ = 0;
    }

    std::function<void(int)> onSleep;

  private:
    Clock* previous_;
    std::vector<int> waits_;
    long long total_ = 0;
};

}  // namespace kelo::platform
