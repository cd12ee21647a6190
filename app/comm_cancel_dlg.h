// ProgressDialog: the small modeless window "Communicating..." with a progress bar and a
// Cancel button, shown while the program talks to a machine. Every exchange blocks the one
// thread; the dialog keeps the program responsive meanwhile: its setters let pending events
// run, so the windows repaint and a Cancel click is seen while the exchange waits.
#pragma once

#include <QDialog>
#include <QTimer>
#include <optional>
#include <string>

#include "platform/cancel_dialog.h"

class QHideEvent;
class QProgressBar;
class QShowEvent;

namespace kelo::app {

class ProgressDialog : public QDialog, public platform::CancelDialog {
    Q_OBJECT

  public:
    // The progress window. It starts hidden and modeless. An owner keeps the window usable
    // while the owner runs modally (Qt blocks input to windows outside a modal dialog).
    explicit ProgressDialog(QWidget* owner = nullptr);
    ~ProgressDialog() override;

    void Show() override;
    void Hide() override;
    bool IsVisible() const override;
    void SetRange(int upper) override;
    void SetPos(int position) override;
    void PumpMessages(bool socketSafe) override;
    bool IsCancelled() const override { return cancelled_; }
    void StartTimer(int milliseconds) override;
    void StopTimer() override;
    bool IsTimedOut() const override { return timedOut_; }
    void SetBusyCursor(bool busy) override;

  public slots:
    // The cancel command: the Cancel button, Esc, or closing the window.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void OnTimer();
    // The cancel command; cause says what gave it, for the trace (empty: the user).
    void Cancel(const std::string& cause);

    QProgressBar* progress_ = nullptr;  // control 1008
    QTimer timer_;                      // timer 1
    bool cancelled_ = false;
    bool timedOut_ = false;
    bool busyCursor_ = false;
    bool mapping_ = false;                   // Show waits for the window system
    std::optional<std::string> heldCancel_;  // a Cancel that came meanwhile, with its cause
};

}  // namespace kelo::app
