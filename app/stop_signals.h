// SIGTERM (a session's logout, kill) and SIGHUP (a closed terminal) end kelo as its own close
// does: a running exchange is cancelled as its Cancel button cancels it, so its port is closed,
// and then every window's loop ends, so the settings are saved and the browser page removed.
// A signal that was ignored when kelo started (nohup) stays ignored.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace kelo::app {

class StopSignals : public QObject {
    Q_OBJECT

  public:
    // Handles SIGTERM and SIGHUP while it lives; onStop runs in the event loop once one came.
    explicit StopSignals(std::function<void(int signalNumber)> onStop);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that came, 0 while none did. The progress window reads it at each pump, also
    // where socket notifications (and so this object's) are held back.
    static int Received();

  private:
    void OnSignal();

    std::function<void(int)> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace kelo::app
