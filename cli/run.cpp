#include "cli/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "cli/discover_command.h"
#include "cli/host_list.h"
#include "cli/host_pool.h"
#include "cli/interrupt.h"
#include "cli/json_result.h"
#include "cli/operations.h"
#include "cli/recording.h"
#include "cli/records_commands.h"
#include "cli/resume.h"
#include "cli/run_files.h"
#include "cli/settings_commands.h"
#include "cli/standard_output.h"
#include "link/device_link.h"
#include "net/target.h"
#include "platform/code_page.h"
#include "platform/host_address.h"
#include "platform/messages.h"
#include "platform/process_life.h"
#include "platform/profile.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "records/sha256.h"
#include "service/machine.h"
#include "service/recording.h"
#include "service/report_code_page.h"
#include "trace/trace_session.h"

namespace kelo::cli {
namespace {

constexpr char kHelpHint[] = " (try 'kelo-cli --help')";
constexpr char kRecordsOffNoBackup[] = "records are off; no backup was kept";

int UsageError(const Console& console, const std::string& error, const char* hint = kHelpHint) {
    console.writeErr(kMessagePrefix + error + hint + "\n");
    return kExitUsage;
}

bool IsConfigCommand(Command command) {
    return command == Command::ConfigShow || ChangesProfile(command);
}

// The config commands: show the settings, or change them and save them, a save whose failure
// (shown naming the profile) fails the command.
int RunConfig(const Console& console, ConnectionSettings& settings, const Invocation& invocation) {
    if (!ChangesProfile(invocation.command))
        return PrintText(console.writeOut, FormatSettings(settings)) ? kExitSuccess : kExitFailed;
    if (std::optional<std::string> error = ApplyConfigChange(invocation, settings))
        return UsageError(console, *error, "");
    return SaveSettings(platform::ProfileStore::DefaultPath(), settings) ? kExitSuccess
                                                                         : kExitFailed;
}

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

// The host a machine command talks to, for its result line: restart's HOST, else the selected
// host of the network port; none on the parallel port, on USB, or with no host selected.
std::optional<std::string> TargetHost(const ConnectionSettings& settings,
                                      const Invocation& invocation) {
    if (!invocation.host.empty())
        return invocation.host;
    return service::NetworkHost(settings);
}

// The code page a report printed on standard output is converted from: --encoding, else the
// profile's; nullopt prints the machine's bytes as they are. A name in the profile that this
// system does not know is an error, told before any machine is read.
std::optional<std::string> ChooseShownCodePage(const Invocation& invocation,
                                               std::optional<platform::CodePage>& codePage) {
    const bool printsReport =
        (invocation.command == Command::GetReport || invocation.command == Command::OpenReport) &&
        invocation.output.empty() && !invocation.json;
    if (invocation.encoding.empty() && !printsReport)
        return std::nullopt;
    const std::string path = platform::ProfileStore::DefaultPath();
    const service::ReportCodePage chosen = service::ChooseReportCodePage(invocation.encoding, path);
    codePage = chosen.codePage;
    if (!chosen.unknownName.empty())
        return service::UnknownEncodingText(chosen, path);
    return std::nullopt;
}

// Resolves the run's host once, before any traffic: every connection of the run then goes to
// that address (a host of a list to the one its list was checked with), which the result line
// tells. Why the host is no machine to service, or nullopt; a host that resolves to nothing
// fails as its connection does.
std::optional<std::string> ResolveRunTarget(const std::string& host, const Invocation& invocation,
                                            HostResult& record) {
    if (invocation.targetAddress)
        FixTarget(host, *invocation.targetAddress);
    const Target target = ResolveTarget(host);
    if (target.address)
        record.address = platform::DottedQuad(*target.address);
    return target.refusal;
}

// The machine a command talks to, as the records keep it: the host, else the port's name.
void NoteMachine(const ConnectionSettings& settings, const HostResult& record,
                 records::OperationRecord& kept) {
    kept.machine = service::RecordedMachine(settings, record.host);
    kept.machine.address = record.address.value_or("");
}

// The files an operation used: the input it read (described from the bytes read, where the
// command keeps them; open-report's file by its name), and the -o file it wrote when it
// succeeded.
std::vector<records::FileUse> UsedFiles(const Invocation& invocation,
                                        const std::optional<records::FileUse>& input,
                                        bool succeeded) {
    std::vector<records::FileUse> files;
    if (input) {
        files.push_back(*input);
    } else if (invocation.command == Command::OpenReport) {
        if (std::optional<records::FileUse> read = records::DescribeFile("input", invocation.file))
            files.push_back(*read);
    }
    if (succeeded && !invocation.output.empty()) {
        if (std::optional<records::FileUse> output =
                records::DescribeFile("output", invocation.output))
            files.push_back(*output);
    }
    return files;
}

// The backup before a parameter write, kept as an operation of its own ("backup") on the
// machine of the run's record. The write's own record then starts after it, so that the
// records list the two in the order they happened: the backup first, the write after it.
std::function<void(const service::BackupRead&)> BackupKeeper(const Console& console,
                                                             const Invocation& invocation,
                                                             records::OperationRecord& kept) {
    return [&console, &invocation, &kept](const service::BackupRead& read) {
        const records::OperationRecord backup =
            service::BackupRecord(kept.machine, read, records::Program::KeloCli, kept.runId);
        KeepOperation(console, invocation, backup);
        kept.startedMs = std::max(records::WallClockMs(), backup.startedMs);
    };
}

// A parameter write keeps the machine's set first, unless --no-backup says not to; with the
// records off there is nowhere to keep it, which put-params says once.
void ChooseBackup(const Console& console, const Invocation& invocation,
                  records::OperationRecord& kept, CommandContext& context) {
    if (!WritesParameters(invocation.command) || invocation.noBackup)
        return;
    if (RecordsPathOf(invocation)) {
        context.keepBackup = BackupKeeper(console, invocation, kept);
        return;
    }
    if (invocation.command == Command::PutParams && !invocation.recordsOffTold)
        TellError(console, kRecordsOffNoBackup);
}

// Runs a command that needs the connection: its settings come from the profile with the run
// options laid over them, and only a config change is written back. A machine command notes
// in record what its result line tells besides its status.
int RunWithConnection(const Console& console, const Invocation& invocation,
                      TerminalCancelDialog& dialog, TerminalSink& sink, HostResult& record,
                      records::OperationRecord& kept) {
    std::optional<platform::CodePage> shownCodePage;
    if (std::optional<std::string> error = ChooseShownCodePage(invocation, shownCodePage))
        return UsageError(console, *error, "");
    // The profile's settings with the run options laid over them. Only a config change is
    // saved, at once, so that a failure decides the exit status.
    ConnectionSettings settings = LoadSettings(platform::ProfileStore::DefaultPath());
    ApplyOverrides(invocation.overrides, settings);
    if (IsConfigCommand(invocation.command))
        return RunConfig(console, settings, invocation);
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
    ChooseBackup(console, invocation, kept, context);
    const bool succeeded = DefinitionOf(invocation.command)->run(context, invocation);
    kept.content = std::move(context.readContent);
    if (context.inputFile)
        kept.files.push_back(*context.inputFile);
    if (Interrupted())
        TellStopped(context, invocation.command, succeeded);
    if (!succeeded)
        TellAfterFailure(context, invocation.command);
    record.bytes = context.bytes;
    record.text = std::move(context.keptReport);
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
RunResult Outcome(const TerminalCancelDialog& dialog, int status) {
    if (Interrupted())
        return RunResult::kCancelled;
    if (status == kExitSuccess)
        return RunResult::kOk;
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

// Keeps the result of a host whose own run kept none (it never started, or was killed), so
// that a resumed run finds it among the hosts that did not succeed.
void KeepUntoldResult(const Console& console, const Invocation& listRun, const HostResult& result) {
    records::OperationRecord kept;
    kept.machine.host = result.host.value_or("");
    kept.machine.type = result.type;
    kept.machine.portKind = records::PortKindWord(kPortNetwork);
    kept.startedMs = records::WallClockMs();
    kept.endedMs = kept.startedMs;
    kept.durationMs = result.ms.value_or(0);
    kept.operation = CommandWord(listRun.command);
    kept.result = RecordedResult(result.result);
    kept.message = result.message.value_or("");
    kept.program = records::ProgramWord(records::Program::KeloCli);
    kept.runId = listRun.runId;
    KeepOperation(console, listRun, kept);
}

// The text trace of --trace, else of KELO_TRACE; empty for none. Only a command that talks
// to a machine has traffic to trace, so no other creates a trace file.
std::string TextTracePath(const Invocation& invocation) {
    if (!TalksToMachine(invocation.command))
        return "";
    if (!invocation.traceFile.empty())
        return invocation.traceFile;
    const char* fromEnvironment = std::getenv("KELO_TRACE");
    return fromEnvironment != nullptr ? fromEnvironment : "";
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

// The run's files, checked before anything else: each of the right kind, none written over
// another; the trace files only where the command has traffic to trace. A usage error, or
// nullopt.
std::optional<int> CheckRunFiles(const Console& console, const Invocation& invocation) {
    Invocation checked = invocation;
    if (!TalksToMachine(invocation.command))
        checked.captureFile.clear();
    const RunFilePaths paths{TextTracePath(invocation),
                             invocation.traceFile.empty() ? "KELO_TRACE" : "--trace",
                             RecordsPathOf(invocation)};
    if (std::optional<std::string> refusal = RefusedRunFile(checked, paths))
        return UsageError(console, platform::ShownText(*refusal), "");
    if (std::optional<std::string> clash = SharedFileError(checked, paths))
        return UsageError(console, platform::ShownText(*clash));
    return std::nullopt;
}

// Runs the hosts of a list as one run of its own, kept in the records with a new id and the
// whole list. Every host is resolved once first, and its run goes to that address; hosts that
// reach one machine are refused, whether the list came from a file or a resumed run.
int RunListedHosts(const Console& console, const Invocation& invocation,
                   std::vector<HostEntry> hosts, const std::string& listName) {
    if (std::optional<int> refused = CheckRunFiles(console, invocation))
        return *refused;
    TargetScope targets;
    if (std::optional<std::string> refusal = ResolveListTargets(hosts, listName))
        return UsageError(console, *refusal, "");
    // A host without a type of its own takes --type, else the profile's type.
    const int typeIndex = invocation.overrides.machineTypeIndex.value_or(
        LoadSettings(platform::ProfileStore(platform::ProfileStore::DefaultPath()))
            .machineTypeIndex);
    Invocation listRun = invocation;
    listRun.runId = StartRun(console, invocation, hosts, typeIndex);
    if (invocation.command == Command::PutParams && !invocation.noBackup &&
        !RecordsPathOf(invocation)) {
        TellError(console, kRecordsOffNoBackup);
        listRun.recordsOffTold = true;
    }
    const auto runHost = [](const Invocation& hostRun) {
        // The child's standard output is a pipe of its own, whatever became of the list's.
        ForgetStandardOutputError();
        return RunInvocation(hostRun, SystemConsole());
    };
    UntoldResult untold = nullptr;
    if (!listRun.runId.empty()) {
        untold = [&console, &listRun](const HostResult& result) {
            KeepUntoldResult(console, listRun, result);
        };
    }
    return RunHostList(listRun, hosts, typeIndex, console, runHost, untold);
}

// --hosts: reads the list and runs the command for each of its hosts.
int RunForHostList(const Console& console, const Invocation& invocation) {
    std::string text;
    if (std::optional<std::string> error = ReadHostList(*invocation.hostList, text))
        return UsageError(console, *error, "");
    const std::string name = HostListName(*invocation.hostList);
    const HostListParse list = ParseHostList(text, name);
    if (!list.ok)
        return UsageError(console, list.error, "");
    return RunListedHosts(console, invocation, list.hosts, name);
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
        const RunResult result = Outcome(dialog_, status);
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
    int RunCommand(HostResult& record, records::OperationRecord& kept) {
        if (Discovering()) {
            return RunDiscover(console_, invocation_, dialog_, progress_.get());
        }
        if (ReadsRecords(invocation_.command))
            return RunRecordsCommand(console_, invocation_);
        return RunWithConnection(console_, invocation_, dialog_, sink_, record, kept);
    }

    // Completes the record of the operation that ran and writes it to the service records.
    void Keep(records::OperationRecord& kept, RunResult result) {
        if (!RecordsPathOf(invocation_))
            return;  // nothing to keep it in: not even its files are read again
        service::EndRecord(kept, started_);
        kept.result = RecordedResult(result);
        kept.message = sink_.LastText().value_or("");
        kept.program = records::ProgramWord(records::Program::KeloCli);
        const std::optional<records::FileUse> input =
            kept.files.empty() ? std::nullopt : std::optional(kept.files.front());
        kept.files = UsedFiles(invocation_, input, result == RunResult::kOk);
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
            if (progressError_ == 0 && !WriteWhole(fd, line))
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

int RunCommandLine(const std::vector<std::string>& arguments, const Console& console) {
    const ParseResult parse = ParseCommandLine(arguments);
    if (!parse.ok)
        return UsageError(console, parse.error, parse.helpHint ? kHelpHint : "");
    return RunInvocation(parse.invocation, console);
}

int RunInvocation(const Invocation& invocation, const Console& console) {
    if (invocation.command == Command::Help)
        return console.writeOut(UsageText()) ? kExitSuccess : kExitFailed;
    if (invocation.command == Command::Version) {
        return console.writeOut("kelo-cli " + platform::ProgramVersion() + "\n") ? kExitSuccess
                                                                                 : kExitFailed;
    }
    if (invocation.command == Command::Resume) {
        return RunResume(console, invocation,
                         [&console](const Invocation& again, const std::vector<HostEntry>& hosts,
                                    const std::string& listName) {
                             return RunListedHosts(console, again, hosts, listName);
                         });
    }
    if (std::optional<int> refused = CheckRunFiles(console, invocation))
        return *refused;
    if (invocation.hostList)
        return RunForHostList(console, invocation);
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
