// The connection settings kept in the profile's "Port" section.
#pragma once

#include <optional>
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

// The host HostSel selects, whatever the port; none when it selects no host of the list.
std::optional<std::string> SelectedHost(const ConnectionSettings& settings);

// Reads Port, HostSel, NumHost, Host0.. and MachineType, in that order.
ConnectionSettings LoadSettings(const platform::ProfileStore& profile);
// The same from the profile file at path.
ConnectionSettings LoadSettings(const std::string& profilePath);

// Writes Port, HostSel, NumHost and Host0..; Host keys past the list are left alone.
void SaveHostSettings(platform::ProfileStore& profile, const ConnectionSettings& settings);
// Writes MachineType: the tail of the save order.
void SaveTypeSettings(platform::ProfileStore& profile, const ConnectionSettings& settings);
// Writes the settings into the profile file at path, read afresh so that what others wrote
// meanwhile (and keys this program no longer reads) is kept. A profile that cannot be written
// shows the OS reason naming it, and gives false.
bool SaveSettings(const std::string& profilePath, const ConnectionSettings& settings);

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

// Runs the port selection dialog on the settings and takes its values after OK; whether OK
// was pressed.
bool SelectPort(PortSelectDialog& dialog, ConnectionSettings& settings);

}  // namespace kelo
