#include <SQLiteCpp/Database.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/clock.h"
#include "records/pending_records.h"
#include "records/records_file.h"
#include "records/schema.h"
#include "records/service_records.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace kelo::records {
namespace {

OperationRecord Operation(const std::string& host, const std::string& report = "",
                          Result result = Result::Ok, int64_t startedMs = 1000) {
    OperationRecord record;
    record.machine = Machine{host, "127.0.0.1", 3, "network", "desk"};
    record.startedMs = startedMs;
    record.endedMs = startedMs + 20;
    record.durationMs = 20;
    record.operation = "get-report";
    record.result = result;
    record.program = "kelo-cli";
    if (!report.empty())
        record.content = ReadContent{ContentKind::Report, {report.begin(), report.end()}};
    return record;
}

std::unique_ptr<ServiceRecords> OpenOrFail(const std::string& path, int busyMs = 2000) {
    auto opened = ServiceRecords::Open(path, busyMs);
    EXPECT_TRUE(opened) << opened.reason;
    return opened ? std::move(*opened.value) : nullptr;
}

int64_t Count(const std::string& path, const std::string& table) {
    return SQLite::Database(path).execAndGet("SELECT count(*) FROM " + table).getInt64();
}

unsigned ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Runs work in a child process that never returns into the test; its int is the exit status.
pid_t InChild(const std::function<int()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(work());
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ServiceRecordsTest, KeepsAnOperationWithItsFilesAndContentOnce) {
    testing_support::TempDir dir;
    auto records = OpenOrFail(dir / "records.sqlite3");
    OperationRecord record = Operation("Printer1", "Counter 12\r\nJam 0\r\n");
    record.files = {FileUse{"output", "a.kel", 301, std::string(64, 'a')}};
    const auto first = records->RecordOperation(record);
    ASSERT_TRUE(first) << first.reason;
    ASSERT_TRUE(records->RecordOperation(record));

    const auto stored = records->Operation(*first);
    ASSERT_TRUE(stored) << stored.reason;
    EXPECT_EQ(stored->machine.name, "desk");
    EXPECT_EQ(stored->files.size(), 1u);
    EXPECT_EQ(stored->files[0].name, "a.kel");
    const auto content = records->Content(*stored->content);
    ASSERT_TRUE(content) << content.reason;
    EXPECT_NE(std::string(content->fileBytes.begin(), content->fileBytes.end()),
              "Counter 12\r\nJam 0\r\n");  // kept scrambled, never plain
    EXPECT_EQ(*DecodeReport(*content), "Counter 12\r\nJam 0\r\n");
    EXPECT_EQ(Count(records->Path(), "contents"), 1);
    EXPECT_EQ(Count(records->Path(), "machines"), 1);
    EXPECT_FALSE(records->Operation(99));
}

TEST(ServiceRecordsTest, HistoryFiltersNewestFirstAndFindsTheNewestBackup) {
    testing_support::TempDir dir;
    auto records = OpenOrFail(dir / "r.sqlite3");
    for (int64_t at : {3000, 1000, 2000})
        records->RecordOperation(Operation("printer1", "", Result::Ok, at));
    records->RecordOperation(Operation("other", "", Result::Failed, 4000));
    OperationRecord backup = Operation("PRINTER1", "", Result::Ok, 1500);
    backup.operation = "get-params";
    backup.backup = true;
    backup.content = ReadContent{ContentKind::Parameters, {1, 2, 3}};
    records->RecordOperation(backup);

    const auto recent = records->History({"Printer1", 2000, "get-report", 0});
    ASSERT_TRUE(recent) << recent.reason;
    ASSERT_EQ(recent->size(), 2u);
    EXPECT_EQ((*recent)[0].startedMs, 3000);
    EXPECT_EQ((*recent)[1].startedMs, 2000);
    EXPECT_EQ(records->History({std::nullopt, std::nullopt, std::nullopt, 2})->size(), 2u);

    const auto newest = records->NewestBackup("printer1");
    ASSERT_TRUE(newest) << newest.reason;
    EXPECT_EQ(newest->startedMs, 1500);
    const std::vector<uint8_t> block = *DecodeParameters(*records->Content(*newest->content));
    EXPECT_EQ(block, (std::vector<uint8_t>{1, 2, 3, 7}));  // with its check byte, as loaded
    EXPECT_FALSE(records->NewestBackup("other"));
}

TEST(ServiceRecordsTest, MakesPrivateFilesAndMigratesOnce) {
    testing_support::TempDir dir;
    const std::string path = dir / "new/kelo/records.sqlite3";
    {
        auto records = OpenOrFail(path);
        records->RecordOperation(Operation("p"));
        EXPECT_EQ(ModeOf(dir / "new"), 0700u);
        EXPECT_EQ(ModeOf(dir / "new/kelo"), 0700u);
        for (const char* suffix : {"", "-wal", "-shm"})
            EXPECT_EQ(ModeOf(path + suffix), 0600u) << suffix;
    }
    auto reopened = OpenOrFail(path);
    EXPECT_EQ(reopened->History({})->size(), 1u);
    EXPECT_EQ(SQLite::Database(path).execAndGet("PRAGMA user_version").getInt(), SchemaVersion());

    SQLite::Database(path, SQLite::OPEN_READWRITE).exec("PRAGMA user_version = 99");
    const auto newer = ServiceRecords::Open(path);
    EXPECT_FALSE(newer);
    EXPECT_NE(newer.reason.find("newer Kelo"), std::string::npos) << newer.reason;
}

// Every file in the folder (links as their text), to see that nothing was changed or made.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().string();
        if (entry.is_symlink()) {
            files[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_regular_file()) {
            std::ifstream in(name, std::ios::binary);
            files[name] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return files;
}

// A records database as Kelo leaves it, at path; and a file's mode changed, giving its path.
std::string KeloFile(const std::string& path) {
    OpenOrFail(path)->RecordOperation(Operation("p", "report"));
    return path;
}
std::string WithMode(const std::string& path, unsigned mode) {
    ::chmod(path.c_str(), mode);
    return path;
}

// Each file is refused, for writing and for reading, and nothing in its folder changes.
TEST(RecordsFileTest, OnlyTheUsersOwnKeloDatabaseIsOpenedAndOthersAreLeftAsTheyWere) {
    using Dir = testing_support::TempDir;
    const auto foreign = [](const std::string& path, int version) {
        SQLite::Database(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE)
            .exec("CREATE TABLE notes (text TEXT); PRAGMA user_version = " +
                  std::to_string(version));
        return path;
    };
    const std::pair<const char*, std::function<std::string(const Dir&)>> cases[] = {
        {"a link to a Kelo database",
         [](const Dir& dir) {
             std::filesystem::create_symlink(KeloFile(dir / "real/r.sqlite3"), dir / "r.sqlite3");
             return dir / "r.sqlite3";
         }},
        {"a file others may write",
         [](const Dir& dir) { return WithMode(KeloFile(dir / "r.sqlite3"), 0620); }},
        {"a folder others may write",
         [](const Dir& dir) {
             const std::string path = KeloFile(dir / "shared/r.sqlite3");
             WithMode(dir / "shared", 0770);
             return path;
         }},
        {"another program's database", [&](const Dir& dir) { return foreign(dir / "r", 0); }},
        {"another program's database of schema 2",
         [&](const Dir& dir) { return foreign(dir / "r", 2); }},
        {"a newer Kelo's database",
         [](const Dir& dir) {
             SQLite::Database(KeloFile(dir / "r.sqlite3"), SQLite::OPEN_READWRITE)
                 .exec("PRAGMA journal_mode = DELETE; PRAGMA user_version = 99");
             return dir / "r.sqlite3";
         }},
        {"an empty file others may read",
         [](const Dir& dir) {
             testing_support::WriteFile(dir / "r.sqlite3", "");
             return WithMode(dir / "r.sqlite3", 0644);
         }},
        {"another user's Kelo database",
         [](const Dir& dir) {
             KeloFile(dir / "r.sqlite3");
             for (const char* suffix : {"", "-wal", "-shm"}) {
                 if (::chown((dir / "r.sqlite3").append(suffix).c_str(), 65534, 65534) != 0)
                     return std::string();  // only root can give a file away
             }
             return dir / "r.sqlite3";
         }},
    };
    for (const auto& [name, setup] : cases) {
        testing_support::TempDir dir;
        const std::string path = setup(dir);
        if (path.empty())
            continue;
        const auto before = Snapshot(dir.Path());
        for (bool make : {true, false}) {
            const OpenedRecords opened =
                make ? ServiceRecords::Open(path) : ServiceRecords::OpenExisting(path);
            EXPECT_FALSE(opened) << name;
            EXPECT_EQ(opened.failure, OpenFailure::Refused) << name << ": " << opened.reason;
            EXPECT_NE(opened.reason.find("left as it is"), std::string::npos) << opened.reason;
        }
        EXPECT_EQ(Snapshot(dir.Path()), before) << name;
    }

    testing_support::TempDir dir;
    testing_support::WriteFile(dir / "empty.sqlite3", "");
    WithMode(dir / "empty.sqlite3", 0600);
    EXPECT_EQ(ServiceRecords::OpenExisting(dir / "none.sqlite3").failure, OpenFailure::NoFile);
    EXPECT_TRUE(dir.Entries().size() == 1) << "looking made nothing";
    OpenOrFail(dir / "empty.sqlite3");
    SQLite::Database made(dir / "empty.sqlite3");
    EXPECT_EQ(made.execAndGet("PRAGMA application_id").getInt(), kApplicationId);
    EXPECT_EQ(made.execAndGet("PRAGMA auto_vacuum").getInt(), 2) << "incremental";
}

// A file of the first schema, with its records, gains the history's indexes in place of the
// two it had, and its log is emptied, so later programs do not read the new index pages from it.
TEST(ServiceRecordsTest, MigratesAFileOfTheFirstSchemaKeepingItsRecords) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    OperationRecord kept = Operation("printer1", "report");
    kept.files = {FileUse{"output", "a.kel", 301, std::string(64, 'a')}};
    OpenOrFail(path)->RecordOperation(kept);
    // As the first Kelo left it: no mark, auto_vacuum off.
    SQLite::Database(path, SQLite::OPEN_READWRITE).exec(R"sql(
        DROP INDEX operations_history; DROP INDEX files_first;
        CREATE INDEX operations_by_machine ON operations (machine_id, started_ms);
        CREATE INDEX files_by_operation ON files (operation_id);
        PRAGMA application_id = 0; PRAGMA auto_vacuum = NONE; VACUUM;
        PRAGMA user_version = 1;)sql");

    auto records = OpenOrFail(path);
    EXPECT_EQ(ModeOf(path), 0600u);
    struct stat log {};
    ASSERT_EQ(::stat((path + "-wal").c_str(), &log), 0);
    EXPECT_EQ(log.st_size, 0);
    ASSERT_EQ(records->History({"PRINTER1", std::nullopt, std::nullopt, 0})->size(), 1u);
    // The operations' table made anew keeps its files, and takes the newer results.
    EXPECT_EQ(Count(path, "files"), 1);
    EXPECT_TRUE(records->RecordOperation(Operation("printer2", "", Result::Skipped)));
    SQLite::Database db(path);
    EXPECT_EQ(db.execAndGet("PRAGMA user_version").getInt(), SchemaVersion());
    EXPECT_EQ(db.execAndGet("PRAGMA application_id").getInt(), kApplicationId);
    EXPECT_EQ(db.execAndGet("PRAGMA auto_vacuum").getInt(), 2) << "incremental";
    EXPECT_EQ(db.execAndGet("SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master"
                            " WHERE type = 'index' AND sql IS NOT NULL ORDER BY name)")
                  .getString(),
              "files_first operations_by_content operations_by_run operations_by_start "
              "operations_history runs_by_start");
}

TEST(ServiceRecordsTest, KeloRecordsNamesTheFileBeforeTheDataFolder) {
    ::setenv("XDG_DATA_HOME", "/data", 1);
    ::setenv("KELO_RECORDS", "", 1);
    EXPECT_EQ(DefaultRecordsPath(), "/data/kelo/records.sqlite3");
    ::setenv("KELO_RECORDS", "/srv/r.sqlite3", 1);
    EXPECT_EQ(DefaultRecordsPath(), "/srv/r.sqlite3");
    ::unsetenv("KELO_RECORDS");
    ::unsetenv("XDG_DATA_HOME");
}

TEST(ServiceRecordsTest, WritesThatCannotBeDoneGiveAReason) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    auto records = OpenOrFail(path, 100);
    EXPECT_TRUE(records->RecordOperation(Operation("p")));
    records.reset();

