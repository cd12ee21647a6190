// The tables of the service records and the numbered migrations that build them. The database's
// PRAGMA user_version is the number of migrations it has had.
#pragma once

#include <stdexcept>

namespace SQLite {
class Database;
}

namespace kelo::records {

// The number of migrations this program knows; a database that had more was written by a
// newer Kelo.
int SchemaVersion();

// The schemas of the Kelo that did not yet mark its files with kApplicationId
// (records/records_file.h): a file of one of them, with Kelo's tables, is Kelo's.
constexpr int kUnmarkedSchemas = 2;

// A database that is not to be changed: made by a newer Kelo, or not Kelo's at all.
struct RefusedDatabase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Sets up a file that has no page yet as Kelo's, before anything else is written to it: its
// freed pages go back to the file system (auto_vacuum, which can only be chosen before the
// first table, and must be chosen before the log is switched on) and it carries Kelo's
// application_id in its header from its first write. A file with pages is left to Migrate.
void StartDatabase(SQLite::Database& db);

// Brings the database up to SchemaVersion(), each missing migration in a transaction of its
// own, so that programs opening a new file at once make its tables only once. Throws
// SQLite::Exception when a step fails, and RefusedDatabase for a newer database or one that
// is not Kelo's.
void Migrate(SQLite::Database& db);

}  // namespace kelo::records
