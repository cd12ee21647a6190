// kelo-cli discover: finds the machines on the network and prints them sorted by address,
// as a table or as JSON lines.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/terminal.h"
#include "discover/discovery.h"
#include "platform/cancel_dialog.h"

namespace kelo::cli {

// Runs the discovery of invocation.discover and prints what it found (with --json as JSON
// lines), keeping each machine found in the service records: 0 with at least one machine, 1
// with none or when it could not run, 130 after Ctrl-C (nothing printed or kept). The
// progress line, when there is one, is cleared before anything is written.
int RunDiscover(const Console& console, const Invocation& invocation,
                platform::CancelDialog& dialog, ProgressLine* progress);

// One line per machine under a heading: address, types, name, description (cut to 40
// characters); "-" for what was not answered.
std::string MachineTable(const std::vector<discover::FoundMachine>& machines);

// One JSON object per machine a line: address, types, name, description, status (cut to 200
// characters), ms; null for what was not answered.
std::string MachineJsonLines(const std::vector<discover::FoundMachine>& machines);

}  // namespace kelo::cli