    ::chmod(path.c_str(), 0444);
    ::chmod(dir.Path().c_str(), 0555);
    const pid_t child = InChild([&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 3;  // root writes anything: try as nobody
        auto readOnly = ServiceRecords::Open(path);
        return readOnly && (*readOnly.value)->RecordOperation(Operation("p")) ? 1 : 0;
    });
    EXPECT_EQ(ExitStatus(child), 0);
    ::chmod(dir.Path().c_str(), 0700);

    const std::string damaged = dir / "damaged.sqlite3";
    std::FILE* file = std::fopen(damaged.c_str(), "w");
    std::fputs("this is no database, only text that is long enough to hold a header......", file);
    std::fclose(file);
    const auto opened = ServiceRecords::Open(damaged);
    EXPECT_FALSE(opened);
    EXPECT_EQ(opened.reason.rfind(damaged + ": ", 0), 0u) << opened.reason;
}

// Another program holds the write lock: the record waits one second at most (less after a stop
// signal), is set aside in private files, and reaches the database at its next opening, once.
TEST(ServiceRecordsTest, ALockedDatabaseHoldsAWriteUpOneSecondAtMostAndLosesNothing) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    const std::string aside = PendingFolder(path);
    OpenOrFail(path)->RecordOperation(Operation("first"));
    SQLite::Database other(path, SQLite::OPEN_READWRITE);
    other.exec("BEGIN IMMEDIATE");
    platform::FakeClock clock;
    OperationRecord backup = Operation("p");
    backup.backup = true;
    backup.message = std::string("\xFF\x01 bytes");
    backup.content = ReadContent{ContentKind::Parameters, {1, 2, 3}};
    backup.files = {FileUse{"input", "n\xE9w.prm", 12, std::string(64, 'b')}};
    {
        auto records = OpenOrFail(path, kBusyTimeoutMilliseconds);
        const auto kept = records->RecordOperation(backup);
        ASSERT_TRUE(kept) << kept.reason;
        EXPECT_EQ(*kept, 0) << "set aside";
        EXPECT_GT(clock.Total(), kBusyTimeoutMilliseconds / 2);
        EXPECT_LE(clock.Total(), kBusyTimeoutMilliseconds);
        clock.Clear();
        EXPECT_EQ(*records->RecordOperation(Operation("q")), 0);
        EXPECT_EQ(clock.Total(), 0) << "the opening's wait is spent";
    }
    clock.onSleep = [](int) { platform::StopWaits(); };
    EXPECT_EQ(*OpenOrFail(path, kBusyTimeoutMilliseconds)->RecordOperation(Operation("r")), 0);
    EXPECT_EQ(clock.Waits().size(), 1u) << "a stop signal ends the wait";
    platform::ResumeWaits();
    EXPECT_EQ(ModeOf(aside), 0700u);
    for (const auto& entry : std::filesystem::directory_iterator(aside))
        EXPECT_EQ(ModeOf(entry.path()), 0600u);
    other.exec("ROLLBACK");

    auto records = OpenOrFail(path);
    EXPECT_EQ(Count(path, "operations"), 4);
    const auto newest = records->NewestBackup("p");
    ASSERT_TRUE(newest) << newest.reason;
    const auto stored = records->Operation(newest->id);
    EXPECT_EQ(stored->message, backup.message);
    EXPECT_EQ(stored->files.at(0).name, "n\xE9w.prm");
    EXPECT_EQ(*DecodeParameters(*records->Content(*newest->content)),
              (std::vector<uint8_t>{1, 2, 3, 7}));
    EXPECT_TRUE(std::filesystem::is_empty(aside));
    // Set aside twice (a program stopped between commit and removal): kept once.
    ASSERT_TRUE(ServiceRecords::SetAside(path, backup));
    OpenOrFail(path);
    EXPECT_EQ(Count(path, "operations"), 4);
}

