#include "app/history_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <set>

#include "app/compare_dlg.h"
#include "app/dialog_parts.h"
#include "app/report_dlg.h"
#include "platform/ascii_case.h"
#include "platform/messages.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "records/service_records.h"

namespace kelo::app {
namespace {

using kelo::records::Operation;
using kelo::records::OperationWord;
using kelo::records::Result;
using kelo::records::StoredOperation;

enum Column { kTime, kType, kOperation, kResult, kMessage, kColumns };

// How often the window looks whether another program changed the records: two stat calls.
constexpr int kWatchMilliseconds = 1000;

// A text a record holds as the window shows it: a host name may hold anything, and a
// character that turns the text around would make it read as another.
QString Shown(const std::string& text) {
    return QString::fromStdString(platform::ShownText(text));
}

// A message on one line of the table.
QString OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
    return Shown(text).simplified();
}

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

QString TypeText(int type) {
    return type == 0 ? QStringLiteral("?") : QString::number(type);
}

// What a row whose operation did not succeed, or wrote nothing, says when it kept no message of
// its own.
QString UnsaidReason(const StoredOperation& operation) {
    const bool backup = operation.operation == OperationWord(Operation::Backup);
    switch (operation.result) {
        case Result::Failed:
            return backup ? HistoryDialog::tr("The machine's parameters could not be read.")
                          : HistoryDialog::tr("Failed; no message was kept.");
        case Result::Cancelled:
            return backup ? HistoryDialog::tr("The parameter read was cancelled.")
                          : HistoryDialog::tr("Cancelled.");
        case Result::TimedOut:
            return HistoryDialog::tr("Timed out.");
        case Result::Skipped:
            return HistoryDialog::tr("Not started: the host list stopped before it.");
        case Result::Unchanged:
            return HistoryDialog::tr("The machine already held this set; nothing was written.");
        case Result::Ok:
            break;
    }
    return {};
}

// Shows a cell's whole text as its tooltip when the cell cuts it; a tooltip of its own always.
class CutTextTips : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || index.data(Qt::ToolTipRole).isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QStyleOptionViewItem shown = option;
        initStyleOption(&shown, index);
        const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view);
        if (shown.fontMetrics.horizontalAdvance(shown.text) + 2 * (margin + 1) >
            option.rect.width())
            QToolTip::showText(event->globalPos(), shown.text, view);
        else
            QToolTip::hideText();
        return true;
    }
};

}  // namespace

bool IsKeptReport(const StoredOperation& operation) {
    return operation.content && operation.operation == OperationWord(Operation::GetReport);
}

bool IsKeptParameterSet(const StoredOperation& operation) {
    return operation.content && (operation.operation == OperationWord(Operation::GetParams) ||
                                 operation.operation == OperationWord(Operation::Backup));
}

bool IsFinding(const StoredOperation& operation) {
    return operation.operation == OperationWord(Operation::Discover);
}

HistoryDialog::HistoryDialog(const std::string& recordsPath, const std::string& problem,
                             QWidget* owner)
    : QDialog(owner), path_(recordsPath), problem_(problem) {
    CreateControls();
    Open();
    stamp_ = StampOfFiles();
    watch_.start(kWatchMilliseconds);
}

HistoryDialog::~HistoryDialog() = default;

void HistoryDialog::CreateControls() {
    setWindowTitle(tr("History"));
    machines_ = Named(new QListWidget(this), "machines");
    showDiscovered_ = Named(new QCheckBox(tr("Show &discovered machines"), this), "showDiscovered");
    showDiscovered_->setToolTip(
        tr("Also list the machines Find Machines and discover found, and their findings"));
    table_ = Named(new QTableWidget(0, kColumns, this), "operations");
    table_->setHorizontalHeaderLabels(
        {tr("Time"), tr("Type"), tr("Operation"), tr("Result"), tr("Message")});
    table_->horizontalHeaderItem(kType)->setToolTip(tr("The machine type it ran as"));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    // Tab leaves the table for the next control; the arrow keys move within it.
    table_->setTabKeyNavigation(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setItemDelegate(new CutTextTips(table_));
    machines_->setItemDelegate(new CutTextTips(machines_));
    table_->installEventFilter(this);
    machines_->installEventFilter(this);
    status_ = Named(new QLabel(this), "status");
    status_->setTextFormat(Qt::PlainText);
    open_ = Named(ConnectedButton(this, tr("&Open Report"), &HistoryDialog::OnOpen), "open");
    compare_ = Named(ConnectedButton(this, tr("Compare with &previous"), &HistoryDialog::OnCompare),
                     "compare");
    writeBack_ = Named(
        ConnectedButton(this, tr("&Write this parameter set back..."), &HistoryDialog::OnWriteBack),
        "writeBack");
    auto* close = Named(ConnectedButton(this, tr("&Close"), &QDialog::reject), "close");
    writeBack_->setAutoDefault(false);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(machines_, 1);
    leftLayout->addWidget(showDiscovered_);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(table_);
    splitter->setStretchFactor(1, 3);
    splitter->setSizes({220, 640});
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {open_, compare_, writeBack_})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    resize(860, 480);
    QWidget* const chain[] = {machines_, showDiscovered_, table_, open_,
                              compare_,  writeBack_,      close};
    for (size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    connect(machines_, &QListWidget::currentRowChanged, this, &HistoryDialog::OnMachineChosen);
    connect(showDiscovered_, &QCheckBox::toggled, this, &HistoryDialog::Refresh);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &HistoryDialog::OnOperationChosen);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &HistoryDialog::OnDefaultAction);
    auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(refresh, &QShortcut::activated, this, &HistoryDialog::Refresh);
    connect(&watch_, &QTimer::timeout, this, &HistoryDialog::OnRecordsChanged);
    OnOperationChosen();
}

