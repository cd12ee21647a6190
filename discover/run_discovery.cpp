#include "discover/run_discovery.h"

namespace kelo::discover {
namespace {

// Each round waits at most this long, so the dialog stays responsive and Cancel ends the run
// at once.
constexpr int kRoundMs = 10;

}  // namespace

DiscoveryResult RunDiscovery(const DiscoveryPlan& plan, platform::CancelDialog& dialog,
                             const std::function<void(const FoundMachine&)>& onMachine) {
    DiscoveryResult result;
    Discovery discovery(plan);
    discovery.onMachine = onMachine;
    if (!discovery.Start(result.error))
        return result;
    dialog.Show();
    int range = -1;
    while (!dialog.IsCancelled() && discovery.Step(kRoundMs)) {
        if (discovery.ProbeCount() != range) {
            range = discovery.ProbeCount();
            dialog.SetRange(range);
        }
        dialog.SetPos(discovery.EndedCount());
    }
    result.cancelled = dialog.IsCancelled();
    dialog.Hide();
    result.machines = discovery.Machines();
    return result;
}

}  // namespace kelo::discover
