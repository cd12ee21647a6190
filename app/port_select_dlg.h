// SelectPortDialog: the modal dialog "Select Port" in which the user chooses the machine type,
// the port kind and, for the network, the host; keeps the list of known hosts; can restart
// a machine's network interface; and can find the machines on the network (Find...). It changes no
// setting itself: the connection fills it, runs it, and takes its values back only after OK.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/find_machines_dlg.h"
#include "discover/discovery.h"
#include "link/settings.h"
#include "platform/cancel_dialog.h"

class QButtonGroup;
class QComboBox;
class QPushButton;

namespace kelo::app {

class SelectPortDialog : public QDialog, public kelo::PortSelectDialog {
    Q_OBJECT

  public:
    // The restart exchange run by the Restart button on the dialog's own progress window.
    using RestartExchange =
        std::function<void(const std::string& host, platform::CancelDialog& dialog)>;
    // Find Machines run over the dialog: the machine chosen there, or nothing.
    using MachineFinder =
        std::function<std::optional<kelo::discover::FoundMachine>(QWidget* owner)>;

    // Port kind -1, type value -1, no hosts.
    explicit SelectPortDialog(QWidget* owner = nullptr);

    // Fills the dialog from the selection, runs it modally and, after OK, writes the dialog's
    // values back. False (and the selection untouched) for Cancel.
    bool Run(kelo::PortSelection& selection) override;

    // Appends the hosts to the dialog's list and stores the index to select.
    void SetHosts(const std::vector<std::string>& hosts, int selected);
    // Replaces the caller's list by the dialog's list and returns the selected index.
    void GetHosts(std::vector<std::string>& hosts, int& selected) const;
    void SetPortKind(int portKind) { portKind_ = portKind; }
    int PortKind() const { return portKind_; }
    void SetTypeValue(int typeValue) { typeValue_ = typeValue; }
    int TypeValue() const { return typeValue_; }

    // Writes the values to the controls as the window opens, then runs the modal loop.
    int exec() override;

    // Replaces the restart exchange (kelo::RestartInterface by default).
    void SetRestartExchange(RestartExchange exchange) { restartExchange_ = std::move(exchange); }
    // Replaces Find Machines (the FindMachinesDialog by default), so that no test probes the
    // network by accident.
    void SetMachineFinder(MachineFinder finder) { machineFinder_ = std::move(finder); }
    // Takes what each discovery of Find Machines found.
    void SetFindingsKeeper(FindMachinesDialog::FindingsKeeper keeper) {
        keepFindings_ = std::move(keeper);
    }

  public slots:
    // OK: reads the host box and the radios into the values and ends the dialog.
    void accept() override;

  private:
    void CreateControls();
    void InitDialog();
    void ApplyPortRule();
    void SelectHost(int index);
    int SelectedHostIndex() const;
    std::string CurrentHostText() const;

    void OnPortClicked(int portKind);
    void OnHostTextEdited();
    void OnHostChosen();
    void OnDeleteHost();
    void OnRestart();
    void OnFindMachines();
    void UseMachine(const kelo::discover::FoundMachine& machine);

    QButtonGroup* typeGroup_ = nullptr;  // 1016 to 1019
    QButtonGroup* portGroup_ = nullptr;  // 1004, 1005, 1009
    QComboBox* hostBox_ = nullptr;       // 1006
    QPushButton* deleteHost_ = nullptr;  // 1007
    QPushButton* restart_ = nullptr;     // 1008
    QPushButton* find_ = nullptr;        // Find..., beside Restart

    int portKind_ = -1;
    int typeValue_ = -1;
    int selectedHost_ = 0;
    std::vector<std::string> hosts_;

    // True once the user has typed into the host box's edit field since the last choice of an
    // entry: the box then has no selected entry, and the typed text is the host.
    bool hostTyped_ = false;
    bool restarting_ = false;
    RestartExchange restartExchange_;
    MachineFinder machineFinder_;
    FindMachinesDialog::FindingsKeeper keepFindings_;
};

}  // namespace kelo::app
