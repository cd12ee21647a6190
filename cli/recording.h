// Keeping each operation of kelo-cli in the service records. A record that cannot be kept never
// changes the operation: one line says why, and the run ends as it would have.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/json_result.h"
#include "link/settings.h"
#include "records/record.h"

namespace kelo::cli {

// The records database this run writes to: --records, else KELO_RECORDS, else the default
// path; nullopt when --no-records or the profile's [Records] Enabled=0 turns recording off.
std::optional<std::string> RecordsPathOf(const Invocation& invocation);

// Writes the operation to the records the run names, or tells on standard error why not; its
// record id when it was kept (not when it was set aside for a busy database).
std::optional<int64_t> KeepOperation(const Console& console, const Invocation& invocation,
                                     const records::OperationRecord& operation);

// Writes the operations to the records the run names in one opening of the database, or
// tells once on standard error why not.
void KeepOperations(const Console& console, const Invocation& invocation,
                    const std::vector<records::OperationRecord>& operations);

// The machine a command talks to, as the records keep it: the host, else the port's name.
void NoteMachine(const ConnectionSettings& settings, const HostResult& record,
                 records::OperationRecord& kept);

// The files an operation used: the input it read (described from the bytes read, where the
// command keeps them; open-report's file by its name), and the -o file it wrote when it
// succeeded.
std::vector<records::FileUse> UsedFiles(const Invocation& invocation,
                                        const std::optional<records::FileUse>& input,
                                        bool succeeded);

// Keeps the result of a host whose own run kept none (it never started, or was killed), so
// that a resumed run finds it among the hosts that did not succeed.
void KeepUntoldResult(const Console& console, const Invocation& listRun, const HostResult& result);

}  // namespace kelo::cli
