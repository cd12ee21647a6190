#include "app/kelo_dlg.h"

#include <unistd.h>

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "app/about_dlg.h"
#include "app/app_icon.h"
#include "app/dialog_parts.h"
#include "app/file_dialogs.h"
#include "app/history_dlg.h"
#include "app/port_select_dlg.h"
#include "app/report_dlg.h"
#include "discover/address_block.h"
#include "files/firmware_file.h"
#include "files/parameter_file.h"
#include "files/report_file.h"
#include "net/target.h"
#include "platform/messages.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "records/service_records.h"
#include "service/machine.h"
#include "service/parameter_backup.h"
#include "service/report_code_page.h"
#include "snmp/status_query.h"

namespace kelo::app {
namespace {

// Disables the controls for one operation and enables them again however it ends.
// One operation of the window: the controls are off while it runs, and the machine's host is
// looked up once for all of its connections (the backup read and the write go to one machine).
// It is built after the operation's record, so that it ends first: the window is usable and
// painted again before the record is written, however long the database makes that wait.
class BusyScope {
  public:
    explicit BusyScope(MainDialog& dialog) : dialog_(dialog) { dialog_.EnableControls(false); }
    ~BusyScope() {
        dialog_.EnableControls(true);
        dialog_.repaint();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    MainDialog& dialog_;
    kelo::TargetScope targets_;
};

// The two inputs of the window as LoadChosenInput takes them: the loaded form, and the file's
// bytes as read, for the record. A firmware image is its file: its bytes stay where they are.
bool LoadParameters(const kelo::PathChooser& choose, std::vector<uint8_t>& block,
                    std::vector<uint8_t>& fileBytes) {
    return kelo::LoadParameterFile(choose, block, &fileBytes);
}

bool LoadFirmware(const kelo::PathChooser& choose, std::vector<uint8_t>& image,
                  std::vector<uint8_t>& /*fileBytes: the image itself*/) {
    return kelo::LoadFirmwareFile(choose, image);
}

// A path chooser that notes the path chosen, so the record can name the file.
kelo::PathChooser NotingChooser(kelo::PathChooser choose, std::string& chosen) {
    return [choose = std::move(choose), &chosen](std::string& path) {
        const bool chose = choose(path);
        if (chose)
            chosen = path;
        return chose;
    };
}

// Ends the process at once: no destructor runs, so the settings just loaded are not written.
void EndProgramAtOnce(int status) {
    std::fflush(nullptr);
    ::_exit(status);
}

}  // namespace

// Holds back the messages shown while it is installed, to be let through later or told inside
// another message; a message sink installed after it (a record) still sees each one.
class HeldMessages : public platform::MessageSink {
  public:
    HeldMessages() : previous_(platform::SetMessageSink(this)) {}
    ~HeldMessages() override {
        if (!released_)
            platform::SetMessageSink(previous_);
    }
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

    void Show(const platform::Message& message) override { held_.push_back(message); }
    // The last text held, "" for none.
    std::string Last() const { return held_.empty() ? "" : held_.back().text; }
    // Shows the held messages now, in order, where they would have gone.
    void Release() {
        platform::SetMessageSink(previous_);
        released_ = true;
        for (const platform::Message& message : held_) {
            if (message.id != 0)
                platform::ShowMessage(message.id);
            else
                platform::ShowText(message.text);
        }
    }

