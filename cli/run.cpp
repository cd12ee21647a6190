#include "cli/run.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/command_line.h"
#include "cli/discover_command.h"
#include "cli/host_list.h"
#include "cli/host_pool.h"
#include "cli/interrupt.h"
#include "cli/json_result.h"
#include "cli/operations.h"
#include "cli/run_files.h"
#include "cli/settings_commands.h"
#include "link/device_link.h"
#include "platform/code_page.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/trace_session.h"

namespace kelo::cli {
namespace {

constexpr char kHelpHint[] = " (try 'kelo-cli --help')";

int UsageError(const Console& console, const std::string& error, const char* hint = kHelpHint) {
    console.writeErr("kelo-cli: " + error + hint + "\n");
    return kExitUsage;
}

bool IsConfigCommand(Command command) {
    return command == Command::ConfigShow || ChangesProfile(command);
}

// The config commands: show the settings, or change them and save them through the
// connection's own save, whose failure (shown naming the profile) fails the command.
int RunConfig(const Console& console, CDeviceLink& link, const Invocation& invocation) {
    if (!ChangesProfile(invocation.command)) {
        return PrintText(console.writeOut, FormatSettings(link.Settings())) ? kExitSuccess
                                                                            : kExitFailed;
    }
    if (std::optional<std::string> error = ApplyConfigChange(invocation, link.MutableSettings()))
        return UsageError(console, *error, "");
    return link.SaveSettings() ? kExitSuccess : kExitFailed;
}

bool RunDeviceCommand(CommandContext& context, const Invocation& invocation) {
    switch (invocation.command) {
        case Command::GetReport:
            return RunGetReport(context, invocation);
        case Command::OpenReport:
            return RunOpenReport(context, invocation);
        case Command::GetParams:
            return RunGetParams(context, invocation);
        case Command::PutParams:
            return RunPutParams(context, invocation);
        case Command::Upgrade:
            return RunUpgrade(context, invocation);
        case Command::Restart:
            return RunRestart(context, invocation);
        default:
            return false;
    }
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
    const int selected = settings.selectedHost;
    if (settings.portKind != kPortNetwork || selected < 0 ||
        static_cast<size_t>(selected) >= settings.hosts.size()) {
        return std::nullopt;
    }
    return settings.hosts[static_cast<size_t>(selected)];
}

// The code page a report printed on standard output is converted from: --encoding, else the
// profile's; nullopt prints the machine's bytes as they are. A name in the profile that this
// system does not know is an error, told before any machine is read.
std::optional<std::string> ChooseShownCodePage(const Invocation& invocation,
                                               std::optional<platform::CodePage>& codePage) {
    if (!invocation.encoding.empty()) {
        codePage = platform::CodePage::Named(invocation.encoding);
        return std::nullopt;
    }
    const bool printsReport =
        (invocation.command == Command::GetReport || invocation.command == Command::OpenReport) &&
        invocation.output.empty() && !invocation.json;
    if (!printsReport)
        return std::nullopt;
    const std::string path = platform::ProfileStore::DefaultPath();
    const std::string name = platform::ReportEncodingName(platform::ProfileStore(path));
    if (name.empty())
        return std::nullopt;
    codePage = platform::CodePage::Named(name);
    if (!codePage)
        return "unknown encoding '" + name + "' in " + path + " (Encoding in [Report])";
    return std::nullopt;
}

// Runs a command that needs the connection: its settings come from the profile with the run
// options laid over them, and only a config change is written back. A machine command notes
// in record what its result line tells besides its status.
int RunWithConnection(const Console& console, const Invocation& invocation,
                      TerminalCancelDialog& dialog, TerminalSink& sink, HostResult& record) {
    std::optional<platform::CodePage> shownCodePage;
    if (std::optional<std::string> error = ChooseShownCodePage(invocation, shownCodePage))
        return UsageError(console, *error, "");
    CDeviceLink link(dialog, platform::ProfileStore::DefaultPath());
    // A config change saves at once, so that a failure decides the exit status; nothing else
    // is ever saved.
    link.DiscardSettingsOnExit();
    ApplyOverrides(invocation.overrides, link.MutableSettings());
    if (IsConfigCommand(invocation.command))
        return RunConfig(console, link, invocation);
    record.host = TargetHost(link.Settings(), invocation);
    record.type = link.Settings().machineTypeIndex + 1;
    CommandContext context{link, dialog, sink, console.writeOut, invocation.json, {}, {}};
    context.shownCodePage = shownCodePage ? &*shownCodePage : nullptr;
    // Only a code page given for the run changes what a JSON line's text carries.
    if (!invocation.encoding.empty())
        record.textCodePage = shownCodePage;
    const bool succeeded = RunDeviceCommand(context, invocation);
    if (!succeeded)
        TellAfterFailure(context, invocation.command);
    record.bytes = context.bytes;
    record.text = std::move(context.keptReport);
    return succeeded ? kExitSuccess : kExitFailed;
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

// What a run came to. One whose command succeeded stays done however late Ctrl-C or the
// deadline came, since nothing was left to stop (put-params after its last write, for one);
// otherwise Ctrl-C, then the deadline, is what ended it.
RunResult Outcome(const TerminalCancelDialog& dialog, int status) {
    if (status == kExitSuccess)
        return RunResult::kOk;
    if (Interrupted())
        return RunResult::kCancelled;
    if (dialog.PastDeadline())
        return RunResult::kTimedOut;
    return ResultOfStatus(status);
}

// --hosts: reads the list and runs the command for each of its hosts.
int RunForHostList(const Console& console, const Invocation& invocation) {
    std::string text;
    if (std::optional<std::string> error = ReadHostList(*invocation.hostList, text))
        return UsageError(console, *error, "");
    const HostListParse list = ParseHostList(text, HostListName(*invocation.hostList));
    if (!list.ok)
        return UsageError(console, list.error, "");
    // A host without a type of its own takes --type, else the profile's type.
    const int typeIndex = invocation.overrides.machineTypeIndex.value_or(
        LoadSettings(platform::ProfileStore(platform::ProfileStore::DefaultPath()))
            .machineTypeIndex);
    return RunHostList(invocation, list.hosts, typeIndex, console, [](const Invocation& hostRun) {
        return RunInvocation(hostRun, SystemConsole());
    });
}

// The text trace of --trace, else of KELO_TRACE; empty for none. Only a command that talks
// to a machine has traffic to trace, so no other creates a trace file.
std::string TextTracePath(const Invocation& invocation) {
    if (!ServicesMachine(invocation.command))
        return "";
    if (!invocation.traceFile.empty())
        return invocation.traceFile;
    const char* fromEnvironment = std::getenv("KELO_TRACE");
    return fromEnvironment != nullptr ? fromEnvironment : "";
}

// Starts the trace files the run asks for. One that cannot be opened is reported and the
// run goes on without it.
void StartTraces(platform::TraceSession& trace, const Invocation& invocation) {
    const std::string textPath = TextTracePath(invocation);
    if (!textPath.empty())
        trace.StartText(textPath);
    if (!invocation.captureFile.empty() && ServicesMachine(invocation.command))
        trace.StartCapture(invocation.captureFile);
}

// A trace file that is also -o, the command's FILE or the other trace file would destroy it.
std::optional<std::string> TraceFileClash(const Invocation& invocation) {
    if (!ServicesMachine(invocation.command))
        return std::nullopt;
    return SharedFileError(invocation, TextTracePath(invocation),
                           invocation.traceFile.empty() ? "KELO_TRACE" : "--trace");
}

}  // namespace

Console SystemConsole() {
    Console console;
    // One write() a call, so that a JSON line reaches a pipe whole.
    console.writeOut = [](const std::string& bytes) { return WriteWhole(STDOUT_FILENO, bytes); };
    console.writeErr = WriteStandardError;
    console.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return console;
}

int RunCommandLine(const std::vector<std::string>& arguments, const Console& console) {
    const ParseResult parse = ParseCommandLine(arguments);
    if (!parse.ok)
        return UsageError(console, parse.error);
    return RunInvocation(parse.invocation, console);
}

int RunInvocation(const Invocation& invocation, const Console& console) {
    if (invocation.command == Command::Help)
        return console.writeOut(UsageText()) ? kExitSuccess : kExitFailed;
    if (invocation.command == Command::Version) {
        return console.writeOut("kelo-cli " + platform::ProgramVersion() + "\n") ? kExitSuccess
                                                                                 : kExitFailed;
    }

    if (std::optional<std::string> clash = TraceFileClash(invocation))
        return UsageError(console, *clash);
    if (invocation.hostList)
        return RunForHostList(console, invocation);
    const auto started = std::chrono::steady_clock::now();

    // A text trace on standard error would be torn apart by the progress line.
    const bool traceOnStandardError = TextTracePath(invocation) == "-";
    std::unique_ptr<ProgressLine> progress;
    if (invocation.showProgress && console.errIsTerminal && !traceOnStandardError) {
        progress = std::make_unique<ProgressLine>(console.writeErr);
        progress->SetLabel(ProgressLabel(invocation.command));
    }
    std::unique_ptr<PercentLine> percent;
    if (const int fd = invocation.progressFd; fd >= 0) {
        if (::fcntl(fd, F_GETFD) < 0)
            return UsageError(console, "--progress-fd " + std::to_string(fd) + " is not open");
        percent = std::make_unique<PercentLine>([fd](const std::string& line) {
            WriteWhole(fd, line);  // a reader that went away must not stop the run
        });
    }
    TerminalSink sink(console.writeErr, progress.get());
    platform::MessageSink* previousSink = platform::SetMessageSink(&sink);
    TerminalCancelDialog dialog;
    const int timeoutSeconds = invocation.timeoutSeconds.value_or(0);
    if (timeoutSeconds > 0)
        dialog.SetDeadline(std::chrono::seconds(timeoutSeconds));
    AttachProgress(dialog, progress.get(), percent.get());
    // A trace file's trouble is the trace's, not the operation's: one line, and the run goes on.
    platform::TraceSession trace([&console, &progress](const std::string& problem) {
        if (progress)
            progress->Clear();
        console.writeErr("kelo-cli: protocol trace: " + problem + "\n");
    });
    StartTraces(trace, invocation);

    int status = kExitSuccess;
    {
        InterruptGuard interruptGuard(dialog);
        HostResult record;
        const bool discovering = invocation.command == Command::Discover;
        if (discovering) {
            status =
                RunDiscover(console, invocation.discover, invocation.json, dialog, progress.get());
        } else {
            status = RunWithConnection(console, invocation, dialog, sink, record);
        }
        if (progress)
            progress->Clear();
        const RunResult result = Outcome(dialog, status);
        if (result == RunResult::kCancelled)
            status = kExitCancelled;
        if (result == RunResult::kTimedOut) {
            platform::ShowText("no answer within " + std::to_string(timeoutSeconds) + " s");
            status = kExitFailed;
        }
        // Written while Ctrl-C is still Cancel, so that a late one cannot lose the line.
        // Discover writes its machines as its own lines instead.
        if (invocation.json && !discovering) {
            record.ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
            status = WriteResultLine(console, invocation, sink, status, result, record);
        }
    }
    platform::SetMessageSink(previousSink);
    return status;
}

}  // namespace kelo::cli
