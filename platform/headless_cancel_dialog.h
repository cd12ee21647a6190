// A progress-and-cancel dialog without a window: the terminal's and the tests' stand-in.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "platform/cancel_dialog.h"

namespace kelo::platform {

// The timer is a deadline checked whenever events are pumped or the flag is read; Cancel
// can be raised from a signal handler through RequestCancel.
class HeadlessCancelDialog : public CancelDialog {
  public:
    void Show() override;
    void Hide() override;
    bool IsVisible() const override { return visible_; }
    void SetRange(int upper) override;
    void SetPos(int position) override;
    void PumpMessages(bool socketSafe) override;
    bool IsCancelled() const override;
    void StartTimer(int milliseconds) override;
    void StopTimer() override;
    bool IsTimedOut() const override;

    // What the Cancel button does: set the flag and hide without a notification.
    void Cancel();
    // How many Cancels the dialog has had.
    int CancelCount() const { return cancels_; }

    // Async-signal-safe: the next pump turns it into a Cancel.
    void RequestCancel() { cancelRequested_.store(true); }

    int Range() const { return range_; }
    int Pos() const { return pos_; }
    int PumpCount() const { return pumps_; }

    // Runs at each pump (after the pending cancel and timer are handled), so tests can script
    // a Cancel at the n-th pump and the terminal can redraw its progress line.
    std::function<void(HeadlessCancelDialog&)> onPump;
    // Runs after each SetRange or SetPos.
    std::function<void(HeadlessCancelDialog&)> onProgress;

  protected:
    // What gave the Cancel, for the trace; empty for a Cancel of the user's own.
    virtual std::string CancelCause() const { return ""; }

  private:
    void CheckTimer() const;

    bool visible_ = false;
    bool cancelled_ = false;
    std::atomic<bool> cancelRequested_{false};
    int range_ = 100;
    int pos_ = 0;
    int pumps_ = 0;
    int cancels_ = 0;
    mutable bool timerRunning_ = false;
    mutable bool timedOut_ = false;
    std::chrono::steady_clock::time_point deadline_{};
};

}  // namespace kelo::platform