  private:
    platform::MessageSink* previous_;
    std::vector<platform::Message> held_;
    bool released_ = false;
};

MainDialog::MainDialog(std::string startupFile, const std::string& profilePath)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      startupFile_(std::move(startupFile)),
      profilePath_(profilePath),
      trace_([this](const std::string& problem) { OnTraceProblem(problem); }),
      cancelDialog_(this),
      link_(cancelDialog_, kelo::LoadSettings(profilePath)),
      recorder_([this] { return RecordsPathOf(profilePath_); }),
      registration_(FileTypeRegistration::ForThisProgram()),
      exitProgram_(EndProgramAtOnce) {
    operations_.selectPort = [this] {
        SelectPortDialog dialog(this);
        dialog.SetRestartExchange(
            [this](const std::string& host, platform::CancelDialog& progress) {
                RestartRecorded(host, progress);
            });
        dialog.SetFindingsKeeper(
            [this](const std::vector<kelo::discover::FoundMachine>& machines, int64_t startedMs,
                   int64_t durationMs) { KeepFindings(machines, startedMs, durationMs); });
        kelo::SelectPort(dialog, link_.MutableSettings());
    };
    operations_.getReport = [this] { return kelo::ops::GetReport(link_.Port()); };
    operations_.getParameters = [this](int capacity) {
        return kelo::ops::GetParameters(link_.Port(), capacity);
    };
    operations_.putParameters = [this](const std::vector<uint8_t>& block) {
        return kelo::ops::PutParameters(link_.Port(), block.data(), static_cast<int>(block.size()));
    };
    operations_.upgradeFirmware = [this](const std::vector<uint8_t>& image) {
        return kelo::ops::UpgradeFirmware(link_.Port(), image.data(),
                                          static_cast<int>(image.size()));
    };
    CreateControls();
}

MainDialog::~MainDialog() {
    if (saveSettingsOnExit_)
        kelo::SaveSettings(profilePath_, link_.Settings());
}

// One column of buttons in four groups: the port; the reports; the parameters; the firmware
// and Exit. The caption is "Kelo" until the version is known.
void MainDialog::CreateControls() {
    setWindowTitle(tr("Kelo"));

    auto* layout = new QVBoxLayout(this);
    auto button = [&](const QString& caption, const char* name, void (MainDialog::*slot)()) {
        auto* b = Named(ConnectedButton(this, caption, slot), name);
        // Plain buttons, none the default; the one with the focus takes Enter.
        b->setAutoDefault(true);
        layout->addWidget(b);
        return b;
    };
    const int groupGap = fontMetrics().height() / 2;
    selectPort_ = button(tr("Select Port"), "selectPort", &MainDialog::OnSelectPort);
    getReport_ = button(tr("Get Report"), "getReport", &MainDialog::OnGetReport);
    openReport_ = button(tr("Open Report"), "openReport", &MainDialog::OnOpenReport);
    layout->addSpacing(groupGap);
    getParameters_ = button(tr("Get Parameters"), "getParameters", &MainDialog::OnGetParameters);
    putParameters_ = button(tr("Put Parameters"), "putParameters", &MainDialog::OnPutParameters);
    layout->addSpacing(groupGap * 2);
    firmwareUpgrade_ =
        button(tr("Firmware Upgrade"), "firmwareUpgrade", &MainDialog::OnFirmwareUpgrade);
    exit_ = button(tr("Exit"), "exit", &MainDialog::accept);
    layout->insertSpacing(1, groupGap / 2);

    development_ = Named(new QLabel(QString::fromStdString(developmentText_), this), "development");
    layout->insertWidget(0, development_);
    development_->hide();
    FitToCaption();

    // The menu's Close is there from the start; initialisation adds the About entry.
    systemMenu_ = Named(new QMenu(this), "systemMenu");
    closeAction_ = Named(systemMenu_->addAction(tr("Close"), this, &MainDialog::close), "close");
    // The keys that open a window's menu, besides the right click and the Menu key.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::ALT | Qt::Key_Space)}) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this,
                &MainDialog::OpenSystemMenuByKey);
    }
}

// The window is as wide as its caption needs beside the title bar's icon and buttons (window
// managers draw captions in bold), so the caption shows whole, and as high as its buttons need.
void MainDialog::FitToCaption() {
    QFont captionFont = font();
    captionFont.setBold(true);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    const int captionWidth =
        QFontMetrics(captionFont).horizontalAdvance(windowTitle()) + kCaptionBarButtons * titleBar;
    setFixedSize(sizeHint().expandedTo(QSize(captionWidth, 0)));
}

