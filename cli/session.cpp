#include "cli/session.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/interrupt.h"
#include "cli/json_result.h"
#include "cli/operations.h"
#include "cli/recording.h"
#include "cli/run_policies.h"
#include "cli/settings_commands.h"
#include "cli/terminal.h"
#include "link/device_link.h"
#include "net/target.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/process_life.h"
#include "platform/profile.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "service/recording.h"
#include "trace/trace_session.h"

namespace kelo::cli {
namespace {

// Draws the progress line and writes the --progress-fd percentages from the dialog's range
// and position while an operation runs; either may be null.
void AttachProgress(TerminalCancelDialog& dialog, ProgressLine* line, PercentLine* percent) {
    dialog.onProgress = [line, percent](platform::HeadlessCancelDialog& d) {
        if (!d.IsVisible())
            return;
        if (line != nullptr)
            line->Update(d.Range(), d.Pos());
        if (percent != nullptr)
            percent->Update(d.Range(), d.Pos());
    };
}

// Runs a machine command's operation on the connection, whose settings come from the profile
// with the run options laid over them and are never written back. It notes in record what its
// result line tells besides its status.
int RunWithConnection(const Console& console, const Invocation& invocation,
                      TerminalCancelDialog& dialog, TerminalSink& sink, HostResult& record,
                      records::OperationRecord& kept) {
    std::optional<platform::CodePage> shownCodePage;
    if (std::optional<std::string> error = ChooseShownCodePage(invocation, shownCodePage))
        return UsageError(console, *error, "");
    // The profile's settings with the run options laid over them; they are never saved here
    // (only config saves, RunConfig).
    ConnectionSettings settings = LoadSettings(platform::ProfileStore::DefaultPath());
    ApplyOverrides(invocation.overrides, settings);
    DeviceLink link(dialog, std::move(settings));
    record.host = TargetHost(link.Settings(), invocation);
    if (record.host) {
        if (std::optional<std::string> refusal = ResolveRunTarget(*record.host, invocation, record))
            return UsageError(console, platform::ShownText(*refusal), "");
    }
    record.type = link.Settings().machineTypeIndex + 1;
    CommandContext context{link, dialog, sink, console.writeOut, invocation.json, {}, {}};
    context.shownCodePage = shownCodePage ? &*shownCodePage : nullptr;
    // Only a code page given for the run changes what a JSON line's text carries.
    if (!invocation.encoding.empty())
        record.textCodePage = shownCodePage;
    NoteMachine(link.Settings(), record, kept);
    kept.operation = CommandWord(invocation.command);
    if (!invocation.runId.empty())
        kept.runId = invocation.runId;
    context.recordedHost = kept.machine.host;
    context.keepsRecords = RecordsPathOf(invocation).has_value();
    context.write = invocation.write;
    context.json = invocation.json;
    ChooseBackup(console, invocation, kept, context);
    const bool succeeded = DefinitionOf(invocation.command)->operation(context, invocation);
    kept.content = std::move(context.readContent);
    if (context.inputFile)
        kept.files.push_back(*context.inputFile);
    if (Interrupted())
        TellStopped(context, invocation.command, succeeded);
    if (!succeeded)
        TellAfterFailure(context, invocation.command);
    record.bytes = context.bytes;
    record.text = std::move(context.keptReport);
    record.check = context.check;
    record.diff = std::move(context.diff);
    record.backup = context.backupRecord;
    record.unchanged = succeeded && context.unchanged;
    // A check's record says what it found, whatever it printed it to.
    if (succeeded && context.check)
        kept.message = "check: " + *context.check;
    if (invocation.command == Command::Restart)
        record.answered = context.restartAnswered;
    return succeeded ? kExitSuccess : context.failedStatus.value_or(kExitFailed);
}

// Completes the record of a finished run and writes its --json line.
int WriteResultLine(const Console& console, const Invocation& invocation, const TerminalSink& sink,
                    int status, RunResult result, HostResult& record) {
    const bool succeeded = status == kExitSuccess;
    record.command = CommandWord(invocation.command);
    record.result = result;
    record.message = sink.LastText();
    if (succeeded && !invocation.output.empty())
        record.output = invocation.output;
    if (!succeeded) {
        record.bytes.reset();
        record.text.reset();
    }
    record.carriesText = invocation.command == Command::GetReport && invocation.output.empty();
    if (!PrintText(console.writeOut, ResultLine(record)) && succeeded)
        return kExitFailed;
    return status;
}

// What a run came to. A signal ends it as cancelled whenever it came, even in the waits after
// the last write: a script that stops a run must learn so, and a shell loop must stop too. A
// run whose command succeeded stays done however late the deadline came, since nothing was
// left to wait for; otherwise the deadline is what ended it.
RunResult Outcome(const TerminalCancelDialog& dialog, int status, const HostResult& record) {
    if (Interrupted())
        return RunResult::kCancelled;
    if (status == kExitSuccess)
        return record.unchanged ? RunResult::kUnchanged : RunResult::kOk;
    if (dialog.PastDeadline())
        return RunResult::kTimedOut;
    return ResultOfStatus(status);
}

// A run that was cancelled or timed out writes its Cancel into the trace even where no pump
// came after the stop (the last operation had already ended).
void TraceCancelOfRun(TerminalCancelDialog& dialog, RunResult result) {
    const bool stopped = result == RunResult::kCancelled || result == RunResult::kTimedOut;
    if (stopped && dialog.CancelCount() == 0)
        dialog.Cancel();
}

// Starts the trace files the run asks for. One that cannot be opened is reported and the
// run goes on without it.
void StartTraces(kelo::trace::TraceSession& trace, const Invocation& invocation) {
    const std::string textPath = TextTracePath(invocation);
    if (!textPath.empty())
        trace.StartText(textPath);
    if (!invocation.captureFile.empty() && TalksToMachine(invocation.command))
        trace.StartCapture(invocation.captureFile);
}

// Whether the --progress-fd lines were all written; tells when they were not. The operation
// never stops for it (an upgrade cut short is worse than a lost percentage), and a reader that
// went away (EPIPE: a progress dialog closed) is no failure: nobody wants the rest.
bool ProgressWritten(const Console& console, int fd, int error) {
    if (error == 0 || error == EPIPE)
        return true;
    console.writeErr(
        platform::FileErrorText(kMessagePrefix + ("--progress-fd " + std::to_string(fd)), error) +
        "\n");
    return false;
}

// One single run: its progress line, --progress-fd lines, message sink, Cancel dialog and
// trace files, set up before the command runs and taken down after it.
class RunSession {
  public:
    RunSession(const Invocation& invocation, const Console& console)
        : targets_(),
          invocation_(invocation),
          console_(console),
          progress_(MakeProgressLine()),
          percent_(MakePercentLine()),
          sink_(console.writeErr, progress_.get()),
          previousSink_(platform::SetMessageSink(&sink_)),
          trace_([this](const std::string& problem) { TellTraceProblem(problem); }) {
        if (TimeoutSeconds() > 0)
            dialog_.SetDeadline(std::chrono::seconds(TimeoutSeconds()));
        AttachProgress(dialog_, progress_.get(), percent_.get());
        StartTraces(trace_, invocation);
    }
    ~RunSession() { platform::SetMessageSink(previousSink_); }
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

