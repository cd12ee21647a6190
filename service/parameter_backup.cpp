#include "service/parameter_backup.h"

#include <chrono>

#include "records/service_records.h"

namespace kelo::service {

BackupRead ReadBackup(const std::function<ops::Parameters()>& read,
                      const std::function<bool()>& stopped) {
    BackupRead backup;
    backup.startedMs = records::WallClockMs();
    const auto started = std::chrono::steady_clock::now();
    ops::Parameters got = read();
    backup.durationMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    backup.outcome = got.outcome;
    if (stopped()) {
        backup.end = BackupRead::End::kStopped;
        return backup;
    }
    if (!got.outcome.ok() || got.bytes.empty())
        return backup;
    backup.set = records::ReadContent{records::ContentKind::Parameters, std::move(got.bytes)};
    // A set too large for a parameter file could not be written back: no backup at all.
    backup.end =
        records::KeepsWhole(backup.set) ? BackupRead::End::kRead : BackupRead::End::kNotWhole;
    return backup;
}

std::optional<ops::Write> WriteWithBackup(const BackupSteps& steps) {
    const BackupRead backup = steps.read();
    if (backup.end == BackupRead::End::kRead)
        steps.keep(backup);
    else if (!steps.writeWithout(backup))
        return std::nullopt;
    return steps.write();
}

}  // namespace kelo::service