// Opened at the window's top left corner, as the title bar's menu opens, with its first entry
// active so that the arrow keys and Enter work at once.
void MainDialog::OpenSystemMenuByKey() {
    systemMenu_->popup(mapToGlobal(QPoint(0, 0)));
    if (!systemMenu_->actions().isEmpty())
        systemMenu_->setActiveAction(systemMenu_->actions().front());
}

// The window initialises just before it first appears.
void MainDialog::showEvent(QShowEvent* event) {
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

void MainDialog::OnInitDialog() {
    // 1. The system menu's About entry, after a separator.
    const std::string about = platform::LoadString(platform::MessageId::kAboutBox);
    if (!about.empty()) {
        systemMenu_->addSeparator();
        Named(systemMenu_->addAction(QString::fromStdString(about), this, &MainDialog::OnAbout),
              "about");
    }
    traceAction_ =
        Named(systemMenu_->addAction(tr("Protocol Trace..."), this, &MainDialog::OnProtocolTrace),
              "trace");
    traceAction_->setCheckable(true);
    traceAction_->setChecked(trace_.TextRunning());
    historyAction_ =
        Named(systemMenu_->addAction(tr("History..."), this, &MainDialog::OnHistory), "history");
    // 2. The icons, and files dropped on the window.
    setWindowIcon(AppIcon());
    setAcceptDrops(true);
    // 3. The caption with the product version.
    LoadVersion();
    setWindowTitle(tr("Kelo %1").arg(QString::fromStdString(version_)));
    FitToCaption();
    // 4. The file type; a failure ends the program here.
    RegisterFileType();
    // 5. The start-up file, once the window is up.
    QMetaObject::invokeMethod(this, &MainDialog::OnStartupFile, Qt::QueuedConnection);
    // 6. The controls.
    EnableControls(true);
    selectPort_->setFocus();
}

void MainDialog::LoadVersion() {
    version_ = platform::ProgramVersion();
}

void MainDialog::RegisterFileType() {
    if (!registration_)
        return;
    int message = 0;
    switch (app::RegisterFileType(*registration_)) {
        case RegistrationResult::kFoldersFailed:
            message = platform::MessageId::kFailedCreateKey;
            break;
        case RegistrationResult::kEntryFailed:
            message = platform::MessageId::kFailedSetValue;
            break;
        default:
            return;
    }
    platform::ShowMessage(message);
    // The settings have only just been loaded: the program ends without writing them.
    saveSettingsOnExit_ = false;
    exitProgram_(0);
}

void MainDialog::EnableControls(bool enable) {
    for (QPushButton* b : {selectPort_, getReport_, getParameters_, putParameters_,
                           firmwareUpgrade_, openReport_, exit_}) {
        b->setEnabled(enable);
    }
    closeAction_->setEnabled(enable);
    // The trace's file dialog must not open inside a running exchange.
    if (traceAction_ != nullptr)
        traceAction_->setEnabled(enable);
    // The History window can write a parameter set: not while another operation runs.
    if (historyAction_ != nullptr)
        historyAction_->setEnabled(enable);
    busy_ = !enable;
    development_->setText(QString::fromStdString(developmentText_));
}

void MainDialog::done(int result) {
    if (busy_)
        return;  // an operation runs: the window stays
    QDialog::done(result);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    systemMenu_->exec(event->globalPos());
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

// A drop opens the one file dropped; the buttons stay as they are. The drop itself ends at
// once: the file opens from a queued call, so the file manager that started the drag is not
// left waiting while a message or the viewer is up.
void MainDialog::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    QMetaObject::invokeMethod(
        this, [this, urls] { OnDroppedFiles(urls); }, Qt::QueuedConnection);
}

void MainDialog::OnDroppedFiles(const QList<QUrl>& urls) {
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        platform::ShowMessage(platform::MessageId::kDropOneFile);
        return;
    }
    OpenReportFile(QFile::encodeName(urls.front().toLocalFile()).toStdString());
}

