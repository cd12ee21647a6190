#include "service/recording.h"

#include <utility>

#include "records/service_records.h"

namespace kelo::service {

records::OperationRecord BeginRecord(records::Machine machine, records::Operation operation,
                                     records::Program program) {
    records::OperationRecord record;
    record.machine = std::move(machine);
    record.operation = records::OperationWord(operation);
    record.program = records::ProgramWord(program);
    record.result = records::Result::Failed;
    record.startedMs = records::WallClockMs();
    return record;
}

void EndRecord(records::OperationRecord& record, std::chrono::steady_clock::time_point started) {
    record.endedMs = records::WallClockMs();
    record.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
}

records::OperationRecord BackupRecord(const records::Machine& machine, const BackupRead& backup,
                                      records::Program program,
                                      const std::optional<std::string>& runId) {
    records::OperationRecord record = BeginRecord(machine, records::Operation::Backup, program);
    record.startedMs = backup.startedMs;
    record.endedMs = records::WallClockMs();
    record.durationMs = backup.durationMs;
    record.result = records::Result::Ok;
    record.runId = runId;
    record.backup = true;
    record.content = backup.set;
    return record;
}

}  // namespace kelo::service
