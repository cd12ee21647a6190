// HistoryDialog: the kept operations. The machines on the left, the chosen machine's operations
// on the right (newest first), each with the machine type it ran as; a kept report opens in the
// viewer or beside the machine's report before it, a kept parameter set beside the set before
// it, and a kept parameter set of the selected machine's type can be chosen to be written back
// into it. What discovery found is left out unless asked for, and the window follows the
// records as other programs add to them.
#pragma once

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "records/record.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace kelo::records {
class ServiceRecords;
}

namespace kelo::app {

class HistoryDialog : public QDialog {
    Q_OBJECT

  public:
    // recordsPath: the database; problem: why a record of this session was not kept, shown
    // in the status line instead of the count ("" for none).
    HistoryDialog(const std::string& recordsPath, const std::string& problem,
                  QWidget* owner = nullptr);
    ~HistoryDialog() override;

    void SetCodePage(std::optional<platform::CodePage> codePage) {
        codePage_ = std::move(codePage);
    }
    // Offers Write this parameter set back...; target: the machine a write goes to (its host
    // or port and its type), as the confirmation names it.
    void SetWriteBackTarget(kelo::records::Machine target);
    // The parameter set (data and check byte) the user chose to write back. The window closes
    // first (Accepted), so that the write's progress window and messages are not blocked by it.
    const std::optional<std::vector<uint8_t>>& ChosenWrite() const { return chosenWrite_; }

    // The confirmation before a write back, naming the machines and the time.
    std::string WriteBackQuestion(const kelo::records::StoredOperation& operation) const;

  public slots:
    void OnMachineChosen();
    void OnOperationChosen();
    void OnOpen();
    void OnCompare();
    void OnWriteBack();
    // Enter on a row: a report opens, a parameter set is compared with the one before it.
    void OnDefaultAction();
    // Reads the records again, keeping the machine and the operation chosen (F5, and by
    // itself once the database or its log changed).
    void Refresh();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The database's and its log's times and sizes: what changes when a program writes.
    using FileStamp = std::vector<int64_t>;

    void CreateControls();
    void Open();
    bool LoadMachines();
    void AddRow(int row, const kelo::records::StoredOperation& operation);
    void ShowStatus();
    void Fail(const std::string& why);
    void OnRecordsChanged();
    FileStamp StampOfFiles() const;
    // The row's operation, or nullptr when no row is chosen.
    const kelo::records::StoredOperation* Chosen() const;
    // The row of the machine's report or parameter set kept before the one of row, if any.
    std::optional<size_t> PreviousKept(size_t row) const;
    // The operation's kept content through decode; nothing when either step fails, which
    // Fail says.
    template <typename T>
    std::optional<T> KeptContent(
        const kelo::records::StoredOperation& operation,
        kelo::records::Outcome<T> (*decode)(const kelo::records::StoredContent&));
    std::optional<std::string> ReportText(const kelo::records::StoredOperation& operation);
    std::optional<std::vector<uint8_t>> ParameterSet(
        const kelo::records::StoredOperation& operation);

    std::string path_;
    std::string problem_;  // why a record of this session was not kept
    std::unique_ptr<kelo::records::ServiceRecords> records_;
    std::vector<kelo::records::StoredOperation> operations_;  // the chosen machine's
    std::optional<platform::CodePage> codePage_;
    std::optional<kelo::records::Machine> target_;
    std::optional<std::vector<uint8_t>> chosenWrite_;
    int64_t listedOperations_ = 0;  // of the machines listed
    int64_t hiddenFindings_ = 0;    // discovery's findings left out
    bool columnsSized_ = false;     // sized to the first rows, then the user's
    FileStamp stamp_;
    QTimer watch_;

    QListWidget* machines_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* open_ = nullptr;
    QPushButton* compare_ = nullptr;
    QPushButton* writeBack_ = nullptr;
    QCheckBox* showDiscovered_ = nullptr;
};

// A kept report: read by Get Report, with its content.
bool IsKeptReport(const kelo::records::StoredOperation& operation);
// A kept parameter set: read by Get Parameters or as a backup, with its content.
bool IsKeptParameterSet(const kelo::records::StoredOperation& operation);
// A machine discovery found, not a service operation.
bool IsFinding(const kelo::records::StoredOperation& operation);

}  // namespace kelo::app
