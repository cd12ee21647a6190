#include "cli/command_line.h"

#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <climits>
#include <map>
#include <sstream>

#include "link/settings.h"
#include "platform/code_page.h"
#include "platform/host_address.h"
#include "platform/shown_text.h"
#include "records/record.h"
#include "records/words.h"

namespace kelo::cli {
namespace {

// The longest discover --timeout: ten minutes.
constexpr int kLongestTimeoutMs = 600000;
// The longest --community; a request must keep one-octet lengths.
constexpr size_t kLongestCommunity = 64;

// A check whose description stays out of the help, which names each value by its own word.
CLI::Validator Within(int low, int high) {
    return CLI::Range(low, high).description("");
}

CLI::Validator OneOf(const std::vector<std::string>& words) {
    return CLI::IsMember(words).description("");
}

// A file name: never empty, and never --help or --version, so that a line whose option lost
// its value cannot write a file named after the word that followed.
const CLI::Validator kFileName(
    [](std::string& name) -> std::string {
        if (name.empty())
            return "needs a file name";
        if (name == "--help" || name == "-h" || name == "--version")
            return "needs a file name, not " + name;
        return "";
    },
    "");

// A run id as NewRunId makes them ("20261209-084501-3fa2"), or "last".
const CLI::Validator kRunId(
    [](std::string& run) -> std::string {
        const bool idForm =
            !run.empty() && run.size() <= 40 && std::all_of(run.begin(), run.end(), [](char c) {
                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
            });
        return idForm || run == "last" ? "" : "needs a run id or last";
    },
    "");

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

// --canary N and --max-fail N|P%, read by their own rules.
const CLI::Validator kHostCount(
    [](std::string& text) -> std::string {
        return ParseHostCount(text) ? "" : "needs a whole number of hosts, not '" + text + "'";
    },
    "");
const CLI::Validator kFailBudget(
    [](std::string& text) -> std::string {
        return ParseFailBudget(text)
                   ? ""
                   : "needs a number of hosts or a percentage up to 100%, not '" + text + "'";
    },
    "");

const CLI::Validator kCodePageName(
    [](std::string& name) -> std::string {
        return platform::CodePage::Named(name) ? "" : "unknown encoding '" + name + "'";
    },
    "");

const CLI::Validator kCommunityText(
    [](std::string& text) -> std::string {
        if (text.empty() || text.size() > kLongestCommunity)
            return "needs a text of 1 to " + std::to_string(kLongestCommunity) + " bytes";
        return "";
    },
    "");

// A host name goes into the profile as one line, so a line break or other control
// character would break the profile apart; such names are refused.
bool IsUsableHostName(const std::string& host) {
    return !host.empty() && std::none_of(host.begin(), host.end(),
                                         [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

// What was wrong with the command line. A value in a form that would reach another machine
// names that form itself, so the pointer to --help stays off.
struct Problem {
    std::string text;
    bool helpHint = true;
};

// The refusal of a host name: not one line of text, or (shown through the filter of machine
// texts, since the form may carry anything after white space) a numeric form other than a
// dotted quad.
std::optional<Problem> HostProblem(const std::string& host, const std::string& unusable) {
    if (!IsUsableHostName(host))
        return Problem{unusable};
    if (std::optional<std::string> refusal = platform::RefusedHostForm(host))
        return Problem{platform::ShownText(*refusal), false};
    return std::nullopt;
}

// kelo-cli's command line as CLI11 parses it: the run options on the program, which may also
// follow the command, and a subcommand for each command with its operands and own options.
class CommandLineParser {
  public:
    CommandLineParser() {
        AddRunOptions();
        for (const CommandDefinition& definition : CommandDefinitions())
            AddCommand(definition);
    }

    ParseResult Parse(const std::vector<std::string>& arguments) {
        ParseResult result;
        try {
            app_.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
        } catch (const CLI::CallForHelp&) {
            return Answer(Command::Help);
        } catch (const CLI::CallForVersion&) {
            return Answer(Command::Version);
        } catch (const CLI::ParseError& error) {
            result.error = error.what();
            return result;
        }
        if (resume_->count() > 0)
            return ResumeAnswer();
        if (app_.get_subcommands().empty()) {
            result.error = "no command given";
            return result;
        }
        Finish();
        if (std::optional<Problem> problem = Check()) {
            result.error = problem->text;
            result.helpHint = problem->helpHint;
            return result;
        }
        result.ok = true;
        result.invocation = invocation_;
        return result;
    }

    const CLI::App& App() const { return app_; }

  private:
    static ParseResult Answer(Command command) {
        ParseResult result;
        result.ok = true;
        result.invocation.command = command;
        return result;
    }

    // --resume: the run's own command and options are kept in the records; of this command
    // line only where the records are and whether a progress table is drawn count.
    ParseResult ResumeAnswer() {
        ParseResult result;
        if (!app_.get_subcommands().empty()) {
            result.error = "--resume takes no command: the run's own command runs again";
            return result;
        }
        for (const CLI::Option* option : app_.get_options()) {
            const std::string& name = option->get_name();
            const bool allowed = name == "--resume" || name == "--records" ||
                                 name == "--no-progress" || name == "--canary" ||
                                 name == "--max-fail";
            if (option->count() > 0 && !allowed) {
                result.error =
                    "--resume takes no option but --records, --no-progress, --canary and "
                    "--max-fail (" +
                    name + " is the run's own)";
                return result;
            }
        }
        TakeRollout(result.invocation.rollout);
        result.ok = true;
        result.invocation.command = Command::Resume;
        result.invocation.resumeRun = resumeRun_;
        result.invocation.recordsPath = invocation_.recordsPath;
        result.invocation.showProgress = !noProgress_;
        return result;
    }

    void AddRunOptions() {
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app_.set_help_flag("-h,--help");
        app_.set_version_flag("--version", "");
        app_.fallthrough();  // a command hands the run options that follow it to the program
        app_.require_subcommand(0, 1);  // a word that is no command is named as unexpected
        Invocation& run = invocation_;
        host_ = app_.add_option("--host", hostName_, "use this host for this run only")
                    ->type_name("HOST");
        type_ = app_.add_option("--type", typeNumber_, "use machine type N for this run only")
                    ->check(Within(1, 4))
                    ->type_name("N");
        port_ = app_.add_option("--port", portName_, "use this port kind for this run only")
                    ->check(OneOf(PortKindNames()))
                    ->type_name("KIND");
        app_.add_flag("--no-progress", noProgress_, "draw no progress line");
        app_.add_option("--trace", run.traceFile,
                        "append a protocol trace to FILE (- standard error)")
            ->type_name("FILE")
            ->check(kFileName);
        app_.add_option("--pcap", run.captureFile, "write the network traffic to FILE as a capture")
            ->type_name("FILE")
            ->check(kFileName);
        app_.add_option("--encoding", run.encoding,
                        "show reports converted from code page NAME (CP932, ...)")
            ->type_name("NAME")
            ->check(kCodePageName);
        timeout_ = app_.add_option("--timeout", timeoutSeconds_,
                                   "cancel the run after SECONDS (0: never; --hosts: 300)")
                       ->check(Within(0, kLongestRunTimeout))
                       ->type_name("SECONDS");
        hostList_ = app_.add_option("--hosts", hostListFile_,
                                    "run the command for every host in FILE (- standard input)")
                        ->type_name("FILE")
                        ->check(kFileName)
                        ->excludes(host_);
        jobs_ =
            app_.add_option("--jobs", jobCount_, "run up to N hosts at once (1 to 64, default 8)")
                ->check(Within(1, kMostJobs))
                ->type_name("N")
                ->needs(hostList_);
        canary_ = app_.add_option("--canary", canaryText_,
                                  "run the first N hosts alone, the rest only if all of them "
                                  "succeed (--hosts, --resume)")
                      ->check(kHostCount)
                      ->type_name("N");
        maxFail_ = app_.add_option("--max-fail", maxFailText_,
                                   "start no further host once more than N hosts (P% of them) "
                                   "failed (--hosts, --resume)")
                       ->check(kFailBudget)
                       ->type_name("N|P%");
        app_.add_flag("--json", run.json, "write each result to standard output as a JSON line");
        app_.add_option("--progress-fd", run.progressFd,
                        "write the progress in percent to descriptor FD, a line each")
            ->check(Within(0, INT_MAX))
            ->type_name("FD");
        app_.add_option("--records", run.recordsPath, "keep the service records in FILE")
            ->type_name("FILE")
            ->check(kFileName);
        app_.add_flag("--no-records", run.noRecords, "keep no record of this run");
        app_.add_flag("--no-backup", run.noBackup,
                      "write parameters without first keeping the machine's set as a backup");
        resume_ = app_.add_option("--resume", resumeRun_,
                                  "run a host list's command again for its hosts that did not "
                                  "succeed (RUN: a run id, or last)")
                      ->type_name("RUN")
                      ->check(kRunId);
        // Where get-report, open-report and get-params write; the commands describe it.
        app_.add_option("-o", run.output)->type_name("FILE")->check(kFileName);
    }

    void AddCommand(const CommandDefinition& definition) {
        CLI::App* command = app_.add_subcommand(definition.word, definition.help);
        commands_[command] = definition.command;
        switch (definition.operands) {
            case Operands::kNone:
                break;
            case Operands::kFile:
                command->add_option("FILE", invocation_.file)->required();
                break;
            case Operands::kOptionalHost:
                restartHost_ = command->add_option("HOST", invocation_.host);
                break;
            case Operands::kConfig:
                AddConfigSettings(*command);
                break;
            case Operands::kHostFilter:
                command->add_option("HOST", invocation_.host);
                command->add_option("--since", invocation_.since, "list from DATE on")
                    ->type_name("DATE");
                command
                    ->add_option("--operation", invocation_.historyOperation,
                                 "list only this operation")
                    ->type_name("NAME");
                command->add_option("--until", invocation_.until, "list up to the end of DATE")
                    ->type_name("DATE");
                command
                    ->add_option("--result", invocation_.historyResult,
                                 "list only operations that ended so (ok, failed, cancelled, "
                                 "timed-out, skipped)")
                    ->check(OneOf(std::vector<std::string>(records::kResultWords.begin(),
                                                           records::kResultWords.end())))
                    ->type_name("RESULT");
                command
                    ->add_option(
                        "--run", invocation_.historyRun,
                        "list only the operations of a host list's run (a run id, or last)")
                    ->check(kRunId)
                    ->type_name("RUN");
                command
                    ->add_option("--file", invocation_.historyFile,
                                 "list only the operations that used a file: its SHA-256, or its "
                                 "name or the name's last part")
                    ->check(kFileName)
                    ->type_name("NAME|SHA256");
                command->add_flag("--csv", invocation_.csv,
                                  "write the list as CSV (RFC 4180), not as a table");
                break;
            case Operands::kRecord:
                command->add_option("RECORD", invocation_.file)->required();
                break;
            case Operands::kTwoItems:
                command->add_option("A", invocation_.file)->required();
                command->add_option("B", invocation_.secondFile)->required();
                command->add_flag("--all", invocation_.compareAll,
                                  "show every changed range of two parameter sets");
                break;
            case Operands::kRecordsAction:
                AddPrune(*command);
                break;
            case Operands::kHostAndRecord:
                command->add_option("HOST", restoreFirst_);
                command->add_option("RECORD", restoreSecond_);
                break;
        }
        if (definition.command == Command::Discover)
            AddDiscoverOptions(*command);
    }

    void AddConfigSettings(CLI::App& config) {
        config.require_subcommand(0, 1);
        for (const ConfigSetting& setting : ConfigSettings()) {
            CLI::App* change = config.add_subcommand(setting.word);
            commands_[change] = setting.command;
            switch (setting.command) {
                case Command::ConfigPort:
                    change->add_option("KIND", portName_)
                        ->required()
                        ->check(OneOf(PortKindNames()));
                    break;
                case Command::ConfigType:
                    change->add_option("N", typeNumber_)->required()->check(Within(1, 4));
                    break;
                case Command::ConfigAddHost:
                    change->add_option("HOST", invocation_.host)->required();
                    break;
                default:
                    change->add_option("INDEX", invocation_.value)
                        ->required()
                        ->check(Within(0, INT_MAX));
                    break;
            }
        }
    }

    void AddPrune(CLI::App& records) {
        records.require_subcommand(0, 1);
        CLI::App* prune = records.add_subcommand("prune", "remove the older records");
        commands_[prune] = Command::RecordsPrune;
        prune
            ->add_option("--older-than", invocation_.olderThanDays,
                         "remove the operations started more than DAYS ago")
            ->required()
            ->check(kDigitsOnly)
            ->check(Within(0, INT_MAX / 2))
            ->type_name("DAYS");
        prune->add_flag("--include-backups", invocation_.pruneBackups,
                        "remove each machine's newest backup too when it is that old");
    }

    void AddDiscoverOptions(CLI::App& discover) {
        DiscoverOptions& options = invocation_.discover;
        discover.add_option("--subnet", subnets_, "probe every host address of this IPv4 block")
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

    // The chosen command, the deepest subcommand that was given.
    Command ChosenCommand() const {
        Command chosen = Command::Help;
        for (const auto& [app, command] : commands_) {
            const bool parent = command == Command::ConfigShow || command == Command::Records;
            if (app->parsed() && (chosen == Command::Help || !parent))
                chosen = command;
        }
        return chosen;
    }

    // Turns the values CLI11 bound into the invocation.
    void Finish() {
        Invocation& run = invocation_;
        run.command = ChosenCommand();
        run.showProgress = !noProgress_;
        if (host_->count() > 0)
            run.overrides.host = hostName_;
        if (hostList_->count() > 0)
            run.hostList = hostListFile_;
        if (jobs_->count() > 0)
            run.jobs = jobCount_;
        TakeRollout(run.rollout);
        if (timeout_->count() > 0)
            run.timeoutSeconds = timeoutSeconds_;
        if (type_->count() > 0)
            run.overrides.machineTypeIndex = typeNumber_ - 1;
        if (port_->count() > 0)
            run.overrides.portKind = PortKindFromName(portName_);
        if (run.command == Command::ConfigType)
            run.value = typeNumber_ - 1;
        if (run.command == Command::ConfigPort)
            run.value = PortKindFromName(portName_);
        if (run.command == Command::RestoreParams)
            TakeRestoreWords();
    }

    // --canary and --max-fail, whose values their checks took.
    void TakeRollout(RolloutLimits& rollout) const {
        if (canary_->count() > 0)
            rollout.canary = ParseHostCount(canaryText_);
        if (maxFail_->count() > 0)
            rollout.maxFail = ParseFailBudget(maxFailText_);
    }

    // restore-params [HOST] [RECORD]: a lone word of digits is a RECORD, since no host is
    // written as digits alone. The RECORD goes where show keeps its own.
    void TakeRestoreWords() {
        Invocation& run = invocation_;
        if (!restoreSecond_.empty()) {
            run.host = restoreFirst_;
            run.file = restoreSecond_;
        } else if (records::RecordNumberOf(restoreFirst_)) {
            run.file = restoreFirst_;
        } else {
            run.host = restoreFirst_;
        }
    }

    // The HOST and RECORD of restore-params; HOST then stands for --host.
    std::optional<Problem> RestoreProblem() {
        Invocation& run = invocation_;
        if (!run.file.empty() && !records::RecordNumberOf(run.file))
            return Problem{"restore-params needs a record number, not '" +
                           platform::ShownText(run.file) + "'"};
        if (run.host.empty())
            return std::nullopt;
        if (auto problem = HostProblem(run.host, "restore-params needs a host name"))
            return problem;
        if (run.overrides.host)
            return Problem{"restore-params takes HOST or --host, not both"};
        run.overrides.host = run.host;
        return std::nullopt;
    }

    std::optional<Problem> Check() {
        const Invocation& run = invocation_;
        if (run.overrides.host) {
            if (auto problem = HostProblem(*run.overrides.host, "--host needs a host name"))
                return problem;
        }
        if (restartHost_->count() > 0) {
            if (auto problem = HostProblem(run.host, "restart needs a host name"))
                return problem;
        }
        if (run.command == Command::ConfigAddHost) {
            if (auto problem = HostProblem(run.host, "a host name cannot hold control characters"))
                return problem;
        }
        if (run.command == Command::RestoreParams) {
            if (std::optional<Problem> problem = RestoreProblem())
                return problem;
        }
        if (std::optional<Problem> problem = TakeSubnets())
            return problem;
        if (std::optional<std::string> problem = CommandUseProblem(run))
            return Problem{*problem};
        return std::nullopt;
    }

    // Every --subnet as an address block; together they may cover a bounded number of hosts.
    std::optional<Problem> TakeSubnets() {
        std::vector<discover::AddressBlock>& blocks = invocation_.discover.subnets;
        for (const std::string& subnet : subnets_) {
            const std::string address = subnet.substr(0, subnet.find('/'));
            if (std::optional<std::string> refusal = platform::RefusedHostForm(address))
                return Problem{platform::ShownText(*refusal), false};
            const std::optional<discover::AddressBlock> block = discover::ParseAddressBlock(subnet);
            if (!block)
                return Problem{"--subnet needs an IPv4 block such as 192.0.2.0/24, not '" + subnet +
                               "'"};
            blocks.push_back(*block);
        }
        if (!discover::HostAddresses(blocks)) {
            return Problem{"--subnet covers more than " +
                           std::to_string(discover::kMaxProbedAddresses) + " addresses in all"};
        }
        return std::nullopt;
    }

    CLI::App app_{"", "kelo-cli"};
    Invocation invocation_;
    std::map<const CLI::App*, Command> commands_;
    std::string hostName_, portName_, hostListFile_, resumeRun_, restoreFirst_, restoreSecond_;
    std::string canaryText_, maxFailText_;
    int typeNumber_ = 0, jobCount_ = 0, timeoutSeconds_ = 0;
    bool noProgress_ = false;
    std::vector<std::string> subnets_;
    CLI::Option *host_ = nullptr, *type_ = nullptr, *port_ = nullptr, *timeout_ = nullptr;
    CLI::Option *hostList_ = nullptr, *jobs_ = nullptr, *restartHost_ = nullptr;
    CLI::Option* resume_ = nullptr;
    CLI::Option *canary_ = nullptr, *maxFail_ = nullptr;
};

// Lays the words out after the prefix, starting a new indented line where the next word would
// pass the 80th column.
std::string Wrap(const std::string& prefix, const std::vector<std::string>& words, size_t indent) {
    constexpr size_t kWidth = 80;
    std::string text = prefix;
    size_t lineStart = 0;
    bool lineEmpty = prefix.size() <= indent;
    for (const std::string& word : words) {
        if (!lineEmpty && text.size() - lineStart + 1 + word.size() > kWidth) {
            text += '\n';
            lineStart = text.size();
            text += std::string(indent, ' ');
            lineEmpty = true;
        }
        if (!lineEmpty)
            text += ' ';
        text += word;
        lineEmpty = false;
    }
    return text + "\n";
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream stream(text);
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// A label padded to the column where its help starts, or on a line of its own when longer.
std::string HelpLine(const std::string& label, const std::string& help, size_t column) {
    std::string prefix = "  " + label;
    if (help.empty())
        return prefix + "\n";
    if (prefix.size() + 1 > column)
        return prefix + "\n" + Wrap(std::string(column, ' '), Words(help), column);
    prefix.resize(column, ' ');
    return Wrap(prefix, Words(help), column);
}

bool IsHelpOrVersion(const CLI::Option& option) {
    return option.get_name() == "--help" || option.get_name() == "--version";
}

// The heading, then a line for each described option of the app.
std::string OptionList(const std::string& heading, const CLI::App& app) {
    std::string text = heading;
    for (const CLI::Option* option : app.get_options()) {
        std::string help = option->get_description();
        if (help.empty() || IsHelpOrVersion(*option))
            continue;
        if (!option->get_default_str().empty())
            help += " (default " + option->get_default_str() + ")";
        const std::string value = option->get_type_name();
        text += HelpLine(option->get_name() + (value.empty() ? "" : " " + value), help, 20);
    }
    return text;
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineParser parser;
    return parser.Parse(arguments);
}

CommandLineWords KnownWords() {
    const CommandLineParser parser;
    CommandLineWords words;
    for (const CommandDefinition& definition : CommandDefinitions())
        words.commands.emplace_back(definition.word);
    for (const ConfigSetting& setting : ConfigSettings())
        words.configSettings.emplace_back(setting.word);
    for (const CLI::Option* option : parser.App().get_options())
        words.runOptions.push_back(option->get_name());
    for (const CLI::Option* option : parser.App().get_subcommand("discover")->get_options()) {
        if (!IsHelpOrVersion(*option))
            words.discoverOptions.push_back(option->get_name());
    }
    return words;
}

std::string UsageText() {
    CommandLineParser parser;
    const CLI::App& app = parser.App();
    std::vector<std::string> synopsis;
    for (const CLI::Option* option : app.get_options()) {
        const std::string value = option->get_type_name();
        if (!option->get_description().empty() && !IsHelpOrVersion(*option))
            synopsis.push_back("[" + option->get_name() + (value.empty() ? "" : " " + value) + "]");
    }
    synopsis.emplace_back("COMMAND [ARGS]");
    std::string text = Wrap("Usage: kelo-cli ", synopsis, 16) +
                       "\nServices a machine from the terminal, with the settings of the Kelo "
                       "profile.\n\nCommands:\n";
    for (const CommandDefinition& definition : CommandDefinitions()) {
        text += HelpLine(definition.usage, definition.help, 30);
        if (definition.operands != Operands::kConfig)
            continue;
        for (const ConfigSetting& setting : ConfigSettings())
            text += HelpLine(std::string("config ") + setting.word + " " + setting.value, "", 30);
    }
    text += "\n" + OptionList("Options:\n", app) + "  --help, --version\n\n" +
            OptionList("Options of discover:\n", *app.get_subcommand("discover")) + "\n" +
            OptionList("Options of history:\n", *app.get_subcommand("history")) +
            "\n"
            "With --hosts, FILE holds a host a line, optionally followed by its type 1 to 4;\n"
            "-o then names each host's file, with {host} standing for the host.\n"
            "\n"
            "Only config changes the profile. Messages go to standard error.\n"
            "Exit status: 0 done, 1 the operation failed (for a host list: any host;\n"
            "discover: no machine found; also a result that could not be written),\n"
            "2 a usage error, 130 cancelled with Ctrl-C, 143 stopped by SIGTERM,\n"
            "129 stopped by SIGHUP.\n";
    return text;
}

}  // namespace kelo::cli
