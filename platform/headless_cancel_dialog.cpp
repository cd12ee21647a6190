#include "platform/headless_cancel_dialog.h"

#include "platform/trace.h"

namespace kelo::platform {

void HeadlessCancelDialog::Show() {
    if (visible_)
        return;
    visible_ = true;
    cancelled_ = false;
    cancelRequested_.store(false);
    pos_ = 0;
}

void HeadlessCancelDialog::Hide() {
    if (!visible_)
        return;
    visible_ = false;
    cancelled_ = false;
}

void HeadlessCancelDialog::SetRange(int upper) {
    range_ = upper;
    if (onProgress)
        onProgress(*this);
    PumpMessages(false);
}

void HeadlessCancelDialog::SetPos(int position) {
    pos_ = position;
    if (onProgress)
        onProgress(*this);
    PumpMessages(false);
}

void HeadlessCancelDialog::PumpMessages(bool /*socketSafe*/) {
    ++pumps_;
    if (cancelRequested_.exchange(false))
        Cancel();
    CheckTimer();
    if (onPump)
        onPump(*this);
}

bool HeadlessCancelDialog::IsCancelled() const {
    return cancelled_ || cancelRequested_.load();
}

void HeadlessCancelDialog::Cancel() {
    TraceCancel(CancelCause());
    ++cancels_;
    cancelled_ = true;
    visible_ = false;
}

void HeadlessCancelDialog::StartTimer(int milliseconds) {
    timedOut_ = false;
    timerRunning_ = true;
    deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
}

void HeadlessCancelDialog::StopTimer() {
    if (!timedOut_)
        timerRunning_ = false;
}

bool HeadlessCancelDialog::IsTimedOut() const {
    CheckTimer();
    return timedOut_;
}

void HeadlessCancelDialog::CheckTimer() const {
    if (timerRunning_ && std::chrono::steady_clock::now() >= deadline_) {
        timerRunning_ = false;
        timedOut_ = true;
    }
}

}  // namespace kelo::platform