    // Runs the command while Ctrl-C is its Cancel, and returns the exit status.
    int Run() {
        InterruptGuard interruptGuard(dialog_);
        HostResult record;
        records::OperationRecord kept;
        kept.startedMs = records::WallClockMs();
        int status = RunCommand(record, kept);
        if (progress_)
            progress_->Clear();
        const RunResult result = Outcome(dialog_, status, record);
        TraceCancelOfRun(dialog_, result);
        if (result == RunResult::kCancelled)
            status = platform::SignalExitStatus(StopSignal());
        if (result == RunResult::kTimedOut) {
            platform::ShowText("no answer within " + std::to_string(TimeoutSeconds()) + " s");
            status = kExitFailed;
        }
        // The record first: a host list takes a host's result line as word that its record
        // was kept, and keeps one itself for a host that ended without the line.
        if (!kept.operation.empty())
            Keep(kept, result);
        // A stop that came while the record waited for the database ended that wait; the run
        // still ends as stopped, so that a script that stopped it learns so.
        if (result != RunResult::kCancelled && Interrupted())
            status = platform::SignalExitStatus(StopSignal());
        // Written while Ctrl-C is still Cancel, so that a late one cannot lose the line.
        // Discover writes its machines as its own lines instead.
        if (invocation_.json && TalksToMachine(invocation_.command)) {
            record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started_)
                            .count();
            status = WriteResultLine(console_, invocation_, sink_, status, result, record);
        }
        return status;
    }

    int ProgressError() const { return progressError_; }

