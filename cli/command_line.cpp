#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <memory>

#include "cli/commands.h"
#include "cli/option_checks.h"
#include "platform/code_page.h"
#include "platform/help_layout.h"
#include "platform/host_address.h"
#include "platform/shown_text.h"
#include "records/record.h"

namespace kelo::cli {
namespace {

// An option whose text its own parser reads (CLI11's would take "010" as octal), the value kept
// once the option's check let the text pass.
template <class Value>
CLI::Option* AddParsedOption(CLI::App& app, const std::string& name, std::optional<Value>& into,
                             std::optional<Value> (*parse)(const std::string&),
                             const std::string& help) {
    return app.add_option_function<std::string>(
        name, [&into, parse](const std::string& text) { into = parse(text); }, help);
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

constexpr char kFooter[] =
    "With --hosts, FILE holds a host a line, optionally followed by its type 1 to 4;\n"
    "-o then names each host's file, with {host} standing for the host.\n"
    "\n"
    "Only config changes the profile. Messages go to standard error.\n"
    "Exit status: 0 done, 1 the operation failed (for a host list: any host;\n"
    "discover: no machine found; also a result that could not be written),\n"
    "2 a usage error, 130 cancelled with Ctrl-C, 143 stopped by SIGTERM,\n"
    "129 stopped by SIGHUP.";

// The operands a command's line of the help shows, from its definition.
std::string OperandsOf(const CLI::App& command) {
    for (const CommandDefinition& definition : CommandDefinitions()) {
        if (command.get_name() == definition.word)
            return definition.operands;
    }
    return "";
}

// kelo-cli's command line as CLI11 parses it: the run options on the program, which may also
// follow the command, and a subcommand for each command with its operands and own options,
// bound to the invocation's fields. What CLI11 cannot say is checked in Check().
class CommandLineParser {
  public:
    CommandLineParser() {
        app_.formatter(std::make_shared<platform::HelpLayout>(OperandsOf));
        app_.footer(kFooter);
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
        result.ok = true;
        result.invocation.command = Command::Resume;
        result.invocation.resumeRun = invocation_.resumeRun;
        result.invocation.recordsPath = invocation_.recordsPath;
        result.invocation.showProgress = invocation_.showProgress;
        result.invocation.rollout = invocation_.rollout;
        return result;
    }

    void AddRunOptions() {
        app_.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app_.set_help_flag("-h,--help", "show this text");
        app_.set_version_flag("--version", "", "show the version");
        app_.fallthrough();  // a command hands the run options that follow it to the program
        app_.require_subcommand(0, 1);  // a word that is no command is named as unexpected
        RunOptions& run = invocation_;
        RunOverrides& overrides = run.overrides;
        host_ = app_.add_option("--host", overrides.host, "use this host for this run only")
                    ->type_name("HOST");
        app_.add_option("--type", overrides.machineTypeIndex,
                        "use machine type N for this run only")
            ->transform(MachineTypeToIndex())
            ->type_name("N");
        app_.add_option("--port", overrides.portKind, "use this port kind for this run only")
            ->transform(PortKindByName())
            ->type_name("KIND");
        app_.add_flag_callback(
            "--no-progress", [&run] { run.showProgress = false; }, "draw no progress line");
        app_.add_option("--trace", run.traceFile,
                        "append a protocol trace to FILE (- standard error)")
            ->type_name("FILE")
            ->check(FileName());
        app_.add_option("--pcap", run.captureFile, "write the network traffic to FILE as a capture")
            ->type_name("FILE")
            ->check(FileName());
        app_.add_option("--encoding", run.encoding,
                        "show reports converted from code page NAME (CP932, ...)")
            ->type_name("NAME")
            ->check(CLI::Validator(
                [](std::string& name) -> std::string {
                    return platform::CodePage::Named(name) ? "" : "unknown encoding '" + name + "'";
                },
                ""));
        app_.add_option("--timeout", run.timeoutSeconds,
                        "cancel the run after SECONDS (0: never; --hosts: 300)")
            ->check(Within(0, kLongestRunTimeout))
            ->type_name("SECONDS");
        CLI::Option* hostList =
            app_.add_option("--hosts", run.hostList,
                            "run the command for every host in FILE (- standard input)")
                ->type_name("FILE")
                ->check(FileName())
                ->excludes(host_);
        app_.add_option("--jobs", run.jobs, "run up to N hosts at once (1 to 64, default 8)")
            ->check(Within(1, kMostJobs))
            ->type_name("N")
            ->needs(hostList);
        AddParsedOption(app_, "--canary", run.rollout.canary, ParseHostCount,
                        "run the first N hosts alone, the rest only if all of them succeed "
                        "(--hosts, --resume)")
            ->check(HostCount())
            ->type_name("N");
        AddParsedOption(app_, "--max-fail", run.rollout.maxFail, ParseFailBudget,
                        "start no further host once more than N hosts (P% of them) failed "
                        "(--hosts, --resume)")
            ->check(FailBudgetText())
            ->type_name("N|P%");
        app_.add_flag("--json", run.json, "write each result to standard output as a JSON line");
        app_.add_option("--progress-fd", run.progressFd,
                        "write the progress in percent to descriptor FD, a line each")
            ->check(Within(0, INT_MAX))
            ->type_name("FD");
        app_.add_option("--records", run.recordsPath, "keep the service records in FILE")
            ->type_name("FILE")
            ->check(FileName());
        app_.add_flag("--no-records", run.noRecords, "keep no record of this run");
        app_.add_flag("--no-backup", run.noBackup,
                      "write parameters without first keeping the machine's set as a backup");
        resume_ = app_.add_option("--resume", run.resumeRun,
                                  "run a host list's command again for its hosts that did not "
                                  "succeed (RUN: a run id, or last)")
                      ->type_name("RUN")
                      ->check(RunId());
        // Where get-report, open-report, get-params and show write; their lines in the help
        // name it.
        app_.add_option("-o", run.output)->type_name("FILE")->check(FileName());
    }

    // The command's subcommand; a command of its own below it (config port, records prune)
    // names the command first, so the deepest one given is the command that runs.
    void AddCommand(const CommandDefinition& definition) {
        CLI::App* command = app_.add_subcommand(definition.word, definition.help);
        command->callback([this, word = definition.command] {
            if (invocation_.command == Command::Help)
                invocation_.command = word;
        });
        if (definition.addOptions != nullptr)
            definition.addOptions(*command, invocation_);
    }

    // restore-params [HOST] [RECORD]: a lone word of digits is a RECORD, since no host is
    // written as digits alone; HOST then stands for --host.
    std::optional<Problem> RestoreProblem() {
        Invocation& run = invocation_;
        if (run.restore.record.empty() && records::RecordNumberOf(run.host)) {
            run.restore.record = run.host;
            run.host.clear();
        }
        if (!run.restore.record.empty() && !records::RecordNumberOf(run.restore.record))
            return Problem{"restore-params needs a record number, not '" +
                           platform::ShownText(run.restore.record) + "'"};
        if (run.host.empty())
            return std::nullopt;
        if (auto problem = HostProblem(run.host, "restore-params needs a host name"))
            return problem;
        if (run.overrides.host)
            return Problem{"restore-params takes HOST or --host, not both"};
        run.overrides.host = run.host;
        return std::nullopt;
    }

    // The rules CLI11 cannot say: host names, restore-params' words, the subnets as a whole,
    // and how the command goes with the run options.
    std::optional<Problem> Check() {
        Invocation& run = invocation_;
        if (host_->count() > 0) {
            const std::string host = run.overrides.host.value_or("");
            if (auto problem = HostProblem(host, "--host needs a host name"))
                return problem;
        }
        if (run.command == Command::Restart && !run.host.empty()) {
            if (auto problem = HostProblem(run.host, "restart needs a host name"))
                return problem;
        }
        if (run.command == Command::ConfigAddHost) {
            if (auto problem =
                    HostProblem(run.config.host, "a host name cannot hold control characters"))
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
        DiscoverOptions& options = invocation_.discover;
        for (const std::string& subnet : options.subnetTexts) {
            const std::string address = subnet.substr(0, subnet.find('/'));
            if (std::optional<std::string> refusal = platform::RefusedHostForm(address))
                return Problem{platform::ShownText(*refusal), false};
            const std::optional<discover::AddressBlock> block = discover::ParseAddressBlock(subnet);
            if (!block)
                return Problem{"--subnet needs an IPv4 block such as 192.0.2.0/24, not '" + subnet +
                               "'"};
            options.subnets.push_back(*block);
        }
        if (!discover::HostAddresses(options.subnets)) {
            return Problem{"--subnet covers more than " +
                           std::to_string(discover::kMaxProbedAddresses) + " addresses in all"};
        }
        return std::nullopt;
    }

    CLI::App app_{"Services a machine from the terminal, with the settings of the Kelo profile.",
                  "kelo-cli"};
    Invocation invocation_;
    CLI::Option* host_ = nullptr;
    CLI::Option* resume_ = nullptr;
};

std::vector<std::string> OptionNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* option : app.get_options()) {
        if (!option->get_positional())
            names.push_back(option->get_name());
    }
    return names;
}

// The words of a command and of the commands below it; their help flags are the program's.
void AddCommandWords(const CLI::App& command, CommandLineWords& words) {
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_positional())
            words.operands[command.get_name()].push_back(option->get_name());
        if (option->get_positional() || option == command.get_help_ptr())
            continue;
        words.commandOptions[command.get_name()].push_back(option->get_name());
        if (option->get_items_expected_max() != 0)
            words.valuedOptions.insert(option->get_name());
    }
    for (const CLI::App* each : command.get_subcommands({})) {
        words.subcommands[command.get_name()].push_back(each->get_name());
        AddCommandWords(*each, words);
    }
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLineParser parser;
    return parser.Parse(arguments);
}

CommandLineWords KnownWords() {
    const CommandLineParser parser;
    const CLI::App& app = parser.App();
    CommandLineWords words;
    words.runOptions = OptionNames(app);
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_items_expected_max() != 0)
            words.valuedOptions.insert(option->get_name());
    }
    for (const CLI::App* command : app.get_subcommands({})) {
        words.commands.push_back(command->get_name());
        AddCommandWords(*command, words);
    }
    return words;
}

std::string UsageText() {
    const CommandLineParser parser;
    return parser.App().help();
}

}  // namespace kelo::cli
