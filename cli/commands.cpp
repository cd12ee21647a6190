#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>

#include "cli/discover_command.h"
#include "cli/host_list.h"
#include "cli/operations.h"
#include "cli/option_checks.h"
#include "cli/records_commands.h"
#include "cli/session.h"
#include "link/settings.h"
#include "records/words.h"

namespace kelo::cli {
namespace {

// The longest discover --timeout: ten minutes.
constexpr int kLongestTimeoutMs = 600000;
// The longest --community; a request must keep one-octet lengths.
constexpr size_t kLongestCommunity = 64;

// The word of a command the records keep, as the records spell it (each word is a literal, so
// its text ends in a null).
constexpr const char* Recorded(records::Operation operation) {
    return records::OperationWord(operation).data();
}

void AddFile(CLI::App& command, Invocation& invocation) {
    command.add_option("FILE", invocation.file)->required();
}

void AddRestartHost(CLI::App& command, Invocation& invocation) {
    command.add_option("HOST", invocation.host);
}

// --check and --verify of every writing command; --check writes nothing to verify.
void AddCheckAndVerify(CLI::App& command, Invocation& invocation) {
    WriteOptions& write = invocation.write;
    CLI::Option* check =
        command.add_flag("--check", write.check,
                         "read what the write needs and say what it would do; write nothing");
    command
        .add_flag("--verify", write.verify,
                  "after the write, check that the machine answers again (and holds the set)")
        ->excludes(check);
}

// --if-changed and --diff of the parameter writes.
void AddParameterWriteOptions(CLI::App& command, Invocation& invocation) {
    AddCheckAndVerify(command, invocation);
    WriteOptions& write = invocation.write;
    command.add_flag("--if-changed", write.ifChanged,
                     "write nothing when the machine holds the set already (result unchanged)");
    command.add_flag("--diff", write.diff,
                     "show the byte ranges where the machine's set and the new one differ");
}

void AddPutParamsOptions(CLI::App& command, Invocation& invocation) {
    AddFile(command, invocation);
    AddParameterWriteOptions(command, invocation);
}

void AddUpgradeOptions(CLI::App& command, Invocation& invocation) {
    AddFile(command, invocation);
    AddCheckAndVerify(command, invocation);
}

// restore-params [HOST] [RECORD]: a lone word is told apart after the parse, since a RECORD
// is a number and no host is written as digits alone.
void AddRestoreWords(CLI::App& command, Invocation& invocation) {
    command.add_option("HOST", invocation.host);
    command.add_option("RECORD", invocation.restore.record);
    AddParameterWriteOptions(command, invocation);
}

// The settings config changes, each a command of its own below config.
constexpr std::pair<const char*, Command> kConfigSettings[] = {
    {"port", Command::ConfigPort},
    {"type", Command::ConfigType},
    {"add-host", Command::ConfigAddHost},
    {"select-host", Command::ConfigSelectHost},
    {"delete-host", Command::ConfigDeleteHost},
};

// config [SETTING VALUE]: each setting's callback names the change, and its operand is bound
// to the change's field for it.
void AddConfigSettings(CLI::App& config, Invocation& invocation) {
    config.require_subcommand(0, 1);
    ConfigChange& change = invocation.config;
    const auto setting = [&config, &invocation](Command command) {
        const char* word =
            std::find_if(std::begin(kConfigSettings), std::end(kConfigSettings),
                         [command](const auto& each) { return each.second == command; })
                ->first;
        CLI::App* app = config.add_subcommand(word);
        app->callback([&invocation, command] { invocation.command = command; });
        return app;
    };
    setting(Command::ConfigPort)
        ->add_option("KIND", change.portKind)
        ->required()
        ->option_text("network|parallel|usb")
        ->transform(PortKindByName());
    setting(Command::ConfigType)
        ->add_option("N", change.typeIndex)
        ->required()
        ->option_text("1|2|3|4")
        ->transform(MachineTypeToIndex());
    setting(Command::ConfigAddHost)->add_option("HOST", change.host)->required();
    for (const Command command : {Command::ConfigSelectHost, Command::ConfigDeleteHost}) {
        setting(command)->add_option("INDEX", change.index)->required()->check(Within(0, INT_MAX));
    }
}

const CLI::Validator kCommunityText(
    [](std::string& text) -> std::string {
        if (text.empty() || text.size() > kLongestCommunity)
            return "needs a text of 1 to " + std::to_string(kLongestCommunity) + " bytes";
        return "";
    },
    "");

// --subnet's blocks are read after the parse, where their forms are checked as a whole.
void AddDiscoverOptions(CLI::App& discover, Invocation& invocation) {
    DiscoverOptions& options = invocation.discover;
    discover
        .add_option("--subnet", options.subnetTexts, "probe every host address of this IPv4 block")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false)
        ->type_name("CIDR");
    discover.add_option("--timeout", options.timeoutMs, "wait this long for answers")
        ->check(Within(0, kLongestTimeoutMs))
        ->type_name("MS")
        ->capture_default_str();
    discover.add_option("--community", options.community, "the SNMP community")
        ->type_name("TEXT")
        ->check(kCommunityText)
        ->capture_default_str();
    discover
        .add_option("--rate", options.rate,
                    "start at most N addresses a second (their resends come on top)")
        ->check(Within(1, discover::kMaxRate))
        ->type_name("N")
        ->capture_default_str();
}

void AddHistoryOptions(CLI::App& history, Invocation& invocation) {
    HistoryOptions& options = invocation.history;
    history.add_option("HOST", options.host);
    history.add_option("--since", options.since, "list from DATE on")->type_name("DATE");
    history.add_option("--operation", options.operation, "list only this operation")
        ->type_name("NAME");
    history.add_option("--until", options.until, "list up to the end of DATE")->type_name("DATE");
    history
        .add_option("--result", options.result,
                    "list only operations that ended so (ok, failed, cancelled, timed-out)")
        ->check(OneOf(
            std::vector<std::string>(records::kResultWords.begin(), records::kResultWords.end())))
        ->type_name("RESULT");
    history
        .add_option("--run", options.run,
                    "list only the operations of a host list's run (a run id, or last)")
        ->check(RunId())
        ->type_name("RUN");
    history
        .add_option("--file", options.file,
                    "list only the operations that used a file: its SHA-256, or its name or the "
                    "name's last part")
        ->check(FileName())
        ->type_name("NAME|SHA256");
    history.add_flag("--csv", options.csv, "write the list as CSV (RFC 4180), not as a table");
}

void AddRecord(CLI::App& show, Invocation& invocation) {
    show.add_option("RECORD", invocation.show.record)->required();
}

void AddCompared(CLI::App& compare, Invocation& invocation) {
    compare.add_option("A", invocation.compare.first)->required();
    compare.add_option("B", invocation.compare.second)->required();
    compare.add_flag("--all", invocation.compare.all,
                     "show every changed range of two parameter sets");
}

// A count as written: decimal digits only, so that "0x10", "+5" or " 5" is not read as a number
// it does not show.
const CLI::Validator kDigitsOnly(
    [](std::string& text) -> std::string {
        const bool digits =
            !text.empty() && text.size() <= 9 &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        return digits ? "" : "needs a whole number of days, not '" + text + "'";
    },
    "");

// records [prune --older-than DAYS [--include-backups]].
void AddPrune(CLI::App& records, Invocation& invocation) {
    records.require_subcommand(0, 1);
    CLI::App* prune = records.add_subcommand("prune", "remove the older records");
    prune->callback([&invocation] { invocation.command = Command::RecordsPrune; });
    prune
        ->add_option("--older-than", invocation.prune.olderThanDays,
                     "remove the operations started more than DAYS ago")
        ->required()
        ->check(kDigitsOnly)
        ->check(Within(0, INT_MAX / 2))
        ->type_name("DAYS");
    prune->add_flag("--include-backups", invocation.prune.includeBackups,
                    "remove each machine's newest backup too when it is that old");
}

int RunHistoryCommand(const SessionParts& session, const Invocation& invocation) {
    return RunHistory(session.console, invocation);
}

int RunShowCommand(const SessionParts& session, const Invocation& invocation) {
    return RunShow(session.console, invocation);
}

int RunCompareCommand(const SessionParts& session, const Invocation& invocation) {
    return RunCompare(session.console, invocation);
}

int RunRecordsCommand(const SessionParts& session, const Invocation& invocation) {
    if (invocation.command == Command::RecordsPrune)
        return RunRecordsPrune(session.console, invocation);
    return RunRecordsSummary(session.console, invocation);
}

int RunDiscoverCommand(const SessionParts& session, const Invocation& invocation) {
    return RunDiscover(session.console, invocation, session.dialog, session.progress);
}

constexpr CommandDefinition kCommands[] = {
    {.word = Recorded(records::Operation::GetReport),
     .command = Command::GetReport,
     .operands = "[-o FILE]",
     .help = "read the machine's service report; without -o the text goes to standard output; a "
             "FILE ending in \"kel\" is saved as a report file, one ending in \"txt\" as text",
     .output = OutputRule::kOptional,
     .talksToMachine = true,
     .progressLabel = "Get Report",
     .operation = RunGetReport},
    {.word = "open-report",
     .command = Command::OpenReport,
     .operands = "FILE [-o FILE]",
     .help = "read a report file; print its text or save it",
     .output = OutputRule::kOptional,
     .addOptions = AddFile,
     .operation = RunOpenReport},
    {.word = Recorded(records::Operation::GetParams),
     .command = Command::GetParams,
     .operands = "-o FILE",
     .help = "read the parameter set into a parameter file",
     .output = OutputRule::kRequired,
     .talksToMachine = true,
     .progressLabel = "Get Parameters",
     .operation = RunGetParams},
    {.word = Recorded(records::Operation::PutParams),
     .command = Command::PutParams,
     .operands = "FILE",
     .help = "write a parameter file into the machine (it restarts); the records keep the "
             "machine's set from just before as its backup",
     .talksToMachine = true,
     .writesParameters = true,
     .progressLabel = "Put Parameters",
     .addOptions = AddPutParamsOptions,
     .operation = RunPutParams},
    {.word = Recorded(records::Operation::RestoreParams),
     .command = Command::RestoreParams,
     .operands = "[HOST] [RECORD]",
     .help = "write a kept parameter set back into the machine (default: the newest backup of "
             "HOST, default the selected host), with a backup of its own first",
     .talksToMachine = true,
     .writesParameters = true,
     .progressLabel = "Put Parameters",
     .addOptions = AddRestoreWords,
     .operation = RunRestoreParams},
    {.word = Recorded(records::Operation::Upgrade),
     .command = Command::Upgrade,
     .operands = "FILE",
     .help = "upgrade the firmware from FILE (name ending in \"rfw\")",
     .talksToMachine = true,
     .progressLabel = "Firmware Upgrade",
     .addOptions = AddUpgradeOptions,
     .operation = RunUpgrade},
    {.word = Recorded(records::Operation::Restart),
     .command = Command::Restart,
     .operands = "[HOST]",
     .help = "restart a machine's network interface (default: the selected host)",
     .talksToMachine = true,
     .progressLabel = "Restart",
     .addOptions = AddRestartHost,
     .operation = RunRestart},
    {.word = "config",
     .command = Command::ConfigShow,
     .help = "show the port kind, machine type and hosts",
     .addOptions = AddConfigSettings,
     .run = RunConfig},
    {.word = Recorded(records::Operation::Discover),
     .command = Command::Discover,
     .operands = "[--subnet CIDR]... [OPTIONS]",
     .help = "find the machines on the network; without --subnet by a broadcast on every local "
             "network",
     .writesJson = true,
     .progressLabel = "Discover",
     .addOptions = AddDiscoverOptions,
     .run = RunDiscoverCommand},
    {.word = "history",
     .command = Command::History,
     .operands = "[HOST] [OPTIONS]",
     .help = "list the kept operations, newest first (with --json as JSON lines, with --csv as "
             "CSV)",
     .writesJson = true,
     .addOptions = AddHistoryOptions,
     .run = RunHistoryCommand},
    {.word = "show",
     .command = Command::Show,
     .operands = "RECORD [-o FILE]",
     .help = "tell what a record was and every file it used (role, name, size, SHA-256); print "
             "the report it kept, or save its report or parameter set as a file",
     .output = OutputRule::kOptional,
     .addOptions = AddRecord,
     .run = RunShowCommand},
    {.word = "compare",
     .command = Command::Compare,
     .operands = "A B [--all]",
     .help = "compare two reports or parameter sets, each a record or a file (of two sets the "
             "first 100 changed ranges, --all every one); exit 0 equal, 1 different, 2 trouble",
     .addOptions = AddCompared,
     .run = RunCompareCommand},
    {.word = "records",
     .command = Command::Records,
     .operands = "[prune --older-than DAYS]",
     .help = "show where the records are and what they hold, or remove the older ones",
     .addOptions = AddPrune,
     .run = RunRecordsCommand},
};

// The words of the commands that satisfy the rule, as a sentence lists them: "a, b and c".
template <typename Rule>
std::string CommandList(Rule rule) {
    std::vector<std::string> words;
    for (const CommandDefinition& definition : kCommands) {
        if (rule(definition))
            words.emplace_back(definition.word);
    }
    std::string list;
    for (size_t i = 0; i < words.size(); ++i)
        list += (i == 0 ? "" : i + 1 == words.size() ? " and " : ", ") + words[i];
    return list;
}

bool TalksToMachine(const CommandDefinition& definition) {
    return definition.talksToMachine;
}

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

// What --hosts, --json, --progress-fd, --timeout, --canary and --max-fail go with. A host list runs
// each host as a single run of the network port, so the options that choose one host or port do not
// fit.
std::optional<std::string> RunOptionProblem(const Invocation& run) {
    const CommandDefinition& definition = *DefinitionOf(run.command);
    const bool machine = definition.talksToMachine;
    const bool list = run.hostList.has_value();
    if (list && !machine)
        return "--hosts goes with " + CommandList(TalksToMachine);
    if (run.json && !machine && !definition.writesJson) {
        return "--json goes with " + CommandList([](const CommandDefinition& each) {
                   return each.talksToMachine || each.writesJson;
               });
    }
    if (run.noBackup && !definition.writesParameters) {
        return "--no-backup goes with " +
               CommandList([](const CommandDefinition& each) { return each.writesParameters; });
    }
    // Before discover, --timeout would be read as the run's seconds, not discover's
    // milliseconds.
    if (run.timeoutSeconds && !machine) {
        return "--timeout SECONDS goes with " + CommandList(TalksToMachine) +
               " (discover takes --timeout MS after the command)";
    }
    if (run.rollout.canary && !list)
        return "--canary goes with --hosts or --resume";
    if (run.rollout.maxFail && !list)
        return "--max-fail goes with --hosts or --resume";
    if (!list)
        return std::nullopt;
    const std::string word = definition.word;
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
    return std::any_of(std::begin(kConfigSettings), std::end(kConfigSettings),
                       [command](const auto& setting) { return setting.second == command; });
}

std::optional<std::string> CommandUseProblem(const Invocation& invocation) {
    if (std::optional<std::string> problem = OutputProblem(invocation))
        return problem;
    // Run options hold for one run; a change written to the profile must not mix them in.
    if (ChangesProfile(invocation.command) && invocation.overrides.Any())
        return "--host, --type and --port cannot be used with a config change";
    // --json and --csv are both history's ways of writing the list.
    if (invocation.json && invocation.history.csv)
        return "--csv and --json exclude each other";
    return RunOptionProblem(invocation);
}

bool WritesParameters(Command command) {
    const CommandDefinition* definition = DefinitionOf(command);
    return definition != nullptr && definition->writesParameters;
}

bool TalksToMachine(Command command) {
    const CommandDefinition* definition = DefinitionOf(command);
    return definition != nullptr && definition->talksToMachine;
}

std::string CommandWord(Command command) {
    const CommandDefinition* definition = DefinitionOf(command);
    if (definition == nullptr || definition->command == Command::ConfigShow)
        return "";
    return definition->word;
}

}  // namespace kelo::cli
