// A whole discovery on a progress dialog: what kelo-cli and the Find Machines dialog run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "discover/discovery.h"
#include "platform/cancel_dialog.h"

namespace kelo::discover {

struct DiscoveryResult {
    bool cancelled = false;
    std::string error;  // why the discovery could not start; empty when it ran
    std::vector<FoundMachine> machines;
    // A broadcast found kMaxBroadcastMachines and stopped listening for more.
    bool machineLimitReached = false;
};

// Runs the plan until no probe is left waiting or Cancel is pressed. The dialog is shown at
// the start and hidden at the end; its bar counts the addresses probed, and its events run at
// least every 10 ms. onMachine runs as machines are found and learnt about, onProgress when
// the addresses probed or the machines found change.
DiscoveryResult RunDiscovery(const DiscoveryPlan& plan, platform::CancelDialog& dialog,
                             const std::function<void(const FoundMachine&)>& onMachine = {},
                             const std::function<void(const DiscoveryProgress&)>& onProgress = {});

}  // namespace kelo::discover
