#include "app/port_select_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "app/comm_cancel_dlg.h"
#include "app/dialog_parts.h"
#include "app/find_machines_dlg.h"
#include "platform/host_address.h"
#include "platform/messages.h"
#include "snmp/status_query.h"

namespace kelo::app {
namespace {

// Restart leaves Type4 alone: its machines speak framed packets on their own TCP port and have
// no restart object to set. The test is made on the checked type radio's index (the
// machine-type index, 0 to 3), so it means the same before and after the user clicks a type;
// with no radio checked (a stored index outside 0 to 3) Restart runs.
constexpr int kNoRestartTypeIndex = 3;

// What the machines of each type speak, shown beside the type radios.
constexpr std::array<const char*, 4> kTypeCaptions = {
    QT_TRANSLATE_NOOP("kelo::app::SelectPortDialog", "Plain commands, access code A"),
    QT_TRANSLATE_NOOP("kelo::app::SelectPortDialog", "Plain commands, access code B"),
    QT_TRANSLATE_NOOP("kelo::app::SelectPortDialog", "Framed packets, TCP port 9101"),
    QT_TRANSLATE_NOOP("kelo::app::SelectPortDialog", "Framed packets, TCP port 9500"),
};

// Checks the group's button with that id, or none when no button has it.
void CheckOnly(QButtonGroup* group, int id) {
    if (QAbstractButton* button = group->button(id)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group always keeps one button checked; it lets go only while not exclusive.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(false);
    group->setExclusive(true);
}

// A host that the resolver would read as another address than the one it shows ("10.0.0.010"
// reaches 10.0.0.8) is refused where it is entered, with the reason; true when it may be used.
bool IsUsableHost(const std::string& host) {
    if (std::optional<std::string> refusal = platform::RefusedHostForm(host)) {
        platform::ShowText(*refusal);
        return false;
    }
    return true;
}

// Runs the Find Machines dialog over the owner; keep takes what each discovery found.
std::optional<kelo::discover::FoundMachine> FindMachines(
    QWidget* owner, const FindMachinesDialog::FindingsKeeper& keep) {
    FindMachinesDialog finder(owner);
    finder.SetFindingsKeeper(keep);
    if (finder.exec() != QDialog::Accepted)
        return std::nullopt;
    return finder.Chosen();
}

}  // namespace

SelectPortDialog::SelectPortDialog(QWidget* owner)
    : QDialog(owner),
      restartExchange_(kelo::RestartInterface),
      machineFinder_(
          [this](QWidget* finderOwner) { return FindMachines(finderOwner, keepFindings_); }) {
    setWindowTitle(tr("Select Port"));
    setModal(true);
    CreateControls();
}

// "Product:" over the four type radios, each with what its machines speak; "Select port:" over
// the three port radios, the host box with Delete Host and Restart on the network's line and
// Find... above Restart; OK and Cancel centred at the bottom. The controls are made in tab
// order.
void SelectPortDialog::CreateControls() {
    const int indent = fontMetrics().averageCharWidth() * 2;

    auto* types = new QGridLayout;
    types->setContentsMargins(indent, 0, 0, 0);
    types->setColumnStretch(1, 1);
    typeGroup_ = Named(new QButtonGroup(this), "types");
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(tr("Type%1").arg(i + 1), this);
        radio->setObjectName(QStringLiteral("type%1").arg(i + 1));
        typeGroup_->addButton(radio, i);
        types->addWidget(radio, i, 0);
        types->addWidget(new QLabel(tr(kTypeCaptions[static_cast<size_t>(i)]), this), i, 1);
    }

    auto* ports = new QGridLayout;
    ports->setContentsMargins(indent, 0, 0, 0);
    portGroup_ = Named(new QButtonGroup(this), "ports");
    auto addPortRadio = [&](const QString& text, const char* name, int portKind, int row) {
        auto* radio = Named(new QRadioButton(text, this), name);
        portGroup_->addButton(radio, portKind);
        ports->addWidget(radio, row, 0);
    };
    addPortRadio(tr("via Parallel Port"), "parallel", kelo::kPortParallel, 0);
    addPortRadio(tr("via Network"), "network", kelo::kPortNetwork, 1);
    addPortRadio(tr("via USB"), "usb", kelo::kPortUsb, 2);
    connect(portGroup_, &QButtonGroup::idClicked, this, &SelectPortDialog::OnPortClicked);

