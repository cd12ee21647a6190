// Records set aside: what could not be written to the database within the busy time-out (another
// program held its lock) is kept beside it, in <database>-pending/, one file a record, and
// written into the database at its next opening. So a record, a backup above all, is never
// lost, and a locked database never holds an operation up for longer than the time-out.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "records/record.h"

namespace kelo::records {

// The folder of a database's records set aside.
std::string PendingFolder(const std::string& databasePath);

// One record set aside: an operation with the file form of its content, or a run.
struct PendingRecord {
    std::optional<OperationRecord> operation;  // its content field is unused
    std::optional<StoredContent> content;
    std::optional<StoredRun> run;
};

std::string PendingText(const OperationRecord& operation,
                        const std::optional<StoredContent>& content);
std::string PendingText(const StoredRun& run);
// nullopt for a text that is not a record set aside (damaged, or not Kelo's).
std::optional<PendingRecord> ParsePending(const std::string& text);

// Writes the text as a new file of the folder (0700, made when missing), whole or not at all:
// a private file under a temporary name, renamed once written and synced.
Outcome<Done> SetAside(const std::string& databasePath, const std::string& text);

// Hands each record set aside to take, oldest first; a file whose record take kept (true) is
// removed. A file that is not the user's own plain file, or too large, is passed over.
void TakeSetAside(const std::string& databasePath,
                  const std::function<bool(const PendingRecord&)>& take);

}  // namespace kelo::records
