#include "discover/run_discovery.h"

namespace kelo::discover {
namespace {

// Each round waits at most this long, so the dialog stays responsive and Cancel ends the run
// at once.
constexpr int kRoundMs = 10;

bool operator!=(const DiscoveryProgress& a, const DiscoveryProgress& b) {
    return a.addresses != b.addresses || a.probed != b.probed || a.found != b.found;
}

}  // namespace

DiscoveryResult RunDiscovery(const DiscoveryPlan& plan, platform::CancelDialog& dialog,
                             const std::function<void(const FoundMachine&)>& onMachine,
                             const std::function<void(const DiscoveryProgress&)>& onProgress) {
    DiscoveryResult result;
    Discovery discovery(plan);
    discovery.onMachine = onMachine;
    if (!discovery.Start(result.error))
        return result;
    dialog.Show();
    DiscoveryProgress shown{-1, -1, -1};
    while (!dialog.IsCancelled() && discovery.Step(kRoundMs)) {
        const DiscoveryProgress progress = discovery.Progress();
        if (progress.addresses != shown.addresses)
            dialog.SetRange(progress.addresses);
        if (onProgress && progress != shown)
            onProgress(progress);
        shown = progress;
        dialog.SetPos(progress.probed);
    }
    result.cancelled = dialog.IsCancelled();
    dialog.Hide();
    result.machines = discovery.Machines();
    result.machineLimitReached = discovery.MachineLimitReached();
    return result;
}

}  // namespace kelo::discover
