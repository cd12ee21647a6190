// Every fixed wait of the program goes through Sleep, so tests can record waits instead of
// spending them.
#pragma once

#include <functional>
#include <vector>

namespace platform {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// Installs the process-wide clock and returns the previous one (nullptr is the real clock).
Clock* SetClock(Clock* clock);

// Blocks for the given time without handling any events.
void Sleep(int milliseconds);

// Records each requested wait instead of spending it. While installed it replaces the real
// clock; onSleep, when set, runs at each wait so a test can change the world at that moment.
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

}  // namespace platform