void MainDialog::OnStartupFile() {
    if (!startupFile_.empty())
        OpenReportFile(startupFile_);
}

void MainDialog::OpenReportFile(const std::string& path) {
    std::string text;
    if (kelo::OpenReportFile(path, text))
        ShowReport(text);
}

std::optional<platform::CodePage> MainDialog::ReportCodePage() {
    const kelo::service::ReportCodePage chosen =
        kelo::service::ChooseReportCodePage("", profilePath_);
    if (!chosen.unknownName.empty() && !unknownEncodingShown_) {
        unknownEncodingShown_ = true;
        platform::ShowText("Unknown report encoding \"" + chosen.unknownName + "\" in " +
                           profilePath_ + "; reports are shown as UTF-8.");
    }
    return chosen.codePage;
}

void MainDialog::ShowReport(const std::string& text) {
    ReportDialog viewer(nullptr);
    viewer.SetCodePage(ReportCodePage());
    viewer.SetReportText(text);
    viewer.exec();
}

void MainDialog::OnSelectPort() {
    BusyScope busy(*this);
    operations_.selectPort();
}

kelo::records::Machine MainDialog::CurrentMachine() const {
    return kelo::service::RecordedMachine(link_.Settings());
}

kelo::records::Result MainDialog::EndedResult() const {
    return cancelDialog_.IsCancelled() ? kelo::records::Result::Cancelled
                                       : kelo::records::Result::Failed;
}

void MainDialog::OnGetReport() {
    RecordedOperation kept(&recorder_, kelo::records::Operation::GetReport, CurrentMachine());
    BusyScope busy(*this);
    const kelo::ops::Report got = operations_.getReport();
    if (!got.outcome.ok()) {
        kept.SetResult(EndedResult());
        return;  // the operation told the user why
    }
    const std::string& report = got.text;
    if (report.size() > kMaxMachineReport) {
        platform::ShowMessage(platform::MessageId::kTooLargeFile);
        return;
    }
    kept.SetContent(kelo::records::ContentKind::Report,
                    std::vector<uint8_t>(report.begin(), report.end()));
    kept.SetResult(kelo::records::Result::Ok);
    // The time the report stays open is the user's, not the operation's.
    kept.Finish();
    ShowReport(report);
}

void MainDialog::OnOpenReport() {
    BusyScope busy(*this);
    std::string path;
    if (!ChooseFile(this, OpenReportDialog(), path))
        return;
    OpenReportFile(path);
}

void MainDialog::OnGetParameters() {
    RecordedOperation kept(&recorder_, kelo::records::Operation::GetParams, CurrentMachine());
    BusyScope busy(*this);
    // The machine is read before any dialog shows.
    const kelo::ops::Parameters got = operations_.getParameters(kParameterBufferSize);
    const std::vector<uint8_t>& set = got.bytes;
    const bool read = got.outcome.ok() && !set.empty() && !cancelDialog_.IsCancelled();
    if (read)
        kept.SetContent(kelo::records::ContentKind::Parameters, set);
    std::string chosen;
    const bool saved = kelo::SaveParameterFile(
        set.data(), static_cast<int>(set.size()),
        NotingChooser(MakePathChooser(this, SaveParameterDialog()), chosen));
    if (saved) {
        kept.SetResult(kelo::records::Result::Ok);
        kept.AddFile("output", chosen);
    } else if (read && !kept.MessageShown()) {
        kept.SetResult(kelo::records::Result::Cancelled);  // the save dialog was cancelled
    } else {
        kept.SetResult(read ? kelo::records::Result::Failed : EndedResult());
    }
}

void MainDialog::OnPutParameters() {
    RecordedOperation kept(&recorder_, kelo::records::Operation::PutParams, CurrentMachine());
    BusyScope busy(*this);
    std::vector<uint8_t> block;
    if (LoadChosenInput(kept, LoadParameterDialog(), LoadParameters, block))
        PutParameterSet(kept, block);
}

