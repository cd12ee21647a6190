#include "testsupport/fake_parallel_port.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

ScriptedMachine g_machine;

class ScriptedParallelPort : public kelo::ParallelPort {
  public:
    bool Open() override {
        ++g_machine.opens;
        g_machine.open = true;
        return true;
    }
    bool IsOpen() const override { return g_machine.open; }
    int Write(const uint8_t* data, int length) override {
        g_machine.writes.emplace_back(data, data + length);
        return length;
    }
    int ReadDeviceId(uint8_t* buffer, int size) override {
        std::string status = g_machine.idleStatus;
        if (!g_machine.statuses.empty()) {
            status = g_machine.statuses.front();
            g_machine.statuses.pop_front();
        }
        const int n = std::min(static_cast<int>(status.size()), size);
        std::memcpy(buffer, status.data(), static_cast<size_t>(n));
        return n;
    }
    void Close() override {
        ++g_machine.closes;
        g_machine.open = false;
    }
};

}  // namespace

ScriptedMachine& CurrentMachine() {
    return g_machine;
}

void ResetMachine() {
    g_machine = ScriptedMachine{};
}

std::unique_ptr<kelo::ParallelPort> MakeScriptedParallelPort() {
    return std::make_unique<ScriptedParallelPort>();
}

std::unique_ptr<kelo::DeviceLink> MakeScriptedParallelLink(kelo::platform::CancelDialog& dialog,
                                                           int machineTypeIndex) {
    ResetMachine();
    auto link = std::make_unique<kelo::DeviceLink>(
        dialog, kelo::ConnectionSettings{kelo::kPortParallel, 0, machineTypeIndex, {"local"}});
    link->SetParallelPortFactory(MakeScriptedParallelPort);
    return link;
}

}  // namespace testing_support