  private:
    // A machine command runs its operation on the connection, any other its own way.
    int RunCommand(HostResult& record, records::OperationRecord& kept) {
        const CommandDefinition& definition = *DefinitionOf(invocation_.command);
        if (definition.operation != nullptr)
            return RunWithConnection(console_, invocation_, dialog_, sink_, record, kept);
        return definition.run(SessionParts{console_, dialog_, progress_.get()}, invocation_);
    }

    // Completes the record of the operation that ran and writes it to the service records.
    void Keep(records::OperationRecord& kept, RunResult result) {
        if (!RecordsPathOf(invocation_))
            return;  // nothing to keep it in: not even its files are read again
        service::EndRecord(kept, started_);
        kept.result = RecordedResult(result);
        if (kept.message.empty())
            kept.message = sink_.LastText().value_or("");
        kept.program = records::ProgramWord(records::Program::KeloCli);
        const std::optional<records::FileUse> input =
            kept.files.empty() ? std::nullopt : std::optional(kept.files.front());
        kept.files = UsedFiles(invocation_, input, Succeeded(result));
        KeepOperation(console_, invocation_, kept);
    }

    bool Discovering() const { return invocation_.command == Command::Discover; }
    int TimeoutSeconds() const { return invocation_.timeoutSeconds.value_or(0); }

    // The progress line, drawn only on a terminal; a text trace on standard error would be
    // torn apart by it.
    std::unique_ptr<ProgressLine> MakeProgressLine() const {
        const bool traceOnStandardError = TextTracePath(invocation_) == "-";
        if (!invocation_.showProgress || !console_.errIsTerminal || traceOnStandardError)
            return nullptr;
        if (Discovering() && invocation_.json && !console_.outIsTerminal)
            return nullptr;
        auto progress = std::make_unique<ProgressLine>(console_.writeErr);
        progress->SetLabel(DefinitionOf(invocation_.command)->progressLabel);
        return progress;
    }

    // The --progress-fd lines; after a failed write no more are written.
    std::unique_ptr<PercentLine> MakePercentLine() {
        const int fd = invocation_.progressFd;
        if (fd < 0)
            return nullptr;
        return std::make_unique<PercentLine>([fd, this](const std::string& line) {
            if (progressError_ == 0 && !platform::WriteWhole(fd, line))
                progressError_ = errno;
        });
    }

    // A trace file's trouble is the trace's, not the operation's: one line, and the run goes on.
    void TellTraceProblem(const std::string& problem) {
        if (progress_)
            progress_->Clear();
        TellError(console_, "protocol trace: " + problem);
    }

    // Every host of the run is looked up once, however many connections its command makes.
    TargetScope targets_;
    const Invocation& invocation_;
    const Console& console_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    int progressError_ = 0;
    std::unique_ptr<ProgressLine> progress_;
    std::unique_ptr<PercentLine> percent_;
    TerminalSink sink_;
    platform::MessageSink* previousSink_;
    TerminalCancelDialog dialog_;
    kelo::trace::TraceSession trace_;
};

}  // namespace

std::string TextTracePath(const Invocation& invocation) {
    if (!TalksToMachine(invocation.command))
        return "";
    if (!invocation.traceFile.empty())
        return invocation.traceFile;
    const char* fromEnvironment = std::getenv("KELO_TRACE");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

int RunConfig(const SessionParts& session, const Invocation& invocation) {
    // A config change saves at once, so that a failure decides the exit status; nothing else
    // is ever saved.
    const std::string path = platform::ProfileStore::DefaultPath();
    ConnectionSettings settings = LoadSettings(path);
    ApplyOverrides(invocation.overrides, settings);
    const Console& console = session.console;
    if (!ChangesProfile(invocation.command))
        return PrintText(console.writeOut, FormatSettings(settings)) ? kExitSuccess : kExitFailed;
    if (std::optional<std::string> error = ApplyConfigChange(invocation, settings))
        return UsageError(console, *error, "");
    return SaveSettings(path, settings) ? kExitSuccess : kExitFailed;
}

int RunSingle(const Invocation& invocation, const Console& console) {
    const int fd = invocation.progressFd;
    if (fd >= 0 && ::fcntl(fd, F_GETFD) < 0)
        return UsageError(console, "--progress-fd " + std::to_string(fd) + " is not open");
    int status = kExitSuccess;
    int progressError = 0;
    {
        RunSession session(invocation, console);
        status = session.Run();
        progressError = session.ProgressError();
    }
    return ProgressWritten(console, fd, progressError) || status != kExitSuccess ? status
                                                                                 : kExitFailed;
}

}  // namespace kelo::cli
