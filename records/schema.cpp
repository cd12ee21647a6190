#include "records/schema.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Transaction.h>

#include <array>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "records/records_file.h"
#include "records/words.h"

namespace kelo::records {
namespace {

// Migration 1: the tables. Times are milliseconds since 1970 UTC. A machine is kept once for
// each way it was seen (host, address, type, port kind, name), so an operation shows the
// machine as it was then; host names compare without case, as DNS compares them. A content
// is the scrambled file of a report or parameter set, kept once by the SHA-256 of those bytes.
// A run's replay is JSON: {"command": ..., "options": [...], "output": ...}. run_id has no
// foreign key: a host's program records its operation even when the run's own record failed.
constexpr const char* kSchema = R"sql(
CREATE TABLE machines (
    id        INTEGER PRIMARY KEY,
    host      TEXT NOT NULL COLLATE NOCASE,
    address   TEXT NOT NULL DEFAULT '',
    type      INTEGER NOT NULL DEFAULT 0,
    port_kind TEXT NOT NULL DEFAULT '',
    name      TEXT NOT NULL DEFAULT '',
    UNIQUE (host, address, type, port_kind, name)
);
CREATE TABLE contents (
    sha256 TEXT PRIMARY KEY,
    kind   TEXT NOT NULL CHECK (kind IN ('report', 'params')),
    bytes  BLOB NOT NULL
);
CREATE TABLE runs (
    id         TEXT PRIMARY KEY,
    started_ms INTEGER NOT NULL,
    replay     TEXT NOT NULL
) WITHOUT ROWID;
CREATE TABLE operations (
    id          INTEGER PRIMARY KEY,
    machine_id  INTEGER NOT NULL REFERENCES machines (id),
    started_ms  INTEGER NOT NULL,
    ended_ms    INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL,
    operation   TEXT NOT NULL,
    result      TEXT NOT NULL CHECK (result IN ('ok', 'failed', 'cancelled', 'timed-out')),
    message     TEXT NOT NULL DEFAULT '',
    program     TEXT NOT NULL CHECK (program IN ('kelo', 'kelo-cli')),
    run_id      TEXT,
    backup      INTEGER NOT NULL DEFAULT 0 CHECK (backup IN (0, 1)),
    content     TEXT REFERENCES contents (sha256)
);
CREATE TABLE files (
    id           INTEGER PRIMARY KEY,
    operation_id INTEGER NOT NULL REFERENCES operations (id) ON DELETE CASCADE,
    role         TEXT NOT NULL,
    name         TEXT NOT NULL,
    size         INTEGER NOT NULL,
    sha256       TEXT NOT NULL
);
CREATE INDEX operations_by_machine ON operations (machine_id, started_ms);
CREATE INDEX operations_by_start ON operations (started_ms);
CREATE INDEX operations_by_run ON operations (run_id) WHERE run_id IS NOT NULL;
CREATE INDEX operations_by_content ON operations (content) WHERE content IS NOT NULL;
CREATE INDEX runs_by_start ON runs (started_ms);
CREATE INDEX files_by_operation ON files (operation_id);
)sql";

// Whether the schema lists exactly these words, each quoted and in this order, in the CHECK
// that follows `opening`. A migration that shipped never changes, so the words it spells must
// stay the words the programs store.
template <size_t N>
constexpr bool ChecksWords(std::string_view schema, std::string_view opening,
                           const std::array<std::string_view, N>& words) {
    size_t at = schema.find(opening);
    if (at == std::string_view::npos)
        return false;
    at += opening.size();
    const auto take = [&](std::string_view piece) {
        if (schema.substr(at, piece.size()) != piece)
            return false;
        at += piece.size();
        return true;
    };
    for (size_t i = 0; i < N; ++i) {
        if ((i > 0 && !take(", ")) || !take("'") || !take(words[i]) || !take("'"))
            return false;
    }
    return take(")");
}

static_assert(ChecksWords(kSchema, "CHECK (program IN (", kProgramWords));

// Migration 2: a history reads its operations from the index alone. A machine's operations
// lie together in it, newest last, with every column a history shows, instead of one table
// page for each operation (the operations of a busy machine are spread over the whole
// table); the first file of an operation is likewise found in the index of its files. The
// two indexes they replace were their leading columns.
constexpr const char* kHistoryIndexes = R"sql(
CREATE INDEX operations_history ON operations (
    machine_id, started_ms, id, ended_ms, duration_ms, operation, result, message, program,
    run_id, backup, content);
CREATE INDEX files_first ON files (operation_id, id, name);
DROP INDEX operations_by_machine;
DROP INDEX files_by_operation;
)sql";

// Migration 3: the file is marked as Kelo's (0x4B454C4F, kApplicationId), so that Kelo never
// takes another program's database for its records. Files made from now on carry the mark
// from their first write (StartDatabase); this marks the files of the first two schemas.
// Before it, Migrate turns their auto_vacuum on, which needs a VACUUM outside any transaction.
constexpr const char* kMarked = "PRAGMA application_id = 1262832719;";
static_assert(kApplicationId == 1262832719);

