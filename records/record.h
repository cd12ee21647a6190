// What the service records hold: a machine, an operation run on it with the files it used and
// the report or parameter set it read, and a run of a host list. Plain values, no database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/words.h"

namespace kelo::records {

// What a call that may fail gives back: its value, or a short reason why there is none (the
// text after "not recorded: ").
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::string reason;

    static Outcome Failure(std::string why) { return Outcome{std::nullopt, std::move(why)}; }
    explicit operator bool() const { return value.has_value(); }
    const T& operator*() const { return *value; }
    const T* operator->() const { return &*value; }
};

// A call that gives nothing back but may fail.
struct Done {};

// How a program tells that a record was not kept, and why: "not recorded: REASON".
std::string NotRecordedText(std::string_view reason);

// The time now as the records keep times: milliseconds since 1970 UTC.
int64_t WallClockMs();

// A time the records keep as the history shows it, in local time: "2026-12-09 10:20:08".
std::string LocalTimeText(int64_t ms);

// A record's number as written: decimal digits only, at most 18 of them (so every number
// written fits); nullopt for any other word.
std::optional<int64_t> RecordNumberOf(std::string_view word);

// The machine an operation ran on, as it was seen then.
struct Machine {
    std::string host;      // the host name or address given by the user, or the device path
    std::string address;   // the address it resolved to, when known
    int type = 0;          // machine type 1 to 4, 0 when not known
    std::string portKind;  // PortKindWord
    std::string name;      // the machine's own name (SNMP sysName), when known
};

// A file an operation read or wrote.
struct FileUse {
    std::string role;  // "input", "output", ...
    std::string name;  // the path as given
    uint64_t size = 0;
    std::string sha256;  // lower-case hex
};

// What a kept content is.
enum class ContentKind { Report, Parameters };

// "report" or "params".
std::string_view ContentKindWord(ContentKind kind);

// The report or parameter set an operation read, as it came from the machine: the report's
// text, or the parameter data without its check byte.
struct ReadContent {
    ContentKind kind = ContentKind::Report;
    std::vector<uint8_t> plain;
};

// One operation to record.
struct OperationRecord {
    Machine machine;
    int64_t startedMs = 0;  // milliseconds since 1970 UTC
    int64_t endedMs = 0;
    int64_t durationMs = 0;  // measured on a steady clock, so it may differ from end - start
    std::string operation;   // OperationWord
    Result result = Result::Ok;
    std::string message;  // the message the operation showed, "" for none
    std::string program;  // ProgramWord
    std::optional<std::string> runId;
    // The parameter set read to be written back later: the content is the machine's backup.
    bool backup = false;
    std::vector<FileUse> files;
    std::optional<ReadContent> content;
};

// A machine a discovery found, as an operation "discover" of its own on the network port: its
// address is its host, type 0 when its ports left the type open, name as it gave it, and the
// discovery's times.
OperationRecord FoundMachineRecord(const std::string& address, int type, const std::string& name,
                                   int64_t startedMs, int64_t durationMs, Program program);

// An operation as the records hold it.
struct StoredOperation {
    int64_t id = 0;
    Machine machine;
    int64_t startedMs = 0;
    int64_t endedMs = 0;
    int64_t durationMs = 0;
    std::string operation;
    Result result = Result::Ok;
    std::string message;
    std::string program;
    std::optional<std::string> runId;
    bool backup = false;
    std::string firstFile;                   // the first file's name, "" when none
    std::optional<std::string> content;      // SHA-256 of the kept content
    std::optional<ContentKind> contentKind;  // filled only when one operation is asked for
    std::vector<FileUse> files;              // filled only when one operation is asked for
};

// A kept content in the form it is stored in: the bytes of the report file (.kel) or the
// parameter file, exactly as a save writes them.
struct StoredContent {
    std::string sha256;
    ContentKind kind = ContentKind::Report;
    std::vector<uint8_t> fileBytes;
};

// Which operations a history lists, newest first.
struct HistoryQuery {
    std::optional<std::string> host;  // compared without case, as DNS does
    std::optional<int64_t> sinceMs;   // started at or after
    std::optional<std::string> operation;
    int limit = 0;                                   // 0: all
    std::optional<int64_t> beforeMs = std::nullopt;  // started before
    std::optional<Result> result = std::nullopt;
    std::optional<std::string> runId = std::nullopt;
    // Used a file: 64 hex digits are its SHA-256 (any case); a word with a slash is the name
    // as it was given; a word without one is that name or the name's last part.
    std::optional<std::string> file = std::nullopt;
    bool withFiles = false;  // fill each operation's files
};

// Whether a word is a SHA-256 as the records keep them: 64 hex digits.
bool IsSha256Word(std::string_view word);

// What a run of a host list needs to be run again: its command, its own options (the words
// of its command line apart from the host list and the command), its output template, and
// the whole list as it started (each host with the type it runs as), so that the hosts a
// killed run never reached are still known.
struct RunStart {
    std::string command;
    std::vector<std::string> options;
    std::string outputTemplate;
    std::vector<Machine> hosts;  // host and type only; empty for a run kept before lists were
};

struct StoredRun {
    std::string id;
    int64_t startedMs = 0;
    RunStart start;
};

// The numbers `records` shows.
struct Summary {
    std::string path;
    uint64_t bytes = 0;  // the database and its write-ahead log
    int64_t operations = 0;
    int64_t machines = 0;
    int64_t contents = 0;
    int64_t runs = 0;
    std::optional<int64_t> oldestMs;
    std::optional<int64_t> newestMs;
};

struct PruneCounts {
    int64_t operations = 0;
    int64_t contents = 0;
    int64_t freedBytes = 0;  // given back to the file system
};

}  // namespace kelo::records