TEST(ServiceRecordsTest, SigkillInTheMiddleOfWritesKeepsEveryCommittedRecord) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    int committed[2];
    ASSERT_EQ(::pipe(committed), 0);
    const pid_t writer = InChild([&] {
        auto records = ServiceRecords::Open(path);
        for (int i = 0; records; ++i) {
            if (!(*records.value)->RecordOperation(Operation("p", "report " + std::to_string(i))))
                return 1;
            if (::write(committed[1], "x", 1) != 1)
                return 1;
        }
        return 1;
    });
    ::close(committed[1]);
    char seen[200];
    size_t count = 0;
    while (count < sizeof seen) {
        const ssize_t got = ::read(committed[0], seen + count, sizeof seen - count);
        ASSERT_GT(got, 0);
        count += static_cast<size_t>(got);
    }
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(committed[0]);

    auto records = OpenOrFail(path);
    EXPECT_EQ(SQLite::Database(path).execAndGet("PRAGMA integrity_check").getString(), "ok");
    EXPECT_GE(Count(path, "operations"), 200);
    EXPECT_EQ(Count(path, "operations"), Count(path, "contents"));
}

// Each kelo-cli run opens the records afresh, records once and closes: the log must still be
// emptied now and then, or it grows without end and every commit copies all of it again.
TEST(ServiceRecordsTest, OneRecordAnOpeningKeepsTheLogShort) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    for (int i = 0; i < 300; ++i) {
        auto records = OpenOrFail(path);
        ASSERT_TRUE(records->RecordOperation(Operation("p", "report " + std::to_string(i))));
    }
    EXPECT_LT(std::filesystem::file_size(path + "-wal"), 1024u * 1024u);
    EXPECT_EQ(Count(path, "operations"), 300);
}

