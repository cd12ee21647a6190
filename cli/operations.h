// The commands of kelo-cli, each running the core's own operation and file functions.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "link/device_link.h"
#include "ops/operations.h"
#include "platform/code_page.h"
#include "records/compare.h"
#include "records/record.h"
#include "service/parameter_backup.h"

namespace kelo::cli {

// Where a command's results go.
struct CommandContext {
    DeviceLink& link;
    TerminalCancelDialog& dialog;
    TerminalSink& sink;
    // Writes a report's text to standard output; false, with errno set, when it could not.
    std::function<bool(const std::string& text)> writeOut;
    // With --json a report that has no -o is kept here for the result line, not printed.
    bool keepReport = false;
    std::optional<std::string> keptReport;
    // The size of what the command read from the machine or handed to it: the report, the
    // parameter set, the parameter block of the file, the firmware image.
    std::optional<long long> bytes;
    // Restart: the machine answered the request, so it restarts.
    bool restartAnswered = false;
    // The code page a report printed to standard output is converted from to UTF-8; null:
    // the machine's bytes go out as they are.
    const platform::CodePage* shownCodePage = nullptr;
    // The report or parameter set read from the machine, for the service records.
    std::optional<records::ReadContent> readContent = std::nullopt;
    // The command's input file as it was read (its size and SHA-256 from those bytes), for the
    // records; described once, before the machine is reached, so no slow step follows a stop.
    std::optional<records::FileUse> inputFile = std::nullopt;
    // The run keeps a record: only then are its files described.
    bool keepsRecords = false;
    // The machine's host as its records name it, for restore-params' newest backup.
    std::string recordedHost = {};
    // Before a parameter write: keeps the set just read as the machine's backup. Null when no
    // backup is taken (--no-backup, or the records are off).
    std::function<void(const service::BackupRead& backup)> keepBackup = nullptr;
    // The exit status of a failed command when it is not 1: restore-params' records refused.
    std::optional<int> failedStatus = std::nullopt;
    // What the command's last machine operation came to; unset when none ran.
    std::optional<ops::Outcome> outcome = std::nullopt;
    // What the last write left the machine with (see ops::Write).
    bool firmwareAwaited = false;
    bool machineHasAll = false;
    // How the write is made (--if-changed, --check, --diff, --verify), and whether standard
    // output carries the JSON line, which then takes what the write says there.
    WriteOptions write = {};
    bool json = false;
    // --check: what the write would have done; --diff: the changed ranges of the set.
    std::optional<std::string> check = std::nullopt;
    std::optional<std::vector<records::ChangedBytes>> diff = std::nullopt;
    // --if-changed found the machine holding the set: nothing was written.
    bool unchanged = false;
    // The record id of the backup kept before the write.
    std::optional<int64_t> backupRecord = std::nullopt;
};

// What kelo-cli says when the backup before a write could not be read.
inline constexpr char kBackupUnread[] =
    "could not read the machine's parameters for a backup; nothing was written (--no-backup "
    "writes without one)";

// Each returns true when the command succeeded; a failure has shown its message, if the
// system has one for it.
bool RunGetReport(CommandContext& context, const Invocation& invocation);
bool RunOpenReport(CommandContext& context, const Invocation& invocation);
bool RunGetParams(CommandContext& context, const Invocation& invocation);
bool RunPutParams(CommandContext& context, const Invocation& invocation);
bool RunRestoreParams(CommandContext& context, const Invocation& invocation);
bool RunUpgrade(CommandContext& context, const Invocation& invocation);
bool RunRestart(CommandContext& context, const Invocation& invocation);

// Writes a parameter block (the data and its check byte, as a parameter file loads) into the
// machine; with keepBackup set, or when the write options need the machine's set, reads that
// set first, and writes nothing when that read fails. --check then writes nothing at all, and
// --if-changed nothing when the set is the machine's already.
bool PutParameterSet(CommandContext& context, const std::vector<uint8_t>& plainBlock);

// After a command failed: a line of kelo-cli's own when its machine operation failed without
// a message (a reply frame with a bad lead or check byte, a connection closed inside a reply),
// and, when an upgrade stopped after the update command went out (cancelled or failed), that
// the machine may be waiting for its firmware.
void TellAfterFailure(CommandContext& context, Command command);

// After a signal stopped the run: a line of kelo-cli's own that says so when the machine had
// already been given everything (the restart request answered, the whole parameter set or
// image sent), or when the signal was no Ctrl-C, whose cause the user knows.
void TellStopped(CommandContext& context, Command command, bool commandSucceeded);

// Writes text through writeOut; false when it could not be written. The program tells the
// reason once, at its end (StandardOutput::Finish).
bool PrintText(const std::function<bool(const std::string&)>& writeOut, const std::string& text);

}  // namespace kelo::cli
