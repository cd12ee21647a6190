// The keyboard in every dialog: Enter presses the push button that has the focus, Esc closes
// the window (in the progress window: cancels).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <vector>

#include "app/about_dlg.h"
#include "app/comm_cancel_dlg.h"
#include "app/find_dlg.h"
#include "app/kelo_dlg.h"
#include "app/port_select_dlg.h"
#include "app/report_dlg.h"
#include "platform/message_recorder.h"
#include "tests/app/scripted_file_dialogs.h"
#include "testsupport/temp_dir.h"

namespace {

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

void ExpectEscapeCloses(QDialog& dialog, QWidget* focus) {
    Focus(dialog, focus);
    QTest::keyClick(focus, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible()) << dialog.windowTitle().toStdString();
}

class KeyboardTest : public ::testing::Test {
  protected:
    TempDir folder_;
    platform::MessageRecorder messages_;
    app_testing::ScriptedFileDialogs fileDialogs_;  // every file dialog is cancelled
};

TEST_F(KeyboardTest, MainDialog) {
    app::CKeloDlg dialog("", folder_ / "kelo.INI");
    dialog.SetRegistration(std::nullopt);
    app::CKeloDlg::Operations& ops = dialog.MutableOperations();
    ops.selectPort = [] {};
    ops.getReport = [](std::string&) { return false; };
    ops.getParameters = [](uint8_t*, int) { return -1; };
    ExpectEnterPressesTheFocusedButton(dialog);
    EXPECT_EQ(fileDialogs_.asked.size(), 3u);  // Open Report, Put Parameters, Firmware Upgrade
    for (const auto& [key, modifier] :
         {std::pair{Qt::Key_F10, Qt::ShiftModifier}, std::pair{Qt::Key_Space, Qt::AltModifier}}) {
        Focus(dialog, dialog.Button(app::CKeloDlg::IDC_GET_REPORT));
        QTest::keyClick(&dialog, key, modifier);
        EXPECT_TRUE(dialog.SystemMenu()->isVisible()) << key;
        dialog.SystemMenu()->hide();
    }
    ExpectEscapeCloses(dialog, dialog.Button(app::CKeloDlg::IDC_GET_REPORT));
}

TEST_F(KeyboardTest, ReportViewerAndFindBox) {
    // Open Browser finds no folder for its page, so no browser starts.
    setenv("TMPDIR", (folder_ / "missing").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (folder_ / "missing").c_str(), 1);
    app::CReportDlg viewer;
    viewer.SetReportText("REPORT");
    ExpectEnterPressesTheFocusedButton(viewer);
    EXPECT_EQ(fileDialogs_.asked.size(), 1u);    // Save
    EXPECT_EQ(messages_.Messages().size(), 1u);  // Open Browser could not write its page
    ExpectEscapeCloses(viewer, viewer.SaveButton());
    unsetenv("TMPDIR");
    unsetenv("XDG_RUNTIME_DIR");

    viewer.show();
    app::CFindDlg* box = viewer.OnFind();
    box->FindWhatEdit()->setText("absent");
    ExpectEscapeCloses(*box, box->CancelButton());
    box = viewer.OnFind();
    box->FindWhatEdit()->setText("absent");
    messages_.Clear();
    ExpectEnterPressesTheFocusedButton(*box);  // Find Next, then Cancel, which closes it
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to find"});
}

TEST_F(KeyboardTest, PortSelectionProgressAndAbout) {
    app::CPortSelectDlg ports;
    int restarts = 0;
    ports.SetRestartExchange([&](const std::string&, platform::CancelDialog&) { ++restarts; });
    int finds = 0;
    ports.SetMachineFinder([&](QWidget*) {
        ++finds;
        return std::nullopt;
    });
    ExpectEnterPressesTheFocusedButton(ports);
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(finds, 1);
    ExpectEscapeCloses(ports, ports.RestartButton());

    app::CCommCancelDlg progress;
    ExpectEnterPressesTheFocusedButton(progress);
    EXPECT_TRUE(progress.IsCancelled());
    ExpectEscapeCloses(progress, progress.CancelButton());
    EXPECT_TRUE(progress.IsCancelled());

    app::CAboutDlg about;
    ExpectEnterPressesTheFocusedButton(about);
    ExpectEscapeCloses(about, about.OkButton());
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
