// Hears every block the client's channels report while it is installed: a test learns from it
// what the client sent or received, as it happens, without a writer or a file.
#pragma once

#include <functional>

#include "platform/trace.h"

namespace testing_support {

class TraceTap : public kelo::platform::TraceSink {
  public:
    using OnBlock = std::function<void(const kelo::platform::TraceBlock& block)>;
    explicit TraceTap(OnBlock onBlock)
        : onBlock_(std::move(onBlock)), previous_(kelo::platform::SetTraceSink(this)) {}
    ~TraceTap() override { kelo::platform::SetTraceSink(previous_); }
    TraceTap(const TraceTap&) = delete;
    TraceTap& operator=(const TraceTap&) = delete;

    void Bytes(const kelo::platform::TraceChannel& /*channel*/,
               const kelo::platform::TraceBlock& block) override {
        onBlock_(block);
    }

  private:
    OnBlock onBlock_;
    kelo::platform::TraceSink* previous_;
};

}  // namespace testing_support
