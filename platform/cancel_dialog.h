// The progress-and-cancel interface through which the core reports progress, lets pending
// events run while it blocks, learns of a Cancel, and times SNMP receives.
#pragma once

namespace kelo::platform {

class CancelDialog {
  public:
    virtual ~CancelDialog() = default;

    // Showing clears the cancelled flag and puts the bar to 0; hiding a visible dialog clears
    // the flag too. After a Cancel the dialog is already hidden, so the flag stays set until
    // the next Show.
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool IsVisible() const = 0;

    // Both setters let pending events run before they return, so a Cancel queued before the
    // call is seen when it returns.
    virtual void SetRange(int upper) = 0;
    virtual void SetPos(int position) = 0;

    // Lets pending events run. In socket-safe mode the socket layer's own notifications are
    // left alone for the blocking call that waits for them.
    virtual void PumpMessages(bool socketSafe) = 0;

    virtual bool IsCancelled() const = 0;

    // One-shot timer: StartTimer clears the timed-out flag and (re)starts the period; when it
    // fires the timer stops itself and sets the flag. StopTimer does nothing once it fired.
    virtual void StartTimer(int milliseconds) = 0;
    virtual void StopTimer() = 0;
    virtual bool IsTimedOut() const = 0;

    // The wait cursor shown while the connection waits for a restarted machine.
    virtual void SetBusyCursor(bool /*busy*/) {}
};

}  // namespace kelo::platform
