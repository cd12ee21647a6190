#include "cli/operations.h"

#include "cli/commands.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "files/block_capacity.h"
#include "files/firmware_file.h"
#include "files/parameter_file.h"
#include "files/report_file.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "records/service_records.h"
#include "records/sha256.h"
#include "service/parameter_backup.h"
#include "service/write_changes.h"
#include "snmp/status_query.h"

namespace kelo::cli {
namespace {

// The buffer the main dialog gives Get Parameters, and its capacity.
constexpr int kParameterBufferSize = kBlockCapacity;
// The set types 3 and 4 are written from: its second half is what they are sent.
constexpr size_t kPacketSetSize = 65536;
// The longest report the main dialog hands to the viewer, and so the longest one saved.
constexpr size_t kLargestViewedReport = kBlockCapacity;

constexpr char kDamagedReply[] = "the machine's reply was damaged or incomplete";
constexpr char kFirmwareAwaited[] =
    "the machine may be waiting for its firmware; run the upgrade again";
// What the machine had when a signal stopped the run, after "the machine had already".
constexpr char kRestartAnswered[] = "answered the restart request and restarts";
constexpr char kWholeParameterSet[] = "received the whole parameter set and restarts";
constexpr char kWholeImage[] = "received the whole firmware image";
constexpr char kRestartUnanswered[] =
    "no answer to the restart request; the machine may not restart";
// What the write options say.
constexpr char kSetUnread[] = "could not read the machine's parameters; nothing was written";
constexpr char kAlreadyHeld[] = "unchanged: the machine already holds this set";
constexpr char kCheckPrefix[] = "check: ";
constexpr char kSetNotReadBack[] = "written, but the machine's set could not be read back";
constexpr char kAnsweredAgain[] = "verified: the machine answered again";
constexpr char kVerified[] = "verified: the machine answered again and holds the set written";

// Refuses, before the machine is read, an -o that the save would refuse only after it: a name
// the report viewer's Save rules refuse (with reportRules), a folder that is missing or cannot
// be written. The messages are the ones the save would show.
bool OutputCanBeSaved(const std::string& output, bool reportRules) {
    if (output.empty())
        return true;
    if (reportRules && !IsReportSaveName(output)) {
        platform::ShowMessage(platform::MessageId::kIllegalFile);
        return false;
    }
    const platform::FileResult folder = platform::CheckCanCreateFileAt(output);
    if (!folder.ok)
        platform::ShowText(folder.ErrorText(output));
    return folder.ok;
}

// A chooser that answers the file dialog with the path given on the command line.
PathChooser ChoosePath(const std::string& path) {
    return [path](std::string& chosen) {
        chosen = path;
        return true;
    };
}

// Puts a report where the command line says: standard output (converted from the code page
// given for display, if any), or a file by the viewer's Save rules, byte for byte.
bool DeliverReport(CommandContext& context, const Invocation& invocation, const std::string& text) {
    if (invocation.output.empty() && context.keepReport) {
        context.keptReport = text;
        return true;
    }
    if (invocation.output.empty()) {
        // A standard output that cannot be written fails the program, not the command: the
        // program names it at its end (StandardOutput::Finish) and exits 1, while the read went
        // as it should and is recorded so, with the report kept.
        const platform::CodePage* codePage = context.shownCodePage;
        PrintText(context.writeOut, codePage != nullptr ? codePage->ToUtf8(text) : text);
        return true;
    }
    return SaveReportText(invocation.output, text);
}

// Why no backup could be kept before a write (or, without one, the set read for a comparison),
// which then writes nothing: after the damaged-reply line when the read failed without a
// message; nothing at all when no port is set up (that message says why, and the write could
// not have run either).
void TellBackupUnread(CommandContext& context, const service::BackupRead& backup, bool forBackup) {
    if (backup.end != service::BackupRead::End::kNotWhole) {
        if (backup.outcome.messageId == platform::MessageId::kSetUpPort)
            return;
        const bool stopped = Interrupted() || backup.end == service::BackupRead::End::kStopped;
        if (!stopped && backup.outcome.message.empty())
            context.sink.Tell(kDamagedReply);
    }
    context.sink.Tell(forBackup ? kBackupUnread : kSetUnread);
}

// What --check and --diff say: on standard output, or in the JSON line when that is what
// standard output carries. With the JSON line the check is told as a message too, so that a
// host list, which runs each host so, shows it for each host.
void SayCheck(CommandContext& context, const std::string& text) {
    context.check = text;
    if (context.json)
        context.sink.Tell(kCheckPrefix + text);
    else
        PrintText(context.writeOut, text + "\n");
}

void SayChanges(CommandContext& context, const std::vector<records::ChangedBytes>& changes) {
    if (context.write.diff) {
        context.diff = changes;
        if (!context.json && !changes.empty())
            PrintText(context.writeOut,
                      records::FormatChangedBytes(changes) + records::ChangedBytesTotal(changes));
    }
    if (context.write.check)
        SayCheck(context, service::WouldChangeText(changes));
}

// --verify: the machine answers again after the write's own wait, or the write fails.
bool MachineCameBack(CommandContext& context) {
    const bool network = context.link.Settings().portKind == kPortNetwork;
    if (ops::AnswersAgain(context.link.Port(), network))
        return true;
    if (!context.dialog.Stopped())
        context.sink.Tell("written, but the machine did not answer within " +
                          std::to_string(ops::kAnswerAgainSeconds) + " s");
    return false;
}

// --verify of a parameter write: the set read back holds what was written.
bool SetReadBack(CommandContext& context, const std::vector<uint8_t>& plainBlock) {
    Transport& port = context.link.Port();
    const ops::Parameters got = ops::GetParameters(port, kParameterBufferSize);
    if (context.dialog.Stopped())
        return false;
    if (!got.outcome.ok() || got.bytes.empty()) {
        context.sink.Tell(kSetNotReadBack);
        return false;
    }
    const std::vector<records::ChangedBytes> changes =
        service::WrittenChanges(got.bytes, plainBlock, port.SpeaksPackets());
    if (!changes.empty()) {
        std::string total = records::ChangedBytesTotal(changes);
        total.pop_back();  // its line end
        context.sink.Tell("written, but the set read back is not the one written: " + total);
        return false;
    }
    context.sink.Tell(kVerified);
    return true;
}

// The role of a writing command's FILE in its record: "input", what was written; a check's
// "checked", since nothing of it went, so that no reader of the records (nor the Ansible
// collection's look for the image a machine was sent) takes a check for a write.
const char* InputRole(const CommandContext& context) {
    return context.write.check ? "checked" : "input";
}

// What a write operation came to and left the machine with.
void NoteWrite(CommandContext& context, const ops::Write& written) {
    context.outcome = written.outcome;
    context.firmwareAwaited = written.firmwareAwaited;
    context.machineHasAll = written.machineHasAll;
}

}  // namespace

bool PrintText(const std::function<bool(const std::string&)>& writeOut, const std::string& text) {
    return writeOut(text);
}

bool RunGetReport(CommandContext& context, const Invocation& invocation) {
    if (!OutputCanBeSaved(invocation.output, true))
        return false;
    ops::Report got = ops::GetReport(context.link.Port());
    context.outcome = got.outcome;
    if (!got.outcome.ok())
        return false;
    const std::string& report = got.text;
    // A run cancelled (or out of time) after the last read has nothing to deliver.
    if (context.dialog.Stopped())
        return false;
    if (!invocation.output.empty() && report.size() > kLargestViewedReport) {
        platform::ShowMessage(platform::MessageId::kTooLargeFile);
        return false;
    }
    context.bytes = static_cast<long long>(report.size());
    context.readContent = records::ReadContent{records::ContentKind::Report,
                                               std::vector<uint8_t>(report.begin(), report.end())};
    return DeliverReport(context, invocation, report);
}

bool RunOpenReport(CommandContext& context, const Invocation& invocation) {
    std::string text;
    if (!OutputCanBeSaved(invocation.output, true) || !OpenReportFile(invocation.file, text))
        return false;
    return DeliverReport(context, invocation, text);
}

bool RunGetParams(CommandContext& context, const Invocation& invocation) {
    if (!OutputCanBeSaved(invocation.output, false))
        return false;
    const ops::Parameters got = ops::GetParameters(context.link.Port(), kParameterBufferSize);
    context.outcome = got.outcome;
    const std::vector<uint8_t>& set = got.bytes;
    if (!got.outcome.ok() || set.empty() || context.dialog.Stopped())
        return false;
    const int count = static_cast<int>(set.size());
    context.bytes = count;
    context.readContent = records::ReadContent{records::ContentKind::Parameters, set};
    // A set of 131,072 bytes or more is not saved, and nothing is shown (as in the GUI).
    return SaveParameterFile(set.data(), count, ChoosePath(invocation.output));
}

bool RunPutParams(CommandContext& context, const Invocation& invocation) {
    std::vector<uint8_t> plainBlock;
    std::vector<uint8_t> file;
    if (!LoadParameterFile(ChoosePath(invocation.file), plainBlock, &file))
        return false;
    if (context.keepsRecords)
        context.inputFile = records::DescribeBytes(InputRole(context), invocation.file, file);
    if (context.dialog.Stopped())
        return false;
    return PutParameterSet(context, plainBlock);
}

bool PutParameterSet(CommandContext& context, const std::vector<uint8_t>& plainBlock) {
    const WriteOptions& options = context.write;
    Transport& port = context.link.Port();
    const auto write = [&] {
        context.bytes = static_cast<long long>(plainBlock.size());
        return ops::PutParameters(port, plainBlock.data(), static_cast<int>(plainBlock.size()));
    };
    const bool comparing = options.ifChanged || options.check || options.diff;
    std::optional<ops::Write> written;
    if (!context.keepBackup && !comparing) {
        written = write();
    } else {
        // The set is read as get-params reads it, kept as the machine's backup, and compared
        // with the one to write.
        std::vector<uint8_t> held;
        service::BackupSteps steps;
        steps.read = [&] {
            return service::ReadBackup(
                [&] { return ops::GetParameters(port, kParameterBufferSize); },
                [&] { return context.dialog.Stopped(); });
        };
        steps.keep = [&](const service::BackupRead& backup) {
            held = backup.set.plain;
            // A check keeps the set it read with its own record, as no backup: nothing is
            // written that it would stand before.
            if (options.check)
                context.readContent = backup.set;
            else if (context.keepBackup)
                context.keepBackup(backup);
        };
        steps.writeWithout = [&](const service::BackupRead& backup) {
            TellBackupUnread(context, backup, !comparing || context.keepBackup);
            return false;
        };
        steps.write = [&]() -> ops::Write {
            // A set too short for the half types 3 and 4 are sent is refused by the write
            // before anything goes; it refuses the same way here, before anything is said.
            const bool refused = port.SpeaksPackets() && plainBlock.size() < kPacketSetSize;
            if (!comparing || refused)
                return write();
            const std::vector<records::ChangedBytes> changes =
                service::WrittenChanges(held, plainBlock, port.SpeaksPackets());
            SayChanges(context, changes);
            ops::Write nothing;
            nothing.outcome.status = ops::Status::kOk;
            if (options.check)
                return nothing;
            if (options.ifChanged && changes.empty()) {
                context.unchanged = true;
                context.sink.Tell(kAlreadyHeld);
                return nothing;
            }
            return write();
        };
        written = service::WriteWithBackup(steps);
    }
    if (!written)
        return false;
    NoteWrite(context, *written);
    if (!written->outcome.ok())
        return false;
    // A write that did not happen has no restart to come back from.
    if (!options.verify || context.unchanged || context.dialog.Stopped())
        return true;
    return MachineCameBack(context) && SetReadBack(context, plainBlock);
}

bool RunUpgrade(CommandContext& context, const Invocation& invocation) {
    std::vector<uint8_t> image;
    if (!LoadFirmwareFile(ChoosePath(invocation.file), image))
        return false;
    if (context.keepsRecords)
        context.inputFile = records::DescribeBytes(InputRole(context), invocation.file, image);
    if (context.dialog.Stopped())
        return false;
    Transport& port = context.link.Port();
    if (context.write.check) {
        // The machine reached, and nothing sent: the opening alone.
        const bool reached = port.Open(false);
        port.Close();
        if (!reached || context.dialog.Stopped())
            return false;
        SayCheck(context, service::WouldSendText(static_cast<long long>(image.size())));
        return true;
    }
    context.bytes = static_cast<long long>(image.size());
    const ops::Write written =
        ops::UpgradeFirmware(port, image.data(), static_cast<int>(image.size()));
    NoteWrite(context, written);
    if (!written.outcome.ok())
        return false;
    if (!context.write.verify || context.dialog.Stopped())
        return true;
    if (!MachineCameBack(context))
        return false;
    context.sink.Tell(kAnsweredAgain);
    return true;
}

bool RunRestart(CommandContext& context, const Invocation& invocation) {
    std::string host = invocation.host;
    if (host.empty()) {
        const std::optional<std::string> selected = SelectedHost(context.link.Settings());
        if (!selected) {
            platform::ShowMessage(platform::MessageId::kSetUpPort);
            return false;
        }
        host = *selected;
    }
    if (context.dialog.Stopped())
        return false;
    const size_t shownBefore = context.sink.ShownIds().size();
    context.restartAnswered = RestartInterface(host, context.dialog);
    // The exchange tells a failure only by its message.
    const bool succeeded = context.sink.ShownIds().size() == shownBefore;
    // An agent that does not answer may still restart, so the wait ran as after an answer and
    // the command stands; but nothing says that the machine took the request.
    if (succeeded && !context.restartAnswered && !context.dialog.Stopped())
        context.sink.Tell(kRestartUnanswered);
    return succeeded;
}

void TellStopped(CommandContext& context, Command command, bool commandSucceeded) {
    const int signalNumber = StopSignal();
    const std::string cause =
        signalNumber == SIGINT ? "interrupted" : "stopped by " + SignalText(signalNumber);
    const char* had = nullptr;
    if (command == Command::Restart && context.restartAnswered && commandSucceeded)
        had = kRestartAnswered;
    else if (command == Command::PutParams && context.machineHasAll)
        had = kWholeParameterSet;
    else if (command == Command::Upgrade && context.machineHasAll)
        had = kWholeImage;
    if (had != nullptr)
        context.sink.Tell(cause + "; the machine had already " + had);
    else if (signalNumber != SIGINT)
        context.sink.Tell(cause);
}

void TellAfterFailure(CommandContext& context, Command command) {
    // A cancelled run (Ctrl-C, or anything that ends it as Cancel does) has said why it ended.
    const bool cancelled = Interrupted() || context.dialog.IsCancelled();
    if (context.outcome && context.outcome->failedSilently() && !cancelled)
        context.sink.Tell(kDamagedReply);
    if (command == Command::Upgrade && context.firmwareAwaited)
        context.sink.Tell(kFirmwareAwaited);
}

}  // namespace kelo::cli
