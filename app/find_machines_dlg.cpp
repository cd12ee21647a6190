#include "app/find_machines_dlg.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/comm_cancel_dlg.h"
#include "app/dialog_parts.h"
#include "discover/broadcast_addresses.h"
#include "platform/messages.h"
#include "platform/shown_text.h"

namespace kelo::app {
namespace {

using kelo::discover::Address;
using kelo::discover::FoundMachine;

enum Column { kAddressColumn, kTypeColumn, kNameColumn };

QString TypesText(const std::vector<int>& types) {
    QStringList names;
    for (int type : types)
        names << FindMachinesDialog::tr("Type%1").arg(type);
    return names.join(", ");
}

QString ProgressLineOf(const kelo::discover::DiscoveryProgress& progress) {
    return FindMachinesDialog::tr("Probed %1/%2, found %3")
        .arg(progress.probed)
        .arg(progress.addresses)
        .arg(progress.found);
}

QString Shown(const std::optional<std::string>& value) {
    return value ? QString::fromStdString(platform::ShownText(*value)) : QString();
}

}  // namespace

FindMachinesDialog::FindMachinesDialog(QWidget* owner)
    : QDialog(owner), runner_(kelo::discover::RunDiscovery) {
    setWindowTitle(tr("Find Machines"));
    setModal(true);
    CreateControls();
}

// The subnet box and Find on the first line, the list of machines below, the progress line
// with Use and Cancel at the bottom; the controls are made in tab order.
void FindMachinesDialog::CreateControls() {
    auto* subnetLabel = new QLabel(tr("Subnet:"), this);
    subnet_ = Named(new QLineEdit(this), "subnet");
    subnet_->setPlaceholderText(tr("empty: every local network"));
    subnet_->setToolTip(tr("IPv4 blocks such as 192.168.1.0/24, at most %1 addresses")
                            .arg(kelo::discover::kMaxProbedAddresses));
    subnet_->setMinimumWidth(subnet_->fontMetrics().horizontalAdvance(subnet_->placeholderText()) +
                             subnet_->fontMetrics().averageCharWidth() * 4);

    find_ = Named(ConnectedButton(this, tr("Find"), &FindMachinesDialog::OnFind), "find");
    find_->setDefault(true);

    list_ = Named(new QTreeWidget(this), "machines");
    list_->setRootIsDecorated(false);
    list_->setHeaderLabels({tr("Address"), tr("Type"), tr("Name")});
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    const QFontMetrics metrics(list_->font());
    const int gap = metrics.averageCharWidth() * 3;
    list_->setColumnWidth(kAddressColumn, metrics.horizontalAdvance("255.255.255.255") + gap);
    list_->setColumnWidth(kTypeColumn, metrics.horizontalAdvance(TypesText({3, 4})) + gap);
    list_->setMinimumSize(metrics.averageCharWidth() * 64, metrics.lineSpacing() * 12);
    connect(list_, &QTreeWidget::itemSelectionChanged, this,
            &FindMachinesDialog::OnSelectionChanged);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &FindMachinesDialog::accept);
    list_->installEventFilter(this);
    subnet_->installEventFilter(this);

    progressText_ = Named(new QLabel(this), "progressText");

    use_ = Named(ConnectedButton(this, tr("Use"), &FindMachinesDialog::accept), "use");
    use_->setEnabled(false);
    auto* cancel =
        Named(ConnectedButton(this, tr("Cancel"), &FindMachinesDialog::reject), "cancel");

