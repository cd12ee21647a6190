// The keyboard in every dialog: Tab visits the controls in the dialog's order, Enter presses
// the push button that has the focus, Esc closes the window (in the progress window: cancels).
// And every caption shows whole at the dialog's default size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "app/about_dlg.h"
#include "app/comm_cancel_dlg.h"
#include "app/find_dlg.h"
#include "app/find_machines_dlg.h"
#include "app/kelo_dlg.h"
#include "app/port_select_dlg.h"
#include "app/report_dlg.h"
#include "platform/message_recorder.h"
#include "tests/app/named_child.h"
#include "tests/app/scripted_file_dialogs.h"
#include "tests/app/stub_operations.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using testing_support::TempDir;

// Shows and activates the window and gives the widget the focus, as the Tab key would.
void Focus(QDialog& dialog, QWidget* widget) {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    widget->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), widget);
}

// Focuses each push button of the window in turn and presses Enter: each time exactly the
// focused button is pressed.
void ExpectEnterPressesTheFocusedButton(QDialog& dialog) {
    // Its own buttons, not those of windows it owns (the main dialog's progress window).
    const QList<QPushButton*> buttons =
        dialog.findChildren<QPushButton*>(Qt::FindDirectChildrenOnly);
    ASSERT_FALSE(buttons.isEmpty());
    std::vector<std::string> pressed;
    std::vector<QMetaObject::Connection> connections;
    for (QPushButton* button : buttons) {
        connections.push_back(QObject::connect(
            button, &QPushButton::clicked, button,
            [&pressed, button] { pressed.push_back(button->text().toStdString()); }));
    }
    for (QPushButton* button : buttons) {
        pressed.clear();
        Focus(dialog, button);
        QTest::keyClick(button, Qt::Key_Return);
        EXPECT_EQ(pressed, std::vector<std::string>{button->text().toStdString()})
            << dialog.windowTitle().toStdString();
    }
    for (const QMetaObject::Connection& connection : connections)
        QObject::disconnect(connection);
}

// Shown at its default size, no control is smaller than its caption needs.
void ExpectCaptionsFit(QDialog& dialog) {
    dialog.show();
    QApplication::processEvents();
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
        const QString text = w->property("text").toString() + w->property("title").toString();
        if (text.isEmpty() || !w->isVisibleTo(&dialog) || w->isWindow())
            continue;
        EXPECT_TRUE(w->width() >= w->minimumSizeHint().width() &&
                    w->height() >= w->minimumSizeHint().height())
            << text.toStdString();
    }
}

// The controls in Tab's order; any focus policy counts, as Qt takes Tab from a group's unchecked
// radios while one is checked.
std::vector<QWidget*> TabOrder(QDialog& dialog) {
    std::vector<QWidget*> order;
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (w->focusPolicy() != Qt::NoFocus && !w->focusProxy() && w->isVisibleTo(&dialog))
            order.push_back(w);
    }
    return order;
}

// The dialog's widgets of those names, in that order.
std::vector<QWidget*> Widgets(const QDialog& dialog, std::initializer_list<const char*> names) {
    std::vector<QWidget*> widgets;
    for (const char* name : names)
        widgets.push_back(Child<QWidget>(dialog, name));
    return widgets;
}

void ExpectEscapeCloses(QDialog& dialog, QWidget* focus) {
    Focus(dialog, focus);
    QTest::keyClick(focus, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible()) << dialog.windowTitle().toStdString();
}

class KeyboardTest : public ::testing::Test {
  protected:
    TempDir folder_;
    kelo::platform::MessageRecorder messages_;
    app_testing::ScriptedFileDialogs fileDialogs_;  // every file dialog is cancelled
};

