#include "app/port_select_dlg.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <array>

#include "app/comm_cancel_dlg.h"
#include "app/dialog_template.h"
#include "app/find_machines_dlg.h"
#include "platform/host_address.h"
#include "platform/messages.h"
#include "snmp/status_query.h"

namespace app {
namespace {

// Restart leaves Type4 alone: its machines speak framed packets on their own TCP port and have
// no restart object to set. The test is made on the checked type radio's index (the
// machine-type index, 0 to 3), so it means the same before and after the user clicks a type;
// with no radio checked (a stored index outside 0 to 3) Restart runs.
constexpr int kNoRestartTypeIndex = 3;

// What the machines of each type speak, shown beside the type radios.
constexpr std::array<const char*, 4> kTypeCaptions = {
    "Plain commands, access code A",
    "Plain commands, access code B",
    "Framed packets, TCP port 9101",
    "Framed packets, TCP port 9500",
};

// Template positions (x, y, width, height in dialog units) of the type radios and captions.
struct Position {
    int x, y, width, height;
};
constexpr std::array<Position, 4> kTypeRadios = {
    {{15, 18, 36, 10}, {15, 31, 36, 10}, {15, 43, 36, 10}, {15, 56, 36, 10}}};
constexpr std::array<Position, 4> kTypeCaptionPositions = {
    {{64, 19, 159, 8}, {64, 32, 159, 8}, {64, 44, 159, 8}, {64, 57, 159, 8}}};

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
    QWidget* owner, const CFindMachinesDlg::FindingsKeeper& keep) {
    CFindMachinesDlg finder(owner);
    finder.SetFindingsKeeper(keep);
    if (finder.exec() != QDialog::Accepted)
        return std::nullopt;
    return finder.Chosen();
}

}  // namespace

CPortSelectDlg::CPortSelectDlg(QWidget* owner)
    : QDialog(owner),
      restartExchange_(kelo::RestartInterface),
      machineFinder_(
          [this](QWidget* finderOwner) { return FindMachines(finderOwner, keepFindings_); }) {
    setWindowTitle("Select Port");
    setModal(true);
    setFont(DialogFont());
    CreateControls();
}

// Template 130, 324 x 142 dialog units; the controls in tab order.
void CPortSelectDlg::CreateControls() {
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(324, 142));

    Place(new QLabel("Product:", this), units, 7, 7, 35, 8);
    for (size_t i = 0; i < 3; ++i) {
        const Position& p = kTypeCaptionPositions[i];
        Place(new QLabel(kTypeCaptions[i], this), units, p.x, p.y, p.width, p.height);
    }
    Place(new QLabel("Select port:", this), units, 7, 73, 54, 8);

    typeGroup_ = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        auto* radio = new QRadioButton(QString("Type%1").arg(i + 1), this);
        const Position& p = kTypeRadios[static_cast<size_t>(i)];
        Place(radio, units, p.x, p.y, p.width, p.height);
        typeGroup_->addButton(radio, i);
    }

    portGroup_ = new QButtonGroup(this);
    auto addPortRadio = [&](const char* text, int portKind, int x, int y, int w, int h) {
        auto* radio = new QRadioButton(text, this);
        Place(radio, units, x, y, w, h);
        portGroup_->addButton(radio, portKind);
    };
    addPortRadio("via Parallel Port", kelo::kPortParallel, 17, 82, 91, 14);
    addPortRadio("via Network", kelo::kPortNetwork, 17, 97, 62, 13);
    addPortRadio("via USB", kelo::kPortUsb, 17, 112, 40, 13);
    connect(portGroup_, &QButtonGroup::idClicked, this, &CPortSelectDlg::OnPortClicked);

    hostBox_ = new QComboBox(this);
    hostBox_->setEditable(true);
    hostBox_->setInsertPolicy(QComboBox::NoInsert);
    hostBox_->setDuplicatesEnabled(true);
    hostBox_->setCompleter(nullptr);
    // The edit field is a plain one: Qt would otherwise turn a typed name that matches an entry
    // into a choice of that entry when the field loses focus or takes Enter, whereas a typed
    // name is always a new host that OK puts at the front of the list.
    disconnect(hostBox_->lineEdit(), &QLineEdit::editingFinished, hostBox_, nullptr);
    disconnect(hostBox_->lineEdit(), &QLineEdit::returnPressed, hostBox_, nullptr);
    // The template's height of 54 includes the dropped-down list; the closed box is one line.
    hostBox_->setMaxVisibleItems(5);
    QRect boxRect = units.ToPixels(90, 98, 126, 12);
    boxRect.setHeight(std::max(boxRect.height(), hostBox_->sizeHint().height()));
    hostBox_->setGeometry(boxRect);
    connect(hostBox_->lineEdit(), &QLineEdit::textEdited, this, &CPortSelectDlg::OnHostTextEdited);
    connect(hostBox_, &QComboBox::activated, this, &CPortSelectDlg::OnHostChosen);

    deleteHost_ = new QPushButton("Delete Host", this);
    Place(deleteHost_, units, 224, 97, 51, 13);
    connect(deleteHost_, &QPushButton::clicked, this, &CPortSelectDlg::OnDeleteHost);

    restart_ = new QPushButton("Restart", this);
    Place(restart_, units, 279, 97, 39, 13);
    connect(restart_, &QPushButton::clicked, this, &CPortSelectDlg::OnRestart);

    // Not in the template: it stands over Restart, in the room the template leaves there.
    find_ = new QPushButton("Find...", this);
    Place(find_, units, 279, 82, 39, 13);
    connect(find_, &QPushButton::clicked, this, &CPortSelectDlg::OnFindMachines);

    ok_ = new QPushButton("OK", this);
    ok_->setDefault(true);
    Place(ok_, units, 133, 121, 50, 14);
    connect(ok_, &QPushButton::clicked, this, &CPortSelectDlg::accept);

    cancel_ = new QPushButton("Cancel", this);
    Place(cancel_, units, 192, 121, 50, 14);
    connect(cancel_, &QPushButton::clicked, this, &CPortSelectDlg::reject);

    const Position& last = kTypeCaptionPositions[3];
    Place(new QLabel(kTypeCaptions[3], this), units, last.x, last.y, last.width, last.height);
}

