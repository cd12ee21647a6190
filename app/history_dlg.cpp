#include "app/history_dlg.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>
#include <set>

#include "app/compare_dlg.h"
#include "app/report_dlg.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "records/service_records.h"

namespace app {
namespace {

using kelo::records::StoredOperation;

enum Column { kTime, kOperation, kResult, kMessage, kColumns };

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

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

}  // namespace

std::string LocalTimeText(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toString("yyyy-MM-dd HH:mm:ss").toStdString();
}

bool IsKeptReport(const StoredOperation& operation) {
    return operation.content && operation.operation == "get-report";
}

bool IsKeptParameterSet(const StoredOperation& operation) {
    return operation.content &&
           (operation.operation == "get-params" || operation.operation == "backup");
}

CHistoryDlg::CHistoryDlg(const std::string& recordsPath, const std::string& problem, QWidget* owner)
    : QDialog(owner) {
    CreateControls();
    // Looking is no reason to make a database: with none yet there is nothing to show.
    auto opened = kelo::records::ServiceRecords::OpenExisting(recordsPath);
    if (opened.failure == kelo::records::OpenFailure::NoFile) {
        status_->setText(QString::fromStdString("No operations kept yet in " + recordsPath));
        ShowStatus(problem);
        return;
    }
    if (!opened) {
        ShowStatus(problem.empty() ? "Records cannot be read: " + opened.reason : problem);
        return;
    }
    records_ = std::move(*opened.value);
    LoadMachines();
    ShowStatus(problem);
}

CHistoryDlg::~CHistoryDlg() = default;

void CHistoryDlg::CreateControls() {
    setWindowTitle("History");
    machines_ = new QListWidget(this);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels({"Time", "Operation", "Result", "Message"});
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    status_ = new QLabel(this);
    open_ = new QPushButton("Open Report", this);
    compare_ = new QPushButton("Compare with previous", this);
    writeBack_ = new QPushButton("Write this parameter set back...", this);
    close_ = new QPushButton("Close", this);
    writeBack_->setAutoDefault(false);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(machines_);
    splitter->addWidget(table_);
    splitter->setStretchFactor(1, 3);
    splitter->setSizes({220, 640});
    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {open_, compare_, writeBack_})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(close_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    resize(860, 480);

    connect(machines_, &QListWidget::currentRowChanged, this, &CHistoryDlg::OnMachineChosen);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &CHistoryDlg::OnOperationChosen);
    connect(table_, &QTableWidget::cellDoubleClicked, this, &CHistoryDlg::OnOpen);
    connect(open_, &QPushButton::clicked, this, &CHistoryDlg::OnOpen);
    connect(compare_, &QPushButton::clicked, this, &CHistoryDlg::OnCompare);
    connect(writeBack_, &QPushButton::clicked, this, &CHistoryDlg::OnWriteBack);
    connect(close_, &QPushButton::clicked, this, &QDialog::reject);
    OnOperationChosen();
}

void CHistoryDlg::SetWriteBackTarget(kelo::records::Machine target) {
    target_ = std::move(target);
    OnOperationChosen();
}

// The machines in the order they were last worked on; a host is one machine however its
// name was written, as DNS compares names without case.
void CHistoryDlg::LoadMachines() {
    const auto history = records_->History({});
    if (!history) {
        Fail(history.reason);
        return;
    }
    std::set<std::string> seen;
    for (const StoredOperation& operation : *history) {
        if (!seen.insert(Lower(operation.machine.host)).second)
            continue;
        // The host as kept is what the machine's operations are asked for by.
        auto* item = new QListWidgetItem(Shown(operation.machine.host), machines_);
        item->setData(Qt::UserRole, QByteArray::fromStdString(operation.machine.host));
    }
    if (machines_->count() > 0)
        machines_->setCurrentRow(0);
}

void CHistoryDlg::ShowStatus(const std::string& problem) {
    if (!problem.empty()) {
        status_->setText(QString::fromStdString("Not recorded: " + problem));
        return;
    }
    if (!records_)
        return;
    const auto summary = records_->Summarise();
    if (!summary) {
        Fail(summary.reason);
        return;
    }
    status_->setText(QString("%1 operations of %2 machines in %3")
                         .arg(summary->operations)
                         .arg(summary->machines)
                         .arg(QString::fromStdString(summary->path)));
}

void CHistoryDlg::Fail(const std::string& why) {
    status_->setText(QString::fromStdString("Records cannot be read: " + why));
}

