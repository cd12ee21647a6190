// The backup before a parameter write, as both programs keep it: read the machine's set, keep
// it as the machine's backup, then write. What a program does when no backup can be read (the
// GUI asks, kelo-cli writes nothing) is its own, passed in.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "ops/operations.h"
#include "records/record.h"

namespace kelo::service {

// What the read for a backup came to.
struct BackupRead {
    enum class End {
        kRead,      // the set is in hand, whole enough to be kept
        kStopped,   // Cancel (or what stands for it) ended the read, or came right after it
        kFailed,    // the read failed (outcome says with what message, if any)
        kNotWhole,  // read, but too large for the records to keep whole: no backup
    };
    End end = End::kFailed;
    ops::Outcome outcome;
    records::ReadContent set;
    int64_t startedMs = 0;  // when the read started, ms since 1970
    int64_t durationMs = 0;
};

// Reads the set through read and times it; stopped tells whether the run was stopped.
BackupRead ReadBackup(const std::function<ops::Parameters()>& read,
                      const std::function<bool()>& stopped);

struct BackupSteps {
    // The read for the backup (ReadBackup over the program's own steps).
    std::function<BackupRead()> read;
    // Keeps the set read as the machine's backup.
    std::function<void(const BackupRead& backup)> keep;
    // When no backup was read: whether to write anyway.
    std::function<bool(const BackupRead& backup)> writeWithout;
    // The write itself.
    std::function<ops::Write()> write;
};

// The backup, then the write; nullopt when nothing was written.
std::optional<ops::Write> WriteWithBackup(const BackupSteps& steps);

}  // namespace kelo::service
