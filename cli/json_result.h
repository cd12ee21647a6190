// The results of kelo-cli --json: one JSON object a line (JSON Lines) on standard output, one
// line per host and, after a host list, one summary line. This file alone knows their fields.
//
// JSON strings are Unicode, and the bytes they carry here need not be: host names, messages
// and file names are taken as UTF-8 (what the user typed, the file names of a UTF-8 system),
// and a byte that is not valid UTF-8 there becomes U+FFFD. A report's text is the machine's
// bytes, which no decoding may change: each byte becomes the code point of the same value
// (U+0000 to U+00FF), so a reader gets every byte back by encoding the text as Latin-1.
// Only when the run was given a code page (--encoding) is the text decoded from it instead,
// and the line then names that code page in "encoding".
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "records/compare.h"
#include "records/words.h"

namespace kelo::cli {

// A timed-out run is one that --timeout cancelled; its exit status is that of a failure. A
// skipped host is one a host list never started (--canary, --max-fail). An unchanged run found
// the machine holding the set it was to write and wrote nothing (--if-changed): it succeeded.
enum class RunResult { kOk, kFailed, kCancelled, kTimedOut, kSkipped, kUnchanged };

// Whether a run ended as it should: done, or found nothing to change.
inline bool Succeeded(RunResult result) {
    return result == RunResult::kOk || result == RunResult::kUnchanged;
}

// One run for one host, as its line tells it.
struct HostResult {
    std::optional<std::string> host;
    std::optional<std::string> address;  // the dotted quad the run's host reached
    int type = 0;
    std::string command;  // the command word, "get-report"
    RunResult result = RunResult::kFailed;
    std::optional<std::string> message;  // the last message the run showed
    std::optional<std::string> output;   // the file written
    std::optional<long long> bytes;      // the size of what was read or sent
    std::optional<long long> ms;         // the run's wall time
    // restart: whether the machine answered the request; written as "answered" after "ms".
    std::optional<bool> answered;
    // get-report without -o keeps the report here instead of printing it; the field is
    // written (null when the run failed) only when the run carries text.
    bool carriesText = false;
    std::optional<std::string> text;
    // The code page the text is decoded from; nullopt: each byte as its code point.
    std::optional<platform::CodePage> textCodePage;
    // --check: what the write would do ("would change 3 bytes in 2 ranges", "unchanged").
    std::optional<std::string> check;
    // --diff: the changed ranges of the parameter set, offsets within the set.
    std::optional<std::vector<records::ChangedBytes>> diff;
    // The record id of the backup kept before the write.
    std::optional<int64_t> backup;
    // --if-changed found the machine holding the set: the run ends unchanged.
    bool unchanged = false;
};

// The closing line of a host list.
struct HostListSummary {
    int hosts = 0;
    int ok = 0;
    int failed = 0;
    int cancelled = 0;
    int timedOut = 0;
    int skipped = 0;
    int unchanged = 0;
    long long ms = 0;
    std::string runId;  // the run's id in the records; "" when they are off

    void Count(RunResult result);
};

// {"host": ..., "address": ..., "type": ..., "command": ..., "result": ..., "message": ...,
// "output": ..., "bytes": ..., "ms": ... [, "encoding": ...][, "text": ...][, "check": ...]
// [, "diff": [{"offset", "length", "before", "after"}, ...]][, "backup": ID]} and a line end;
// "result" is "ok", "failed", "cancelled", "timed-out", "skipped" or "unchanged". The diff's
// bytes are lowercase hex, "before" the machine's, "after" the file's.
std::string ResultLine(const HostResult& result);

// {"summary": {"hosts": N, "ok": A, "failed": B, "cancelled": C, "timed_out": D,
// "skipped": E, "unchanged": U, "ms": T}} and a line end.
std::string SummaryLine(const HostListSummary& summary);

// The result a result line tells; nullopt for a line that is not one.
std::optional<RunResult> ResultOfLine(const std::string& line);

// The result an exit status of kelo-cli stands for: 0 ok; 130, 143 and 129 (ended by
// SIGINT, SIGTERM or SIGHUP) cancelled; anything else failed.
RunResult ResultOfStatus(int exitStatus);

// A result as a host list's line shows it when a host ends: "done", "failed", "cancelled",
// "timed out", "skipped" or "unchanged".
const char* ResultShownWord(RunResult result);

// A result as the records keep it.
records::Result RecordedResult(RunResult result);

// One JSON object as a line of its own: UTF-8 as it stands, bytes that are not UTF-8 replaced,
// and the characters that turn the text around them (the bidirectional marks, embeddings,
// overrides and isolates, and the line and paragraph separators) written as \uXXXX escapes,
// so that a line read on a terminal shows what it holds. Every JSON line is written here.
std::string JsonLine(const nlohmann::ordered_json& object);

}  // namespace kelo::cli