void CHistoryDlg::OnMachineChosen() {
    table_->setRowCount(0);
    operations_.clear();
    QListWidgetItem* machine = machines_->currentItem();
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
    table_->setRowCount(static_cast<int>(operations_.size()));
    for (size_t i = 0; i < operations_.size(); ++i) {
        const StoredOperation& operation = operations_[i];
        const int row = static_cast<int>(i);
        table_->setItem(row, kTime,
                        Cell(QString::fromStdString(LocalTimeText(operation.startedMs))));
        table_->setItem(row, kOperation, Cell(Shown(operation.operation)));
        table_->setItem(
            row, kResult,
            Cell(QString::fromUtf8(
                kelo::records::ResultWord(operation.result).data(),
                static_cast<qsizetype>(kelo::records::ResultWord(operation.result).size()))));
        table_->setItem(row, kMessage, Cell(OneLine(operation.message)));
    }
    table_->resizeColumnsToContents();
    if (!operations_.empty())
        table_->selectRow(0);
    OnOperationChosen();
}

const StoredOperation* CHistoryDlg::Chosen() const {
    const QList<QTableWidgetItem*> selected = table_->selectedItems();
    if (selected.isEmpty())
        return nullptr;
    const size_t row = static_cast<size_t>(selected.front()->row());
    return row < operations_.size() ? &operations_[row] : nullptr;
}

std::optional<size_t> CHistoryDlg::PreviousReport(size_t row) const {
    for (size_t earlier = row + 1; earlier < operations_.size(); ++earlier) {
        if (IsKeptReport(operations_[earlier]))
            return earlier;
    }
    return std::nullopt;
}

void CHistoryDlg::OnOperationChosen() {
    const StoredOperation* operation = Chosen();
    const bool report = operation != nullptr && IsKeptReport(*operation);
    open_->setEnabled(report);
    compare_->setEnabled(report &&
                         PreviousReport(static_cast<size_t>(operation - operations_.data())));
    writeBack_->setEnabled(operation != nullptr && IsKeptParameterSet(*operation) &&
                           operation->result == kelo::records::Result::Ok && target_.has_value());
}

std::optional<std::string> CHistoryDlg::ReportText(const StoredOperation& operation) {
    const auto content = records_->Content(*operation.content);
    if (!content) {
        Fail(content.reason);
        return std::nullopt;
    }
    auto text = kelo::records::DecodeReport(*content);
    if (!text) {
        Fail(text.reason);
        return std::nullopt;
    }
    return *text.value;
}

void CHistoryDlg::OnOpen() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr || !IsKeptReport(*operation))
        return;
    const std::optional<std::string> text = ReportText(*operation);
    if (!text)
        return;
    CReportDlg viewer(this);
    viewer.SetCodePage(codePage_);
    viewer.SetReportText(*text);
    viewer.exec();
}

void CHistoryDlg::OnCompare() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr)
        return;
    const std::optional<size_t> previous =
        PreviousReport(static_cast<size_t>(operation - operations_.data()));
    if (!previous)
        return;
    const StoredOperation& before = operations_[*previous];
    const std::optional<std::string> beforeText = ReportText(before);
    const std::optional<std::string> afterText = ReportText(*operation);
    if (!beforeText || !afterText)
        return;
    auto label = [](const StoredOperation& op) {
        return op.machine.host + "  " + LocalTimeText(op.startedMs);
    };
    CCompareDlg compare(*beforeText, *afterText, label(before), label(*operation),
                        codePage_ ? &*codePage_ : nullptr, this);
    compare.exec();
}

// The question names both machines, and warns when the set came from another machine or from
// a machine of another type: a set is the settings of one machine, laid out for its type.
std::string CHistoryDlg::WriteBackQuestion(const StoredOperation& operation) const {
    const kelo::records::Machine& source = operation.machine;
    // Named as shown text: a kept host that reads backwards could name another machine.
    const std::string from = platform::ShownText(source.host);
    const std::string into = platform::ShownText(target_->host);
    std::string question = "Write the parameter set read from " + from + " on " +
                           LocalTimeText(operation.startedMs) + " into the machine at " + into +
                           "?";
    if (source.type != 0 && source.type != target_->type) {
        question += "\n\nThe set was read from a machine of type " + std::to_string(source.type) +
                    "; the machine at " + into + " is set up as type " +
                    std::to_string(target_->type) + ".";
    } else if (QString::fromStdString(source.host)
                   .compare(QString::fromStdString(target_->host), Qt::CaseInsensitive) != 0) {
        question += "\n\nThat is not the machine the set was read from.";
    }
    return question;
}

void CHistoryDlg::OnWriteBack() {
    const StoredOperation* operation = Chosen();
    if (operation == nullptr || !IsKeptParameterSet(*operation) || !target_)
        return;
    const auto content = records_->Content(*operation->content);
    if (!content) {
        Fail(content.reason);
        return;
    }
    auto block = kelo::records::DecodeParameters(*content);
    if (!block) {
        Fail(block.reason);
        return;
    }
    QMessageBox question(QMessageBox::Question, QString::fromStdString(platform::ProgramName()),
                         QString::fromStdString(WriteBackQuestion(*operation)),
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setTextFormat(Qt::PlainText);
    question.setDefaultButton(QMessageBox::No);
    if (question.exec() != QMessageBox::Yes)
        return;
    chosenWrite_ = std::move(*block.value);
    accept();
}

}  // namespace app
