// Each dialog laid out in the desktop's font: every caption fits its control at the dialog's
// default size, and Tab visits the controls in the dialog's own order.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeWidget>
#include <vector>

#include "app/about_dlg.h"
#include "app/comm_cancel_dlg.h"
#include "app/find_dlg.h"
#include "app/find_machines_dlg.h"
#include "app/kelo_dlg.h"
#include "app/port_select_dlg.h"
#include "app/report_dlg.h"
#include "testsupport/temp_dir.h"

namespace {

// Shows the dialog at its default size and checks that no caption is narrower or lower than
// it asks to be.
void ExpectNoCutText(QWidget& dialog) {
    dialog.show();
    QApplication::processEvents();
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&dialog) || widget->isWindow())
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            text = group->title();
        if (text.isEmpty())
            continue;
        const QSize wanted = widget->minimumSizeHint().expandedTo(widget->sizeHint());
        EXPECT_GE(widget->width(),
                  qobject_cast<QLabel*>(widget) ? widget->sizeHint().width() : wanted.width())
            << text.toStdString();
        EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << text.toStdString();
    }
}

// The controls that take the focus, in the order Tab reaches them. Qt takes Tab away from the
// unchecked radios of a group while one is checked, so any focus policy counts; a control that
// hands its focus on (the edit field of a combo box) counts as the one it hands it to.
std::vector<QWidget*> TabOrder(QWidget& dialog) {
    std::vector<QWidget*> order;
    for (QWidget* w = dialog.nextInFocusChain(); w != &dialog; w = w->nextInFocusChain()) {
        if (w->focusPolicy() != Qt::NoFocus && w->focusProxy() == nullptr &&
            w->isVisibleTo(&dialog))
            order.push_back(w);
    }
    return order;
}

TEST(LayoutTest, AboutBox) {
    app::CAboutDlg about;
    about.SetVersionText("10.20.300");
    ExpectNoCutText(about);
    EXPECT_EQ(TabOrder(about), std::vector<QWidget*>{about.OkButton()});
}

TEST(LayoutTest, FindBox) {
    QWidget owner;
    auto* box = new app::CFindDlg(&owner);
    ExpectNoCutText(*box);
    EXPECT_EQ(TabOrder(*box),
              (std::vector<QWidget*>{box->FindWhatEdit(), box->UpRadio(), box->DownRadio(),
                                     box->FindNextButton(), box->CancelButton()}));
}

TEST(LayoutTest, ProgressWindow) {
    app::CCommCancelDlg progress;
    ExpectNoCutText(progress);
    EXPECT_EQ(TabOrder(progress), std::vector<QWidget*>{progress.CancelButton()});
}

TEST(LayoutTest, ReportViewer) {
    app::CReportDlg viewer;
    ExpectNoCutText(viewer);
    EXPECT_EQ(
        TabOrder(viewer),
        (std::vector<QWidget*>{viewer.SaveButton(), viewer.OpenBrowserButton(), viewer.FindButton(),
                               viewer.CloseButton(), viewer.TextControl()}));
}

TEST(LayoutTest, FindMachines) {
    app::CFindMachinesDlg finder;
    finder.ProgressText()->setText(
        app::CFindMachinesDlg::tr("Probed %1/%2, found %3").arg(4096).arg(4096).arg(4096));
    ExpectNoCutText(finder);
    finder.UseButton()->setEnabled(true);
    EXPECT_EQ(TabOrder(finder),
              (std::vector<QWidget*>{finder.SubnetEdit(), finder.FindButton(), finder.MachineList(),
                                     finder.UseButton(), finder.CancelButton()}));
}

TEST(LayoutTest, PortSelection) {
    app::CPortSelectDlg ports;
    ExpectNoCutText(ports);
    std::vector<QWidget*> expected;
    for (int type = 0; type < 4; ++type)
        expected.push_back(ports.TypeRadio(type));
    for (int kind : {kelo::kPortParallel, kelo::kPortNetwork, kelo::kPortUsb})
        expected.push_back(ports.PortRadio(kind));
    expected.insert(expected.end(),
                    {ports.HostBox(), ports.DeleteHostButton(), ports.RestartButton(),
                     ports.FindButton(), ports.OkButton(), ports.CancelButton()});
    EXPECT_EQ(TabOrder(ports), expected);
}

// The caption with the version shows whole beside the title bar's icon and buttons.
TEST(LayoutTest, MainDialog) {
    const testing_support::TempDir folder;
    app::CKeloDlg dialog("", folder / "kelo.INI");
    dialog.SetRegistration(std::nullopt);
    ExpectNoCutText(dialog);
    QFont captionFont = dialog.font();
    captionFont.setBold(true);
    const int titleBar = dialog.style()->pixelMetric(QStyle::PM_TitleBarHeight);
    EXPECT_GE(dialog.width(),
              QFontMetrics(captionFont).horizontalAdvance(dialog.windowTitle()) + 4 * titleBar)
        << dialog.windowTitle().toStdString();
    std::vector<QWidget*> expected;
    for (int id : {app::CKeloDlg::IDC_SELECT_PORT, app::CKeloDlg::IDC_GET_REPORT,
                   app::CKeloDlg::IDC_OPEN_REPORT, app::CKeloDlg::IDC_GET_PARAMETERS,
                   app::CKeloDlg::IDC_PUT_PARAMETERS, app::CKeloDlg::IDC_FIRMWARE_UPGRADE,
                   app::CKeloDlg::IDC_EXIT}) {
        expected.push_back(dialog.Button(id));
    }
    EXPECT_EQ(TabOrder(dialog), expected);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