    hostBox_ = Named(new QComboBox(this), "hostBox");
    hostBox_->setEditable(true);
    hostBox_->setInsertPolicy(QComboBox::NoInsert);
    hostBox_->setDuplicatesEnabled(true);
    hostBox_->setCompleter(nullptr);
    // The edit field is a plain one: Qt would otherwise turn a typed name that matches an entry
    // into a choice of that entry when the field loses focus or takes Enter, whereas a typed
    // name is always a new host that OK puts at the front of the list.
    disconnect(hostBox_->lineEdit(), &QLineEdit::editingFinished, hostBox_, nullptr);
    disconnect(hostBox_->lineEdit(), &QLineEdit::returnPressed, hostBox_, nullptr);
    hostBox_->setMaxVisibleItems(5);
    // Room for a host name of some length; a longer one scrolls rather than widens the window.
    hostBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    hostBox_->setMinimumContentsLength(24);
    ports->addWidget(hostBox_, 1, 1);
    connect(hostBox_->lineEdit(), &QLineEdit::textEdited, this,
            &SelectPortDialog::OnHostTextEdited);
    connect(hostBox_, &QComboBox::activated, this, &SelectPortDialog::OnHostChosen);

    deleteHost_ = Named(ConnectedButton(this, tr("Delete Host"), &SelectPortDialog::OnDeleteHost),
                        "deleteHost");
    ports->addWidget(deleteHost_, 1, 2);
    restart_ = Named(ConnectedButton(this, tr("Restart"), &SelectPortDialog::OnRestart), "restart");
    ports->addWidget(restart_, 1, 3);
    find_ = Named(ConnectedButton(this, tr("Find..."), &SelectPortDialog::OnFindMachines), "find");
    ports->addWidget(find_, 0, 3);

