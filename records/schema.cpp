#include "records/schema.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Transaction.h>

#include <iterator>
#include <stdexcept>
#include <string>

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

// Migration n + 1 is kMigrations[n]. Never change one that has shipped: add the next.
constexpr const char* kMigrations[] = {kSchema, kHistoryIndexes};

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
        throw std::runtime_error("made by a newer Kelo (schema " + std::to_string(version) +
                                 ", this one knows " + std::to_string(std::size(kMigrations)) +
                                 ")");
    }
    if (version == static_cast<int>(std::size(kMigrations)))
        return false;
    db.exec(kMigrations[version]);
    db.exec("PRAGMA user_version = " + std::to_string(version + 1));
    transaction.commit();
    return true;
}

}  // namespace

int SchemaVersion() {
    return static_cast<int>(std::size(kMigrations));
}

void Migrate(SQLite::Database& db) {
    const int versionBefore = UserVersion(db);
    if (versionBefore == SchemaVersion())
        return;
    // Freed pages go back to the file when old records are pruned; only takes effect before
    // the first table is made.
    if (versionBefore == 0)
        db.exec("PRAGMA auto_vacuum = INCREMENTAL");
    bool migrated = false;
    while (ApplyNextMigration(db))
        migrated = true;
    // A migration of a filled database leaves every page of its new indexes in the log, which
    // each later program would otherwise read through again on opening the file, until the log
    // is emptied: it goes into the database now, once.
    if (migrated && versionBefore > 0)
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

}  // namespace kelo::records
