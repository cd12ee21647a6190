// Find Machines against kelo-sim machines in this test's network namespace: a machine chosen
// fills the host box and the type radio; the port dialog's OK keeps it, its Cancel discards it.
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
#include "discover/address_block.h"
#include "tests/app/named_child.h"
#include "testsupport/sim_process.h"

namespace {

using kelo::app::Child;

using kelo::app::FindMachinesDialog;
using kelo::app::SelectPortDialog;
using sim_testing::SimProcess;
using ::testing::ElementsAre;

// Clicks Find... in the port dialog; inside Find Machines, types the subnet before the first
// discovery runs and, once it has ended, chooses the machine at the address with Use or a
// double click. Returns the rows Find Machines listed.
std::vector<QStringList> FindAndChoose(SelectPortDialog& port, const QString& address,
                                       bool doubleClick) {
    std::vector<QStringList> rows;
    QTimer::singleShot(0, &port, [&] {
        auto* finder = qobject_cast<FindMachinesDialog*>(QApplication::activeModalWidget());
        if (finder == nullptr)
            return port.reject();  // Find Machines did not open: the checks below fail
        Child<QLineEdit>(*finder, "subnet")->setText("127.0.9.0/29");
        auto choose = [&rows, finder, address, doubleClick] {
            QTreeWidget* list = Child<QTreeWidget>(*finder, "machines");
            for (int i = 0; i < list->topLevelItemCount(); ++i) {
                const QTreeWidgetItem* item = list->topLevelItem(i);
                rows.push_back({item->text(0), item->text(1), item->text(2)});
            }
            const QList<QTreeWidgetItem*> found = list->findItems(address, Qt::MatchExactly);
            if (found.size() != 1)
                return finder->reject();
            if (doubleClick) {
                // A double click arrives as a press, a release and the double click.
                const QPoint at = list->visualItemRect(found.front()).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            } else {
                list->setCurrentItem(found.front());
                QTest::mouseClick(Child<QPushButton>(*finder, "use"), Qt::LeftButton);
            }
        };
        QObject::connect(finder, &FindMachinesDialog::findingEnded, finder, choose,
                         Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    });
    QTest::mouseClick(Child<QPushButton>(port, "find"), Qt::LeftButton);
    return rows;
}

TEST(FindMachines, ChosenMachineFillsHostBoxAndTypeUntilThePortDialogDecides) {
    SimProcess type2({"--type", "2", "--bind", "127.0.9.1"});
    SimProcess type4({"--type", "4", "--bind", "127.0.9.2"});
    ASSERT_TRUE(type2.Listening() && type4.Listening());
    // Type3 checked, "alpha" selected.
    kelo::PortSelection selection{kelo::kPortNetwork, 2, 0, {"alpha", "127.0.9.2"}};

    // Use on a new address: it joins the list, selected; Type3 gives way to Type1. OK keeps it.
    SelectPortDialog first;
    std::vector<std::string> kept;  // what the discovery handed over to be recorded
    first.SetFindingsKeeper(
        [&kept](const std::vector<kelo::discover::FoundMachine>& machines, int64_t, int64_t) {
            for (const kelo::discover::FoundMachine& machine : machines)
                kept.push_back(kelo::discover::AddressText(machine.address));
        });
    QTimer::singleShot(0, &first, [&first] {
        const auto rows = FindAndChoose(first, "127.0.9.1", false);
        EXPECT_THAT(rows,
                    ElementsAre(QStringList{"127.0.9.1", "Type1, Type2", "kelo-sim-127.0.9.1"},
                                QStringList{"127.0.9.2", "Type4", "kelo-sim-127.0.9.2"}));
        EXPECT_EQ(Child<QComboBox>(first, "hostBox")->currentText(), "127.0.9.1");
        EXPECT_TRUE(Child<QRadioButton>(first, "type1")->isChecked());
        QTest::mouseClick(Child<QPushButton>(first, "ok"), Qt::LeftButton);
    });
    ASSERT_TRUE(first.Run(selection));
    EXPECT_THAT(kept, ElementsAre("127.0.9.1", "127.0.9.2"));
    EXPECT_THAT(selection.hosts, ElementsAre("alpha", "127.0.9.2", "127.0.9.1"));
    EXPECT_EQ(selection.selectedHost, 2);
    EXPECT_EQ(selection.typeValue, 0);

    // A double click on a listed address selects its entry and checks Type4; Cancel discards.
    SelectPortDialog second;
    QTimer::singleShot(0, &second, [&second] {
        FindAndChoose(second, "127.0.9.2", true);
        EXPECT_EQ(Child<QComboBox>(second, "hostBox")->currentIndex(), 1);
        EXPECT_EQ(Child<QComboBox>(second, "hostBox")->count(), 3);
        EXPECT_TRUE(Child<QRadioButton>(second, "type4")->isChecked());
        QTest::mouseClick(Child<QPushButton>(second, "cancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(second.Run(selection));
    EXPECT_THAT(selection.hosts, ElementsAre("alpha", "127.0.9.2", "127.0.9.1"));
    EXPECT_EQ(selection.selectedHost, 2);
    EXPECT_EQ(selection.typeValue, 0);
}

// Found by a stand-in discovery: no probe leaves the test.
TEST(FindMachines, FirstDownSelectsTheFirstRowAndEnterUsesIt) {
    using kelo::discover::FoundMachine;
    const std::vector<FoundMachine> found = {
        {0x7F000901, {3}, "first", std::nullopt, std::nullopt, 1},
        {0x7F000902, {4}, "second", std::nullopt, std::nullopt, 1}};
    FindMachinesDialog dialog;
    int finds = 0;
    dialog.SetRunner([&](const kelo::discover::DiscoveryPlan&, kelo::platform::CancelDialog&,
                         const std::function<void(const FoundMachine&)>& onMachine, const auto&) {
        ++finds;
        for (const FoundMachine& machine : found)
            onMachine(machine);
        return kelo::discover::DiscoveryResult{false, "", found};
    });
    QObject::connect(
        &dialog, &FindMachinesDialog::findingEnded, &dialog,
        [&dialog] {
            dialog.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
            QTreeWidget* list = Child<QTreeWidget>(dialog, "machines");
            list->setFocus(Qt::TabFocusReason);
            QTest::keyClick(list, Qt::Key_Down);
            EXPECT_TRUE(Child<QPushButton>(dialog, "use")->isDefault());
            QTest::keyClick(list, Qt::Key_Return);
            if (dialog.isVisible())
                dialog.reject();
        },
        Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(finds, 1);
    ASSERT_TRUE(dialog.Chosen());
    EXPECT_EQ(dialog.Chosen()->name, "first");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
