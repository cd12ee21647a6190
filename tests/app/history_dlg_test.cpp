// The History window over a database with a few kept operations, and the changed lines the
// comparison marks.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <string>
#include <vector>

#include "app/compare_dlg.h"
#include "app/history_dlg.h"
#include "records/service_records.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::records::ContentKind;
using kelo::records::OperationRecord;

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
    const app::ChangedLines changes =
        app::FindChangedLines("A\r\nB\r\nC\r\nD\r\n", "A\r\nX\r\nC\r\nD\r\nE\r\n");
    EXPECT_EQ(changes.before, std::vector<int>{1});
    EXPECT_EQ(changes.after, (std::vector<int>{1, 4}));
    EXPECT_TRUE(app::FindChangedLines("same\n", "same\n").before.empty());
    EXPECT_EQ(app::FindChangedLines("", "new\n").after, std::vector<int>{0});
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
    app::CHistoryDlg history(path, "");
    history.SetWriteBackTarget({"10.0.0.9", "", 3, "network", ""});

    ASSERT_EQ(history.MachineList()->count(), 2);
    EXPECT_EQ(history.MachineList()->item(0)->text().toLower(), "alpha");
    EXPECT_EQ(history.MachineList()->item(1)->text(), "beta");
    QTableWidget* table = history.OperationTable();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(0, 1)->text(), "get-report");
    EXPECT_EQ(table->item(1, 1)->text(), "get-params");
    EXPECT_EQ(table->item(2, 2)->text(), "ok");
    EXPECT_TRUE(history.StatusLine()->text().startsWith("4 operations of"));

    // The newest report has one before it; the oldest has none.
    EXPECT_TRUE(history.CompareButton()->isEnabled());
    EXPECT_FALSE(history.WriteBackButton()->isEnabled());
    table->selectRow(2);
    EXPECT_TRUE(history.OpenButton()->isEnabled());
    EXPECT_FALSE(history.CompareButton()->isEnabled());

    // A kept parameter set goes back only after a Yes to a question naming both machines.
    table->selectRow(1);
    ASSERT_TRUE(history.WriteBackButton()->isEnabled());
    std::vector<std::string> asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked.push_back(box->text().toStdString());
            box->button(asked.size() == 1 ? QMessageBox::No : QMessageBox::Yes)->click();
        }
    });
    answer.start(1);
    history.WriteBackButton()->click();
    EXPECT_FALSE(history.ChosenWrite());
    history.WriteBackButton()->click();
    ASSERT_TRUE(history.ChosenWrite());
    EXPECT_EQ(history.ChosenWrite()->size(), 3u);  // the set and its check byte
    EXPECT_EQ(history.result(), QDialog::Accepted);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_NE(asked[0].find("from alpha on "), std::string::npos);
    EXPECT_NE(asked[0].find("into the machine at 10.0.0.9?"), std::string::npos);
    EXPECT_NE(asked[0].find("That is not the machine the set was read from."), std::string::npos);

    // Into the machine it came from, no warning; from a machine of another type, a warning.
    history.SetWriteBackTarget({"ALPHA", "", 3, "network", ""});
    table->selectRow(1);
    history.WriteBackButton()->click();
    EXPECT_EQ(asked.back().find("\n\n"), std::string::npos) << asked.back();
    history.SetWriteBackTarget({"alpha", "", 1, "network", ""});
    history.WriteBackButton()->click();
    EXPECT_NE(asked.back().find("read from a machine of type 3; the machine at alpha is set up as "
                                "type 1."),
              std::string::npos)
        << asked.back();
}

// A host holding U+202E or a byte that is not UTF-8 is shown as such and finds its operations.
TEST(HistoryDlgTest, ListsAnOddHostAsShownTextAndFindsItsOperations) {
    testing_support::TempDir folder;
    const std::string path = folder / "records.sqlite3";
    (*kelo::records::ServiceRecords::Open(path).value)
        ->RecordOperation(Kept("a\xE2\x80\xAE!\xFF", 1000, "get-report", ContentKind::Report, "A"));
    app::CHistoryDlg history(path, "");
    EXPECT_EQ(history.MachineList()->item(0)->text(), "a\uFFFD!\uFFFD");
    EXPECT_EQ(history.OperationTable()->rowCount(), 1);
    history.SetWriteBackTarget({"b", "", 3, "network", ""});
    kelo::records::StoredOperation read;
    read.machine = {"a\xE2\x80\xAE!", "", 3, "network", ""};
    EXPECT_EQ(history.WriteBackQuestion(read).find("\xE2\x80\xAE"), std::string::npos);
}

TEST(HistoryDlgTest, TellsWhyARecordWasNotKept) {
    testing_support::TempDir folder;
    app::CHistoryDlg history(folder / "records.sqlite3", "database is locked");
    EXPECT_EQ(history.StatusLine()->text(), "Not recorded: database is locked");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
