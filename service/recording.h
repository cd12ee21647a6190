// What both programs do to keep an operation in the service records: a record begun when the
// operation begins, ended with its times when it ends, and the backup before a parameter write
// kept as an operation of its own.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "records/record.h"
#include "service/parameter_backup.h"

namespace kelo::service {

// The record of an operation beginning now: failed until it says otherwise.
records::OperationRecord BeginRecord(records::Machine machine, records::Operation operation,
                                     records::Program program);

// Ends the record now: when it ended, and how long it ran since started.
void EndRecord(records::OperationRecord& record, std::chrono::steady_clock::time_point started);

// The backup's record: the set read, with the read's start and length, ending now.
records::OperationRecord BackupRecord(const records::Machine& machine, const BackupRead& backup,
                                      records::Program program,
                                      const std::optional<std::string>& runId);

}  // namespace kelo::service
