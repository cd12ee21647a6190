// FindMachinesDialog: the modal dialog "Find Machines", opened from the port selection dialog.
// It runs a discovery as it opens (by broadcast, or on the subnet in its box) and again on
// Find, behind the progress window with Cancel, and lists each machine as its answers arrive;
// Use (or a double click) ends it with the machine chosen.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "discover/run_discovery.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace kelo::app {

class ProgressDialog;

class FindMachinesDialog : public QDialog {
    Q_OBJECT

  public:
    using Runner = std::function<kelo::discover::DiscoveryResult(
        const kelo::discover::DiscoveryPlan& plan, platform::CancelDialog& progress,
        const std::function<void(const kelo::discover::FoundMachine&)>& onMachine,
        const std::function<void(const kelo::discover::DiscoveryProgress&)>& onProgress)>;

    explicit FindMachinesDialog(QWidget* owner = nullptr);

    // Queues the first discovery, then runs the modal loop.
    int exec() override;

    // Replaces the discovery (kelo::discover::RunDiscovery by default).
    void SetRunner(Runner runner) { runner_ = std::move(runner); }

    // Takes the machines each discovery found, with its start (ms since 1970) and duration.
    using FindingsKeeper = std::function<void(const std::vector<kelo::discover::FoundMachine>&,
                                              int64_t startedMs, int64_t durationMs)>;
    void SetFindingsKeeper(FindingsKeeper keeper) { keepFindings_ = std::move(keeper); }

    // The machine chosen with Use; nothing before.
    const std::optional<kelo::discover::FoundMachine>& Chosen() const { return chosen_; }

  signals:
    // A discovery has ended (run to its end, cancelled, or refused).
    void findingEnded();

  public slots:
    // Use: ends the dialog with the selected machine.
    void accept() override;
    // Cancel, Esc or the window's close: while a discovery runs it cancels that instead.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateControls();
    void OnFind();
    void OnSelectionChanged();
    void ShowMachine(const kelo::discover::FoundMachine& machine);
    int Keep(const kelo::discover::FoundMachine& machine);
    std::optional<kelo::discover::DiscoveryPlan> PlanFromSubnetBox();

    QLineEdit* subnet_ = nullptr;
    QPushButton* find_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* progressText_ = nullptr;  // addresses probed and machines found
    QPushButton* use_ = nullptr;

    Runner runner_;
    FindingsKeeper keepFindings_;
    ProgressDialog* progress_ = nullptr;                  // while a discovery runs
    std::vector<kelo::discover::FoundMachine> machines_;  // as listed, by address
    std::optional<kelo::discover::FoundMachine> chosen_;
};

}  // namespace kelo::app