bool MainDialog::LoadChosenInput(RecordedOperation& kept, const FileDialogRequest& dialog,
                                 InputLoader load, std::vector<uint8_t>& bytes) {
    std::string chosen;
    std::vector<uint8_t> fileBytes;
    const bool loaded =
        load(NotingChooser(MakePathChooser(this, dialog), chosen), bytes, fileBytes);
    if (chosen.empty()) {
        kept.Drop();  // no file was chosen: nothing was done
        return false;
    }
    if (loaded)
        kept.AddFile("input", chosen, fileBytes.empty() ? bytes : fileBytes);
    else
        kept.AddFile("input", chosen);
    return loaded;
}

void MainDialog::WriteParameterSetBack(std::vector<uint8_t> block) {
    RecordedOperation kept(&recorder_, kelo::records::Operation::PutParams, CurrentMachine());
    BusyScope busy(*this);
    PutParameterSet(kept, block);
}

void MainDialog::PutParameterSet(RecordedOperation& put, std::vector<uint8_t>& block) {
    std::optional<kelo::ops::Write> written;
    if (!recorder_.Enabled()) {
        written = operations_.putParameters(block);  // with records off a backup has no place
    } else {
        // A read that fails is told once, in the question that follows it, not in a box of its
        // own first; the backup's record still keeps what it said.
        std::optional<HeldMessages> held;
        kelo::service::BackupSteps steps;
        steps.read = [&] {
            held.emplace();
            return ReadBackup();
        };
        steps.keep = [&](const kelo::service::BackupRead&) {
            held->Release();
            held.reset();
            put.StartAgain();  // the write's own record begins after the backup's
        };
        steps.writeWithout = [&](const kelo::service::BackupRead&) {
            const bool writeAnyway = WriteWithoutBackup(put, *held);
            held.reset();
            return writeAnyway;
        };
        steps.write = [&] { return operations_.putParameters(block); };
        written = kelo::service::WriteWithBackup(steps);
    }
    if (written)
        put.SetResult(written->outcome.ok() ? kelo::records::Result::Ok : EndedResult());
}

bool MainDialog::WriteWithoutBackup(RecordedOperation& put, HeldMessages& held) {
    if (cancelDialog_.IsCancelled())
        held.Release();
    // The write's own record begins after the backup's, with only its own messages.
    put.StartAgain();
    put.SetResult(kelo::records::Result::Cancelled);
    // A Cancel during the read stops the whole write.
    if (cancelDialog_.IsCancelled())
        return false;
    QMessageBox question(QMessageBox::Warning, QString::fromStdString(platform::ProgramName()),
                         kNoBackupQuestion, QMessageBox::Yes | QMessageBox::No, this);
    if (!held.Last().empty())
        question.setInformativeText(
            tr("The read ended with: %1").arg(QString::fromStdString(held.Last())));
    question.setDefaultButton(QMessageBox::No);
    const bool writeAnyway = question.exec() == QMessageBox::Yes;
    if (!writeAnyway)
        put.SetMessage(kNoBackupQuestion);
    return writeAnyway;
}

kelo::service::BackupRead MainDialog::ReadBackup() {
    RecordedOperation backup(&recorder_, kelo::records::Operation::Backup, CurrentMachine());
    backup.SetBackup();
    kelo::service::BackupRead read = kelo::service::ReadBackup(
        [this] { return operations_.getParameters(kParameterBufferSize); },
        [this] { return cancelDialog_.IsCancelled(); });
    switch (read.end) {
        case kelo::service::BackupRead::End::kRead:
            backup.SetContent(read.set.kind, read.set.plain);
            backup.SetResult(kelo::records::Result::Ok);
            break;
        case kelo::service::BackupRead::End::kNotWhole:
            backup.SetResult(kelo::records::Result::Failed);
            break;
        default:
            backup.SetResult(EndedResult());
            // A damaged reply says nothing of its own: the record says what the question says.
            if (!backup.MessageShown() && !cancelDialog_.IsCancelled())
                backup.SetMessage(kNoBackupReason);
            break;
    }
    return read;
}

