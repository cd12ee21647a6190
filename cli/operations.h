// The commands of kelo-cli, each running the core's own operation and file functions.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "link/device_link.h"

namespace kelo::cli {

// Where a command's results go.
struct CommandContext {
    CDeviceLink& link;
    TerminalCancelDialog& dialog;
    const TerminalSink& sink;
    // Writes a report's text to standard output; false, with errno set, when it could not.
    std::function<bool(const std::string& text)> writeOut;
    // With --json a report that has no -o is kept here for the result line, not printed.
    bool keepReport = false;
    std::optional<std::string> keptReport;
    // The size of what the command read from the machine or handed to it: the report, the
    // parameter set, the parameter block of the file, the firmware image.
    std::optional<long long> bytes;
};

// Each returns true when the command succeeded; a failure has shown its message, if the
// system has one for it.
bool RunGetReport(CommandContext& context, const Invocation& invocation);
bool RunOpenReport(CommandContext& context, const Invocation& invocation);
bool RunGetParams(CommandContext& context, const Invocation& invocation);
bool RunPutParams(CommandContext& context, const Invocation& invocation);
bool RunUpgrade(CommandContext& context, const Invocation& invocation);
bool RunRestart(CommandContext& context, const Invocation& invocation);

// Writes text through writeOut; a failure shows the reason naming standard output.
bool PrintText(const std::function<bool(const std::string&)>& writeOut, const std::string& text);

// The label of a command's progress line.
std::string ProgressLabel(Command command);

}  // namespace kelo::cli