TEST(ServiceRecordsTest, SixtyFourProgramsRecordingAtOnceLoseNothing) {
    testing_support::TempDir dir;
    const std::string path = dir / "fresh/records.sqlite3";
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> writers;
    for (int i = 0; i < 64; ++i) {
        writers.push_back(InChild([&, i] {
            ::close(start[1]);
            char go;
            if (::read(start[0], &go, 1) != 0)  // all start when the test closes the pipe
                return 2;
            auto records = ServiceRecords::Open(path);
            if (!records)
                return 1;
            return (*records.value)->RecordOperation(Operation("host" + std::to_string(i))) ? 0 : 1;
        }));
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t writer : writers)
        EXPECT_EQ(ExitStatus(writer), 0);
    EXPECT_EQ(Count(path, "operations"), 64);
    EXPECT_EQ(Count(path, "machines"), 64);
}

TEST(ServiceRecordsTest, PruneRemovesOldOperationsAndOnlyContentsNoneUses) {
    testing_support::TempDir dir;
    auto records = OpenOrFail(dir / "r.sqlite3");
    records->RecordOperation(Operation("p", "old only", Result::Ok, 100));
    records->RecordOperation(Operation("p", "shared", Result::Ok, 100));
    records->RecordOperation(Operation("p", "shared", Result::Ok, 900));
    records->RecordOperation(Operation("q", "", Result::Ok, 100));

    const auto removed = records->Prune(500);
    ASSERT_TRUE(removed) << removed.reason;
    EXPECT_EQ(removed->operations, 3);
    EXPECT_EQ(removed->contents, 1);
    const auto summary = records->Summarise();
    EXPECT_EQ(summary->operations, 1);
    EXPECT_EQ(summary->contents, 1);
    EXPECT_EQ(summary->machines, 1);
    EXPECT_EQ(*DecodeReport(*records->Content(*records->History({})->at(0).content)), "shared");
}

