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

int g_win9xExtraDelay = kDefaultWin9xExtraDelay;

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
    g_win9xExtraDelay = profile.GetInt(kSection, "Win9X_ExtraDelay", kDefaultWin9xExtraDelay);
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
    profile.WriteInt(kSection, "Win9x_ExtraDelay", g_win9xExtraDelay);
    profile.WriteInt(kSection, "MachineType", settings.machineTypeIndex);
}

}  // namespace kelo
