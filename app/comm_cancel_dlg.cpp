#include "app/comm_cancel_dlg.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHideEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "app/dialog_parts.h"
#include "app/stop_signals.h"
#include "platform/trace.h"

namespace kelo::app {
namespace {

// Holds back the socket layer's notifications while it exists. Qt's ExcludeSocketNotifiers
// flag alone is not enough: the GLib event dispatcher, Qt's usual one on Linux, ignores it. A
// notification held back is not lost: its descriptor is still ready, so the next pump without
// a hold raises it again.
// The longest Show waits for the window system to map the window.
constexpr int kMapWaitMilliseconds = 500;

class SocketNotificationHold : public QObject {
  public:
    SocketNotificationHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~SocketNotificationHold() override { QCoreApplication::instance()->removeEventFilter(this); }
    SocketNotificationHold(const SocketNotificationHold&) = delete;
    SocketNotificationHold& operator=(const SocketNotificationHold&) = delete;

  protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        return event->type() == QEvent::SockAct || event->type() == QEvent::SockClose;
    }
};

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    // The bar across the top, Cancel centred below it; no system menu, not visible.
    setWindowTitle(tr("Communicating..."));
    setModal(false);

    progress_ = Named(new QProgressBar(this), "progress");
    progress_->setTextVisible(false);
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setMinimumWidth(progress_->fontMetrics().averageCharWidth() * 36);

    auto* cancel = Named(ConnectedButton(this, tr("Cancel"), &ProgressDialog::reject), "cancel");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(progress_);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The timer bounds an SNMP receive: it must not fire early, as a coarse timer may.
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &ProgressDialog::OnTimer);
}

ProgressDialog::~ProgressDialog() {
    SetBusyCursor(false);
}

// The window is painted before Show returns: the exchange that follows may let no event run
// for a while (a host name being looked up), and a window shown for the first time is only
// painted once the window system has mapped it. While it waits for that, input and sockets
// wait, and a Cancel left over from before (nobody can click a window not yet on the screen)
// is held until the next pump, so that it cannot end the operation before it has begun.
void ProgressDialog::Show() {
    heldCancel_.reset();
    show();
    mapping_ = true;
    const QDeadlineTimer mapped(kMapWaitMilliseconds);
    while (windowHandle() != nullptr && !windowHandle()->isExposed() && !mapped.hasExpired()) {
        const SocketNotificationHold hold;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::ExcludeSocketNotifiers);
        QThread::msleep(5);
    }
    mapping_ = false;
    repaint();
}

void ProgressDialog::Hide() {
    hide();
}

bool ProgressDialog::IsVisible() const {
    return isVisible();
}

void ProgressDialog::SetRange(int upper) {
    // Qt draws an empty range as a moving busy indicator; an operation with nothing to count
    // shows an empty bar instead.
    progress_->setRange(0, std::max(upper, 1));
    PumpMessages(false);
}

void ProgressDialog::SetPos(int position) {
    // Qt ignores a value outside the range; the bar stops at its ends instead.
    progress_->setValue(std::clamp(position, progress_->minimum(), progress_->maximum()));
    PumpMessages(false);
}

void ProgressDialog::PumpMessages(bool socketSafe) {
    if (const std::optional<std::string> cause = std::exchange(heldCancel_, std::nullopt))
        Cancel(*cause);
    // Socket-safe mode leaves socket notifications pending for the blocking call that waits for
    // them; everything else (painting, timers, clicks on any window) runs now.
    if (!socketSafe) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        const SocketNotificationHold hold;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::ExcludeSocketNotifiers);
    }
    // A signal that ends the program cancels the exchange as Cancel does, so its port closes.
    if (const int signalNumber = StopSignals::Received(); signalNumber != 0 && isVisible())
        Cancel(std::string("SIG") + ::sigabbrev_np(signalNumber));
}

void ProgressDialog::StartTimer(int milliseconds) {
    timedOut_ = false;
    timer_.start(milliseconds);
}

void ProgressDialog::StopTimer() {
    if (!timedOut_)
        timer_.stop();
}

void ProgressDialog::OnTimer() {
    timer_.stop();
    timedOut_ = true;
}

void ProgressDialog::SetBusyCursor(bool busy) {
    if (busy == busyCursor_)
        return;
    busyCursor_ = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void ProgressDialog::reject() {
    Cancel("");
}

void ProgressDialog::Cancel(const std::string& cause) {
    if (mapping_) {
        heldCancel_ = cause;
        return;
    }
    // Ending the dialog hides it, and that hide clears the flag; the flag is set afterwards so
    // that it outlives its own hide and stays set until the next operation shows the dialog.
    QDialog::reject();
    cancelled_ = true;
    platform::TraceCancel(cause);
}

void ProgressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Only the program's own show starts a new operation; the window system's (a restore
    // from minimised) changes nothing.
    if (event->spontaneous())
        return;
    cancelled_ = false;
    progress_->setValue(0);
}

void ProgressDialog::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;
    cancelled_ = false;
}

}  // namespace kelo::app