    auto* top = new QHBoxLayout;
    top->addWidget(subnetLabel);
    top->addWidget(subnet_, 1);
    top->addWidget(find_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(progressText_, 1);
    bottom->addWidget(use_);
    bottom->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(list_);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

int FindMachinesDialog::exec() {
    QMetaObject::invokeMethod(this, &FindMachinesDialog::OnFind, Qt::QueuedConnection);
    return QDialog::exec();
}

// The blocks typed into the box (separated by spaces or commas), or every local network's
// broadcast address when it is empty; nothing, after a message, when the text is no such
// list.
std::optional<kelo::discover::DiscoveryPlan> FindMachinesDialog::PlanFromSubnetBox() {
    kelo::discover::DiscoveryPlan plan;
    const QStringList words =
        subnet_->text().split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        plan.broadcasts = kelo::discover::BroadcastNetworks();
        return plan;
    }
    std::vector<kelo::discover::AddressBlock> blocks;
    for (const QString& word : words) {
        const auto block = kelo::discover::ParseAddressBlock(word.toStdString());
        if (!block) {
            platform::ShowText(
                tr("'%1' is no IPv4 subnet such as 192.168.1.0/24.").arg(word).toStdString());
            return std::nullopt;
        }
        blocks.push_back(*block);
    }
    const auto hosts = kelo::discover::HostAddresses(blocks);
    if (!hosts) {
        platform::ShowText(tr("The subnets hold more than %1 addresses.")
                               .arg(kelo::discover::kMaxProbedAddresses)
                               .toStdString());
        return std::nullopt;
    }
    plan.hosts = *hosts;
    return plan;
}

// Runs one discovery on a progress window of this dialog's own, listing the machines afresh.
void FindMachinesDialog::OnFind() {
    if (progress_ != nullptr)
        return;  // one at a time: the progress window lets a second click through
    if (const std::optional<kelo::discover::DiscoveryPlan> plan = PlanFromSubnetBox()) {
        list_->clear();
        machines_.clear();
        for (QWidget* control : {static_cast<QWidget*>(subnet_), static_cast<QWidget*>(find_),
                                 static_cast<QWidget*>(use_)}) {
            control->setEnabled(false);
        }
        ProgressDialog progress(this);
        progress_ = &progress;
        progressText_->clear();
        const int64_t startedMs = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer lasted;
        lasted.start();
        const kelo::discover::DiscoveryResult result = runner_(
            *plan, progress, [this](const FoundMachine& machine) { ShowMachine(machine); },
            [this](const kelo::discover::DiscoveryProgress& now) {
                progressText_->setText(ProgressLineOf(now));
            });
        progress_ = nullptr;
        if (keepFindings_)
            keepFindings_(machines_, startedMs, lasted.elapsed());
        subnet_->setEnabled(true);
        find_->setEnabled(true);
        OnSelectionChanged();
        if (!result.error.empty())
            platform::ShowText(result.error);
        if (result.machineLimitReached) {
            progressText_->setText(
                tr("Stopped at %1 machines").arg(kelo::discover::kMaxBroadcastMachines));
        }
    }
    emit findingEnded();
}

// Keeps what is known of the machine, its row in address order; returns the row.
int FindMachinesDialog::Keep(const FoundMachine& machine) {
    const auto at = std::lower_bound(
        machines_.begin(), machines_.end(), machine.address,
        [](const FoundMachine& listed, Address wanted) { return listed.address < wanted; });
    const int row = static_cast<int>(at - machines_.begin());
    if (at != machines_.end() && at->address == machine.address) {
        *at = machine;
    } else {
        machines_.insert(at, machine);
        list_->insertTopLevelItem(row, new QTreeWidgetItem);
    }
    return row;
}

void FindMachinesDialog::ShowMachine(const FoundMachine& machine) {
    QTreeWidgetItem* item = list_->topLevelItem(Keep(machine));
    item->setText(kAddressColumn,
                  QString::fromStdString(kelo::discover::AddressText(machine.address)));
    item->setText(kTypeColumn, TypesText(machine.types));
    item->setText(kNameColumn, Shown(machine.name));
    item->setToolTip(kNameColumn, Shown(machine.description));
}

// With a machine selected, Enter uses it; Find is the default only while none is.
void FindMachinesDialog::OnSelectionChanged() {
    const bool selected = list_->currentItem() != nullptr && !list_->selectedItems().isEmpty();
    use_->setEnabled(progress_ == nullptr && selected);
    use_->setDefault(selected);
    find_->setDefault(!selected);
}

// Enter in the subnet box finds, whatever is selected; Enter in the list uses the machine
// selected. The first Down (or Up) in a list without a selection selects the row the list
// marks as current (its first on entering it), rather than moving past it.
bool FindMachinesDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == subnet_ && enter) {
        OnFind();
        return true;
    }
    if (watched == list_ && enter && !list_->selectedItems().isEmpty()) {
        accept();
        return true;
    }
    if (watched == list_ && (key == Qt::Key_Down || key == Qt::Key_Up) &&
        list_->selectedItems().isEmpty() && list_->topLevelItemCount() > 0) {
        QTreeWidgetItem* current = list_->currentItem();
        list_->setCurrentItem(current != nullptr ? current : list_->topLevelItem(0));
        current = list_->currentItem();
        current->setSelected(true);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void FindMachinesDialog::accept() {
    if (progress_ != nullptr)
        return;
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = list_->indexOfTopLevelItem(selected.front());
    if (row < 0 || row >= static_cast<int>(machines_.size()))
        return;
    chosen_ = machines_[static_cast<size_t>(row)];
    QDialog::accept();
}

void FindMachinesDialog::reject() {
    if (progress_ != nullptr) {
        progress_->reject();
        return;
    }
    QDialog::reject();
}

}  // namespace kelo::app
