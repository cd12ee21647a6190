// Handshakes between a test's threads: one side counts what happened, the other waits until
// the count is reached, so that no test orders its threads by sleeping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testing_support {

// A count that only grows; Open() is the count 1, for a one-time event.
class Latch {
  public:
    void Add(long long n) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            count_ += n;
        }
        changed_.notify_all();
    }
    void Open() { Add(1); }
    bool IsOpen() const { return Count() > 0; }
    long long Count() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    // Waits until the count is at least target. The limit only keeps a broken test from
    // hanging: false once it passed.
    bool WaitFor(long long target = 1, int limitMs = 10000) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                                 [&] { return count_ >= target; });
    }

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    long long count_ = 0;
};

}  // namespace testing_support
