// The service records: one SQLite database per user that keeps every operation, the files it
// used, and the reports and parameter sets read (scrambled as their files are, each once by
// its SHA-256). Nothing here throws or aborts: a call that fails gives a short reason, which
// the caller shows as "not recorded: REASON" and goes on, so a record never stops the work.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "records/record.h"

namespace SQLite {
class Database;
}

namespace kelo::records {

// How long a write waits for another program's write to end before it gives up. 64 programs
// of a host list recording at once each hold the lock for about a millisecond, far less.
constexpr int kBusyTimeoutMilliseconds = 5000;

// The database file: $KELO_RECORDS when set and not empty, else
// $XDG_DATA_HOME/kelo/records.sqlite3 (~/.local/share/kelo/records.sqlite3).
std::string DefaultRecordsPath();

class ServiceRecords {
  public:
    // Opens the database at path, making it (0600) and its missing folders (0700) on first
    // use, and brings its tables up to date. The connection serves one thread and must not be
    // carried across fork.
    static Outcome<std::unique_ptr<ServiceRecords>> Open(
        const std::string& path, int busyTimeoutMilliseconds = kBusyTimeoutMilliseconds);

    ~ServiceRecords();
    ServiceRecords(const ServiceRecords&) = delete;
    ServiceRecords& operator=(const ServiceRecords&) = delete;

    const std::string& Path() const { return path_; }

    // Keeps one operation, its files and its content in one transaction; gives its id.
    Outcome<int64_t> RecordOperation(const OperationRecord& record);

    // Keeps a run of a host list, whose id (NewRunId) its operations then carry.
    Outcome<Done> RecordRun(const StoredRun& run);

    Outcome<std::vector<StoredOperation>> History(const HistoryQuery& query);

    // Hands each operation of the history to visit in turn, newest first, without keeping
    // them: a table of a busy machine's ten thousand operations needs only its cells.
    Outcome<Done> VisitHistory(const HistoryQuery& query,
                               const std::function<void(const StoredOperation&)>& visit);

    // One operation with its files; a missing id is a failure naming it.
    Outcome<StoredOperation> Operation(int64_t id);

    Outcome<StoredContent> Content(const std::string& sha256);

    // The newest operation that kept a parameter set of the host as its backup.
    Outcome<StoredOperation> NewestBackup(const std::string& host);

    // The run of that id, or the newest one for "last".
    Outcome<StoredRun> Run(const std::string& runIdOrLast);

    // The hosts of a run that had an operation whose result was not ok, in the order they
    // were first recorded.
    Outcome<std::vector<std::string>> HostsToResume(const std::string& runId);

    // The hosts a resumed run runs again, each with the type it was run as: those of the run's
    // kept list whose command did not end ok, in list order; for a run kept without its list,
    // those that had an operation not ok, in the order they were first recorded.
    Outcome<std::vector<Machine>> MachinesToResume(const StoredRun& run);

    Outcome<Summary> Summarise();

    // Removes the operations that started before cutoffMs, their files, the contents and
    // machines no operation uses any more, and the runs left without operations.
    Outcome<PruneCounts> Prune(int64_t cutoffMs);

  private:
    ServiceRecords(std::string path, std::unique_ptr<SQLite::Database> db);

    std::string path_;
    std::unique_ptr<SQLite::Database> db_;
};

// The report text of a kept report, or why it cannot be read back.
Outcome<std::string> DecodeReport(const StoredContent& content);

// The parameter data of a kept parameter set followed by its check byte, as a parameter file
// loads, or why it cannot be read back.
Outcome<std::vector<uint8_t>> DecodeParameters(const StoredContent& content);

// A new run id: the start's UTC time and four random hex digits, "20261209-084501-3fa2".
std::string NewRunId(int64_t startedMs);

}  // namespace kelo::records