// Migration 4: an operation may end "skipped", a host a list never started, or "unchanged", a
// write that found the machine holding its set already. SQLite cannot
// change a CHECK in place, so the table is made anew with the operations as they are (their
// ids too, which the files name) and its indexes again. Migrate runs it with the foreign keys
// off, or dropping the old table would delete every file of every operation with it.
constexpr const char* kSkippedResult = R"sql(
CREATE TABLE operations_new (
    id          INTEGER PRIMARY KEY,
    machine_id  INTEGER NOT NULL REFERENCES machines (id),
    started_ms  INTEGER NOT NULL,
    ended_ms    INTEGER NOT NULL,
    duration_ms INTEGER NOT NULL,
    operation   TEXT NOT NULL,
    result      TEXT NOT NULL
                CHECK (result IN ('ok', 'failed', 'cancelled', 'timed-out', 'skipped', 'unchanged')),
    message     TEXT NOT NULL DEFAULT '',
    program     TEXT NOT NULL CHECK (program IN ('kelo', 'kelo-cli')),
    run_id      TEXT,
    backup      INTEGER NOT NULL DEFAULT 0 CHECK (backup IN (0, 1)),
    content     TEXT REFERENCES contents (sha256)
);
INSERT INTO operations_new (id, machine_id, started_ms, ended_ms, duration_ms, operation, result,
                            message, program, run_id, backup, content)
    SELECT id, machine_id, started_ms, ended_ms, duration_ms, operation, result, message,
           program, run_id, backup, content FROM operations;
DROP TABLE operations;
ALTER TABLE operations_new RENAME TO operations;
CREATE INDEX operations_by_start ON operations (started_ms);
CREATE INDEX operations_by_run ON operations (run_id) WHERE run_id IS NOT NULL;
CREATE INDEX operations_by_content ON operations (content) WHERE content IS NOT NULL;
CREATE INDEX operations_history ON operations (
    machine_id, started_ms, id, ended_ms, duration_ms, operation, result, message, program,
    run_id, backup, content);
)sql";

static_assert(ChecksWords(kSkippedResult, "CHECK (result IN (", kResultWords));

// Migration n + 1 is kMigrations[n]. Never change one that has shipped: add the next.
constexpr const char* kMigrations[] = {kSchema, kHistoryIndexes, kMarked, kSkippedResult};

int UserVersion(SQLite::Database& db) {
    return db.execAndGet("PRAGMA user_version").getInt();
}

// Applies the first missing migration; false when there was none.
bool ApplyNextMigration(SQLite::Database& db) {
    // IMMEDIATE takes the write lock first, so the version read inside is the one the
    // migration changes: another program may have migrated meanwhile.
    SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
    const int version = UserVersion(db);
    if (version > static_cast<int>(std::size(kMigrations))) {
        throw RefusedDatabase("made by a newer Kelo (schema " + std::to_string(version) +
                              ", this one knows " + std::to_string(std::size(kMigrations)) + ")");
    }
    const int32_t mark = db.execAndGet("PRAGMA application_id").getInt();
    if (mark != kApplicationId && (mark != 0 || version > kUnmarkedSchemas))
        throw RefusedDatabase("not a Kelo records database");
    if (version == static_cast<int>(std::size(kMigrations)))
        return false;
    db.exec(kMigrations[version]);
    db.exec("PRAGMA user_version = " + std::to_string(version + 1));
    transaction.commit();
    return true;
}

}  // namespace

void StartDatabase(SQLite::Database& db) {
    if (db.execAndGet("PRAGMA page_count").getInt64() != 0)
        return;
    db.exec("PRAGMA auto_vacuum = INCREMENTAL");
    SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
    // Another program may have started it meanwhile.
    if (db.execAndGet("PRAGMA page_count").getInt64() == 0)
        db.exec("PRAGMA application_id = " + std::to_string(kApplicationId));
    transaction.commit();
}

int SchemaVersion() {
    return static_cast<int>(std::size(kMigrations));
}

void Migrate(SQLite::Database& db) {
    const int versionBefore = UserVersion(db);
    if (versionBefore == SchemaVersion())
        return;
    // The files of the first schemas were made with auto_vacuum off (the log was switched on
    // before it was chosen): once, they are rebuilt with it on, so a prune gives space back.
    if (versionBefore >= 1 && versionBefore <= kUnmarkedSchemas &&
        db.execAndGet("PRAGMA auto_vacuum").getInt() == 0) {
        db.exec("PRAGMA auto_vacuum = INCREMENTAL");
        db.exec("VACUUM");
    }
    // A migration that makes a table anew drops the old one, which with the foreign keys on
    // would delete the rows that refer to it; they are on again once the tables are whole.
    const bool foreignKeys = db.execAndGet("PRAGMA foreign_keys").getInt() != 0;
    db.exec("PRAGMA foreign_keys = OFF");
    bool migrated = false;
    try {
        while (ApplyNextMigration(db))
            migrated = true;
    } catch (...) {
        if (foreignKeys)
            db.exec("PRAGMA foreign_keys = ON");
        throw;
    }
    if (foreignKeys)
        db.exec("PRAGMA foreign_keys = ON");
    // A migration of a filled database leaves every page of its new indexes in the log, which
    // each later program would otherwise read through again on opening the file, until the log
    // is emptied: it goes into the database now, once.
    if (migrated && versionBefore > 0)
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace kelo::records
