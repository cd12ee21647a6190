#include "records/service_records.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>
#include <SQLiteCpp/VariadicBind.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>

#include "files/parameter_file.h"
#include "files/report_file.h"
#include "platform/ascii_case.h"
#include "platform/atomic_file.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "records/pending_records.h"
#include "records/records_file.h"
#include "records/schema.h"
#include "records/sha256.h"

namespace kelo::records {
namespace {

// The columns every operation query reads, in the order RowToOperation takes them. The kind
// of the content is read only where one operation is asked for: looking it up for every row
// of a history would read a page of report bytes for each.
constexpr const char* kOperationColumns = R"sql(
SELECT o.id, m.host, m.address, m.type, m.port_kind, m.name, o.started_ms, o.ended_ms,
       o.duration_ms, o.operation, o.result, o.message, o.program, o.run_id, o.backup,
       o.content, %KIND%,
       (SELECT f.name FROM files f WHERE f.operation_id = o.id ORDER BY f.id LIMIT 1)
FROM operations o
JOIN machines m ON m.id = o.machine_id
)sql";

// The query of operations, with or without the kind of their content.
std::string OperationQuery(bool withContentKind) {
    std::string sql = kOperationColumns;
    sql.replace(
        sql.find("%KIND%"), 6,
        withContentKind ? "(SELECT c.kind FROM contents c WHERE c.sha256 = o.content)" : "NULL");
    return sql;
}

constexpr const char* kNewestFirst = " ORDER BY o.started_ms DESC, o.id DESC";

// How an opening that found the file locked waits before it tries again, and the longest
// single wait of the busy handler.
constexpr int kOpenRetryMilliseconds = 20;
constexpr int kBusySliceMilliseconds = 20;

// The log pages after which a commit copies the log into the database and empties it.
constexpr int kLogPagesToEmpty = 100;

bool IsBusy(const SQLite::Exception& error) {
    const int code = error.getErrorCode() & 0xFF;
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

// Set on a thread that writes records beside the program's own (WaitOnThisThreadAlone).
thread_local bool t_waitsAlone = false;

// One slice of a wait on such a thread, cut short by a stop; gives how long it took.
long long WaitAlone(long long milliseconds) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::milliseconds(milliseconds);
    while (!platform::WaitsStopped() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

}  // namespace

// The waits of one opening for other programs' locks: at most limitMs in all, each through
// platform::Sleep, and none once a stop signal came (the run is to end at once) or while
// noWait is set.
struct ServiceRecords::BusyWait {
    long long limitMs = 0;
    long long spentMs = 0;
    bool noWait = false;

    bool MayWait() const { return !noWait && spentMs < limitMs && !platform::WaitsStopped(); }
    // Waits one slice; false when no wait is left.
    bool WaitSlice(int sliceMs) {
        if (!MayWait())
            return false;
        const long long slice = std::min<long long>(sliceMs, limitMs - spentMs);
        if (t_waitsAlone) {
            spentMs += std::max(slice, WaitAlone(slice));
            return !platform::WaitsStopped();
        }
        const long long before = platform::NowMilliseconds();
        platform::Sleep(static_cast<int>(slice));
        spentMs += std::max(slice, platform::NowMilliseconds() - before);
        return !platform::WaitsStopped();
    }
};

namespace {

// SQLite's busy handler: another program holds the lock, so wait a slice and try again, until
// the opening's wait is spent.
int WaitWhileBusy(void* wait, int /*count*/) {
    return static_cast<ServiceRecords::BusyWait*>(wait)->WaitSlice(kBusySliceMilliseconds) ? 1 : 0;
}

// Runs after every commit in place of SQLite's own copy at 1,000 pages. Each program is the
// database's first opener, which rebuilds the log's index from the whole log and so no longer
// knows which pages were copied already: SQLite's copy never emptied the log, which grew
// without end, and once past 1,000 pages every commit copied all of it again. So the log is
// emptied once it holds 100 pages, when no other program is reading or writing; a program
// that would have to wait for one leaves it to a later commit (no waiting meanwhile).
int EmptyLongLog(void* wait, sqlite3* db, const char* name, int pages) {
    if (pages < kLogPagesToEmpty)
        return SQLITE_OK;
    auto* busy = static_cast<ServiceRecords::BusyWait*>(wait);
    busy->noWait = true;
    sqlite3_wal_checkpoint_v2(db, name, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    busy->noWait = false;
    return SQLITE_OK;
}

// SQLite is never to follow a link at the path (it is checked to have none).
constexpr int kOpenFlags = SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;

// What a look through SQLite itself found in a file whose header alone does not say that it
// is Kelo's (an older Kelo's file, or one whose header is still in its log).
struct Inspection {
    int32_t applicationId = 0;
    int32_t userVersion = 0;
    bool keloTables = false;
    bool holdsNothing = false;  // one page, no table, index or view: nothing to lose
};

Inspection Inspect(const std::string& path, ServiceRecords::BusyWait& wait) {
    SQLite::Database db(path, SQLITE_OPEN_READONLY | kOpenFlags);
    sqlite3_busy_handler(db.getHandle(), WaitWhileBusy, &wait);
    // One read transaction, so that every answer comes from one moment: another Kelo may be
    // migrating the file meanwhile.
    SQLite::Transaction snapshot(db, SQLite::TransactionBehavior::DEFERRED);
    Inspection found;
    found.applicationId = db.execAndGet("PRAGMA application_id").getInt();
    found.userVersion = db.execAndGet("PRAGMA user_version").getInt();
    found.keloTables = db.execAndGet(R"sql(
        SELECT count(*) FROM sqlite_master WHERE type = 'table'
        AND name IN ('machines', 'contents', 'runs', 'operations', 'files'))sql")
                           .getInt() == 5;
    found.holdsNothing = db.execAndGet("SELECT count(*) FROM sqlite_master").getInt() == 0 &&
                         db.execAndGet("PRAGMA page_count").getInt64() <= 1;
    return found;
}

// Why a checked file is not to be opened for writing, or "" when it may: it must be empty,
// or Kelo's (marked, or an older Kelo's file with its tables), and of a schema this Kelo knows.
std::string Unwelcome(const CheckedFile& file, ServiceRecords::BusyWait& wait) {
    if (file.empty)
        return "";
    const auto newer = [](int32_t version) {
        return "made by a newer Kelo (schema " + std::to_string(version) + ", this one knows " +
               std::to_string(SchemaVersion()) + ")";
    };
    if (file.applicationId == kApplicationId)
        return file.userVersion > SchemaVersion() ? newer(file.userVersion) : "";
    if (file.applicationId != 0)
        return "not a Kelo records database";
    // The header may be older than the file's log: SQLite reads both, and writes nothing.
    const Inspection found = Inspect(file.path, wait);
    if (found.applicationId == kApplicationId)
        return found.userVersion > SchemaVersion() ? newer(found.userVersion) : "";
    const bool olderKelo = found.applicationId == 0 && found.userVersion >= 1 &&
                           found.userVersion <= kUnmarkedSchemas && found.keloTables;
    // A new database gets its auto_vacuum (which writes its first page) before its mark, so
    // another Kelo making it at this moment leaves one page that holds nothing: taken as the
    // empty file it was, since nothing in it can be lost.
    const bool beingMade = found.applicationId == 0 && found.userVersion == 0 && found.holdsNothing;
    return olderKelo || beingMade ? "" : "not a Kelo records database";
}

// Opens the checked database, marks a new one as Kelo's, sets it up for this program and
// brings its tables up to date; throws what SQLite throws.
std::unique_ptr<SQLite::Database> OpenDatabase(const CheckedFile& file,
                                               ServiceRecords::BusyWait& wait) {
    auto db = std::make_unique<SQLite::Database>(file.path, SQLITE_OPEN_READWRITE | kOpenFlags);
    sqlite3_busy_handler(db->getHandle(), WaitWhileBusy, &wait);
    if (!StillTheCheckedFile(file))
        throw std::runtime_error("the file was replaced while it was opened");
    // Closing leaves the log to be copied into the database by a later commit (every
    // 100 pages), so the program that just recorded does not wait for that copy's sync.
    sqlite3_db_config(db->getHandle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    StartDatabase(*db);
    // Readers never wait for the writer in WAL mode, and a commit needs no sync of its
    // own: a crashed program loses nothing it committed, only a power cut may.
    db->exec("PRAGMA journal_mode = WAL");
    db->exec("PRAGMA synchronous = NORMAL");
    sqlite3_wal_hook(db->getHandle(), EmptyLongLog, &wait);
    db->exec("PRAGMA foreign_keys = ON");
    Migrate(*db);
    return db;
}

ContentKind ContentKindOfWord(const std::string& word) {
    if (word == ContentKindWord(ContentKind::Report))
        return ContentKind::Report;
    if (word == ContentKindWord(ContentKind::Parameters))
        return ContentKind::Parameters;
    throw std::runtime_error("damaged record: content kind \"" + word + "\"");
}

// The file form of what an operation read, or nothing when it has none (a report longer than
// a report file holds, an empty parameter set): contents are never kept plain.
std::optional<StoredContent> FileFormOf(const ReadContent& content) {
    StoredContent stored;
    stored.kind = content.kind;
    const bool encoded =
        content.kind == ContentKind::Report
            ? EncodeReportBlock(std::string(content.plain.begin(), content.plain.end()),
                                stored.fileBytes)
            : EncodeParameterBlock(content.plain.data(), static_cast<int>(content.plain.size()),
                                   stored.fileBytes);
    if (!encoded)
        return std::nullopt;
    stored.sha256 = Sha256Hex(stored.fileBytes.data(), stored.fileBytes.size());
    return stored;
}

int64_t KeepMachine(SQLite::Database& db, const Machine& machine) {
    SQLite::Statement insert(db, R"sql(
        INSERT INTO machines (host, address, type, port_kind, name) VALUES (?, ?, ?, ?, ?)
        ON CONFLICT DO NOTHING)sql");
    SQLite::bind(insert, machine.host, machine.address, machine.type, machine.portKind,
                 machine.name);
    insert.exec();
    SQLite::Statement find(db, R"sql(
        SELECT id FROM machines
        WHERE host = ? AND address = ? AND type = ? AND port_kind = ? AND name = ?)sql");
    SQLite::bind(find, machine.host, machine.address, machine.type, machine.portKind, machine.name);
    if (!find.executeStep())
        throw std::runtime_error("the machine was not kept");
    return find.getColumn(0).getInt64();
}

void KeepContent(SQLite::Database& db, const StoredContent& content) {
    SQLite::Statement insert(
        db, "INSERT INTO contents (sha256, kind, bytes) VALUES (?, ?, ?) ON CONFLICT DO NOTHING");
    insert.bind(1, content.sha256);
    insert.bind(2, std::string(ContentKindWord(content.kind)));
    insert.bind(3, content.fileBytes.data(), static_cast<int>(content.fileBytes.size()));
    insert.exec();
}

int64_t InsertOperation(SQLite::Database& db, const OperationRecord& record, int64_t machineId,
                        const StoredContent* content) {
    SQLite::Statement insert(db, R"sql(
        INSERT INTO operations (machine_id, started_ms, ended_ms, duration_ms, operation, result,
                                message, program, run_id, backup, content)
        VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))sql");
    SQLite::bind(insert, machineId, record.startedMs, record.endedMs, record.durationMs,
                 record.operation, std::string(ResultWord(record.result)), record.message,
                 record.program);
    if (record.runId)
        insert.bind(9, *record.runId);
    insert.bind(10, record.backup ? 1 : 0);
    if (content != nullptr)
        insert.bind(11, content->sha256);
    insert.exec();
    return db.getLastInsertRowid();
}

void InsertFile(SQLite::Database& db, int64_t operationId, const FileUse& file) {
    SQLite::Statement insert(db, R"sql(
        INSERT INTO files (operation_id, role, name, size, sha256) VALUES (?, ?, ?, ?, ?))sql");
    SQLite::bind(insert, operationId, file.role, file.name, static_cast<int64_t>(file.size),
                 file.sha256);
    insert.exec();
}

std::optional<std::string> OptionalText(const SQLite::Column& column) {
    if (column.isNull())
        return std::nullopt;
    return column.getString();
}

StoredOperation RowToOperation(const SQLite::Statement& row) {
    StoredOperation op;
    op.id = row.getColumn(0).getInt64();
    op.machine = Machine{row.getColumn(1).getString(), row.getColumn(2).getString(),
                         row.getColumn(3).getInt(), row.getColumn(4).getString(),
                         row.getColumn(5).getString()};
    op.startedMs = row.getColumn(6).getInt64();
    op.endedMs = row.getColumn(7).getInt64();
    op.durationMs = row.getColumn(8).getInt64();
    op.operation = row.getColumn(9).getString();
    const std::string result = row.getColumn(10).getString();
    const std::optional<Result> known = ResultOfWord(result);
    if (!known)
        throw std::runtime_error("damaged record: result \"" + result + "\"");
    op.result = *known;
    op.message = row.getColumn(11).getString();
    op.program = row.getColumn(12).getString();
    op.runId = OptionalText(row.getColumn(13));
    op.backup = row.getColumn(14).getInt() != 0;
    op.content = OptionalText(row.getColumn(15));
    if (const std::optional<std::string> kind = OptionalText(row.getColumn(16)))
        op.contentKind = ContentKindOfWord(*kind);
    op.firstFile = OptionalText(row.getColumn(17)).value_or("");
    return op;
}

// A file of the operation matched by its SHA-256, or by its name as given or the name's last
// part (the text after its last slash). The files are looked through once, into a list the
// operations are then checked against: no index leads from a hash or a name to its files.
constexpr const char* kUsedFileBySha = R"sql(
 AND o.id IN (SELECT f.operation_id FROM files f WHERE f.sha256 = :file))sql";
constexpr const char* kUsedFileByName = R"sql(
 AND o.id IN (SELECT f.operation_id FROM files f WHERE f.name = :file OR
     (instr(:file, '/') = 0 AND substr(f.name, -length(:file) - 1) = '/' || :file)))sql";

// The WHERE clause of a history, built from fixed pieces only; every value is bound.
std::string HistoryFilter(const HistoryQuery& query) {
    const std::pair<bool, const char*> clauses[] = {
        {query.host.has_value(), " AND m.host = :host"},
        {query.sinceMs.has_value(), " AND o.started_ms >= :since"},
        {query.beforeMs.has_value(), " AND o.started_ms < :before"},
        {query.operation.has_value(), " AND o.operation = :operation"},
        {query.result.has_value(), " AND o.result = :result"},
        {query.runId.has_value(), " AND o.run_id = :run"},
    };
    std::string filter = " WHERE 1";
    for (const auto& [given, clause] : clauses) {
        if (given)
            filter += clause;
    }
    if (query.file)
        filter += IsSha256Word(*query.file) ? kUsedFileBySha : kUsedFileByName;
    return filter;
}

void BindHistoryFilter(SQLite::Statement& statement, const HistoryQuery& query) {
    if (query.host)
        statement.bind(":host", *query.host);
    if (query.sinceMs)
        statement.bind(":since", *query.sinceMs);
    if (query.beforeMs)
        statement.bind(":before", *query.beforeMs);
    if (query.operation)
        statement.bind(":operation", *query.operation);
    if (query.result)
        statement.bind(":result", std::string(ResultWord(*query.result)));
    if (query.runId)
        statement.bind(":run", *query.runId);
    if (query.file) {
        std::string word = *query.file;
        // The hashes are kept in lower case.
        if (IsSha256Word(word))
            std::transform(word.begin(), word.end(), word.begin(),
                           [](char c) { return c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c; });
        statement.bind(":file", word);
    }
}

constexpr const char* kFilesOfOperation =
    "SELECT role, name, size, sha256 FROM files WHERE operation_id = ? ORDER BY id";

// The files of one operation, through a statement of kFilesOfOperation that may have run
// before.
std::vector<FileUse> StepFiles(SQLite::Statement& query, int64_t operationId) {
    query.reset();
    query.bind(1, operationId);
    std::vector<FileUse> files;
    while (query.executeStep()) {
        files.push_back(FileUse{query.getColumn(0).getString(), query.getColumn(1).getString(),
                                static_cast<uint64_t>(query.getColumn(2).getInt64()),
                                query.getColumn(3).getString()});
    }
    return files;
}

std::vector<FileUse> FilesOf(SQLite::Database& db, int64_t operationId) {
    SQLite::Statement query(db, kFilesOfOperation);
    return StepFiles(query, operationId);
}

// Runs a history's query, newest first and cut to its limit, and hands each operation to
// take: with its files when the query asks for them, through one statement for all.
void StepHistory(SQLite::Database& db, const HistoryQuery& query,
                 const std::function<void(StoredOperation&&)>& take) {
    std::string sql = OperationQuery(false) + HistoryFilter(query) + kNewestFirst;
    if (query.limit > 0)
        sql += " LIMIT :limit";
    SQLite::Statement select(db, sql);
    BindHistoryFilter(select, query);
    if (query.limit > 0)
        select.bind(":limit", query.limit);
    std::optional<SQLite::Statement> files;
    if (query.withFiles)
        files.emplace(db, kFilesOfOperation);
    while (select.executeStep()) {
        StoredOperation op = RowToOperation(select);
        if (files)
            op.files = StepFiles(*files, op.id);
        take(std::move(op));
    }
}

// The rows of one operation, inside the caller's transaction; gives its id.
int64_t KeepOperationRow(SQLite::Database& db, const OperationRecord& record,
                         const StoredContent* content) {
    const int64_t machineId = KeepMachine(db, record.machine);
    if (content != nullptr)
        KeepContent(db, *content);
    const int64_t id = InsertOperation(db, record, machineId, content);
    for (const FileUse& file : record.files)
        InsertFile(db, id, file);
    return id;
}

// True when the records hold this operation already (same machine, times, word and program).
bool AlreadyKept(SQLite::Database& db, const OperationRecord& record) {
    SQLite::Statement find(db, R"sql(
        SELECT 1 FROM operations o JOIN machines m ON m.id = o.machine_id
        WHERE m.host = ? AND m.address = ? AND m.type = ? AND m.port_kind = ? AND m.name = ?
          AND o.started_ms = ? AND o.ended_ms = ? AND o.operation = ? AND o.program = ?)sql");
    const Machine& machine = record.machine;
    SQLite::bind(find, machine.host, machine.address, machine.type, machine.portKind, machine.name,
                 record.startedMs, record.endedMs, record.operation, record.program);
    return find.executeStep();
}

void InsertRun(SQLite::Database& db, const StoredRun& run) {
    nlohmann::json hosts = nlohmann::json::array();
    for (const Machine& machine : run.start.hosts)
        hosts.push_back({{"host", machine.host}, {"type", machine.type}});
    const nlohmann::json replay = {{"command", run.start.command},
                                   {"options", run.start.options},
                                   {"output", run.start.outputTemplate},
                                   {"hosts", hosts}};
    std::string text;
    try {
        text = replay.dump();
    } catch (const nlohmann::json::exception&) {
        throw std::runtime_error("the run's options are not UTF-8 text");
    }
    SQLite::Statement insert(
        db, "INSERT INTO runs (id, started_ms, replay) VALUES (?, ?, ?) ON CONFLICT DO NOTHING");
    SQLite::bind(insert, run.id, run.startedMs, text);
    insert.exec();
}

uint64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

int64_t CountOf(SQLite::Database& db, const char* table) {
    return db.execAndGet(std::string("SELECT count(*) FROM ") + table).getInt64();
}

// Each call below runs its work in Guarded, which turns anything thrown (SQLite's errors, a
// damaged row, memory) into the reason of a failed outcome that names the file.
template <typename T, typename Work>
Outcome<T> Guarded(const std::string& path, Work work) {
    try {
        return Outcome<T>{work(), ""};
    } catch (const std::exception& error) {
        return Outcome<T>::Failure(path + ": " + error.what());
    }
}

}  // namespace

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

OperationRecord FoundMachineRecord(const std::string& address, int type, const std::string& name,
                                   int64_t startedMs, int64_t durationMs, Program program) {
    OperationRecord kept;
    // 1: the network port, as the profile's Port value gives it.
    kept.machine = Machine{address, address, type, std::string(PortKindWord(1)), name};
    kept.startedMs = startedMs;
    kept.endedMs = startedMs + durationMs;
    kept.durationMs = durationMs;
    kept.operation = OperationWord(Operation::Discover);
    kept.program = ProgramWord(program);
    return kept;
}

std::string NotRecordedText(std::string_view reason) {
    return "not recorded: " + std::string(reason);
}

std::string LocalTimeText(int64_t ms) {
    // Rounded down, so that a time before 1970 shows the second it fell in.
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

std::optional<int64_t> RecordNumberOf(std::string_view word) {
    if (word.empty() || word.size() > 18 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    int64_t number = 0;
    for (char c : word)
        number = number * 10 + (c - '0');
    return number;
}

bool IsSha256Word(std::string_view word) {
    return word.size() == 64 && std::all_of(word.begin(), word.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

std::string_view ContentKindWord(ContentKind kind) {
    return kind == ContentKind::Report ? "report" : "params";
}

std::string DefaultRecordsPath() {
    const char* chosen = std::getenv("KELO_RECORDS");
    if (chosen != nullptr && *chosen != '\0')
        return chosen;
    return platform::DataFolder() + "/records.sqlite3";
}

ServiceRecords::ServiceRecords(std::string path, std::string checkedPath,
                               std::unique_ptr<BusyWait> wait, std::unique_ptr<SQLite::Database> db)
    : path_(std::move(path)),
      checkedPath_(std::move(checkedPath)),
      wait_(std::move(wait)),
      db_(std::move(db)) {}

ServiceRecords::~ServiceRecords() = default;

OpenedRecords ServiceRecords::Open(const std::string& path, int busyTimeoutMilliseconds) {
    return OpenFile(path, true, busyTimeoutMilliseconds);
}

OpenedRecords ServiceRecords::OpenExisting(const std::string& path, int busyTimeoutMilliseconds) {
    return OpenFile(path, false, busyTimeoutMilliseconds);
}

OpenedRecords ServiceRecords::OpenFile(const std::string& path, bool make,
                                       int busyTimeoutMilliseconds) {
    const auto failed = [&path](OpenFailure failure, const std::string& reason,
                                const std::string& checkedPath = "") {
        OpenedRecords opened;
        opened.reason = reason;
        opened.failure = failure;
        opened.checkedPath = checkedPath;
        return opened;
    };
    if (path.empty())
        return failed(OpenFailure::Failed, "no records file named");
    CheckedFile file;
    std::string reason;
    switch (CheckRecordsFile(path, make, file, reason)) {
        case FileVerdict::Usable:
            break;
        case FileVerdict::Missing:
            return failed(OpenFailure::NoFile, path + ": no records kept yet");
        case FileVerdict::Refused:
            return failed(OpenFailure::Refused, reason);
        case FileVerdict::Failed:
            return failed(OpenFailure::Failed, reason);
    }
    auto wait = std::make_unique<BusyWait>();
    wait->limitMs = busyTimeoutMilliseconds;
    // Programs that open a new file at once may find it locked where SQLite does not wait
    // (switching a new file to WAL while another makes its tables): such an opening is tried
    // again while the opening's wait lasts.
    for (;;) {
        try {
            // Nothing is written before the file is known to be Kelo's, of a known schema.
            if (const std::string unwelcome = Unwelcome(file, *wait); !unwelcome.empty())
                throw RefusedDatabase(unwelcome);
            std::unique_ptr<SQLite::Database> db = OpenDatabase(file, *wait);
            OpenedRecords opened;
            opened.value = std::unique_ptr<ServiceRecords>(
                new ServiceRecords(path, file.path, std::move(wait), std::move(db)));
            opened.checkedPath = file.path;
            (*opened.value)->TakeBackSetAside();
            return opened;
        } catch (const RefusedDatabase& error) {
            return failed(OpenFailure::Refused,
                          path + ": " + error.what() + "; not used, and left as it is");
        } catch (const SQLite::Exception& error) {
            if (!IsBusy(error))
                return failed(OpenFailure::Failed, path + ": " + error.what());
            if (!wait->WaitSlice(kOpenRetryMilliseconds))
                return failed(OpenFailure::Busy, path + ": " + error.what(), file.path);
        } catch (const std::exception& error) {
            return failed(OpenFailure::Failed, path + ": " + error.what());
        }
    }
}

Outcome<Done> ServiceRecords::SetAside(const std::string& checkedPath,
                                       const OperationRecord& record) {
    const std::optional<StoredContent> content =
        record.content ? FileFormOf(*record.content) : std::nullopt;
    return records::SetAside(checkedPath, PendingText(record, content));
}

Outcome<Done> ServiceRecords::SetAside(const std::string& checkedPath, const StoredRun& run) {
    return records::SetAside(checkedPath, PendingText(run));
}

void ServiceRecords::TakeBackSetAside() {
    // Each in a transaction of its own, removed once committed; what cannot be written now
    // (still locked) waits for a later opening.
    TakeSetAside(checkedPath_, [this](const PendingRecord& pending) {
        try {
            if (pending.run) {
                InsertRun(*db_, *pending.run);
                return true;
            }
            SQLite::Transaction transaction(*db_, SQLite::TransactionBehavior::IMMEDIATE);
            // A program that ended between its commit and the removal left it here twice.
            if (!AlreadyKept(*db_, *pending.operation)) {
                const StoredContent* content = pending.content ? &*pending.content : nullptr;
                KeepOperationRow(*db_, *pending.operation, content);
            }
            transaction.commit();
            return true;
        } catch (const std::exception&) {
            return false;
        }
    });
}

namespace {

// The hosts of a run kept without its list that had an operation not ok, in the order they
// were first recorded, each with the type it was run as.
std::vector<Machine> MachinesThatDidNotSucceed(SQLite::Database& db, const std::string& runId) {
    SQLite::Statement select(db, R"sql(
        SELECT m.host, max(m.type) FROM operations o JOIN machines m ON m.id = o.machine_id
        WHERE o.run_id = ?
        GROUP BY m.host HAVING sum(o.result NOT IN ('ok', 'unchanged')) > 0
        ORDER BY min(o.id))sql");
    select.bind(1, runId);
    std::vector<Machine> machines;
    while (select.executeStep()) {
        Machine machine;
        machine.host = select.getColumn(0).getString();
        machine.type = select.getColumn(1).getInt();
        machines.push_back(machine);
    }
    return machines;
}

}  // namespace

Outcome<int64_t> ServiceRecords::RecordOperation(const OperationRecord& record) {
    // Scrambled before the write lock is taken, so other writers wait only for the inserts.
    const std::optional<StoredContent> content =
        record.content ? FileFormOf(*record.content) : std::nullopt;
    try {
        SQLite::Transaction transaction(*db_, SQLite::TransactionBehavior::IMMEDIATE);
        const int64_t id = KeepOperationRow(*db_, record, content ? &*content : nullptr);
        transaction.commit();
        return {id, ""};
    } catch (const SQLite::Exception& error) {
        if (!IsBusy(error))
            return Outcome<int64_t>::Failure(path_ + ": " + error.what());
        setAside_ = true;
        const Outcome<Done> aside = records::SetAside(checkedPath_, PendingText(record, content));
        if (!aside)
            return Outcome<int64_t>::Failure(path_ + ": " + error.what() + "; " + aside.reason);
        return {int64_t{0}, ""};
    } catch (const std::exception& error) {
        return Outcome<int64_t>::Failure(path_ + ": " + error.what());
    }
}

Outcome<Done> ServiceRecords::RecordOperations(const std::vector<OperationRecord>& records) {
    std::vector<std::optional<StoredContent>> contents;
    for (const OperationRecord& record : records)
        contents.push_back(record.content ? FileFormOf(*record.content) : std::nullopt);
    try {
        SQLite::Transaction transaction(*db_, SQLite::TransactionBehavior::IMMEDIATE);
        for (size_t i = 0; i < records.size(); ++i)
            KeepOperationRow(*db_, records[i], contents[i] ? &*contents[i] : nullptr);
        transaction.commit();
        return {Done{}, ""};
    } catch (const SQLite::Exception& error) {
        if (!IsBusy(error))
            return Outcome<Done>::Failure(path_ + ": " + error.what());
        setAside_ = true;
        for (size_t i = 0; i < records.size(); ++i) {
            const Outcome<Done> aside =
                records::SetAside(checkedPath_, PendingText(records[i], contents[i]));
            if (!aside)
                return Outcome<Done>::Failure(path_ + ": " + error.what() + "; " + aside.reason);
        }
        return {Done{}, ""};
    } catch (const std::exception& error) {
        return Outcome<Done>::Failure(path_ + ": " + error.what());
    }
}

Outcome<Done> ServiceRecords::RecordRun(const StoredRun& run) {
    try {
        InsertRun(*db_, run);
        return {Done{}, ""};
    } catch (const SQLite::Exception& error) {
        if (!IsBusy(error))
            return Outcome<Done>::Failure(path_ + ": " + error.what());
        setAside_ = true;
        const Outcome<Done> aside = records::SetAside(checkedPath_, PendingText(run));
        if (!aside)
            return Outcome<Done>::Failure(path_ + ": " + error.what() + "; " + aside.reason);
        return {Done{}, ""};
    } catch (const std::exception& error) {
        return Outcome<Done>::Failure(path_ + ": " + error.what());
    }
}

Outcome<std::vector<StoredOperation>> ServiceRecords::History(const HistoryQuery& query) {
    return Guarded<std::vector<StoredOperation>>(path_, [&] {
        // Counted first (from the indexes alone), so that the list is allocated once: growing
        // it row by row moved and copied a busy machine's history many times over.
        SQLite::Statement count(*db_,
                                "SELECT count(*) FROM operations o JOIN machines m ON "
                                "m.id = o.machine_id" +
                                    HistoryFilter(query));
        BindHistoryFilter(count, query);
        count.executeStep();
        int64_t rows = count.getColumn(0).getInt64();
        if (query.limit > 0)
            rows = std::min<int64_t>(rows, query.limit);
        std::vector<StoredOperation> operations;
        operations.reserve(static_cast<size_t>(rows));
        StepHistory(*db_, query,
                    [&](StoredOperation&& op) { operations.push_back(std::move(op)); });
        return operations;
    });
}

Outcome<Done> ServiceRecords::VisitHistory(
    const HistoryQuery& query, const std::function<void(const StoredOperation&)>& visit) {
    return Guarded<Done>(path_, [&] {
        StepHistory(*db_, query, [&](StoredOperation&& op) { visit(op); });
        return Done{};
    });
}

Outcome<StoredOperation> ServiceRecords::Operation(int64_t id) {
    return Guarded<StoredOperation>(path_, [&] {
        SQLite::Statement select(*db_, OperationQuery(true) + "WHERE o.id = ?");
        select.bind(1, id);
        if (!select.executeStep())
            throw std::runtime_error("no record " + std::to_string(id));
        StoredOperation op = RowToOperation(select);
        op.files = FilesOf(*db_, id);
        return op;
    });
}

Outcome<StoredContent> ServiceRecords::Content(const std::string& sha256) {
    return Guarded<StoredContent>(path_, [&] {
        SQLite::Statement select(*db_, "SELECT kind, bytes FROM contents WHERE sha256 = ?");
        select.bind(1, sha256);
        if (!select.executeStep())
            throw std::runtime_error("no kept content " + sha256);
        StoredContent content;
        content.sha256 = sha256;
        content.kind = ContentKindOfWord(select.getColumn(0).getString());
        const SQLite::Column bytes = select.getColumn(1);
        const auto* data = static_cast<const uint8_t*>(bytes.getBlob());
        content.fileBytes.assign(data, data + bytes.getBytes());
        // The key is the hash of the bytes: anything else was changed behind Kelo's back.
        if (Sha256Hex(content.fileBytes.data(), content.fileBytes.size()) != sha256)
            throw std::runtime_error("kept content " + sha256 + " is damaged");
        return content;
    });
}

Outcome<StoredOperation> ServiceRecords::NewestBackup(const std::string& host) {
    return Guarded<StoredOperation>(path_, [&] {
        SQLite::Statement select(
            *db_,
            OperationQuery(true) +
                "WHERE m.host = ? AND o.backup = 1 AND o.result = 'ok' AND EXISTS"
                " (SELECT 1 FROM contents c WHERE c.sha256 = o.content AND c.kind = 'params')" +
                kNewestFirst + " LIMIT 1");
        select.bind(1, host);
        if (!select.executeStep())
            throw std::runtime_error("no parameter backup of " + host);
        return RowToOperation(select);
    });
}

Outcome<StoredRun> ServiceRecords::Run(const std::string& runIdOrLast) {
    return Guarded<StoredRun>(path_, [&] {
        const bool last = runIdOrLast == "last";
        SQLite::Statement select(
            *db_, std::string("SELECT id, started_ms, replay FROM runs ") +
                      (last ? "ORDER BY started_ms DESC, id DESC LIMIT 1" : "WHERE id = ?"));
        if (!last)
            select.bind(1, runIdOrLast);
        if (!select.executeStep())
            throw std::runtime_error(last ? "no run recorded" : "no run " + runIdOrLast);
        StoredRun run;
        run.id = select.getColumn(0).getString();
        run.startedMs = select.getColumn(1).getInt64();
        const nlohmann::json replay = nlohmann::json::parse(select.getColumn(2).getString());
        run.start.command = replay.at("command").get<std::string>();
        run.start.options = replay.at("options").get<std::vector<std::string>>();
        run.start.outputTemplate = replay.at("output").get<std::string>();
        for (const nlohmann::json& host : replay.value("hosts", nlohmann::json::array())) {
            Machine machine;
            machine.host = host.at("host").get<std::string>();
            machine.type = host.at("type").get<int>();
            run.start.hosts.push_back(machine);
        }
        return run;
    });
}

Outcome<std::vector<Machine>> ServiceRecords::MachinesToResume(const StoredRun& run) {
    return Guarded<std::vector<Machine>>(path_, [&] {
        if (run.start.hosts.empty())
            return MachinesThatDidNotSucceed(*db_, run.id);
        // The whole list as the run started, less the hosts whose command ended ok: a host
        // whose program was killed before it kept anything is run again too.
        SQLite::Statement select(*db_, R"sql(
            SELECT DISTINCT m.host FROM operations o JOIN machines m ON m.id = o.machine_id
            WHERE o.run_id = ? AND o.operation = ? AND o.result IN ('ok', 'unchanged'))sql");
        SQLite::bind(select, run.id, run.start.command);
        std::set<std::string> succeeded;
        while (select.executeStep())
            succeeded.insert(platform::AsciiLowerText(select.getColumn(0).getString()));
        std::vector<Machine> machines;
        for (const Machine& machine : run.start.hosts) {
            if (succeeded.count(platform::AsciiLowerText(machine.host)) == 0)
                machines.push_back(machine);
        }
        return machines;
    });
}

Outcome<Summary> ServiceRecords::Summarise() {
    return Guarded<Summary>(path_, [&] {
        Summary summary;
        summary.path = path_;
        summary.bytes = FileSize(path_) + FileSize(path_ + "-wal");
        summary.operations = CountOf(*db_, "operations");
        summary.machines = CountOf(*db_, "machines");
        summary.contents = CountOf(*db_, "contents");
        summary.runs = CountOf(*db_, "runs");
        SQLite::Statement span(*db_, "SELECT min(started_ms), max(started_ms) FROM operations");
        span.executeStep();
        if (!span.getColumn(0).isNull()) {
            summary.oldestMs = span.getColumn(0).getInt64();
            summary.newestMs = span.getColumn(1).getInt64();
        }
        return summary;
    });
}

Outcome<PruneCounts> ServiceRecords::Prune(int64_t cutoffMs, bool includeBackups) {
    return Guarded<PruneCounts>(path_, [&] {
        PruneCounts removed;
        const int64_t pageSize = db_->execAndGet("PRAGMA page_size").getInt64();
        const int64_t pagesBefore = db_->execAndGet("PRAGMA page_count").getInt64();
        SQLite::Transaction transaction(*db_, SQLite::TransactionBehavior::IMMEDIATE);
        // The newest backup of each host is what restore-params writes back: it stays however
        // old it is, unless the backups are to go too.
        SQLite::Statement operations(*db_, R"sql(
            DELETE FROM operations WHERE started_ms < :cutoff AND (:all OR id NOT IN (
                SELECT id FROM (
                    SELECT o.id, row_number() OVER (
                        PARTITION BY m.host ORDER BY o.started_ms DESC, o.id DESC) AS newest
                    FROM operations o JOIN machines m ON m.id = o.machine_id
                    WHERE o.backup = 1 AND o.result = 'ok' AND o.content IS NOT NULL)
                WHERE newest = 1)))sql");
        operations.bind(":cutoff", cutoffMs);
        operations.bind(":all", includeBackups ? 1 : 0);
        removed.operations = operations.exec();  // their files go with them (ON DELETE CASCADE)
        removed.contents = db_->exec(R"sql(
            DELETE FROM contents
            WHERE NOT EXISTS (SELECT 1 FROM operations WHERE content = contents.sha256))sql");
        db_->exec(R"sql(
            DELETE FROM machines
            WHERE NOT EXISTS (SELECT 1 FROM operations WHERE machine_id = machines.id))sql");
        SQLite::Statement runs(*db_, R"sql(
            DELETE FROM runs
            WHERE started_ms < ? AND NOT EXISTS (SELECT 1 FROM operations WHERE run_id = runs.id)
            )sql");
        runs.bind(1, cutoffMs);
        runs.exec();
        transaction.commit();
        // The freed pages leave the database, and the file shrinks once the log is copied back
        // into it (a reader of another program may delay that to a later commit).
        db_->exec("PRAGMA incremental_vacuum");
        const int64_t pagesAfter = db_->execAndGet("PRAGMA page_count").getInt64();
        removed.freedBytes = std::max<int64_t>(0, pagesBefore - pagesAfter) * pageSize;
        wait_->noWait = true;
        sqlite3_wal_checkpoint_v2(db_->getHandle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                  nullptr);
        wait_->noWait = false;
        return removed;
    });
}

bool KeepsWhole(const ReadContent& content) {
    return !content.plain.empty() && FileFormOf(content).has_value();
}

Outcome<std::string> DecodeReport(const StoredContent& content) {
    std::string text;
    if (content.kind != ContentKind::Report)
        return Outcome<std::string>::Failure("kept content " + content.sha256 + " is no report");
    if (DecodeReportBlock(content.fileBytes, text))
        return Outcome<std::string>::Failure("kept report " + content.sha256 + " is damaged");
    return {text, ""};
}

Outcome<std::vector<uint8_t>> DecodeParameters(const StoredContent& content) {
    using Decoded = Outcome<std::vector<uint8_t>>;
    std::vector<uint8_t> plainBlock;
    if (content.kind != ContentKind::Parameters)
        return Decoded::Failure("kept content " + content.sha256 + " is no parameter set");
    if (!DecodeParameterBlock(content.fileBytes, plainBlock))
        return Decoded::Failure("kept parameter set " + content.sha256 + " is damaged");
    return {plainBlock, ""};
}

void WaitOnThisThreadAlone() {
    t_waitsAlone = true;
}

std::string NewRunId(int64_t startedMs) {
    const std::time_t seconds = static_cast<std::time_t>(startedMs / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
    std::random_device random;
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, "-%04x", static_cast<unsigned>(random() & 0xFFFF));
    return std::string(text, length) + suffix;
}

}  // namespace kelo::records
