// The History window over a database with a few kept operations, and the changed lines the
// comparison marks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <string>
#include <vector>

#include "app/compare_dlg.h"
#include "app/history_dlg.h"
#include "platform/message_recorder.h"
#include "records/service_records.h"
#include "tests/app/named_child.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using kelo::records::ContentKind;
using kelo::records::OperationRecord;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

OperationRecord Kept(const std::string& host, int64_t startedMs, const std::string& operation,
                     ContentKind kind, const std::string& content) {
    OperationRecord record;
    record.machine.host = host;
    record.machine.type = 3;
    record.startedMs = record.endedMs = startedMs;
    record.operation = operation;
    record.program = "kelo";
    record.content = kelo::records::ReadContent{kind, {content.begin(), content.end()}};
    return record;
}

TEST(ChangedLinesTest, MarksTheRemovedLinesLeftAndTheAddedLinesRight) {
    const kelo::app::ChangedLines changes =
        kelo::app::FindChangedLines("A\r\nB\r\nC\r\nD\r\n", "A\r\nX\r\nC\r\nD\r\nE\r\n");
    EXPECT_EQ(changes.before, std::vector<int>{1});
    EXPECT_EQ(changes.after, (std::vector<int>{1, 4}));
    EXPECT_TRUE(kelo::app::FindChangedLines("same\n", "same\n").before.empty());
    EXPECT_EQ(kelo::app::FindChangedLines("", "new\n").after, std::vector<int>{0});
}

TEST(HistoryDlgTest, ListsMachinesAndTheirOperationsNewestFirst) {
    testing_support::TempDir folder;
    const std::string path = folder / "records.sqlite3";
    {
        auto records = kelo::records::ServiceRecords::Open(path);
        ASSERT_TRUE(records) << records.reason;
        auto& db = **records.value;
        db.RecordOperation(Kept("alpha", 1000, "get-report", ContentKind::Report, "A\r\nB\r\n"));
        db.RecordOperation(Kept("beta", 2000, "get-report", ContentKind::Report, "Z\r\n"));
        db.RecordOperation(Kept("alpha", 3000, "get-params", ContentKind::Parameters, "\x01\x02"));
        db.RecordOperation(Kept("ALPHA", 4000, "get-report", ContentKind::Report, "A\r\nC\r\n"));
    }
    kelo::app::HistoryDialog history(path, "");
    history.SetWriteBackTarget({"10.0.0.9", "", 3, "network", ""});
    auto* machines = Child<QListWidget>(history, "machines");
    auto* writeBack = Child<QPushButton>(history, "writeBack");

    ASSERT_EQ(machines->count(), 2);
    EXPECT_EQ(machines->item(0)->text().toLower(), "alpha");
    EXPECT_EQ(machines->item(1)->text(), "beta");
    QTableWidget* table = Child<QTableWidget>(history, "operations");
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(0, 1)->text(), "3");  // the machine type
    EXPECT_EQ(table->item(0, 2)->text(), "get-report");
    EXPECT_EQ(table->item(1, 2)->text(), "get-params");
    EXPECT_EQ(table->item(2, 3)->text(), "ok");
    EXPECT_TRUE(Child<QLabel>(history, "status")->text().startsWith("4 operations of"));

    // The newest report has one before it; the oldest has none.
    EXPECT_TRUE(Child<QPushButton>(history, "compare")->isEnabled());
    EXPECT_FALSE(writeBack->isEnabled());
    table->selectRow(2);
    EXPECT_TRUE(Child<QPushButton>(history, "open")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(history, "compare")->isEnabled());

    // A kept parameter set goes back only after a Yes to a question naming both machines.
    table->selectRow(1);
    ASSERT_TRUE(writeBack->isEnabled());
    std::vector<std::string> asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked.push_back(box->text().toStdString());
            box->button(asked.size() == 1 ? QMessageBox::No : QMessageBox::Yes)->click();
        }
    });
    answer.start(1);
    writeBack->click();
    EXPECT_FALSE(history.ChosenWrite());
    writeBack->click();
    ASSERT_TRUE(history.ChosenWrite());
    EXPECT_EQ(history.ChosenWrite()->size(), 3u);  // the set and its check byte
    EXPECT_EQ(history.result(), QDialog::Accepted);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("from alpha on "), std::string::npos);
    EXPECT_NE(asked[0].find("into the machine at 10.0.0.9?"), std::string::npos);
    EXPECT_NE(asked[0].find("That is not the machine the set was read from."), std::string::npos);

    // Into the machine it came from, no warning; into a machine of another type, nothing is
    // asked: it is refused.
    history.SetWriteBackTarget({"ALPHA", "", 3, "network", ""});
    table->selectRow(1);
    writeBack->click();
    EXPECT_EQ(asked.back().find("\n\n"), std::string::npos) << asked.back();
    history.SetWriteBackTarget({"alpha", "", 1, "network", ""});
    kelo::platform::MessageRecorder refusals;
    writeBack->click();
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_THAT(refusals.Texts(), ElementsAre(HasSubstr("is the parameter set of a type 3 machine, "
                                                        "and the machine at alpha is set up as "
                                                        "type 1; nothing was written")));
}

