// The connection settings kept in the profile's "Port" section.
#pragma once

#include <string>
#include <vector>

#include "platform/profile.h"

namespace kelo {

enum PortKind : int { kPortParallel = 0, kPortNetwork = 1, kPortUsb = 2 };

struct ConnectionSettings {
    int portKind = kPortNetwork;
    int selectedHost = 0;
    int machineTypeIndex = 2;  // Type3
    std::vector<std::string> hosts;
};

// The extra wait after a USB restart on the Windows 9x family; one value for the process.
extern int g_win9xExtraDelay;
constexpr int kDefaultWin9xExtraDelay = 22000;

// Reads Port, HostSel, NumHost, Host0.., the extra delay and MachineType, in that order.
ConnectionSettings LoadSettings(const platform::ProfileStore& profile);

// Writes Port, HostSel, NumHost and Host0..; Host keys past the list are left alone.
void SaveHostSettings(platform::ProfileStore& profile, const ConnectionSettings& settings);
// Writes the extra delay and MachineType: the tail of the save order.
void SaveTypeSettings(platform::ProfileStore& profile, const ConnectionSettings& settings);

// What the port selection dialog is given and hands back.
struct PortSelection {
    int portKind = -1;  // -1: no port radio checked
    int typeValue = -1;
    int selectedHost = 0;
    std::vector<std::string> hosts;
};

// The port selection dialog as the connection sees it: filled, run, read back.
class PortSelectDialog {
  public:
    virtual ~PortSelectDialog() = default;
    // Runs the dialog on the values; true and the values changed only after OK.
    virtual bool Run(PortSelection& selection) = 0;
};

}  // namespace kelo
