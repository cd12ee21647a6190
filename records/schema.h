// The tables of the service records and the numbered migrations that build them. The database's
// PRAGMA user_version is the number of migrations it has had.
#pragma once

namespace SQLite {
class Database;
}

namespace kelo::records {

// The number of migrations this program knows; a database that had more was written by a
// newer Kelo.
int SchemaVersion();

// Brings the database up to SchemaVersion(), each missing migration in a transaction of its
// own, so that programs opening a new file at once make its tables only once. Throws
// SQLite::Exception when a step fails, and std::runtime_error for a newer database.
void Migrate(SQLite::Database& db);

}  // namespace kelo::records
