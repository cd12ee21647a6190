#include "link/settings.h"

#include <algorithm>
#include <string>

namespace kelo {
namespace {

constexpr const char* kSection = "Port";
constexpr int kMaxStoredHosts = 4096;

std::string HostKey(size_t index) {
    return "Host" + std::to_string(index);
}

}  // namespace

std::optional<std::string> SelectedHost(const ConnectionSettings& settings) {
    const int selected = settings.selectedHost;
    if (selected < 0 || static_cast<size_t>(selected) >= settings.hosts.size())
        return std::nullopt;
    return settings.hosts[static_cast<size_t>(selected)];
}

ConnectionSettings LoadSettings(const platform::ProfileStore& profile) {
    ConnectionSettings settings;
    settings.portKind = profile.GetInt(kSection, "Port", kPortNetwork);
    settings.selectedHost = profile.GetInt(kSection, "HostSel", 0);
    // A negative count cannot size a list: it loads as an empty one. A count past any real
    // list is cut so that a damaged profile cannot exhaust memory.
    const int count = std::min(profile.GetInt(kSection, "NumHost", 0), kMaxStoredHosts);
    for (int i = 0; i < count; ++i) {
        settings.hosts.push_back(profile.GetString(kSection, HostKey(static_cast<size_t>(i)), ""));
    }
    settings.machineTypeIndex = profile.GetInt(kSection, "MachineType", 2);
    return settings;
}

void SaveHostSettings(platform::ProfileStore& profile, const ConnectionSettings& settings) {
    profile.WriteInt(kSection, "Port", settings.portKind);
    profile.WriteInt(kSection, "HostSel", settings.selectedHost);
    profile.WriteInt(kSection, "NumHost", static_cast<int>(settings.hosts.size()));
    for (size_t i = 0; i < settings.hosts.size(); ++i) {
        profile.WriteString(kSection, HostKey(i), settings.hosts[i]);
    }
}

void SaveTypeSettings(platform::ProfileStore& profile, const ConnectionSettings& settings) {
    profile.WriteInt(kSection, "MachineType", settings.machineTypeIndex);
}

ConnectionSettings LoadSettings(const std::string& profilePath) {
    return LoadSettings(platform::ProfileStore(profilePath));
}

bool SaveSettings(const std::string& profilePath, const ConnectionSettings& settings) {
    platform::ProfileStore profile(profilePath);
    SaveHostSettings(profile, settings);
    SaveTypeSettings(profile, settings);
    // Settings that could not be kept must not be lost without a word.
    return profile.Save().OkElseShow(profilePath);
}

bool SelectPort(PortSelectDialog& dialog, ConnectionSettings& settings) {
    PortSelection selection;
    const bool knownPort = settings.portKind >= kPortParallel && settings.portKind <= kPortUsb;
    selection.portKind = knownPort ? settings.portKind : -1;
    selection.hosts = settings.hosts;
    selection.selectedHost = settings.selectedHost;
    selection.typeValue = settings.machineTypeIndex;
    if (!dialog.Run(selection))
        return false;
    if (selection.portKind >= kPortParallel && selection.portKind <= kPortUsb)
        settings.portKind = selection.portKind;
    settings.hosts = selection.hosts;
    settings.selectedHost = selection.selectedHost;
    // A dialog that opened with no type checked and got no click keeps the stored index.
    if (selection.typeValue >= 0)
        settings.machineTypeIndex = selection.typeValue;
    return true;
}

}  // namespace kelo
