// Keeping each operation of kelo-cli in the service records. A record that cannot be kept never
// changes the operation: one line says why, and the run ends as it would have.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "records/record.h"

namespace kelo::cli {

// The records database this run writes to: --records, else KELO_RECORDS, else the default
// path; nullopt when --no-records or the profile's [Records] Enabled=0 turns recording off.
std::optional<std::string> RecordsPathOf(const Invocation& invocation);

// Writes the operation to the records the run names, or tells on standard error why not.
void KeepOperation(const Console& console, const Invocation& invocation,
                   const records::OperationRecord& operation);

// Writes the operations to the records the run names in one opening of the database, or
// tells once on standard error why not.
void KeepOperations(const Console& console, const Invocation& invocation,
                    const std::vector<records::OperationRecord>& operations);

}  // namespace kelo::cli
