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

// How long one opening of the records waits, in all, for other programs' writes to end before
// what it has to write is set aside (records/pending_records.h): no operation is held up
// longer by its records. 64 programs of a host list recording at once each hold the lock for
// about a millisecond, far less. A stop signal ends the wait at once (platform::StopWaits).
constexpr int kBusyTimeoutMilliseconds = 1000;

// The database file: $KELO_RECORDS when set and not empty, else
// $XDG_DATA_HOME/kelo/records.sqlite3 (~/.local/share/kelo/records.sqlite3).
std::string DefaultRecordsPath();

class ServiceRecords;

// Why an opening gave no records.
enum class OpenFailure {
    None,
    NoFile,   // no records file yet (only when opening an existing one)
    Refused,  // not the user's own Kelo database, or a newer Kelo's: left as it is
    Busy,     // another program held the database longer than the time-out
    Failed,   // any other reason
};

struct OpenedRecords : Outcome<std::unique_ptr<ServiceRecords>> {
    OpenFailure failure = OpenFailure::None;
    // The database's path with the links of its folder resolved, once the file was checked.
    std::string checkedPath;
};

class ServiceRecords {
  public:
    // Opens the database at path, making it (0600) and its missing folders (0700) on first
    // use, and brings its tables up to date. A file that is not the user's own Kelo database
    // (records/records_file.h), or that a newer Kelo made, is refused before anything is
    // written to it. The connection serves one thread and must not be carried across fork.
    static OpenedRecords Open(const std::string& path,
                              int busyTimeoutMilliseconds = kBusyTimeoutMilliseconds);

    // The same for reading: a missing file is NoFile, and nothing is made.
    static OpenedRecords OpenExisting(const std::string& path,
                                      int busyTimeoutMilliseconds = kBusyTimeoutMilliseconds);

    // Sets an operation aside beside the database at checkedPath (OpenedRecords::checkedPath),
    // for an opening that found the database busy.
    static Outcome<Done> SetAside(const std::string& checkedPath, const OperationRecord& record);
    static Outcome<Done> SetAside(const std::string& checkedPath, const StoredRun& run);

    ~ServiceRecords();
    ServiceRecords(const ServiceRecords&) = delete;
    ServiceRecords& operator=(const ServiceRecords&) = delete;

    const std::string& Path() const { return path_; }

    // Keeps one operation, its files and its content in one transaction; gives its id, or 0
    // when the database stayed locked past the time-out and the record was set aside.
    Outcome<int64_t> RecordOperation(const OperationRecord& record);

    // Keeps the operations of one step (the machines a discovery found) in one transaction,
    // or sets them all aside as RecordOperation does.
    Outcome<Done> RecordOperations(const std::vector<OperationRecord>& records);

    // Keeps a run of a host list, whose id (NewRunId) its operations then carry; set aside as
    // an operation is when the database stays locked.
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

    // The hosts a resumed run runs again, each with the type it was run as: those of the run's
    // kept list whose command did not end ok, in list order; for a run kept without its list,
    // those that had an operation not ok, in the order they were first recorded.
    Outcome<std::vector<Machine>> MachinesToResume(const StoredRun& run);

    Outcome<Summary> Summarise();

    // Removes the operations that started before cutoffMs, their files, the contents and
    // machines no operation uses any more, and the runs left without operations, then gives
    // the freed pages back to the file system. The newest backup of each machine stays unless
    // includeBackups.
    Outcome<PruneCounts> Prune(int64_t cutoffMs, bool includeBackups = false);

    // True once a record of this opening was set aside (the database stayed locked).
    bool SetSomethingAside() const { return setAside_; }

    struct BusyWait;

  private:
    ServiceRecords(std::string path, std::string checkedPath, std::unique_ptr<BusyWait> wait,
                   std::unique_ptr<SQLite::Database> db);
    static OpenedRecords OpenFile(const std::string& path, bool make, int busyTimeoutMilliseconds);
    // Writes the records set aside beside the database into it.
    void TakeBackSetAside();

    std::string path_;
    std::string checkedPath_;
    std::unique_ptr<BusyWait> wait_;
    std::unique_ptr<SQLite::Database> db_;
    bool setAside_ = false;
};

// True when the content can be kept whole: a report or parameter set that fits its file form
// (a parameter set of no bytes does not). Only such a parameter set is a backup.
bool KeepsWhole(const ReadContent& content);

// The report text of a kept report, or why it cannot be read back.
Outcome<std::string> DecodeReport(const StoredContent& content);

// The parameter data of a kept parameter set followed by its check byte, as a parameter file
// loads, or why it cannot be read back.
Outcome<std::vector<uint8_t>> DecodeParameters(const StoredContent& content);

// Makes the waits for other programs' locks on this thread its own: slices of a plain sleep,
// ended by a stop (platform::WaitsStopped), instead of platform::Sleep, whose clock and trace
// serve the program's one thread of operations. For a thread that only writes records.
void WaitOnThisThreadAlone();

// A new run id: the start's UTC time and four random hex digits, "20261209-084501-3fa2".
std::string NewRunId(int64_t startedMs);

}  // namespace kelo::records