// A host holding U+202E or a byte that is not UTF-8 is shown as such and finds its operations.
TEST(HistoryDlgTest, ListsAnOddHostAsShownTextAndFindsItsOperations) {
    testing_support::TempDir folder;
    const std::string path = folder / "records.sqlite3";
    (*kelo::records::ServiceRecords::Open(path).value)
        ->RecordOperation(Kept("a\xE2\x80\xAE!\xFF", 1000, "get-report", ContentKind::Report, "A"));
    kelo::app::HistoryDialog history(path, "");
    EXPECT_EQ(Child<QListWidget>(history, "machines")->item(0)->text(), "a\uFFFD!\uFFFD");
    EXPECT_EQ(Child<QTableWidget>(history, "operations")->rowCount(), 1);
    history.SetWriteBackTarget({"b", "", 3, "network", ""});
    kelo::records::StoredOperation read;
    read.machine = {"a\xE2\x80\xAE!", "", 3, "network", ""};
    EXPECT_EQ(history.WriteBackQuestion(read).find("\xE2\x80\xAE"), std::string::npos);
}

TEST(HistoryDlgTest, TellsWhyARecordWasNotKept) {
    testing_support::TempDir folder;
    kelo::app::HistoryDialog history(folder / "records.sqlite3", "database is locked");
    EXPECT_EQ(Child<QLabel>(history, "status")->text(), "Not recorded: database is locked");

    // A database that cannot be read says so, in those words only, whether or not this
    // session's records failed for the same reason.
    const std::string damaged = folder / "damaged.sqlite3";
    std::ofstream(damaged) << std::string(4096, 'x');
    const QString first = Child<QLabel>(kelo::app::HistoryDialog(damaged, ""), "status")->text();
    EXPECT_TRUE(first.startsWith("Records cannot be read: ")) << first.toStdString();
    const std::string reason = first.mid(24).toStdString();
    EXPECT_EQ(Child<QLabel>(kelo::app::HistoryDialog(damaged, reason), "status")->text(), first);
}

// Shows the dialog and runs its window's events until it is active, so keys reach it.
void ShowActive(QDialog& dialog) {
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
}

TEST(CompareDlgTest, RowsLineUpWithAMarkedFillerOppositeEachLineTheOtherSideLacks) {
    // B removed, E added: each faces a filler, and the kept lines stay side by side.
    kelo::app::CompareDialog compare("A\nB\nC\nD\n", "A\nC\nD\nE\n", "before", "after", nullptr);
    const kelo::app::AlignedRows& rows = compare.Rows();
    EXPECT_THAT(rows.before, ElementsAre(0, 1, 2, 3, std::nullopt));
    EXPECT_THAT(rows.after, ElementsAre(0, std::nullopt, 1, 2, 3));
    EXPECT_EQ(Child<QPlainTextEdit>(compare, "before")->blockCount(),
              Child<QPlainTextEdit>(compare, "after")->blockCount());
    EXPECT_EQ(Child<QPlainTextEdit>(compare, "before")->extraSelections().size(),
              2);  // B, and the filler
    // A replaced line faces its replacement; the longer side's rest faces a filler.
    const kelo::app::AlignedRows replaced = kelo::app::AlignLines(3, 4, {{1}, {1, 2}});
    EXPECT_THAT(replaced.before, ElementsAre(0, 1, std::nullopt, 2));
    EXPECT_THAT(replaced.after, ElementsAre(0, 1, 2, 3));
    EXPECT_THAT(replaced.changeStarts, ElementsAre(1));

    // F7 and Shift+F7 step through the two changes.
    EXPECT_EQ(Child<QLabel>(compare, "changeCount")->text(), "2 changes");
    ShowActive(compare);
    QTest::keyClick(&compare, Qt::Key_F7);
    QTest::keyClick(&compare, Qt::Key_F7);
    EXPECT_EQ(Child<QLabel>(compare, "changeCount")->text(), "Change 2 of 2");
    EXPECT_FALSE(Child<QPushButton>(compare, "next")->isEnabled());
    QTest::keyClick(&compare, Qt::Key_F7, Qt::ShiftModifier);
    EXPECT_EQ(Child<QLabel>(compare, "changeCount")->text(), "Change 1 of 2");
}

TEST(CompareDlgTest, BothSidesScrollTogetherByKeyboardAndSideways) {
    // The newer side runs 30 lines longer, and only the older one has a long line.
    std::string before;
    std::string after;
    for (int i = 0; i < 330; ++i) {
        if (i < 300)
            before += "line " + std::to_string(i) + std::string(i == 5 ? 400 : 0, 'x') + "\n";
        after += "line " + std::to_string(i) + (i % 50 == 0 ? " changed" : "") + "\n";
    }
    kelo::app::CompareDialog compare(before, after, "before", "after", nullptr);
    ShowActive(compare);
    QScrollBar* left = Child<QPlainTextEdit>(compare, "before")->verticalScrollBar();
    QScrollBar* right = Child<QPlainTextEdit>(compare, "after")->verticalScrollBar();
    Child<QPlainTextEdit>(compare, "after")->setFocus();
    for (int page = 0; page < 40; ++page)
        QTest::keyClick(Child<QPlainTextEdit>(compare, "after"), Qt::Key_PageDown);
    QTest::keyClick(Child<QPlainTextEdit>(compare, "after"), Qt::Key_Up);
    EXPECT_EQ(right->value(), right->maximum() - 1);
    EXPECT_EQ(left->value(), right->value());
    Child<QPlainTextEdit>(compare, "before")->horizontalScrollBar()->setValue(40);
    EXPECT_EQ(Child<QPlainTextEdit>(compare, "after")->horizontalScrollBar()->value(), 40);
}