// Looking is no reason to make a database: with none yet there is nothing to show.
void HistoryDialog::Open() {
    auto opened = kelo::records::ServiceRecords::OpenExisting(path_);
    if (opened.failure == kelo::records::OpenFailure::NoFile) {
        status_->setText(problem_.empty()
                             ? tr("No operations kept yet in %1").arg(QString::fromStdString(path_))
                             : tr("Not recorded: %1").arg(QString::fromStdString(problem_)));
        return;
    }
    if (!opened) {
        // The reason the records cannot be read is also why this session's were not kept: said
        // once, in its own words.
        if (problem_.find(opened.reason) != std::string::npos)
            problem_.clear();
        Fail(opened.reason);
        return;
    }
    records_ = std::move(*opened.value);
    const bool loaded = LoadMachines();
    OnMachineChosen();
    if (loaded)
        ShowStatus();
}

void HistoryDialog::SetWriteBackTarget(kelo::records::Machine target) {
    target_ = std::move(target);
    OnOperationChosen();
}

// The machines in the order they were last worked on; a host is one machine however its
// name was written, as DNS compares names without case. Without discovery's findings, a
// machine only found is not listed and a finding does not move a machine up.
bool HistoryDialog::LoadMachines() {
    const auto history = records_->History({});
    if (!history) {
        Fail(history.reason);
        return false;
    }
    const bool findings = showDiscovered_->isChecked();
    std::set<std::string> seen;
    listedOperations_ = hiddenFindings_ = 0;
    for (const StoredOperation& operation : *history) {
        if (!findings && IsFinding(operation)) {
            ++hiddenFindings_;
            continue;
        }
        ++listedOperations_;
        if (!seen.insert(platform::AsciiLowerText(operation.machine.host)).second)
            continue;
        // The host as kept is what the machine's operations are asked for by.
        auto* item = new QListWidgetItem(Shown(operation.machine.host), machines_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(operation.machine.host));
    }
    return true;
}

void HistoryDialog::ShowStatus() {
    if (!problem_.empty()) {
        status_->setText(tr("Not recorded: %1").arg(QString::fromStdString(problem_)));
        return;
    }
    if (!records_)
        return;
    const auto count = [](int64_t n, const QString& one, const QString& many) {
        return (n == 1 ? one : many).arg(n);
    };
    QString text = tr("%1 of %2 in %3")
                       .arg(count(listedOperations_, tr("%1 operation"), tr("%1 operations")),
                            count(machines_->count(), tr("%1 machine"), tr("%1 machines")),
                            QString::fromStdString(path_));
    if (hiddenFindings_ > 0) {
        text += count(hiddenFindings_, tr("; %1 discovery finding not shown"),
                      tr("; %1 discovery findings not shown"));
    }
    status_->setText(text);
}

void HistoryDialog::Fail(const std::string& why) {
    QString text = tr("Records cannot be read: %1").arg(QString::fromStdString(why));
    if (!problem_.empty())
        text += tr("; %1").arg(QString::fromStdString(kelo::records::NotRecordedText(problem_)));
    status_->setText(text);
}

void HistoryDialog::Refresh() {
    if (!records_) {
        Open();
    } else {
        const QByteArray host = machines_->currentItem()
                                    ? machines_->currentItem()->data(Qt::UserRole).toByteArray()
                                    : QByteArray();
        const StoredOperation* chosen = Chosen();
        const int64_t id = chosen ? chosen->id : 0;  // record ids start at 1
        bool loaded = false;
        {
            const QSignalBlocker quiet(machines_);
            machines_->clear();
            loaded = LoadMachines();
            // The host as kept, without case, as the machines are told apart.
            QListWidgetItem* same = nullptr;
            for (int i = 0; i < machines_->count() && same == nullptr; ++i) {
                const QByteArray kept = machines_->item(i)->data(Qt::UserRole).toByteArray();
                if (platform::SameAsciiName(kept.toStdString(), host.toStdString()))
                    same = machines_->item(i);
            }
            machines_->setCurrentItem(same);
        }
        OnMachineChosen();
        for (size_t row = 0; row < operations_.size(); ++row) {
            if (operations_[row].id == id)
                table_->selectRow(static_cast<int>(row));
        }
        if (loaded)
            ShowStatus();
    }
    stamp_ = StampOfFiles();
}

