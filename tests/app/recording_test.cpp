// The main window's operations in the service records: what a record holds, the backup before
// a write, and a database that cannot be written leaving the operation as it was.
#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/kelo_dlg.h"
#include "files/parameter_file.h"
#include "platform/message_recorder.h"
#include "records/service_records.h"
#include "tests/app/named_child.h"
#include "tests/app/scripted_file_dialogs.h"
#include "tests/app/stub_operations.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using kelo::app::Child;

using kelo::app::MainDialog;
using kelo::records::Result;
using kelo::records::StoredOperation;
using testing_support::TempDir;

const std::vector<uint8_t> kMachineSet = {0x10, 0x20, 0x30};
const std::vector<uint8_t> kFileSet = {0x01, 0x02, 0x03, 0x04};

// Answers every message box that comes up with the button given, and keeps their texts.
class MessageBoxAnswer {
  public:
    explicit MessageBoxAnswer(QMessageBox::StandardButton answer) {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            texts.push_back(box->text().toStdString());
            informative.push_back(box->informativeText().toStdString());
            defaults.push_back(box->defaultButton() == box->button(QMessageBox::No));
            box->button(answer)->click();
        });
        timer_.start();
    }
    std::vector<std::string> texts;
    std::vector<std::string> informative;
    std::vector<bool> defaults;  // whether No was the default

  private:
    QTimer timer_;
};

class RecordingTest : public ::testing::Test {
  protected:
    RecordingTest() {
        ::setenv("KELO_RECORDS", RecordsPath().c_str(), 1);
        dialog_.emplace("", folder_ / "kelo.INI");
        dialog_->SetRegistration(std::nullopt);
        dialog_->show();
        MainDialog::Operations& ops = dialog_->MutableOperations();
        ops.getParameters = [this](int) {
            ++reads_;
            if (refused_)
                kelo::platform::ShowMessage(kelo::platform::MessageId::kFailedConnect);
            return testing_support::ParametersOf(machineAnswers_, kMachineSet);
        };
        ops.putParameters = [this](const std::vector<uint8_t>& block) {
            written_.push_back(block);
            kelo::platform::ShowMessage(kelo::platform::MessageId::kDone);
            return testing_support::WriteOf(true);
        };
        EXPECT_TRUE(kelo::SaveParameterFile(kFileSet.data(), static_cast<int>(kFileSet.size()),
                                            [&](std::string& path) {
                                                path = folder_ / "new.par";
                                                return true;
                                            }));
    }
    ~RecordingTest() override { ::unsetenv("KELO_RECORDS"); }

    std::string RecordsPath() const { return folder_ / "records.sqlite3"; }

    // The kept operations, oldest first.
    std::vector<StoredOperation> Kept() {
        dialog_->Recorder().WaitForWrites();
        auto records = kelo::records::ServiceRecords::Open(RecordsPath());
        EXPECT_TRUE(records) << records.reason;
        auto history = (*records.value)->History({});
        std::vector<StoredOperation> operations(history->rbegin(), history->rend());
        return operations;
    }

    void PutParameters() {
        app_testing::ScriptedFileDialogs dialogs;
        dialogs.answers.push_back(folder_ / "new.par");
        Child<QPushButton>(*dialog_, "putParameters")->click();
    }

    TempDir folder_;
    kelo::platform::MessageRecorder messages_;
    std::optional<MainDialog> dialog_;
    bool machineAnswers_ = true;
    bool refused_ = false;  // the read says why it failed
    int reads_ = 0;
    std::vector<std::vector<uint8_t>> written_;
};

TEST_F(RecordingTest, GetParametersIsKeptWithTheSetReadAndTheFileWritten) {
    app_testing::ScriptedFileDialogs dialogs;
    dialogs.answers.push_back(folder_ / "read.par");
    Child<QPushButton>(*dialog_, "getParameters")->click();

    const std::vector<StoredOperation> kept = Kept();
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].program, "kelo");
    EXPECT_EQ(kept[0].operation, "get-params");
    EXPECT_EQ(kept[0].result, Result::Ok);
    EXPECT_EQ(kept[0].machine.host, "network");  // no host selected yet
    EXPECT_EQ(kept[0].machine.type, 3);
    EXPECT_EQ(kept[0].firstFile, folder_ / "read.par");
    ASSERT_TRUE(kept[0].content);

    auto records = kelo::records::ServiceRecords::Open(RecordsPath());
    auto content = (*records.value)->Content(*kept[0].content);
    ASSERT_TRUE(content);
    // The content is the file a save writes, byte for byte.
    EXPECT_EQ(content->fileBytes, testing_support::ReadFileBytes(folder_ / "read.par"));
}

