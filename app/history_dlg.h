// CHistoryDlg: the kept operations. The machines on the left, the chosen machine's operations
// on the right (newest first); a kept report opens in the viewer or beside the machine's report
// before it, and a kept parameter set can be chosen to be written back into the selected
// machine.
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "records/record.h"

class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace kelo::records {
class ServiceRecords;
}

namespace app {

class CHistoryDlg : public QDialog {
    Q_OBJECT

  public:
    // recordsPath: the database; problem: why a record of this session was not kept, shown
    // in the status line instead of the count ("" for none).
    CHistoryDlg(const std::string& recordsPath, const std::string& problem,
                QWidget* owner = nullptr);
    ~CHistoryDlg() override;

    void SetCodePage(std::optional<platform::CodePage> codePage) {
        codePage_ = std::move(codePage);
    }
    // Offers Write this parameter set back...; target: the machine a write goes to (its host
    // or port and its type), as the confirmation names it.
    void SetWriteBackTarget(kelo::records::Machine target);
    // The parameter set (data and check byte) the user chose to write back. The window closes
    // first (Accepted), so that the write's progress window and messages are not blocked by it.
    const std::optional<std::vector<uint8_t>>& ChosenWrite() const { return chosenWrite_; }

    QListWidget* MachineList() const { return machines_; }
    QTableWidget* OperationTable() const { return table_; }
    QLabel* StatusLine() const { return status_; }
    QPushButton* OpenButton() const { return open_; }
    QPushButton* CompareButton() const { return compare_; }
    QPushButton* WriteBackButton() const { return writeBack_; }

    // The confirmation before a write back, naming the machines and the time.
    std::string WriteBackQuestion(const kelo::records::StoredOperation& operation) const;

  public slots:
    void OnMachineChosen();
    void OnOperationChosen();
    void OnOpen();
    void OnCompare();
    void OnWriteBack();

  private:
    void CreateControls();
    void LoadMachines();
    void ShowStatus(const std::string& problem);
    void Fail(const std::string& why);
    // The row's operation, or nullptr when no row is chosen.
    const kelo::records::StoredOperation* Chosen() const;
    // The row of the machine's report kept before the report of row, if any.
    std::optional<size_t> PreviousReport(size_t row) const;
    std::optional<std::string> ReportText(const kelo::records::StoredOperation& operation);

    std::unique_ptr<kelo::records::ServiceRecords> records_;
    std::vector<kelo::records::StoredOperation> operations_;  // the chosen machine's
    std::optional<platform::CodePage> codePage_;
    std::optional<kelo::records::Machine> target_;
    std::optional<std::vector<uint8_t>> chosenWrite_;

    QListWidget* machines_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* compare_ = nullptr;
    QPushButton* writeBack_ = nullptr;
    QPushButton* close_ = nullptr;
};

// "2026-12-09 08:45:01" in local time.
std::string LocalTimeText(int64_t ms);

// A kept report: read by Get Report, with its content.
bool IsKeptReport(const kelo::records::StoredOperation& operation);
// A kept parameter set: read by Get Parameters or as a backup, with its content.
bool IsKeptParameterSet(const kelo::records::StoredOperation& operation);

}  // namespace app
