// The commands that read the service records: history, show, compare, records and
// records prune. None talks to a machine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "cli/console.h"

namespace kelo::records {
class ServiceRecords;
}

namespace kelo::cli {

// Each runs its command and gives its exit status; compare gives 0 equal, 1 different, 2
// trouble.
int RunHistory(const Console& console, const Invocation& invocation);
int RunShow(const Console& console, const Invocation& invocation);
int RunCompare(const Console& console, const Invocation& invocation);
int RunRecordsSummary(const Console& console, const Invocation& invocation);
int RunRecordsPrune(const Console& console, const Invocation& invocation);

// The database the records commands read: --records, else KELO_RECORDS, else the default.
// They read it even when recording is turned off, so kept records stay visible, and never make
// it. Null after a line saying why it cannot be opened, with status set to the exit status to
// end with: missingStatus when there is no file yet, 2 for a file that is refused (not the
// user's own Kelo database, or a newer Kelo's), 1 for any other reason.
std::unique_ptr<records::ServiceRecords> OpenRecords(const Console& console,
                                                     const Invocation& invocation, int& status,
                                                     int missingStatus);

// A record's time as the records commands show it, in local time: "2026-12-09 10:20:08".
std::string RecordTime(int64_t ms);

}  // namespace kelo::cli