TEST(CompareDlgTest, ALongHostNameIsCutAndTheWindowFitsTheScreen) {
    const std::string host(200, 'h');
    kelo::app::CompareDialog compare("A\n", "B\n", host + "  2026-12-09 10:20:14",
                                     host + "  2026-12-09 11:20:14", nullptr);
    compare.show();
    QCoreApplication::processEvents();
    EXPECT_LE(compare.frameGeometry().width(), 1280);
    EXPECT_LE(compare.minimumSizeHint().width(), 1280);
    EXPECT_TRUE(Child<QLabel>(compare, "afterLabel")->text().endsWith("11:20:14"));
    EXPECT_EQ(Child<QLabel>(compare, "afterLabel")->toolTip().toStdString(),
              host + "  2026-12-09 11:20:14");
}

// A day's records of one machine behind discovery's findings of two, one of them the machine.
class HistoryDayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto records = kelo::records::ServiceRecords::Open(path_);
        ASSERT_TRUE(records) << records.reason;
        auto& db = **records.value;
        db.RecordOperation(Kept("alpha", 1000, "get-params", ContentKind::Parameters, "\x01\x02"));
        OperationRecord failed = Kept("alpha", 2000, "backup", ContentKind::Parameters, "");
        failed.result = kelo::records::Result::Failed;
        failed.content.reset();
        db.RecordOperation(failed);
        db.RecordOperation(Kept("alpha", 3000, "backup", ContentKind::Parameters, "\x01\x03"));
        for (const char* found : {"alpha", "found-only"}) {
            db.RecordOperation(kelo::records::FoundMachineRecord(found, 0, "", 4000, 10,
                                                                 kelo::records::Program::KeloCli));
        }
    }

    testing_support::TempDir folder_;
    std::string path_ = folder_ / "records.sqlite3";
};

TEST_F(HistoryDayTest, DiscoveryFindingsStayApartUntilAskedFor) {
    kelo::app::HistoryDialog history(path_, "");
    auto* machines = Child<QListWidget>(history, "machines");
    auto* table = Child<QTableWidget>(history, "operations");
    ASSERT_EQ(machines->count(), 1);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(Child<QLabel>(history, "status")->text().toStdString(),
              "3 operations of 1 machine in " + path_ + "; 2 discovery findings not shown");
    // A failed read that kept no message still says why.
    EXPECT_EQ(table->item(1, 4)->text(), "The machine's parameters could not be read.");

    Child<QCheckBox>(history, "showDiscovered")->setChecked(true);
    ASSERT_EQ(machines->count(), 2);
    EXPECT_EQ(machines->findItems("found-only", Qt::MatchExactly).size(), 1);
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(table->item(0, 2)->text(), "discover");
    EXPECT_EQ(table->item(0, 1)->text(), "?");
}

TEST_F(HistoryDayTest, KeyboardReachesTheButtonsAndEnterComparesAParameterSet) {
    kelo::app::HistoryDialog history(path_, "");
    ShowActive(history);
    QTableWidget* table = Child<QTableWidget>(history, "operations");
    table->setFocus(Qt::TabFocusReason);
    QTest::keyClick(table, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(),
              Child<QPushButton>(history, "compare"));  // Open is off for a set
    EXPECT_EQ(table->currentRow(), 0);

    // Enter on a row: the window its kind opens, closed at once.
    auto enter = [table] {
        QString opened;
        QTimer::singleShot(0, [&opened] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                opened = box->metaObject()->className() + (": " + box->windowTitle());
                box->reject();
            }
        });
        QTest::keyClick(table, Qt::Key_Return);
        return opened;
    };
    EXPECT_EQ(enter(), "kelo::app::CompareDialog: Compare Parameter Sets");

    // Work another program keeps appears on F5, with the operation chosen kept.
    {
        auto records = kelo::records::ServiceRecords::Open(path_);
        (*records.value)
            ->RecordOperation(Kept("alpha", 5000, "get-report", ContentKind::Report, "R\n"));
    }
    table->selectRow(2);
    ShowActive(history);  // again, after Compare
    QTest::keyClick(table, Qt::Key_F5);
    EXPECT_EQ(table->rowCount(), 4);
    EXPECT_EQ(table->currentRow(), 3);
    table->selectRow(0);
    EXPECT_TRUE(enter().startsWith("kelo::app::ReportDialog"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