TEST_F(KeyboardTest, MainDialog) {
    kelo::app::MainDialog dialog("", folder_ / "kelo.INI");
    dialog.SetRegistration(std::nullopt);
    kelo::app::MainDialog::Operations& ops = dialog.MutableOperations();
    ops.selectPort = [] {};
    ops.getReport = [] { return testing_support::ReportOf(false, ""); };
    ops.getParameters = [](int) { return testing_support::ParametersOf(false, {}); };
    EXPECT_EQ(TabOrder(dialog),
              Widgets(dialog, {"selectPort", "getReport", "openReport", "getParameters",
                               "putParameters", "firmwareUpgrade", "exit"}));
    ExpectCaptionsFit(dialog);
    // The bold caption leaves room for the title bar's icon and three buttons.
    QFont bold = dialog.font();
    bold.setBold(true);
    EXPECT_GE(dialog.width(), QFontMetrics(bold).horizontalAdvance(dialog.windowTitle()) +
                                  4 * dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight));
    ExpectEnterPressesTheFocusedButton(dialog);
    EXPECT_EQ(fileDialogs_.asked.size(), 3u);  // Open Report, Put Parameters, Firmware Upgrade
    for (const auto& [key, modifier] :
         {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Space, Qt::AltModifier}}) {
        Focus(dialog, Child<QPushButton>(dialog, "getReport"));
        QTest::keyClick(&dialog, key, modifier);
        EXPECT_TRUE(Child<QMenu>(dialog, "systemMenu")->isVisible()) << key;
        Child<QMenu>(dialog, "systemMenu")->hide();
    }
    ExpectEscapeCloses(dialog, Child<QPushButton>(dialog, "getReport"));
}

TEST_F(KeyboardTest, ReportViewerAndFindBox) {
    // Open Browser finds no folder for its page, so no browser starts.
    setenv("TMPDIR", (folder_ / "missing").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder_ / "missing").c_str(), 1);
    kelo::app::ReportDialog viewer;
    viewer.SetReportText("REPORT");
    EXPECT_EQ(TabOrder(viewer), Widgets(viewer, {"save", "openBrowser", "find", "close", "text"}));
    ExpectCaptionsFit(viewer);
    ExpectEnterPressesTheFocusedButton(viewer);
    EXPECT_EQ(fileDialogs_.asked.size(), 1u);    // Save
    EXPECT_EQ(messages_.Messages().size(), 1u);  // Open Browser could not write its page
    ExpectEscapeCloses(viewer, Child<QPushButton>(viewer, "save"));
    unsetenv("TMPDIR");
    unsetenv("XDG_RUNTIME_DIR");

    viewer.show();
    kelo::app::FindDialog* box = viewer.OnFind();
    Child<QLineEdit>(*box, "findWhat")->setText("absent");
    EXPECT_EQ(TabOrder(*box), Widgets(*box, {"findWhat", "up", "down", "findNext", "cancel"}));
    ExpectCaptionsFit(*box);
    ExpectEscapeCloses(*box, Child<QPushButton>(*box, "cancel"));
    box = viewer.OnFind();
    Child<QLineEdit>(*box, "findWhat")->setText("absent");
    messages_.Clear();
    ExpectEnterPressesTheFocusedButton(*box);  // Find Next, then Cancel, which closes it
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to find"});
}

TEST_F(KeyboardTest, PortSelectionProgressAndAbout) {
    kelo::app::SelectPortDialog ports;
    int restarts = 0;
    ports.SetRestartExchange(
        [&](const std::string&, kelo::platform::CancelDialog&) { ++restarts; });
    int finds = 0;
    ports.SetMachineFinder([&](QWidget*) {
        ++finds;
        return std::nullopt;
    });
    EXPECT_EQ(TabOrder(ports),
              Widgets(ports, {"type1", "type2", "type3", "type4", "parallel", "network", "usb",
                              "hostBox", "deleteHost", "restart", "find", "ok", "cancel"}));
    ExpectCaptionsFit(ports);
    ExpectEnterPressesTheFocusedButton(ports);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(finds, 1);
    ExpectEscapeCloses(ports, Child<QPushButton>(ports, "restart"));

    kelo::app::FindMachinesDialog finder;
    EXPECT_EQ(TabOrder(finder), Widgets(finder, {"subnet", "find", "machines", "use", "cancel"}));
    ExpectCaptionsFit(finder);
    kelo::app::ProgressDialog progress;
    ExpectCaptionsFit(progress);
    ExpectEnterPressesTheFocusedButton(progress);
    EXPECT_TRUE(progress.IsCancelled());
    ExpectEscapeCloses(progress, Child<QPushButton>(progress, "cancel"));
    EXPECT_TRUE(progress.IsCancelled());

    kelo::app::AboutDialog about;
    ExpectCaptionsFit(about);
    ExpectEnterPressesTheFocusedButton(about);
    ExpectEscapeCloses(about, Child<QPushButton>(about, "ok"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
