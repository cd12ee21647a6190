// A parallel port with a scripted machine behind it: every write is kept, and each device-ID
// read serves the next status text of the script.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/device_link.h"
#include "link/ports.h"
#include "platform/cancel_dialog.h"

namespace testing_support {

struct ScriptedMachine {
    std::vector<std::vector<uint8_t>> writes;
    std::deque<std::string> statuses;
    // Served once the script has run out; empty by default.
    std::string idleStatus;
    int opens = 0;
    int closes = 0;
    bool open = false;

    std::vector<uint8_t> AllWritten() const {
        std::vector<uint8_t> all;
        for (const auto& w : writes)
            all.insert(all.end(), w.begin(), w.end());
        return all;
    }
};

// The machine the fake port talks to; one per test.
ScriptedMachine& CurrentMachine();
void ResetMachine();

// The factory to install with DeviceLink::SetParallelPortFactory.
std::unique_ptr<kelo::ParallelPort> MakeScriptedParallelPort();

// A link to a fresh scripted machine on the parallel port, as the machine type of this index.
std::unique_ptr<kelo::DeviceLink> MakeScriptedParallelLink(kelo::platform::CancelDialog& dialog,
                                                           int machineTypeIndex);

}  // namespace testing_support
