// Find Machines from the port selection dialog, against kelo-sim machines in this test's
// network namespace: a machine chosen there fills the host box and the type radio, and the
// port dialog's OK keeps it while its Cancel discards it.
#include "app/find_machines_dlg.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "app/port_select_dlg.h"
#include "tests/sim/sim_process.h"

namespace {

using app::CFindMachinesDlg;
using app::CPortSelectDlg;
using sim_testing::SimProcess;
using ::testing::ElementsAre;

constexpr char kSubnet[] = "127.0.9.0/29";

QStringList Row(QTreeWidgetItem* item) {
    return {item->text(0), item->text(1), item->text(2)};
}

// Clicks Find... in the port dialog; inside Find Machines, types the subnet before the first
// discovery runs and, once it has ended, chooses the machine at the address with Use or a
// double click. Returns the rows Find Machines listed.
std::vector<QStringList> FindAndChoose(CPortSelectDlg& port, const QString& address,
                                       bool doubleClick) {
    std::vector<QStringList> rows;
    QTimer::singleShot(0, &port, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        auto* finder = qobject_cast<CFindMachinesDlg*>(modal);
        if (finder == nullptr) {
            ADD_FAILURE() << "Find Machines did not open";
            if (modal != nullptr)
                modal->close();
            return;
        }
        finder->SubnetEdit()->setText(kSubnet);
        auto choose = [&rows, finder, address, doubleClick] {
            QTreeWidget* list = finder->MachineList();
            for (int i = 0; i < list->topLevelItemCount(); ++i)
                rows.push_back(Row(list->topLevelItem(i)));
            const QList<QTreeWidgetItem*> found = list->findItems(address, Qt::MatchExactly);
            if (found.size() != 1) {
                finder->reject();
                return;
            }
            if (doubleClick) {
                // A double click arrives as a press, a release and the double click.
                const QPoint at = list->visualItemRect(found.front()).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            } else {
                list->setCurrentItem(found.front());
                QTest::mouseClick(finder->UseButton(), Qt::LeftButton);
            }
        };
        QObject::connect(finder, &CFindMachinesDlg::findingEnded, finder, choose,
                         Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    });
    QTest::mouseClick(port.FindButton(), Qt::LeftButton);
    return rows;
}

TEST(FindMachines, ChosenMachineFillsHostBoxAndTypeUntilThePortDialogDecides) {
    SimProcess type2({"--type", "2", "--bind", "127.0.9.1"});
    SimProcess type4({"--type", "4", "--bind", "127.0.9.2"});
    ASSERT_TRUE(type2.Listening() && type4.Listening());
    kelo::PortSelection selection;
    selection.portKind = kelo::kPortNetwork;
    selection.typeValue = 2;  // Type3
    selection.hosts = {"alpha", "127.0.9.2"};
    selection.selectedHost = 0;

    // Use on a new address: it joins the list, selected; Type3 gives way to Type1. OK keeps it.
    CPortSelectDlg first;
    QTimer::singleShot(0, &first, [&first] {
        const auto rows = FindAndChoose(first, "127.0.9.1", false);
        EXPECT_THAT(rows,
                    ElementsAre(QStringList{"127.0.9.1", "Type1, Type2", "kelo-sim-127.0.9.1"},
                                QStringList{"127.0.9.2", "Type4", "kelo-sim-127.0.9.2"}));
        EXPECT_EQ(first.HostBox()->currentText(), "127.0.9.1");
        EXPECT_TRUE(first.TypeRadio(0)->isChecked());
        QTest::mouseClick(first.OkButton(), Qt::LeftButton);
    });
    ASSERT_TRUE(first.Run(selection));
    EXPECT_THAT(selection.hosts, ElementsAre("alpha", "127.0.9.2", "127.0.9.1"));
    EXPECT_EQ(selection.selectedHost, 2);
    EXPECT_EQ(selection.typeValue, 0);

    // A double click on a listed address selects its entry and checks Type4; Cancel discards.
    CPortSelectDlg second;
    QTimer::singleShot(0, &second, [&second] {
        FindAndChoose(second, "127.0.9.2", true);
        EXPECT_EQ(second.HostBox()->currentIndex(), 1);
        EXPECT_EQ(second.HostBox()->count(), 3);
        EXPECT_TRUE(second.TypeRadio(3)->isChecked());
        QTest::mouseClick(second.CancelButton(), Qt::LeftButton);
    });
    const kelo::PortSelection before = selection;
    EXPECT_FALSE(second.Run(selection));
    EXPECT_EQ(selection.hosts, before.hosts);
    EXPECT_EQ(selection.selectedHost, 2);
    EXPECT_EQ(selection.typeValue, 0);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
