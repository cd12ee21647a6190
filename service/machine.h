// The machine the settings select, as both programs name it in their records and result
// lines, and where the records of its operations go.
#pragma once

#include <optional>
#include <string>

#include "link/settings.h"
#include "records/record.h"

namespace kelo::service {

// The selected host of the network port; none on the parallel port, on USB, or with no host
// selected.
std::optional<std::string> NetworkHost(const ConnectionSettings& settings);

// The machine as the records keep it: the host given (else the network port's selected host),
// else the port kind's name; its type and port kind from the settings.
records::Machine RecordedMachine(const ConnectionSettings& settings,
                                 const std::optional<std::string>& host = std::nullopt);

// The records database of the profile at profilePath: chosen when given, else $KELO_RECORDS,
// else the default path; nullopt when the profile's [Records] Enabled=0 turns recording off.
std::optional<std::string> RecordsPath(const std::string& profilePath,
                                       const std::optional<std::string>& chosen = std::nullopt);

}  // namespace kelo::service
