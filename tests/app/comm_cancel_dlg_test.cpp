// The progress-and-cancel window: Cancel reaching a blocked operation through the setters,
// the cancelled flag across hide and show, the one-shot timer and the socket-safe pump.
#include "app/comm_cancel_dlg.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTest>
#include <functional>

#include "app/stop_signals.h"
#include "tests/app/named_child.h"

namespace {

using kelo::app::Child;

using kelo::app::ProgressDialog;
using kelo::app::StopSignals;

// Pumps events until the condition holds or the time is up; true when it held.
bool PumpUntil(const std::function<bool()>& condition, int milliseconds) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// The two ways a user cancels, queued so that they wait behind the running operation.
enum class QueuedCancel { Click, EscKey };
// The two setters an operation calls between its steps.
enum class Setter { Pos, Range };

class QueuedCancelTest : public ::testing::TestWithParam<std::tuple<QueuedCancel, Setter>> {};

TEST_P(QueuedCancelTest, IsSeenWhenTheSetterReturns) {
    const auto [cancel, setter] = GetParam();
    ProgressDialog dialog;
    dialog.Show();
    if (cancel == QueuedCancel::Click) {
        QMetaObject::invokeMethod(Child<QPushButton>(dialog, "cancel"), "click",
                                  Qt::QueuedConnection);
    } else {
        QCoreApplication::postEvent(
            &dialog, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    }
    EXPECT_FALSE(dialog.IsCancelled());

    if (setter == Setter::Pos) {
        dialog.SetPos(10);
    } else {
        dialog.SetRange(50);
    }
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());
}

INSTANTIATE_TEST_SUITE_P(CommCancelDlg, QueuedCancelTest,
                         ::testing::Combine(::testing::Values(QueuedCancel::Click,
                                                              QueuedCancel::EscKey),
                                            ::testing::Values(Setter::Pos, Setter::Range)));

TEST(CommCancelDlg, CancelStaysSetWhileHiddenAndClearsOnTheNextShow) {
    ProgressDialog dialog;
    dialog.SetPos(0);
    dialog.SetRange(100);
    dialog.Show();
    dialog.SetPos(60);
    QTest::mouseClick(Child<QPushButton>(dialog, "cancel"), Qt::LeftButton);
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());

    // The operation notices, hides the (already hidden) window and ends: the flag stays.
    dialog.Hide();
    dialog.SetPos(70);
    EXPECT_TRUE(dialog.IsCancelled());

    // The next operation shows the window: a fresh start with the bar at 0.
    dialog.Show();
    EXPECT_FALSE(dialog.IsCancelled());
    EXPECT_EQ(Child<QProgressBar>(dialog, "progress")->value(), 0);
    EXPECT_EQ(Child<QProgressBar>(dialog, "progress")->maximum(), 100);
}

TEST(CommCancelDlg, EscInTheWindowCancels) {
    ProgressDialog dialog;
    dialog.Show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());
}

TEST(CommCancelDlg, ShowDoesNotRunPendingEvents) {
    // A Cancel left over from before the show must not end the operation that shows it.
    ProgressDialog dialog;
    QMetaObject::invokeMethod(Child<QPushButton>(dialog, "cancel"), "click", Qt::QueuedConnection);
    dialog.Show();
    EXPECT_FALSE(dialog.IsCancelled());
    EXPECT_TRUE(dialog.IsVisible());
    dialog.PumpMessages(false);
    EXPECT_TRUE(dialog.IsCancelled());
}

// Counts the paints of the widget it watches.
class PaintCount : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

TEST(CommCancelDlg, IsPaintedBeforeTheExchangeBegins) {
    ProgressDialog dialog;
    PaintCount count;
    dialog.installEventFilter(&count);
    dialog.Show();
    EXPECT_GE(count.paints, 1);
}

struct BarCase {
    int upper;
    int position;
    int expectedValue;
};

class BarTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(BarTest, PositionStaysInsideTheRange) {
    const BarCase& c = GetParam();
    ProgressDialog dialog;
    dialog.SetRange(c.upper);
    dialog.SetPos(c.position);
    EXPECT_EQ(Child<QProgressBar>(dialog, "progress")->value(), c.expectedValue);
    // Never Qt's busy indicator, which an empty range would draw.
    EXPECT_GT(Child<QProgressBar>(dialog, "progress")->maximum(),
              Child<QProgressBar>(dialog, "progress")->minimum());
}

INSTANTIATE_TEST_SUITE_P(CommCancelDlg, BarTest,
                         ::testing::Values(BarCase{100, 40, 40}, BarCase{100, 150, 100},
                                           BarCase{100, -5, 0}, BarCase{0, 0, 0},
                                           BarCase{2000000000, 1999999999, 1999999999}));

TEST(CommCancelDlg, TimerFiresOnceAfterItsPeriod) {
    ProgressDialog dialog;
    QElapsedTimer clock;
    clock.start();
    dialog.StartTimer(200);
    EXPECT_FALSE(dialog.IsTimedOut());
    ASSERT_TRUE(PumpUntil([&] { return dialog.IsTimedOut(); }, 5000));
    EXPECT_GE(clock.elapsed(), 190);

    // Once fired, StopTimer changes nothing.
    dialog.StopTimer();
    EXPECT_TRUE(dialog.IsTimedOut());

    // A new start clears the flag and runs a new period.
    dialog.StartTimer(50);
    EXPECT_FALSE(dialog.IsTimedOut());
    EXPECT_TRUE(PumpUntil([&] { return dialog.IsTimedOut(); }, 5000));
}

TEST(CommCancelDlg, StoppedTimerNeverFires) {
    ProgressDialog dialog;
    dialog.StartTimer(30);
    dialog.StopTimer();
    EXPECT_FALSE(PumpUntil([&] { return dialog.IsTimedOut(); }, 150));
}

// A socket with data waiting, watched by a notifier: a stand-in for the socket layer's own
// notification of a blocking call.
class PendingSocket {
  public:
    PendingSocket() {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0)
            return;
        const char byte = 'x';
        if (::write(fds_[0], &byte, 1) != 1)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(fds_[1], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            ++activations_;
            notifier_->setEnabled(false);
        });
    }
    ~PendingSocket() {
        notifier_.reset();
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    bool Ready() const { return notifier_ != nullptr; }
    int Activations() const { return activations_; }

  private:
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
    int activations_ = 0;
};

TEST(CommCancelDlg, SocketSafePumpLeavesSocketNotificationsAlone) {
    ProgressDialog dialog;
    PendingSocket socket;
    ASSERT_TRUE(socket.Ready());
    int otherEvents = 0;
    QMetaObject::invokeMethod(
        &dialog, [&] { ++otherEvents; }, Qt::QueuedConnection);

    for (int i = 0; i < 10; ++i)
        dialog.PumpMessages(true);
    EXPECT_EQ(socket.Activations(), 0);
    EXPECT_EQ(otherEvents, 1);

    for (int i = 0; i < 10 && socket.Activations() == 0; ++i)
        dialog.PumpMessages(false);
    EXPECT_EQ(socket.Activations(), 1);
}

// SIGTERM while an exchange runs: the next pump cancels it as Cancel does, even a socket-safe
// one that holds the signal's own notification back; the event loop then hears of it.
TEST(CommCancelDlg, SigtermCancelsTheRunningExchange) {
    int stoppedBy = 0;
    StopSignals stopSignals([&stoppedBy](int signalNumber) { stoppedBy = signalNumber; });
    ProgressDialog dialog;
    dialog.Show();
    ::raise(SIGTERM);
    dialog.PumpMessages(true);
    EXPECT_TRUE(dialog.IsCancelled());
    EXPECT_FALSE(dialog.IsVisible());
    QTRY_COMPARE(stoppedBy, SIGTERM);
}

TEST(CommCancelDlg, BusyCursorIsRestoredOnce) {
    {
        ProgressDialog dialog;
        dialog.SetBusyCursor(true);
        dialog.SetBusyCursor(true);
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        dialog.SetBusyCursor(false);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);

        // A dialog destroyed while busy gives the cursor back.
        dialog.SetBusyCursor(true);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