TEST(ServiceRecordsTest, PruneGivesSpaceBackAndKeepsTheNewestBackupOfEachHost) {
    testing_support::TempDir dir;
    const std::string path = dir / "r.sqlite3";
    auto records = OpenOrFail(path);
    uint32_t seed = 1;
    for (int i = 0; i < 40; ++i) {
        std::string report(20000, ' ');
        for (char& c : report)
            c = static_cast<char>('!' + (seed = seed * 1103515245u + 12345u) % 90);
        records->RecordOperation(Operation("p", report, Result::Ok, 100));
    }
    const auto backupAt = [&](const std::string& host, int64_t at, Result result = Result::Ok) {
        OperationRecord backup = Operation(host, "", result, at);
        backup.backup = true;
        backup.content = ReadContent{ContentKind::Parameters, {uint8_t(at), 2}};
        return *records->RecordOperation(backup);
    };
    backupAt("p", 200);
    const int64_t newestOfP = backupAt("P", 300);
    backupAt("p", 350, Result::Failed);
    const int64_t onlyOfQ = backupAt("q", 150);
    const auto bytes = [&] {
        return std::filesystem::file_size(path) + std::filesystem::file_size(path + "-wal");
    };
    const uintmax_t before = bytes();

    const auto removed = records->Prune(500);
    ASSERT_TRUE(removed) << removed.reason;
    EXPECT_EQ(removed->operations, 42);
    EXPECT_GT(removed->freedBytes, 40 * 4096);
    EXPECT_LT(bytes(), before - 40 * 4096);
    EXPECT_EQ(records->NewestBackup("p")->id, newestOfP);
    EXPECT_EQ(records->NewestBackup("q")->id, onlyOfQ);
    EXPECT_EQ(records->Prune(500, true)->operations, 2);
    EXPECT_FALSE(records->NewestBackup("p"));
}

