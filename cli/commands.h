// The commands of kelo-cli, one definition each: its word, its operands and options, the rules
// of its run options, and how it runs. The parser, the help, the messages that name commands,
// the completion script and the run are all built from these definitions.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace CLI {
class App;
}

namespace kelo::cli {

struct CommandContext;
struct Console;
class ProgressLine;
class TerminalCancelDialog;

// What the run lends a command that runs without a machine operation: where it writes, its
// Cancel dialog and its progress line (null when none is drawn).
struct SessionParts {
    const Console& console;
    TerminalCancelDialog& dialog;
    ProgressLine* progress;
};

// Whether a command writes to -o FILE.
enum class OutputRule { kRefused, kOptional, kRequired };

struct CommandDefinition {
    const char* word;  // as typed: "get-report"
    Command command;
    const char* operands = "";  // what follows the word, for the help: "FILE [-o FILE]"
    const char* help = "";      // what it does, for the help
    OutputRule output = OutputRule::kRefused;
    // It talks to a machine: a host list, --json, --timeout and the traces go with it.
    bool talksToMachine = false;
    // It writes its result as JSON lines with --json without talking to a machine.
    bool writesJson = false;
    // It writes a parameter set, so it reads the machine's for a backup first (--no-backup).
    bool writesParameters = false;
    const char* progressLabel = "";  // "" for none
    // Adds the command's operands and options to its subcommand, bound to the invocation's
    // fields for it; null for a command with none.
    void (*addOptions)(CLI::App& command, Invocation& invocation) = nullptr;
    // A machine command's operation on the connection; null for the others.
    bool (*operation)(CommandContext& context, const Invocation& invocation) = nullptr;
    // Runs any other command and gives its exit status.
    int (*run)(const SessionParts& session, const Invocation& invocation) = nullptr;
};

std::span<const CommandDefinition> CommandDefinitions();

// The definition of a command; config's for every config command, records' for records prune,
// null for help, version and resume.
const CommandDefinition* DefinitionOf(Command command);

// What is wrong with how a parsed command line uses its command: the command's -o rule, run
// options with a config change, and what --hosts, --json, --progress-fd and --timeout go with.
std::optional<std::string> CommandUseProblem(const Invocation& invocation);

// The names of the port kinds, in the order of their values.
const std::vector<std::string>& PortKindNames();

}  // namespace kelo::cli