    auto* ok = Named(ConnectedButton(this, tr("OK"), &SelectPortDialog::accept), "ok");
    ok->setDefault(true);
    auto* cancel = Named(ConnectedButton(this, tr("Cancel"), &SelectPortDialog::reject), "cancel");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Product:"), this));
    layout->addLayout(types);
    layout->addWidget(new QLabel(tr("Select port:"), this));
    layout->addLayout(ports);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

bool SelectPortDialog::Run(kelo::PortSelection& selection) {
    portKind_ = selection.portKind;
    typeValue_ = selection.typeValue;
    hosts_.clear();
    SetHosts(selection.hosts, selection.selectedHost);
    if (exec() != QDialog::Accepted)
        return false;
    selection.portKind = portKind_;
    selection.typeValue = typeValue_;
    GetHosts(selection.hosts, selection.selectedHost);
    return true;
}

void SelectPortDialog::SetHosts(const std::vector<std::string>& hosts, int selected) {
    hosts_.insert(hosts_.end(), hosts.begin(), hosts.end());
    selectedHost_ = selected;
}

void SelectPortDialog::GetHosts(std::vector<std::string>& hosts, int& selected) const {
    hosts = hosts_;
    selected = selectedHost_;
}

int SelectPortDialog::exec() {
    InitDialog();
    return QDialog::exec();
}

// The window opens as the values say.
void SelectPortDialog::InitDialog() {
    // 1. The radios whose indices equal the port kind and the type value; none for others.
    CheckOnly(portGroup_, portKind_);
    CheckOnly(typeGroup_, typeValue_);
    // 2, 3. The hosts in list order; the selected one, or nothing and an empty edit field.
    hostBox_->clear();
    for (const std::string& host : hosts_)
        hostBox_->addItem(QString::fromStdString(host));
    SelectHost(selectedHost_);
    // 4. The host controls start enabled, as the template has them; the rule follows the port.
    for (QWidget* control : {static_cast<QWidget*>(hostBox_), static_cast<QWidget*>(deleteHost_),
                             static_cast<QWidget*>(restart_), static_cast<QWidget*>(find_)}) {
        control->setEnabled(true);
    }
    ApplyPortRule();
    // 5. Every type radio can be chosen.
    for (QAbstractButton* radio : typeGroup_->buttons())
        radio->setEnabled(true);
}

// The host controls serve only the network.
void SelectPortDialog::ApplyPortRule() {
    for (QAbstractButton* radio : portGroup_->buttons())
        radio->setEnabled(true);
    bool enableHost = false;
    switch (portKind_) {
        case kelo::kPortParallel:
        case kelo::kPortUsb:
            enableHost = false;
            break;
        case kelo::kPortNetwork:
            enableHost = true;
            break;
        default:
            return;  // no port chosen: the controls stay as they are
    }
    hostBox_->setEnabled(enableHost);
    deleteHost_->setEnabled(enableHost);
    restart_->setEnabled(enableHost);
    find_->setEnabled(enableHost);
}

void SelectPortDialog::OnPortClicked(int portKind) {
    portKind_ = portKind;
    ApplyPortRule();
}

void SelectPortDialog::SelectHost(int index) {
    hostTyped_ = false;
    if (index >= 0 && index < hostBox_->count()) {
        hostBox_->setCurrentIndex(index);
    } else {
        hostBox_->setCurrentIndex(-1);
        hostBox_->setEditText(QString());
    }
}

int SelectPortDialog::SelectedHostIndex() const {
    return hostTyped_ ? -1 : hostBox_->currentIndex();
}

std::string SelectPortDialog::CurrentHostText() const {
    const int selected = SelectedHostIndex();
    const QString text =
        selected >= 0 ? hostBox_->itemText(selected) : hostBox_->lineEdit()->text();
    return text.toStdString();
}

void SelectPortDialog::OnHostTextEdited() {
    hostTyped_ = true;
}

void SelectPortDialog::OnHostChosen() {
    hostTyped_ = false;
}

// Removes the selected host from the box; the host that moves into its place, or the new last
// one, becomes the selected host. The connection's list changes only on OK.
void SelectPortDialog::OnDeleteHost() {
    int selected = SelectedHostIndex();
    if (selected < 0)
        return;
    hostBox_->removeItem(selected);
    if (selected >= hostBox_->count())
        --selected;
    SelectHost(selected);
}

// Restarts the network interface of the machine in the host box on a progress window of its
// own; the dialog stays open and its values stay as they are.
void SelectPortDialog::OnRestart() {
    // The progress window lets events run, so a second click could start a second restart
    // inside the first; one at a time is enough.
    if (restarting_)
        return;
    if (typeGroup_->checkedId() == kNoRestartTypeIndex)
        return;
    const std::string host = CurrentHostText();
    if (!IsUsableHost(host))
        return;
    restarting_ = true;
    {
        // Owned by this dialog, so that the modal loop does not block its Cancel button.
        ProgressDialog progress(this);
        restartExchange_(host, progress);
    }
    restarting_ = false;
}

// Opens Find Machines; a machine chosen there goes into the host box and the type radios,
// for OK or Cancel to keep or discard as they do a typed host.
void SelectPortDialog::OnFindMachines() {
    if (const std::optional<kelo::discover::FoundMachine> machine = machineFinder_(this))
        UseMachine(*machine);
}

// The address becomes the selected entry of the box (added at its end unless listed). The
// checked type stays when the machine is of that type; else the machine's first type is
// checked (Type1 for a machine of types 1 and 2).
void SelectPortDialog::UseMachine(const kelo::discover::FoundMachine& machine) {
    const QString address = QString::fromStdString(kelo::discover::AddressText(machine.address));
    int index = hostBox_->findText(address, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0) {
        hostBox_->addItem(address);
        index = hostBox_->count() - 1;
    }
    SelectHost(index);
    const std::vector<int>& types = machine.types;
    const int checkedType = typeGroup_->checkedId() + 1;
    if (!types.empty() && std::find(types.begin(), types.end(), checkedType) == types.end())
        CheckOnly(typeGroup_, types.front() - 1);
}

// OK: a typed host goes to the front of the list and is the chosen one; the box's entries
// follow in box order. Nothing is sorted and duplicates stay.
void SelectPortDialog::accept() {
    // The chosen host of the network is refused as Restart refuses it; the dialog stays open.
    if (portGroup_->checkedId() == kelo::kPortNetwork && !IsUsableHost(CurrentHostText())) {
        hostBox_->setFocus();
        hostBox_->lineEdit()->selectAll();
        return;
    }
    hosts_.clear();
    selectedHost_ = SelectedHostIndex();
    if (selectedHost_ == -1) {
        hosts_.push_back(hostBox_->lineEdit()->text().toStdString());
        selectedHost_ = 0;
    }
    for (int i = 0; i < hostBox_->count(); ++i)
        hosts_.push_back(hostBox_->itemText(i).toStdString());
    portKind_ = portGroup_->checkedId();
    // With no type radio checked the stored index stays: the dialog opened on an index outside
    // 0 to 3 and the user did not choose a type, so there is nothing to change.
    if (typeGroup_->checkedId() >= 0)
        typeValue_ = typeGroup_->checkedId();
    QDialog::accept();
}

}  // namespace kelo::app
