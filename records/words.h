// The words the records store and both programs show for an operation, how it ended, the port
// kind it ran on and the program that ran it: one table each, so the database's CHECK lists, the
// JSON lines, the host table and the History window all read the same text.
#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace kelo::records {

// How an operation ended. A skipped one never started: a host list stopped before its host
// (a canary failed, or more hosts failed than --max-fail allows). An unchanged one found the
// machine holding the set it was to write, and wrote nothing (--if-changed): it succeeded.
enum class Result { Ok, Failed, Cancelled, TimedOut, Skipped, Unchanged };

// In the order of the enum, and in the order the schema's CHECK lists them.
inline constexpr std::array<std::string_view, 6> kResultWords = {
    "ok", "failed", "cancelled", "timed-out", "skipped", "unchanged"};

// "ok", "failed", "cancelled", "timed-out", "skipped", "unchanged": the words stored and shown.
constexpr std::string_view ResultWord(Result result) {
    return kResultWords[static_cast<size_t>(result)];
}

constexpr std::optional<Result> ResultOfWord(std::string_view word) {
    for (size_t i = 0; i < kResultWords.size(); ++i) {
        if (kResultWords[i] == word)
            return static_cast<Result>(i);
    }
    return std::nullopt;
}

// What an operation was: the command word of kelo-cli, which the main window records as well;
// a backup is the parameter set read before a write, kept as an operation of its own.
enum class Operation {
    GetReport,
    GetParams,
    PutParams,
    RestoreParams,
    Upgrade,
    Restart,
    Discover,
    Backup
};

inline constexpr std::array<std::string_view, 8> kOperationWords = {
    "get-report", "get-params", "put-params", "restore-params",
    "upgrade",    "restart",    "discover",   "backup"};

constexpr std::string_view OperationWord(Operation operation) {
    return kOperationWords[static_cast<size_t>(operation)];
}

// The port kinds in the order of the profile's Port value (0 parallel, 1 network, 2 USB).
inline constexpr std::array<std::string_view, 3> kPortKindWords = {"parallel", "network", "usb"};

// The port kind as the profile's Port value stores it, as the word stored: "parallel",
// "network", "usb"; any other value is "unknown".
constexpr std::string_view PortKindWord(int portKind) {
    return portKind >= 0 && portKind < static_cast<int>(kPortKindWords.size())
               ? kPortKindWords[static_cast<size_t>(portKind)]
               : "unknown";
}

// The program that ran an operation.
enum class Program { Kelo, KeloCli };

// In the order of the enum, and in the order the schema's CHECK lists them.
inline constexpr std::array<std::string_view, 2> kProgramWords = {"kelo", "kelo-cli"};

constexpr std::string_view ProgramWord(Program program) {
    return kProgramWords[static_cast<size_t>(program)];
}

}  // namespace kelo::records
