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
#include "snmp/status_query.h"

namespace kelo::cli {
namespace {

// The buffer the main dialog gives Get Parameters, and its capacity.
constexpr int kParameterBufferSize = kBlockCapacity;
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

// Why no backup could be kept before a write, which then writes nothing: after the
// damaged-reply line when the read failed without a message; nothing at all when no port is
// set up (that message says why, and the write could not have run either).
void TellBackupUnread(CommandContext& context, const service::BackupRead& backup) {
    if (backup.end != service::BackupRead::End::kNotWhole) {
        if (backup.outcome.messageId == platform::MessageId::kSetUpPort)
            return;
        const bool stopped = Interrupted() || backup.end == service::BackupRead::End::kStopped;
        if (!stopped && backup.outcome.message.empty())
            context.sink.Tell(kDamagedReply);
    }
    context.sink.Tell(kBackupUnread);
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
        context.inputFile = records::DescribeBytes("input", invocation.file, file);
    if (context.dialog.Stopped())
        return false;
    return PutParameterSet(context, plainBlock);
}

bool PutParameterSet(CommandContext& context, const std::vector<uint8_t>& plainBlock) {
    const auto write = [&] {
        context.bytes = static_cast<long long>(plainBlock.size());
        return ops::PutParameters(context.link.Port(), plainBlock.data(),
                                  static_cast<int>(plainBlock.size()));
    };
    std::optional<ops::Write> written;
    if (!context.keepBackup) {
        written = write();
    } else {
        // The set is read as get-params reads it, and kept as the machine's backup.
        service::BackupSteps steps;
        steps.read = [&] {
            return service::ReadBackup(
                [&] { return ops::GetParameters(context.link.Port(), kParameterBufferSize); },
                [&] { return context.dialog.Stopped(); });
        };
        steps.keep = context.keepBackup;
        steps.writeWithout = [&](const service::BackupRead& backup) {
            TellBackupUnread(context, backup);
            return false;
        };
        steps.write = write;
        written = service::WriteWithBackup(steps);
    }
    if (!written)
        return false;
    NoteWrite(context, *written);
    return written->outcome.ok();
}

bool RunUpgrade(CommandContext& context, const Invocation& invocation) {
    std::vector<uint8_t> image;
    if (!LoadFirmwareFile(ChoosePath(invocation.file), image))
        return false;
    if (context.keepsRecords)
        context.inputFile = records::DescribeBytes("input", invocation.file, image);
    if (context.dialog.Stopped())
        return false;
    context.bytes = static_cast<long long>(image.size());
    const ops::Write written =
        ops::UpgradeFirmware(context.link.Port(), image.data(), static_cast<int>(image.size()));
    NoteWrite(context, written);
    return written.outcome.ok();
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
