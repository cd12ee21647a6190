#include "cli/commands.h"

#include <algorithm>

#include "cli/host_list.h"
#include "cli/operations.h"
#include "link/settings.h"
#include "records/words.h"

namespace kelo::cli {
namespace {

// The word of a command the records keep, as the records spell it (each word is a literal, so
// its text ends in a null).
constexpr const char* Recorded(records::Operation operation) {
    return records::OperationWord(operation).data();
}

// Every command: the parser, the help and the run are all built from these entries.
constexpr CommandDefinition kCommands[] = {
    {Recorded(records::Operation::GetReport), Command::GetReport, Operands::kNone,
     OutputRule::kOptional, true, "Get Report", RunGetReport, "get-report [-o FILE]",
     "read the machine's service report; without -o the text goes to standard output; a FILE "
     "ending in \"kel\" is saved as a report file, one ending in \"txt\" as text"},
    {"open-report", Command::OpenReport, Operands::kFile, OutputRule::kOptional, false, "",
     RunOpenReport, "open-report FILE [-o FILE]", "read a report file; print its text or save it"},
    {Recorded(records::Operation::GetParams), Command::GetParams, Operands::kNone,
     OutputRule::kRequired, true, "Get Parameters", RunGetParams, "get-params -o FILE",
     "read the parameter set into a parameter file"},
    {Recorded(records::Operation::PutParams), Command::PutParams, Operands::kFile,
     OutputRule::kRefused, true, "Put Parameters", RunPutParams, "put-params FILE",
     "write a parameter file into the machine (it restarts); the records keep the machine's "
     "set from just before as its backup"},
    {Recorded(records::Operation::RestoreParams), Command::RestoreParams, Operands::kHostAndRecord,
     OutputRule::kRefused, true, "Put Parameters", RunRestoreParams,
     "restore-params [HOST] [RECORD]",
     "write a kept parameter set back into the machine (default: the newest backup of HOST, "
     "default the selected host), with a backup of its own first"},
    {Recorded(records::Operation::Upgrade), Command::Upgrade, Operands::kFile, OutputRule::kRefused,
     true, "Firmware Upgrade", RunUpgrade, "upgrade FILE",
     "upgrade the firmware from FILE (name ending in \"rfw\")"},
    {Recorded(records::Operation::Restart), Command::Restart, Operands::kOptionalHost,
     OutputRule::kRefused, true, "Restart", RunRestart, "restart [HOST]",
     "restart a machine's network interface (default: the selected host)"},
    {"config", Command::ConfigShow, Operands::kConfig, OutputRule::kRefused, false, "", nullptr,
     "config", "show the port kind, machine type and hosts"},
    {Recorded(records::Operation::Discover), Command::Discover, Operands::kNone,
     OutputRule::kRefused, false, "Discover", nullptr, "discover [--subnet CIDR]... [OPTIONS]",
     "find the machines on the network; without --subnet by a broadcast on every local network"},
    {"history", Command::History, Operands::kHostFilter, OutputRule::kRefused, false, "", nullptr,
     "history [HOST] [OPTIONS]",
     "list the kept operations, newest first (with --json as JSON lines, with --csv as CSV)"},
    {"show", Command::Show, Operands::kRecord, OutputRule::kOptional, false, "", nullptr,
     "show RECORD [-o FILE]",
     "tell what a record was and every file it used (role, name, size, SHA-256); print the "
     "report it kept, or save its report or parameter set as a file"},
    {"compare", Command::Compare, Operands::kTwoItems, OutputRule::kRefused, false, "", nullptr,
     "compare A B [--all]",
     "compare two reports or parameter sets, each a record or a file (of two sets the first "
     "100 changed ranges, --all every one); exit 0 equal, 1 different, 2 trouble"},
    {"records", Command::Records, Operands::kRecordsAction, OutputRule::kRefused, false, "",
     nullptr, "records [prune --older-than DAYS]",
     "show where the records are and what they hold, or remove the older ones"},
};

constexpr ConfigSetting kConfigSettings[] = {
    {"port", Command::ConfigPort, "network|parallel|usb"},
    {"type", Command::ConfigType, "1|2|3|4"},
    {"add-host", Command::ConfigAddHost, "HOST"},
    {"select-host", Command::ConfigSelectHost, "INDEX"},
    {"delete-host", Command::ConfigDeleteHost, "INDEX"},
};
// The command's -o rule.
std::optional<std::string> OutputProblem(const Invocation& invocation) {
    const CommandDefinition& definition = *DefinitionOf(invocation.command);
    const std::string word = definition.word;
    const bool given = !invocation.output.empty();
    if (given && definition.output == OutputRule::kRefused)
        return word + " does not take -o";
    if (!given && definition.output == OutputRule::kRequired)
        return word + " needs -o FILE";
    return std::nullopt;
}

// What --hosts, --json, --progress-fd and --timeout go with. A host list runs each host as a
// single run of the network port, so the options that choose one host or port do not fit.
std::optional<std::string> RunOptionProblem(const Invocation& run) {
    const bool machine = TalksToMachine(run.command);
    const bool list = run.hostList.has_value();
    if (list && !machine)
        return "--hosts goes with get-report, get-params, put-params, restore-params, upgrade "
               "and restart";
    if (run.json && !machine && run.command != Command::Discover && run.command != Command::History)
        return "--json goes with get-report, get-params, put-params, restore-params, upgrade, "
               "restart, discover and history";
    if (run.json && run.csv)
        return "--csv and --json exclude each other";
    if (run.noBackup && !WritesParameters(run.command))
        return "--no-backup goes with put-params and restore-params";
    // Before discover, --timeout would be read as the run's seconds, not discover's
    // milliseconds.
    if (run.timeoutSeconds && !machine) {
        return "--timeout SECONDS goes with get-report, get-params, put-params, restore-params, "
               "upgrade and restart (discover takes --timeout MS after the command)";
    }
    if (!list)
        return std::nullopt;
    const std::string word = CommandWord(run.command);
    if (run.overrides.portKind && *run.overrides.portKind != kPortNetwork)
        return "--hosts uses the network port";
    if (run.progressFd >= 0)
        return "--progress-fd goes with a single host";
    if (!run.host.empty())
        return word + " takes no HOST with --hosts";
    const bool writesFile = run.command == Command::GetReport || run.command == Command::GetParams;
    if (writesFile && run.output.find(kHostField) == std::string::npos)
        return word + " needs -o with " + kHostField + " in the file name when --hosts is given";
    // A capture file holds one run's packets; the hosts' messages share standard error.
    if (!run.captureFile.empty() && run.captureFile.find(kHostField) == std::string::npos)
        return std::string("--pcap needs ") + kHostField +
               " in the file name when --hosts is given";
    if (run.traceFile == "-")
        return "--trace - goes with a single host";
    return std::nullopt;
}

}  // namespace

std::span<const CommandDefinition> CommandDefinitions() {
    return kCommands;
}

std::span<const ConfigSetting> ConfigSettings() {
    return kConfigSettings;
}

const std::vector<std::string>& PortKindNames() {
    // In the order of the values kPortParallel, kPortNetwork, kPortUsb.
    static const std::vector<std::string> names(records::kPortKindWords.begin(),
                                                records::kPortKindWords.end());
    return names;
}

int PortKindFromName(const std::string& name) {
    const std::vector<std::string>& names = PortKindNames();
    const auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

std::string PortKindName(int portKind) {
    const std::vector<std::string>& names = PortKindNames();
    const bool named = portKind >= 0 && static_cast<size_t>(portKind) < names.size();
    return named ? names[static_cast<size_t>(portKind)] : "";
}

const CommandDefinition* DefinitionOf(Command command) {
    if (ChangesProfile(command))
        command = Command::ConfigShow;
    if (command == Command::RecordsPrune)
        command = Command::Records;
    for (const CommandDefinition& definition : kCommands) {
        if (definition.command == command)
            return &definition;
    }
    return nullptr;
}

bool ChangesProfile(Command command) {
    return std::any_of(
        std::begin(kConfigSettings), std::end(kConfigSettings),
        [command](const ConfigSetting& setting) { return setting.command == command; });
}

std::optional<std::string> CommandUseProblem(const Invocation& invocation) {
    if (std::optional<std::string> problem = OutputProblem(invocation))
        return problem;
    // Run options hold for one run; a change written to the profile must not mix them in.
    if (ChangesProfile(invocation.command) && invocation.overrides.Any())
        return "--host, --type and --port cannot be used with a config change";
    return RunOptionProblem(invocation);
}

bool WritesParameters(Command command) {
    return command == Command::PutParams || command == Command::RestoreParams;
}

bool TalksToMachine(Command command) {
    const CommandDefinition* definition = DefinitionOf(command);
    return definition != nullptr && definition->talksToMachine;
}

std::string CommandWord(Command command) {
    const CommandDefinition* definition = DefinitionOf(command);
    if (definition == nullptr || definition->operands == Operands::kConfig)
        return "";
    return definition->word;
}

}  // namespace kelo::cli