HistoryDialog::FileStamp HistoryDialog::StampOfFiles() const {
    FileStamp stamp;
    for (const std::string& file : {path_, path_ + "-wal"}) {
        std::error_code error;
        const auto written = std::filesystem::last_write_time(file, error);
        stamp.push_back(error ? -1 : written.time_since_epoch().count());
        const auto size = std::filesystem::file_size(file, error);
        stamp.push_back(error ? -1 : static_cast<int64_t>(size));
    }
    return stamp;
}

// Another program's write changes the log's (or, once copied, the database's) time and size.
// Not while a window of this one is up over it: its operation stays the one it was opened for.
void HistoryDialog::OnRecordsChanged() {
    QWidget* modal = QApplication::activeModalWidget();
    if ((modal != nullptr && modal != this) || StampOfFiles() == stamp_)
        return;
    Refresh();
}

void HistoryDialog::OnMachineChosen() {
    table_->setRowCount(0);
    operations_.clear();
    QListWidgetItem* machine = machines_->currentItem();
    if (machine == nullptr && machines_->count() > 0) {
        machines_->setCurrentRow(0);  // comes back here
        return;
    }
    if (machine == nullptr || !records_)
        return;
    kelo::records::HistoryQuery query;
    query.host = machine->data(Qt::UserRole).toByteArray().toStdString();
    auto history = records_->History(query);
    if (!history) {
        Fail(history.reason);
        return;
    }
    operations_ = std::move(*history.value);
    if (!showDiscovered_->isChecked())
        std::erase_if(operations_, IsFinding);
    table_->setRowCount(static_cast<int>(operations_.size()));
    for (size_t i = 0; i < operations_.size(); ++i)
        AddRow(static_cast<int>(i), operations_[i]);
    // Sized to the first machine's rows; after that the widths are the user's.
    if (!columnsSized_ && !operations_.empty()) {
        table_->resizeColumnsToContents();
        columnsSized_ = true;
    }
    if (!operations_.empty())
        table_->selectRow(0);
    OnOperationChosen();
}

void HistoryDialog::AddRow(int row, const StoredOperation& operation) {
    table_->setItem(
        row, kTime,
        Cell(QString::fromStdString(kelo::records::LocalTimeText(operation.startedMs))));
    QTableWidgetItem* type = Cell(TypeText(operation.machine.type));
    type->setTextAlignment(Qt::AlignCenter);
    if (operation.machine.type == 0)
        type->setToolTip(tr("The machine type was not known"));
    table_->setItem(row, kType, type);
    table_->setItem(row, kOperation, Cell(Shown(operation.operation)));
    const std::string_view result = kelo::records::ResultWord(operation.result);
    table_->setItem(row, kResult,
                    Cell(QString::fromUtf8(result.data(), static_cast<qsizetype>(result.size()))));
    QTableWidgetItem* message = Cell(OneLine(operation.message));
    if (operation.message.empty() && operation.result != Result::Ok) {
        // Not the machine's words: set apart in italics.
        message->setText(UnsaidReason(operation));
        QFont italic = message->font();
        italic.setItalic(true);
        message->setFont(italic);
    }
    table_->setItem(row, kMessage, message);
}

const StoredOperation* HistoryDialog::Chosen() const {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    const size_t row = static_cast<size_t>(selected.front()->row());
    return row < operations_.size() ? &operations_[row] : nullptr;
}

std::optional<size_t> HistoryDialog::PreviousKept(size_t row) const {
    const bool report = IsKeptReport(operations_[row]);
    for (size_t earlier = row + 1; earlier < operations_.size(); ++earlier) {
        if (report ? IsKeptReport(operations_[earlier]) : IsKeptParameterSet(operations_[earlier]))
            return earlier;
    }
    return std::nullopt;
}

void HistoryDialog::OnOperationChosen() {
    const StoredOperation* operation = Chosen();
    const bool report = operation != nullptr && IsKeptReport(*operation);
    const bool parameters = operation != nullptr && IsKeptParameterSet(*operation);
    open_->setEnabled(report);
    compare_->setEnabled((report || parameters) &&
                         PreviousKept(static_cast<size_t>(operation - operations_.data())));
    writeBack_->setEnabled(parameters && operation->result == Result::Ok && target_.has_value());
}

