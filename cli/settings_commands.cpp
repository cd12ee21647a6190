#include "cli/settings_commands.h"

#include <algorithm>

#include "platform/ascii_case.h"

namespace kelo::cli {
namespace {

bool HoldsIndex(const ConnectionSettings& settings, int index) {
    return index >= 0 && static_cast<size_t>(index) < settings.hosts.size();
}

// Removes a host as the port selection dialog's Delete Host does: the entry that moves into
// the deleted one's place stays selected, or the new last entry when the last one went.
void DeleteHost(ConnectionSettings& settings, int index) {
    settings.hosts.erase(settings.hosts.begin() + index);
    if (index < settings.selectedHost)
        --settings.selectedHost;
    const int count = static_cast<int>(settings.hosts.size());
    if (settings.selectedHost >= count)
        settings.selectedHost = count > 0 ? count - 1 : 0;
}

// A host already in the list is selected rather than listed twice. A new one goes at the end
// and becomes the selected host when none was (an empty list, or a stored index past its end).
// Host names are compared as DNS compares them, without the case of A to Z.
void AddHost(ConnectionSettings& settings, const std::string& host) {
    const auto listed =
        std::find_if(settings.hosts.begin(), settings.hosts.end(),
                     [&](const std::string& h) { return platform::SameAsciiName(h, host); });
    if (listed != settings.hosts.end()) {
        settings.selectedHost = static_cast<int>(listed - settings.hosts.begin());
        return;
    }
    if (!HoldsIndex(settings, settings.selectedHost))
        settings.selectedHost = static_cast<int>(settings.hosts.size());
    settings.hosts.push_back(host);
}

}  // namespace

std::string FormatSettings(const ConnectionSettings& settings) {
    std::string text = "port: ";
    const std::string portName = PortKindName(settings.portKind);
    text += portName.empty() ? std::to_string(settings.portKind) + " (unknown)" : portName;
    const int type = settings.machineTypeIndex + 1;
    text += "\ntype: " + std::to_string(type);
    if (type < 1 || type > 4)
        text += " (unknown)";
    text += settings.hosts.empty() ? "\nhosts: none\n" : "\nhosts:\n";
    for (size_t i = 0; i < settings.hosts.size(); ++i) {
        const bool selected = static_cast<int>(i) == settings.selectedHost;
        text += (selected ? "* " : "  ") + std::to_string(i) + " " + settings.hosts[i] + "\n";
    }
    return text;
}

std::optional<std::string> ApplyConfigChange(const Invocation& invocation,
                                             ConnectionSettings& settings) {
    switch (invocation.command) {
        case Command::ConfigPort:
            settings.portKind = invocation.config.portKind;
            break;
        case Command::ConfigType:
            settings.machineTypeIndex = invocation.config.typeIndex;
            break;
        case Command::ConfigAddHost:
            AddHost(settings, invocation.config.host);
            break;
        case Command::ConfigSelectHost:
        case Command::ConfigDeleteHost:
            if (!HoldsIndex(settings, invocation.config.index)) {
                return "no host has the index " + std::to_string(invocation.config.index) +
                       " (see kelo-cli config)";
            }
            if (invocation.command == Command::ConfigSelectHost)
                settings.selectedHost = invocation.config.index;
            else
                DeleteHost(settings, invocation.config.index);
            break;
        default:
            break;
    }
    return std::nullopt;
}

void ApplyOverrides(const RunOverrides& overrides, ConnectionSettings& settings) {
    if (overrides.host) {
        settings.hosts = {*overrides.host};
        settings.selectedHost = 0;
    }
    if (overrides.machineTypeIndex)
        settings.machineTypeIndex = *overrides.machineTypeIndex;
    if (overrides.portKind)
        settings.portKind = *overrides.portKind;
}

}  // namespace kelo::cli
