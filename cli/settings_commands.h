// The connection settings as kelo-cli shows and changes them: the config commands and the
// options that hold for one run.
#pragma once

#include <optional>
#include <string>

#include "cli/command_line.h"
#include "link/settings.h"

namespace kelo::cli {

// "port: network\ntype: 3\nhosts:\n* 0 host-a\n  1 host-b\n": the selected host is starred;
// an empty list reads "hosts: none"; a stored value of no known name is shown as its number
// followed by "(unknown)".
std::string FormatSettings(const ConnectionSettings& settings);

// Applies a config change. Returns what was wrong when the change names a host index that
// the list does not hold; the settings are then left as they were.
std::optional<std::string> ApplyConfigChange(const Invocation& invocation,
                                             ConnectionSettings& settings);

// Puts the run options in place of the stored settings.
void ApplyOverrides(const RunOverrides& overrides, ConnectionSettings& settings);

}  // namespace kelo::cli