bool HistoryDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == table_) {
                OnDefaultAction();
                return true;
            }
            if (watched == machines_) {
                table_->setFocus(Qt::TabFocusReason);  // on to the machine's operations
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void HistoryDialog::OnDefaultAction() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr)
        return;
    if (IsKeptReport(*operation)) {
        OnOpen();
    } else if (compare_->isEnabled()) {
        OnCompare();
    } else if (IsKeptParameterSet(*operation)) {
        status_->setText(tr("No parameter set of this machine was kept before this one."));
    }
}

template <typename T>
std::optional<T> HistoryDialog::KeptContent(
    const StoredOperation& operation,
    kelo::records::Outcome<T> (*decode)(const kelo::records::StoredContent&)) {
    const auto content = records_->Content(*operation.content);
    if (!content) {
        Fail(content.reason);
        return std::nullopt;
    }
    auto decoded = decode(*content);
    if (!decoded) {
        Fail(decoded.reason);
        return std::nullopt;
    }
    return std::move(*decoded.value);
}

std::optional<std::string> HistoryDialog::ReportText(const StoredOperation& operation) {
    return KeptContent(operation, kelo::records::DecodeReport);
}

std::optional<std::vector<uint8_t>> HistoryDialog::ParameterSet(const StoredOperation& operation) {
    return KeptContent(operation, kelo::records::DecodeParameters);
}

void HistoryDialog::OnOpen() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr || !IsKeptReport(*operation))
        return;
    const std::optional<std::string> text = ReportText(*operation);
    if (!text)
        return;
    ReportDialog viewer(this);
    viewer.SetCodePage(codePage_);
    viewer.SetReportText(*text);
    viewer.exec();
}

// Two reports as they read; two parameter sets as lines of bytes.
void HistoryDialog::OnCompare() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr)
        return;
    const std::optional<size_t> previous =
        PreviousKept(static_cast<size_t>(operation - operations_.data()));
    if (!previous)
        return;
    const StoredOperation& before = operations_[*previous];
    std::optional<std::string> beforeText;
    std::optional<std::string> afterText;
    const bool report = IsKeptReport(*operation);
    if (report) {
        beforeText = ReportText(before);
        afterText = ReportText(*operation);
    } else if (auto beforeSet = ParameterSet(before)) {
        beforeText = HexLines(*beforeSet);
        if (auto afterSet = ParameterSet(*operation))
            afterText = HexLines(*afterSet);
    }
    if (!beforeText || !afterText)
        return;
    auto label = [](const StoredOperation& op) {
        return tr("%1 (type %2)  %3 %4")
            .arg(QString::fromStdString(op.machine.host), TypeText(op.machine.type),
                 QString::fromStdString(op.operation),
                 QString::fromStdString(kelo::records::LocalTimeText(op.startedMs)))
            .toStdString();
    };
    CompareDialog compare(*beforeText, *afterText, label(before), label(*operation),
                          report && codePage_ ? &*codePage_ : nullptr, this);
    if (!report)
        compare.setWindowTitle(tr("Compare Parameter Sets"));
    compare.exec();
}

// The question names both machines, and warns when the set came from another machine.
std::string HistoryDialog::WriteBackQuestion(const StoredOperation& operation) const {
    const kelo::records::Machine& source = operation.machine;
    // Named as shown text: a kept host that reads backwards could name another machine.
    QString question =
        tr("Write the parameter set read from %1 on %2 into the machine at %3?")
            .arg(Shown(source.host),
                 QString::fromStdString(kelo::records::LocalTimeText(operation.startedMs)),
                 Shown(target_->host));
    if (QString::fromStdString(source.host)
            .compare(QString::fromStdString(target_->host), Qt::CaseInsensitive) != 0) {
        question += "\n\n" + tr("That is not the machine the set was read from.");
    }
    return question.toStdString();
}

void HistoryDialog::OnWriteBack() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr || !IsKeptParameterSet(*operation) || !target_)
        return;
    // A set is laid out for the type of machine it was read from: another type's set is
    // refused, as kelo-cli restore-params refuses it.
    if (operation->machine.type != 0 && operation->machine.type != target_->type) {
        platform::ShowText(tr("Record %1 is the parameter set of a type %2 machine, and the "
                              "machine at %3 is set up as type %4; nothing was written.")
                               .arg(operation->id)
                               .arg(operation->machine.type)
                               .arg(QString::fromStdString(target_->host))
                               .arg(target_->type)
                               .toStdString());
        return;
    }
    std::optional<std::vector<uint8_t>> block = ParameterSet(*operation);
    if (!block)
        return;
    QMessageBox question(QMessageBox::Question, QString::fromStdString(platform::ProgramName()),
                         QString::fromStdString(WriteBackQuestion(*operation)),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setTextFormat(Qt::PlainText);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes)
        return;
    chosenWrite_ = std::move(block);
    accept();
}

}  // namespace kelo::app