TEST_F(RecordingTest, PutParametersKeepsTheMachinesSetAsItsBackupBeforeWriting) {
    PutParameters();

    ASSERT_EQ(written_.size(), 1u);
    EXPECT_EQ(reads_, 1);
    const std::vector<StoredOperation> kept = Kept();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].operation, "backup");
    EXPECT_TRUE(kept[0].backup);
    EXPECT_EQ(kept[0].result, Result::Ok);
    EXPECT_EQ(kept[1].operation, "put-params");
    EXPECT_EQ(kept[1].result, Result::Ok);
    EXPECT_EQ(kept[1].message, "Done.");
    EXPECT_EQ(kept[1].firstFile, folder_ / "new.par");

    ASSERT_TRUE(kept[0].content);
    auto records = kelo::records::ServiceRecords::Open(RecordsPath());
    auto backup = (*records.value)->Content(*kept[0].content);
    auto decoded = kelo::records::DecodeParameters(*backup);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(std::vector<uint8_t>(decoded->begin(), decoded->end() - 1), kMachineSet);

    // Writing the backup back puts the machine's old set in, after a backup of its own.
    dialog_->WriteParameterSetBack(*decoded);
    ASSERT_EQ(written_.size(), 2u);
    EXPECT_EQ(written_[1], *decoded);
    EXPECT_EQ(Kept().size(), 4u);
}

TEST_F(RecordingTest, AFailedBackupReadAsksAndNoWritesNothing) {
    machineAnswers_ = false;
    {
        MessageBoxAnswer no(QMessageBox::No);
        PutParameters();
        EXPECT_EQ(no.texts, std::vector<std::string>{MainDialog::kNoBackupQuestion});
        EXPECT_EQ(no.defaults, std::vector<bool>{true});
    }
    EXPECT_TRUE(written_.empty());
    std::vector<StoredOperation> kept = Kept();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].result, Result::Failed);
    EXPECT_EQ(kept[0].message, MainDialog::kNoBackupReason);
    EXPECT_EQ(kept[1].result, Result::Cancelled);

    // A refused connection is told inside the question, not in a box before it.
    refused_ = true;
    {
        MessageBoxAnswer no(QMessageBox::No);
        PutParameters();
        EXPECT_EQ(no.texts, std::vector<std::string>{MainDialog::kNoBackupQuestion});
        ASSERT_EQ(no.informative.size(), 1u);
        EXPECT_NE(no.informative[0].find("Failed to connect"), std::string::npos);
    }
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_EQ(Kept()[2].message.find("Failed to connect"), 0u);

    MessageBoxAnswer yes(QMessageBox::Yes);
    PutParameters();
    ASSERT_EQ(written_.size(), 1u);
    EXPECT_EQ(written_[0].size(), kFileSet.size() + 1);
}

TEST_F(RecordingTest, RecordsOffWriteWithoutABackupOrAQuestion) {
    machineAnswers_ = false;
    testing_support::WriteFile(folder_ / "kelo.INI", "[Records]\nEnabled=0\n");
    MessageBoxAnswer none(QMessageBox::No);
    PutParameters();
    EXPECT_EQ(reads_, 0);
    EXPECT_EQ(written_.size(), 1u);
    EXPECT_TRUE(none.texts.empty());
}

// Another program holding the records locked never holds the window up (the records wait up to
// a second on a thread of their own); they are in the database once the lock is gone.
TEST_F(RecordingTest, ALockedDatabaseNeverHoldsUpTheWindow) {
    PutParameters();
    dialog_->Recorder().WaitForWrites();
    {
        SQLite::Database other(RecordsPath(), SQLite::OPEN_READWRITE);
        other.exec("BEGIN IMMEDIATE");
        const auto started = std::chrono::steady_clock::now();
        PutParameters();
        EXPECT_LT(std::chrono::steady_clock::now() - started,
                  std::chrono::milliseconds(kelo::records::kBusyTimeoutMilliseconds))
            << "written on the window's thread, the put would wait out the whole busy time";
        dialog_->Recorder().WaitForWrites();
    }
    EXPECT_EQ(Kept().size(), 4u);
    EXPECT_EQ(dialog_->Recorder().TakeUnshownProblem(), "");
}

// A database that cannot be opened (its folder is a file) costs the records, nothing else:
// the same messages, no box of its own, and the reason once for the History window.
TEST_F(RecordingTest, AnUnwritableDatabaseLeavesTheOperationAsItWas) {
    testing_support::WriteFile(folder_ / "plain", "not a folder");
    ::setenv("KELO_RECORDS", (folder_ / "plain/records.sqlite3").c_str(), 1);
    MessageBoxAnswer none(QMessageBox::No);
    PutParameters();
    EXPECT_EQ(written_.size(), 1u);
    EXPECT_EQ(reads_, 1);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Done."});
    EXPECT_TRUE(none.texts.empty());
    EXPECT_NE(dialog_->Recorder().TakeUnshownProblem(), "");
    EXPECT_EQ(dialog_->Recorder().TakeUnshownProblem(), "");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
