#include "service/machine.h"

#include "platform/profile.h"
#include "records/service_records.h"

namespace kelo::service {

std::optional<std::string> NetworkHost(const ConnectionSettings& settings) {
    if (settings.portKind != kPortNetwork)
        return std::nullopt;
    return SelectedHost(settings);
}

records::Machine RecordedMachine(const ConnectionSettings& settings,
                                 const std::optional<std::string>& host) {
    records::Machine machine;
    machine.type = settings.machineTypeIndex + 1;
    machine.portKind = records::PortKindWord(settings.portKind);
    machine.host = host.value_or(NetworkHost(settings).value_or(machine.portKind));
    return machine;
}

std::optional<std::string> RecordsPath(const std::string& profilePath,
                                       const std::optional<std::string>& chosen) {
    const platform::ProfileStore profile(profilePath);
    if (profile.GetInt("Records", "Enabled", 1) == 0)
        return std::nullopt;
    return chosen ? *chosen : records::DefaultRecordsPath();
}

}  // namespace kelo::service
