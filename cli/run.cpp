#include "cli/run.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/operations.h"
#include "cli/settings_commands.h"
#include "link/device_link.h"
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

// The config commands: show the settings, or change them and let the connection save them
// as it does at the end of every GUI run.
int RunConfig(const Console& console, CDeviceLink& link, const Invocation& invocation) {
    if (!ChangesProfile(invocation.command)) {
        link.DiscardSettingsOnExit();
        return PrintText(console.writeOut, FormatSettings(link.Settings())) ? kExitSuccess
                                                                            : kExitFailed;
    }
    if (std::optional<std::string> error = ApplyConfigChange(invocation, link.MutableSettings())) {
        link.DiscardSettingsOnExit();
        return UsageError(console, *error, "");
    }
    return kExitSuccess;
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

// Draws the progress line from the dialog's range and position while an operation runs.
void AttachProgressLine(TerminalCancelDialog& dialog, ProgressLine& line) {
    dialog.onProgress = [&line](platform::HeadlessCancelDialog& d) {
        if (d.IsVisible())
            line.Update(d.Range(), d.Pos());
    };
}

// Runs a command that needs the connection: its settings come from the profile with the run
// options laid over them, and only a config change is written back.
int RunWithConnection(const Console& console, const Invocation& invocation,
                      TerminalCancelDialog& dialog, const TerminalSink& sink) {
    CDeviceLink link(dialog, platform::ProfileStore::DefaultPath());
    if (!ChangesProfile(invocation.command))
        link.DiscardSettingsOnExit();
    ApplyOverrides(invocation.overrides, link.MutableSettings());
    if (IsConfigCommand(invocation.command))
        return RunConfig(console, link, invocation);
    CommandContext context{link, dialog, sink, console.writeOut};
    return RunDeviceCommand(context, invocation) ? kExitSuccess : kExitFailed;
}

// The text trace of --trace, else of KELO_TRACE; empty for none.
std::string TextTracePath(const Invocation& invocation) {
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
    if (!invocation.captureFile.empty())
        trace.StartCapture(invocation.captureFile);
}

}  // namespace

Console SystemConsole() {
    Console console;
    console.writeOut = [](const std::string& bytes) {
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
               std::fflush(stdout) == 0;
    };
    console.writeErr = WriteStandardError;
    console.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
    return console;
}

int RunCommandLine(const std::vector<std::string>& arguments, const Console& console) {
    const ParseResult parse = ParseCommandLine(arguments);
    if (!parse.ok)
        return UsageError(console, parse.error);
    const Invocation& invocation = parse.invocation;
    if (invocation.command == Command::Help)
        return console.writeOut(UsageText()) ? kExitSuccess : kExitFailed;
    if (invocation.command == Command::Version) {
        return console.writeOut("kelo-cli " + platform::ProgramVersion() + "\n") ? kExitSuccess
                                                                                 : kExitFailed;
    }

    // A text trace on standard error would be torn apart by the progress line.
    const bool traceOnStandardError = TextTracePath(invocation) == "-";
    std::unique_ptr<ProgressLine> progress;
    if (invocation.showProgress && console.errIsTerminal && !traceOnStandardError) {
        progress = std::make_unique<ProgressLine>(console.writeErr);
        progress->SetLabel(ProgressLabel(invocation.command));
    }
    TerminalSink sink(console.writeErr, progress.get());
    platform::MessageSink* previousSink = platform::SetMessageSink(&sink);
    TerminalCancelDialog dialog;
    if (progress)
        AttachProgressLine(dialog, *progress);
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
        status = RunWithConnection(console, invocation, dialog, sink);
        if (progress)
            progress->Clear();
        if (Interrupted())
            status = kExitCancelled;
    }
    platform::SetMessageSink(previousSink);
    return status;
}

}  // namespace kelo::cli