void MainDialog::OnFirmwareUpgrade() {
    RecordedOperation kept(&recorder_, kelo::records::Operation::Upgrade, CurrentMachine());
    BusyScope busy(*this);
    std::vector<uint8_t> image;
    if (!LoadChosenInput(kept, LoadFirmwareDialog(), LoadFirmware, image))
        return;
    const kelo::ops::Write written = operations_.upgradeFirmware(image);
    kept.SetResult(written.outcome.ok() ? kelo::records::Result::Ok : EndedResult());
}

void MainDialog::KeepFindings(const std::vector<kelo::discover::FoundMachine>& machines,
                              int64_t startedMs, int64_t durationMs) {
    if (!recorder_.Enabled())
        return;
    recorder_.OperationBegins();
    for (const kelo::discover::FoundMachine& machine : machines) {
        recorder_.Keep(kelo::records::FoundMachineRecord(
            kelo::discover::AddressText(machine.address),
            machine.types.size() == 1 ? machine.types[0] : 0,
            machine.name ? platform::ShownText(*machine.name) : "", startedMs, durationMs,
            kelo::records::Program::Kelo));
    }
    recorder_.OperationEnds();  // written now: no operation runs while the port dialog is open
}

void MainDialog::RestartRecorded(const std::string& host, platform::CancelDialog& progress) {
    kelo::records::Machine machine = CurrentMachine();
    machine.host = host;
    machine.portKind = kelo::records::PortKindWord(kelo::kPortNetwork);
    RecordedOperation kept(&recorder_, kelo::records::Operation::Restart, machine);
    kelo::TargetScope targets;  // the status reads and the request go to one machine
    // A machine that answered the request restarts, whether or not the wait ran to its end.
    if (kelo::RestartInterface(host, progress))
        kept.SetResult(kelo::records::Result::Ok);
    else if (progress.IsCancelled())
        kept.SetResult(kelo::records::Result::Cancelled);
}

bool MainDialog::StartTrace(const std::string& path) {
    const bool started = trace_.StartText(path);
    if (traceAction_ != nullptr)
        traceAction_->setChecked(trace_.TextRunning());
    return started;
}

void MainDialog::OnProtocolTrace() {
    if (trace_.TextRunning()) {
        trace_.StopText();
    } else {
        std::string path;
        if (ChooseFile(this, TraceFileDialog(), path) && !StartTrace(path))
            platform::ShowText(traceProblem_);
    }
    traceAction_->setChecked(trace_.TextRunning());
}

// A trace file that cannot be written costs the trace, never the operation: its error goes
// to standard error, not into a message box in the middle of an exchange.
void MainDialog::OnTraceProblem(const std::string& problem) {
    traceProblem_ = problem;
    std::fprintf(stderr, "%s: protocol trace: %s\n", platform::ProgramName().c_str(),
                 problem.c_str());
}

// A parameter set chosen in the History window is written once the window has closed, so
// that the write's progress window can be cancelled; the window then opens again with it.
void MainDialog::OnHistory() {
    std::string problem = recorder_.TakeUnshownProblem();
    for (;;) {
        const std::optional<std::string> path = recorder_.Path();
        HistoryDialog history(path.value_or(kelo::records::DefaultRecordsPath()), problem, this);
        history.SetCodePage(ReportCodePage());
        history.SetWriteBackTarget(CurrentMachine());
        if (history.exec() != QDialog::Accepted || !history.ChosenWrite())
            return;
        WriteParameterSetBack(*history.ChosenWrite());
        problem = recorder_.TakeUnshownProblem();
    }
}

void MainDialog::OnAbout() {
    AboutDialog about(this);
    about.SetVersionText(version_);
    about.exec();
}

}  // namespace kelo::app
