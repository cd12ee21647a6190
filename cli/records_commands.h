// The commands that read the service records: history, show, compare, records and
// records prune. None talks to a machine.
#pragma once

#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/console.h"

namespace kelo::cli {

// True for the commands below.
bool ReadsRecords(Command command);

// Runs one of them and gives its exit status; compare gives 0 equal, 1 different, 2 trouble.
int RunRecordsCommand(const Console& console, const Invocation& invocation);

// A record's time as the records commands show it, in local time: "2026-12-09 10:20:08".
std::string RecordTime(int64_t ms);

}  // namespace kelo::cli
