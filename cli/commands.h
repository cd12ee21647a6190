// The commands of kelo-cli as one table: what the parser, the help, the run and its progress
// line know of each.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace kelo::cli {

struct CommandContext;

// What follows a command word.
enum class Operands {
    kNone,           // nothing
    kFile,           // exactly one FILE
    kOptionalHost,   // at most one HOST
    kConfig,         // nothing, or a setting and its value
    kHostFilter,     // at most one HOST, whose records are listed
    kRecord,         // exactly one RECORD
    kTwoItems,       // A and B, each a record or a file
    kRecordsAction,  // nothing, or prune and its option
    kHostAndRecord,  // at most a HOST and a RECORD, each optional
};

// Whether a command writes to -o FILE.
enum class OutputRule { kRefused, kOptional, kRequired };

struct CommandDefinition {
    const char* word;  // as typed: "get-report"
    Command command;
    Operands operands;
    OutputRule output;
    // It talks to a machine: a host list, --json and the traces go with it.
    bool talksToMachine;
    const char* progressLabel;  // "" for none
    // Runs a command on the connection; null for config and discover, which run on their own.
    bool (*run)(CommandContext& context, const Invocation& invocation);
    const char* usage;  // the command and its operands, for the help
    const char* help;   // what it does, for the help
};

// A setting config changes, with its value as the help shows it.
struct ConfigSetting {
    const char* word;
    Command command;
    const char* value;
};

std::span<const CommandDefinition> CommandDefinitions();
std::span<const ConfigSetting> ConfigSettings();

// The definition of a command; config's for every config command, null for help and version.
const CommandDefinition* DefinitionOf(Command command);

// What is wrong with how a parsed command line uses its command: the command's -o rule, run
// options with a config change, and what --hosts, --json, --progress-fd and --timeout go with.
std::optional<std::string> CommandUseProblem(const Invocation& invocation);

// The names of the port kinds, in the order of their values.
const std::vector<std::string>& PortKindNames();

}  // namespace kelo::cli