// The hosts a resume of the run would run again; "host:type" where the run kept its list.
std::vector<std::string> ResumedHosts(ServiceRecords& records, const std::string& runId) {
    std::vector<std::string> hosts;
    const auto run = records.Run(runId);
    EXPECT_TRUE(run) << run.reason;
    if (!run)
        return hosts;
    const auto resumed = records.MachinesToResume(*run);
    EXPECT_TRUE(resumed) << resumed.reason;
    const bool listed = !run->start.hosts.empty();
    for (const Machine& machine : resumed.value.value_or(std::vector<Machine>{}))
        hosts.push_back(machine.host + (listed ? ":" + std::to_string(machine.type) : ""));
    return hosts;
}

TEST(ServiceRecordsTest, ResumeTakesTheHostsOfTheRunThatWereNotOk) {
    testing_support::TempDir dir;
    auto records = OpenOrFail(dir / "r.sqlite3");
    const RunStart start{"get-report", {"--jobs", "4"}, "out/{host}.kel", {}};
    ASSERT_TRUE(records->RecordRun({"run-a", 100, start}));
    ASSERT_TRUE(records->RecordRun({"run-b", 200, {"get-params", {}, "", {}}}));
    const std::pair<const char*, Result> hosts[] = {{"ok1", Result::Ok},
                                                    {"late", Result::TimedOut},
                                                    {"down", Result::Failed},
                                                    {"stop", Result::Cancelled},
                                                    {"ok2", Result::Ok}};
    for (const auto& [host, result] : hosts) {
        OperationRecord record = Operation(host, "", result);
        record.runId = "run-a";
        records->RecordOperation(record);
    }
    EXPECT_EQ(ResumedHosts(*records, "run-a"), (std::vector<std::string>{"late", "down", "stop"}));
    const auto run = records->Run("run-a");
    ASSERT_TRUE(run) << run.reason;
    EXPECT_EQ(run->start.options, start.options);
    EXPECT_EQ(run->start.outputTemplate, start.outputTemplate);
    EXPECT_EQ(records->Run("last")->id, "run-b");
    EXPECT_TRUE(records->MachinesToResume(*records->Run("run-b"))->empty());
}

// A run kept with its whole list resumes every host whose command did not end ok, those that
// a killed run never recorded too; a backup that went well is no success of the write.
TEST(ServiceRecordsTest, ARunKeptWithItsListResumesEveryHostWithoutASuccess) {
    testing_support::TempDir dir;
    auto records = OpenOrFail(dir / "r.sqlite3");
    RunStart start{"put-params", {}, "", {}};
    for (const char* host : {"Done", "never", "backed-up", "late"}) {
        Machine machine;
        machine.host = host;
        machine.type = 3;
        start.hosts.push_back(machine);
    }
    ASSERT_TRUE(records->RecordRun({"run-c", 100, start}));
    const std::tuple<const char*, const char*, Result> kept[] = {
        {"done", "put-params", Result::Ok},
        {"backed-up", "backup", Result::Ok},
        {"backed-up", "put-params", Result::Cancelled},
        {"late", "put-params", Result::TimedOut}};
    for (const auto& [host, operation, result] : kept) {
        OperationRecord record = Operation(host, "", result);
        record.operation = operation;
        record.runId = "run-c";
        records->RecordOperation(record);
    }
    EXPECT_EQ(ResumedHosts(*records, "run-c"),
              (std::vector<std::string>{"never:3", "backed-up:3", "late:3"}));
}

// Both programs show a record's time through LocalTimeText: a time before 1970 shows the second
// it fell in, whatever the zone (-1 ms and -1000 ms are both in the second before 1970).
TEST(RecordWordsTest, ATimeShowsTheSecondItFellIn) {
    EXPECT_EQ(LocalTimeText(-1), LocalTimeText(-1000));
    EXPECT_NE(LocalTimeText(-1), LocalTimeText(0));
    EXPECT_EQ(LocalTimeText(1999), LocalTimeText(1000));
}

}  // namespace
}  // namespace kelo::records