QAbstractButton* CPortSelectDlg::PortRadio(int portKind) const {
    return portGroup_->button(portKind);
}

QAbstractButton* CPortSelectDlg::TypeRadio(int typeIndex) const {
    return typeGroup_->button(typeIndex);
}

bool CPortSelectDlg::Run(kelo::PortSelection& selection) {
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

void CPortSelectDlg::SetHosts(const std::vector<std::string>& hosts, int selected) {
    hosts_.insert(hosts_.end(), hosts.begin(), hosts.end());
    selectedHost_ = selected;
}

void CPortSelectDlg::GetHosts(std::vector<std::string>& hosts, int& selected) const {
    hosts = hosts_;
    selected = selectedHost_;
}

int CPortSelectDlg::exec() {
    InitDialog();
    return QDialog::exec();
}

// The window opens as the values say.
void CPortSelectDlg::InitDialog() {
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
void CPortSelectDlg::ApplyPortRule() {
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

void CPortSelectDlg::OnPortClicked(int portKind) {
    portKind_ = portKind;
    ApplyPortRule();
}

void CPortSelectDlg::SelectHost(int index) {
    hostTyped_ = false;
    if (index >= 0 && index < hostBox_->count()) {
        hostBox_->setCurrentIndex(index);
    } else {
        hostBox_->setCurrentIndex(-1);
        hostBox_->setEditText(QString());
    }
}

int CPortSelectDlg::SelectedHostIndex() const {
    return hostTyped_ ? -1 : hostBox_->currentIndex();
}

std::string CPortSelectDlg::CurrentHostText() const {
    const int selected = SelectedHostIndex();
    const QString text =
        selected >= 0 ? hostBox_->itemText(selected) : hostBox_->lineEdit()->text();
    return text.toStdString();
}

void CPortSelectDlg::OnHostTextEdited() {
    hostTyped_ = true;
}

void CPortSelectDlg::OnHostChosen() {
    hostTyped_ = false;
}

// Removes the selected host from the box; the host that moves into its place, or the new last
// one, becomes the selected host. The connection's list changes only on OK.
void CPortSelectDlg::OnDeleteHost() {
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
void CPortSelectDlg::OnRestart() {
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
        CCommCancelDlg progress(this);
        restartExchange_(host, progress);
    }
    restarting_ = false;
}

// Opens Find Machines; a machine chosen there goes into the host box and the type radios,
// for OK or Cancel to keep or discard as they do a typed host.
void CPortSelectDlg::OnFindMachines() {
    if (const std::optional<kelo::discover::FoundMachine> machine = machineFinder_(this))
        UseMachine(*machine);
}

// The address becomes the selected entry of the box (added at its end unless listed). The
// checked type stays when the machine is of that type; else the machine's first type is
// checked (Type1 for a machine of types 1 and 2).
void CPortSelectDlg::UseMachine(const kelo::discover::FoundMachine& machine) {
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
void CPortSelectDlg::accept() {
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

}  // namespace app
