// MainDialog: the main dialog, one button per service operation. It owns the one
// connection to the machine of the run; it loads the settings when built and saves them when
// destroyed. Each button runs its operation to the end with the buttons disabled meanwhile.
#pragma once

#include <QDialog>
#include <QList>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/comm_cancel_dlg.h"
#include "app/file_dialogs.h"
#include "app/kelo_app.h"
#include "app/operation_recorder.h"
#include "discover/discovery.h"
#include "files/block_capacity.h"
#include "link/device_link.h"
#include "ops/operations.h"
#include "platform/code_page.h"
#include "records/record.h"
#include "service/parameter_backup.h"
#include "trace/trace_session.h"

class QLabel;
class QMenu;
class QAction;
class QPushButton;

namespace kelo::app {

class HeldMessages;

class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // The room the window leaves beside its caption, in title-bar heights: the window's icon
    // and its minimise, maximise and close buttons, with a margin.
    static constexpr int kCaptionBarButtons = 5;

    // A report from the machine longer than this is refused.
    static constexpr size_t kMaxMachineReport = kelo::kBlockCapacity;
    // Get Parameters reads into a buffer of this size.
    static constexpr int kParameterBufferSize = kelo::kBlockCapacity;

    // What the buttons ask of the machine: the connection's operations unless replaced.
    struct Operations {
        std::function<void()> selectPort;
        std::function<kelo::ops::Report()> getReport;
        std::function<kelo::ops::Parameters(int capacity)> getParameters;
        std::function<kelo::ops::Write(const std::vector<uint8_t>& block)> putParameters;
        std::function<kelo::ops::Write(const std::vector<uint8_t>& image)> upgradeFirmware;
    };

    // startupFile: the report file named on the command line, "" for none. profilePath: the
    // settings file loaded now and saved when the dialog is destroyed.
    explicit MainDialog(std::string startupFile = "",
                        const std::string& profilePath = platform::ProfileStore::DefaultPath());
    ~MainDialog() override;

    // The question asked when no backup could be read before a write.
    static constexpr char kNoBackupQuestion[] =
        "Could not read the machine's current parameters for a backup. Write the parameter "
        "file anyway?";
    // What a backup read that failed without a message of its own is kept with.
    static constexpr char kNoBackupReason[] =
        "Could not read the machine's current parameters for a backup.";

    kelo::DeviceLink& Link() { return link_; }
    OperationRecorder& Recorder() { return recorder_; }
    Operations& MutableOperations() { return operations_; }

    // Where the .kel type is registered while the window initialises; nothing to skip it.
    void SetRegistration(std::optional<FileTypeRegistration> registration) {
        registration_ = std::move(registration);
    }
    // How the program ends at once after a failed registration (_exit by default).
    void SetProgramExit(std::function<void(int status)> exitProgram) {
        exitProgram_ = std::move(exitProgram);
    }

    const std::string& VersionText() const { return version_; }

    bool IsBusy() const { return busy_; }

    // Enables or disables the seven buttons and the menu's Close, and lets the window close
    // or not. Every operation calls it with false first and true last, on every path.
    void EnableControls(bool enable);

    // Reads a report file and shows it in the viewer, or shows why it cannot.
    void OpenReportFile(const std::string& path);

    // Starts the text trace, appending to the file (KELO_TRACE, or the menu item). False
    // when the file cannot be written; its error then went to standard error.
    bool StartTrace(const std::string& path);

    // Writes a kept parameter set (data and check byte) into the selected machine as Put
    // Parameters writes a file: with a backup first while records are on.
    void WriteParameterSetBack(std::vector<uint8_t> block);

  public slots:
    void OnSelectPort();
    void OnGetReport();
    void OnOpenReport();
    void OnGetParameters();
    void OnPutParameters();
    void OnFirmwareUpgrade();
    void OnAbout();
    // The menu item: asks for a file and starts the trace, or stops the running one.
    void OnProtocolTrace();
    // The menu item: the window of the kept operations.
    void OnHistory();
    // Shift+F10 and Alt+Space: the system menu, from the keyboard.
    void OpenSystemMenuByKey();
    // The posted start-up message: opens the report file named on the command line.
    void OnStartupFile();
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateControls();
    void FitToCaption();
    void OnInitDialog();
    void LoadVersion();
    void RegisterFileType();
    void ShowReport(const std::string& text);
    // The code page of reports named in the profile; nullopt for the locale's. An unknown
    // name is said once, and reports are then shown as UTF-8.
    std::optional<platform::CodePage> ReportCodePage();
    void OnTraceProblem(const std::string& problem);
    // The dropped files: one local file opens, anything else is a wrong drop.
    void OnDroppedFiles(const QList<QUrl>& urls);

    // The selected machine as the records keep it: the host, else the port kind's name.
    kelo::records::Machine CurrentMachine() const;
    // How an operation that did not succeed ended: cancelled by the user, or failed.
    kelo::records::Result EndedResult() const;
    // The file loaders of Put Parameters and Firmware Upgrade.
    // Loads the chosen file into its loaded form, and gives the file's bytes as they were read
    // (none where the loaded form is the file itself).
    using InputLoader = bool (*)(const kelo::PathChooser&, std::vector<uint8_t>& loaded,
                                 std::vector<uint8_t>& fileBytes);
    // Loads the file the user chooses into bytes and notes it as the operation's input; false
    // when none was chosen (the record is dropped: nothing was done) or it did not load.
    bool LoadChosenInput(RecordedOperation& kept, const FileDialogRequest& dialog, InputLoader load,
                         std::vector<uint8_t>& bytes);
    // Reads the machine's parameter set for its backup, kept in a record of its own.
    kelo::service::BackupRead ReadBackup();
    // After no backup could be read: whether to write anyway. Not after a Cancel; otherwise
    // the user is asked, told what the read ended with (held back until then).
    bool WriteWithoutBackup(RecordedOperation& put, HeldMessages& held);
    // The write of a parameter set: the backup, then Put Parameters.
    void PutParameterSet(RecordedOperation& put, std::vector<uint8_t>& block);
    // Each machine Find Machines found, kept as an operation "discover" of its own.
    void KeepFindings(const std::vector<kelo::discover::FoundMachine>& machines, int64_t startedMs,
                      int64_t durationMs);
    // The restart exchange of the port dialog, kept as an operation of its own.
    void RestartRecorded(const std::string& host, platform::CancelDialog& progress);

    // The text of static 1021: empty from the start, so the control never shows anything.
    std::string developmentText_;
    std::string version_;
    std::string startupFile_;
    std::string profilePath_;
    bool unknownEncodingShown_ = false;
    // Cleared when the program ends before its settings could matter (a failed registration).
    bool saveSettingsOnExit_ = true;

    std::string traceProblem_;  // the trace file's last error
    kelo::trace::TraceSession trace_;
    ProgressDialog cancelDialog_;
    kelo::DeviceLink link_;
    Operations operations_;
    OperationRecorder recorder_;
    std::optional<FileTypeRegistration> registration_;
    std::function<void(int)> exitProgram_;

    QPushButton* selectPort_ = nullptr;
    QPushButton* getReport_ = nullptr;
    QPushButton* openReport_ = nullptr;
    QPushButton* getParameters_ = nullptr;
    QPushButton* putParameters_ = nullptr;
    QPushButton* firmwareUpgrade_ = nullptr;
    QPushButton* exit_ = nullptr;
    QLabel* development_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    QAction* closeAction_ = nullptr;
    QAction* traceAction_ = nullptr;
    QAction* historyAction_ = nullptr;
    bool initialised_ = false;
    bool busy_ = false;
};

}  // namespace kelo::app
