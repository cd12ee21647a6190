#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <map>
#include <span>

#include "cli/host_list.h"
#include "link/settings.h"
#include "platform/code_page.h"

namespace kelo::cli {
namespace {

// A whole decimal number from 0 to INT_MAX, nothing before or after it.
bool ParseIndex(const std::string& text, int& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && text[0] != '-' && error == std::errc() && stop == end;
}

// Machine type 1 to 4 as its stored index 0 to 3, or -1.
int TypeIndexFromText(const std::string& text) {
    int type = 0;
    if (!ParseIndex(text, type) || type < 1 || type > 4)
        return -1;
    return type - 1;
}

// A host name goes into the profile as one line, so a line break or other control
// character would break the profile apart; such names are refused.
bool IsUsableHostName(const std::string& host) {
    for (unsigned char c : host) {
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

// What an option does with one value it was given ("" for a flag, or when the value is
// missing); returns what was wrong with it.
using TakeValue = std::optional<std::string> (*)(const std::string& value, Invocation& invocation);

// One option of the command line. The parser, the usage line and the option list of the help
// are all built from these entries, so each option is described in one place.
struct OptionSpec {
    const char* name;       // as typed: "--host", "-o"
    const char* valueName;  // the word for its value in the help; nullptr for a flag
    const char* synopsis;   // its part of the usage line; nullptr when it is not shown there
    const char* help;       // its line in the option list; nullptr when it is not listed
    TakeValue take;
};

std::optional<std::string> TakeHost(const std::string& value, Invocation& invocation) {
    if (value.empty() || !IsUsableHostName(value))
        return "--host needs a host name";
    invocation.overrides.host = value;
    return std::nullopt;
}

std::optional<std::string> TakeType(const std::string& value, Invocation& invocation) {
    const int index = TypeIndexFromText(value);
    if (index < 0)
        return "--type must be 1, 2, 3 or 4";
    invocation.overrides.machineTypeIndex = index;
    return std::nullopt;
}

std::optional<std::string> TakePort(const std::string& value, Invocation& invocation) {
    const int kind = PortKindFromName(value);
    if (kind < 0)
        return "--port must be network, parallel or usb";
    invocation.overrides.portKind = kind;
    return std::nullopt;
}

std::optional<std::string> TakeNoProgress(const std::string&, Invocation& invocation) {
    invocation.showProgress = false;
    return std::nullopt;
}

std::optional<std::string> TakeTrace(const std::string& value, Invocation& invocation) {
    if (value.empty())
        return "--trace needs a file name";
    invocation.traceFile = value;
    return std::nullopt;
}

std::optional<std::string> TakeCapture(const std::string& value, Invocation& invocation) {
    if (value.empty())
        return "--pcap needs a file name";
    invocation.captureFile = value;
    return std::nullopt;
}

std::optional<std::string> TakeEncoding(const std::string& value, Invocation& invocation) {
    if (value.empty())
        return "--encoding needs an encoding name such as CP932";
    if (!platform::CodePage::Named(value))
        return "unknown encoding '" + value + "' for --encoding";
    invocation.encoding = value;
    return std::nullopt;
}

std::optional<std::string> TakeOutput(const std::string& value, Invocation& invocation) {
    if (value.empty())
        return "-o needs a file name";
    invocation.output = value;
    return std::nullopt;
}

std::optional<std::string> TakeHostList(const std::string& value, Invocation& invocation) {
    if (value.empty())
        return "--hosts needs a file name (- for standard input)";
    invocation.hostList = value;
    return std::nullopt;
}

std::optional<std::string> TakeJobs(const std::string& value, Invocation& invocation) {
    int jobs = 0;
    if (!ParseIndex(value, jobs) || jobs < 1 || jobs > kMostJobs)
        return "--jobs must be a number from 1 to " + std::to_string(kMostJobs);
    invocation.jobs = jobs;
    return std::nullopt;
}

// The longest --timeout: ten minutes.
constexpr int kLongestTimeoutMs = 600000;
// The longest --community; a request must keep one-octet lengths.
constexpr size_t kLongestCommunity = 64;

std::optional<std::string> TakeSubnet(const std::string& value, Invocation& invocation) {
    const std::optional<discover::AddressBlock> block = discover::ParseAddressBlock(value);
    if (!block)
        return "--subnet needs an IPv4 block such as 192.0.2.0/24, not '" + value + "'";
    std::vector<discover::AddressBlock>& subnets = invocation.discover.subnets;
    subnets.push_back(*block);
    if (!discover::HostAddresses(subnets)) {
        return "--subnet covers more than " + std::to_string(discover::kMaxProbedAddresses) +
               " addresses in all";
    }
    return std::nullopt;
}

std::optional<std::string> TakeTimeout(const std::string& value, Invocation& invocation) {
    int& timeout = invocation.discover.timeoutMs;
    if (!ParseIndex(value, timeout) || timeout > kLongestTimeoutMs)
        return "--timeout needs milliseconds from 0 to " + std::to_string(kLongestTimeoutMs);
    return std::nullopt;
}

std::optional<std::string> TakeRate(const std::string& value, Invocation& invocation) {
    int& rate = invocation.discover.rate;
    if (!ParseIndex(value, rate) || rate < discover::kMinRate || rate > discover::kMaxRate) {
        return "--rate needs probes a second from " + std::to_string(discover::kMinRate) + " to " +
               std::to_string(discover::kMaxRate);
    }
    return std::nullopt;
}

std::optional<std::string> TakeCommunity(const std::string& value, Invocation& invocation) {
    if (value.empty() || value.size() > kLongestCommunity)
        return "--community needs a text of 1 to " + std::to_string(kLongestCommunity) + " bytes";
    invocation.discover.community = value;
    return std::nullopt;
}

std::optional<std::string> TakeJson(const std::string&, Invocation& invocation) {
    invocation.json = true;
    return std::nullopt;
}

std::optional<std::string> TakeProgressFd(const std::string& value, Invocation& invocation) {
    if (!ParseIndex(value, invocation.progressFd))
        return "--progress-fd needs a descriptor number";
    return std::nullopt;
}

std::optional<std::string> TakeRunTimeout(const std::string& value, Invocation& invocation) {
    int seconds = 0;
    if (!ParseIndex(value, seconds) || seconds > kLongestRunTimeout)
        return "--timeout needs seconds from 0 to " + std::to_string(kLongestRunTimeout);
    invocation.timeoutSeconds = seconds;
    return std::nullopt;
}

constexpr OptionSpec kDiscoverOptions[] = {
    {"--subnet", "CIDR", "[--subnet CIDR]...",
     "probe every host address of this IPv4 block (repeatable)", TakeSubnet},
    {"--timeout", "MS", "[--timeout MS]", "wait this long for answers (default 1500)", TakeTimeout},
    {"--rate", "N", "[--rate N]", "probe N new addresses a second (default 1000)", TakeRate},
    {"--community", "TEXT", "[--community TEXT]", "the SNMP community (default \"public\")",
     TakeCommunity},
    {"--json", nullptr, "[--json]", "print one JSON object per machine a line", TakeJson},
};

// The options of the program: the run options hold for one run and are never saved; all of
// them may stand before or after the command.
constexpr OptionSpec kRunOptions[] = {
    {"--host", "HOST", "[--host HOST]", "use this host for this run only", TakeHost},
    {"--type", "N", "[--type 1|2|3|4]", "use machine type N for this run only", TakeType},
    {"--port", "KIND", "[--port network|parallel|usb]", "use this port kind for this run only",
     TakePort},
    {"--no-progress", nullptr, "[--no-progress]", "draw no progress line", TakeNoProgress},
    {"--trace", "FILE", "[--trace FILE]", "append a protocol trace to FILE (- standard error)",
     TakeTrace},
    {"--pcap", "FILE", "[--pcap FILE]", "write the network traffic to FILE as a capture",
     TakeCapture},
    {"--encoding", "NAME", "[--encoding NAME]",
     "show reports converted from code page NAME (CP932, ...)", TakeEncoding},
    {"--timeout", "SECONDS", "[--timeout SECONDS]",
     "cancel the run after SECONDS (0: never; --hosts: 300)", TakeRunTimeout},
    // Many machines at once, and results for scripts (see cli/host_pool.h).
    {"--hosts", "FILE", "[--hosts FILE [--jobs N]]",
     "run the command for every host in FILE (- for standard input)", TakeHostList},
    {"--jobs", "N", nullptr, "run up to N hosts at once (1 to 64, default 8)", TakeJobs},
    {"--json", nullptr, "[--json]", "write each result to standard output as a JSON line",
     TakeJson},
    {"--progress-fd", "FD", nullptr, "write the progress in percent to descriptor FD, a line each",
     TakeProgressFd},
    // Where get-report, open-report and get-params write; the commands describe it.
    {"-o", "FILE", nullptr, nullptr, TakeOutput},
};

// What follows a command word.
enum class Operands {
    kNone,          // nothing
    kFile,          // exactly one FILE
    kOptionalHost,  // at most one HOST
    kConfig,        // nothing, or a setting and its value
};

// Whether a command writes to -o FILE.
enum class Output { kRefused, kOptional, kRequired };

struct CommandSpec {
    const char* word;
    Command command;
    Operands operands;
    Output output;
    std::span<const OptionSpec> options = {};  // options of this command alone
};

constexpr CommandSpec kCommands[] = {
    {"get-report", Command::GetReport, Operands::kNone, Output::kOptional},
    {"open-report", Command::OpenReport, Operands::kFile, Output::kOptional},
    {"get-params", Command::GetParams, Operands::kNone, Output::kRequired},
    {"put-params", Command::PutParams, Operands::kFile, Output::kRefused},
    {"upgrade", Command::Upgrade, Operands::kFile, Output::kRefused},
    {"restart", Command::Restart, Operands::kOptionalHost, Output::kRefused},
    {"config", Command::ConfigShow, Operands::kConfig, Output::kRefused},
    {"discover", Command::Discover, Operands::kNone, Output::kRefused, kDiscoverOptions},
};

struct ConfigWord {
    const char* word;
    Command command;
};

constexpr ConfigWord kConfigCommands[] = {
    {"port", Command::ConfigPort},
    {"type", Command::ConfigType},
    {"add-host", Command::ConfigAddHost},
    {"select-host", Command::ConfigSelectHost},
    {"delete-host", Command::ConfigDeleteHost},
};

ParseResult Fail(std::string error) {
    ParseResult result;
    result.error = std::move(error);
    return result;
}

ParseResult Succeed(Invocation invocation) {
    ParseResult result;
    result.ok = true;
    result.invocation = std::move(invocation);
    return result;
}

// The arguments of a config command (the words after "config").
std::optional<std::string> ParseConfig(const std::vector<std::string>& words,
                                       Invocation& invocation) {
    if (words.empty()) {
        invocation.command = Command::ConfigShow;
        return std::nullopt;
    }
    const ConfigWord* found = nullptr;
    for (const ConfigWord& entry : kConfigCommands) {
        if (words[0] == entry.word)
            found = &entry;
    }
    if (found == nullptr)
        return "unknown config setting '" + words[0] + "'";
    const std::string usage = std::string("config ") + found->word;
    if (words.size() != 2)
        return usage + " takes one value";
    invocation.command = found->command;
    const std::string& value = words[1];
    switch (found->command) {
        case Command::ConfigPort:
            invocation.value = PortKindFromName(value);
            if (invocation.value < 0)
                return usage + " must be network, parallel or usb";
            break;
        case Command::ConfigType:
            invocation.value = TypeIndexFromText(value);
            if (invocation.value < 0)
                return usage + " must be 1, 2, 3 or 4";
            break;
        case Command::ConfigAddHost:
            if (!IsUsableHostName(value))
                return "a host name cannot hold control characters";
            invocation.host = value;
            break;
        default:
            if (!ParseIndex(value, invocation.value))
                return usage + " needs a host index (0, 1, ...)";
            break;
    }
    // Run options hold for one run; a change written to the profile must not mix them in.
    if (ChangesProfile(invocation.command) && invocation.overrides.Any())
        return "--host, --type and --port cannot be used with a config change";
    return std::nullopt;
}

// The words after the command word, and whether the command may have been given -o.
std::optional<std::string> ParseOperands(const CommandSpec& entry,
                                         const std::vector<std::string>& operands,
                                         Invocation& invocation) {
    const std::string word = entry.word;
    const bool outputGiven = !invocation.output.empty();
    if (outputGiven && entry.output == Output::kRefused)
        return word + " does not take -o";
    if (!outputGiven && entry.output == Output::kRequired)
        return word + " needs -o FILE";
    switch (entry.operands) {
        case Operands::kNone:
            if (!operands.empty())
                return word + " takes no file";
            break;
        case Operands::kFile:
            if (operands.size() != 1)
                return word + " needs one FILE";
            invocation.file = operands[0];
            break;
        case Operands::kOptionalHost:
            if (operands.size() > 1)
                return word + " takes at most one HOST";
            if (!operands.empty()) {
                if (operands[0].empty() || !IsUsableHostName(operands[0]))
                    return word + " needs a host name";
                invocation.host = operands[0];
            }
            break;
        case Operands::kConfig:
            return ParseConfig(operands, invocation);
    }
    return std::nullopt;
}

// What --hosts, --jobs, --json, --progress-fd and --timeout go with. A host list runs each host
// as a single run of the network port, so the options that choose one host or port do not fit
// it.
std::optional<std::string> CheckRunOptionUse(const Invocation& invocation) {
    const bool list = invocation.hostList.has_value();
    if (invocation.jobs && !list)
        return "--jobs goes with --hosts";
    if (list && !ServicesMachine(invocation.command))
        return "--hosts goes with get-report, get-params, put-params, upgrade and restart";
    if (invocation.json && !ServicesMachine(invocation.command) &&
        invocation.command != Command::Discover) {
        return "--json goes with get-report, get-params, put-params, upgrade, restart and "
               "discover";
    }
    // Before discover, --timeout would be read as the run's seconds, not discover's milliseconds.
    if (invocation.timeoutSeconds && !ServicesMachine(invocation.command)) {
        return "--timeout SECONDS goes with get-report, get-params, put-params, upgrade and "
               "restart (discover takes --timeout MS after the command)";
    }
    if (!list)
        return std::nullopt;
    const std::string word = CommandWord(invocation.command);
    if (invocation.overrides.host)
        return "--host and --hosts cannot be used together";
    if (invocation.overrides.portKind && *invocation.overrides.portKind != kPortNetwork)
        return "--hosts uses the network port";
    if (invocation.progressFd >= 0)
        return "--progress-fd goes with a single host";
    if (!invocation.host.empty())
        return word + " takes no HOST with --hosts";
    const bool writesFile =
        invocation.command == Command::GetReport || invocation.command == Command::GetParams;
    if (writesFile && invocation.output.find(kHostField) == std::string::npos)
        return word + " needs -o with " + kHostField + " in the file name when --hosts is given";
    // A capture file holds one run's packets; the hosts' messages share standard error.
    if (!invocation.captureFile.empty() &&
        invocation.captureFile.find(kHostField) == std::string::npos)
        return std::string("--pcap needs ") + kHostField +
               " in the file name when --hosts is given";
    if (invocation.traceFile == "-")
        return "--trace - goes with a single host";
    return std::nullopt;
}

// An argument that looks like an option rather than a word.
bool IsOptionWord(const std::string& argument) {
    return argument.size() > 1 && argument[0] == '-' && argument != "--";
}

// --help and --version answer at once, wherever they stand before "--", even where an option
// would take them as its value: a mistyped line must never write a file named "--help".
std::optional<Command> HelpOrVersion(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h")
            return Command::Help;
        if (argument == "--version")
            return Command::Version;
    }
    return std::nullopt;
}

// An option as registered with CLI11, beside its entry.
struct BoundOption {
    const OptionSpec* entry;
    CLI::Option* option;
};

BoundOption Bind(CLI::App& app, const OptionSpec& entry) {
    if (entry.valueName == nullptr)
        return {&entry, app.add_flag(entry.name)};
    // Every occurrence is kept and taken in order, so a later one wins as it always did.
    CLI::Option* option = app.add_option(entry.name)
                              ->expected(1)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    return {&entry, option};
}

// Hands each value given to an option of the app to the option's entry, in the order the
// values stand on the line; the first error wins.
std::optional<std::string> TakeValues(const CLI::App& app, const std::vector<BoundOption>& options,
                                      Invocation& invocation) {
    std::map<const CLI::Option*, size_t> taken;
    for (const CLI::Option* parsed : app.parse_order()) {
        for (const BoundOption& bound : options) {
            if (bound.option != parsed)
                continue;
            const size_t index = taken[parsed]++;
            const std::vector<std::string>& values = parsed->results();
            const bool isFlag = bound.entry->valueName == nullptr;
            const std::string value = isFlag || index >= values.size() ? "" : values[index];
            if (std::optional<std::string> error = bound.entry->take(value, invocation))
                return error;
        }
    }
    return std::nullopt;
}

// The entry of that name among the options that take a value, the program's or a
// command's; nullptr when there is none.
const OptionSpec* ValueOptionNamed(std::string_view name) {
    auto named = [&](const OptionSpec& entry) {
        return entry.valueName != nullptr && name == entry.name;
    };
    for (const OptionSpec& entry : kRunOptions) {
        if (named(entry))
            return &entry;
    }
    for (const CommandSpec& command : kCommands) {
        for (const OptionSpec& entry : command.options) {
            if (named(entry))
                return &entry;
        }
    }
    return nullptr;
}

// The arguments as CLI11 is given them, and the words after "--", which kelo-cli keeps to
// itself: CLI11 2.1.2 hands the words after a "--" back to the program's options in places
// (after a command's last operand, and in a command that follows the "--").
struct PreparedLine {
    std::vector<std::string> options;  // everything before "--"
    std::vector<std::string> words;    // everything after it
};

// Splits the line at the "--" that ends the options (not one that is an option's value), and
// splits off values attached with "=": CLI11 reads "-o=FILE" as the value "=FILE" and lets an
// empty "--host=" take the next word as its value, where kelo-cli has always taken what
// follows the "=".
PreparedLine PrepareArguments(const std::vector<std::string>& arguments) {
    PreparedLine line;
    bool isValue = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!isValue && argument == "--") {
            line.words.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
            break;
        }
        const size_t equals = argument.find('=');
        if (!isValue && equals != std::string::npos &&
            ValueOptionNamed(std::string_view(argument).substr(0, equals)) != nullptr) {
            line.options.push_back(argument.substr(0, equals));
            line.options.push_back(argument.substr(equals + 1));
            continue;
        }
        isValue = !isValue && ValueOptionNamed(argument) != nullptr;
        line.options.push_back(argument);
    }
    return line;
}

// kelo-cli's command line as CLI11 sees it: the program's options, and one subcommand per
// command word that collects the words after it. A command passes the options it does not
// know on to the program, so run options may follow the command; once a command is found,
// further command words are its operands.
class CommandLineParser {
  public:
    CommandLineParser() {
        app_.set_help_flag();           // the help is kelo-cli's own text (see HelpOrVersion)
        app_.allow_extras();            // left-over words and options get kelo-cli's messages
        app_.require_subcommand(0, 1);  // one command at most
        for (const OptionSpec& entry : kRunOptions)
            runOptions_.push_back(Bind(app_, entry));
        for (size_t i = 0; i < std::size(kCommands); ++i) {
            Slot& slot = slots_[i];
            slot.entry = &kCommands[i];
            slot.app = app_.add_subcommand(slot.entry->word);
            slot.app->fallthrough();
            slot.app->allow_extras();
            slot.app->add_option("operands", slot.operands);
            for (const OptionSpec& entry : slot.entry->options)
                slot.options.push_back(Bind(*slot.app, entry));
        }
    }

    ParseResult Parse(const std::vector<std::string>& arguments) {
        const PreparedLine line = PrepareArguments(arguments);
        std::vector<std::string> reversed(line.options.rbegin(), line.options.rend());
        std::optional<std::string> parseError;
        try {
            app_.parse(reversed);  // CLI11 takes the arguments last first
        } catch (const CLI::ArgumentMismatch& error) {
            parseError = MissingValueError(line.options.back(), error);
        } catch (const CLI::ParseError& error) {
            parseError = error.what();
        }
        return Interpret(parseError, line.words);
    }

  private:
    struct Slot {
        const CommandSpec* entry = nullptr;
        CLI::App* app = nullptr;
        std::vector<std::string> operands;
        std::vector<BoundOption> options;
    };

    // CLI11 says a value is missing only for an option that ends the line: it gets the
    // message its own entry gives an empty value.
    static std::string MissingValueError(const std::string& last, const CLI::ParseError& error) {
        Invocation scratch;
        if (const OptionSpec* entry = ValueOptionNamed(last)) {
            if (std::optional<std::string> message = entry->take("", scratch))
                return *message;
        }
        return error.what();
    }

    const Slot* ChosenCommand() const {
        for (const Slot& slot : slots_) {
            if (slot.app->parsed())
                return &slot;
        }
        return nullptr;
    }

    // What CLI11 left over before "--": options that neither the program nor its command
    // knows, then words before the command that are no command. CLI11 takes a word such as
    // "-1" for a number; kelo-cli has always refused it as an unknown option.
    std::optional<std::string> LeftOverError(const Slot* command) const {
        std::vector<std::string> leftOver = app_.remaining(false);
        if (command != nullptr) {
            const std::vector<std::string> own = command->app->remaining(false);
            leftOver.insert(leftOver.end(), own.begin(), own.end());
            leftOver.insert(leftOver.end(), command->operands.begin(), command->operands.end());
        }
        for (const std::string& argument : leftOver) {
            if (IsOptionWord(argument))
                return "unknown option '" + argument + "'";
        }
        const std::vector<std::string> words = app_.remaining(false);
        if (!words.empty())
            return "unknown command '" + words[0] + "'";
        return std::nullopt;
    }

    ParseResult Interpret(const std::optional<std::string>& parseError,
                          const std::vector<std::string>& words) {
        Invocation invocation;
        if (std::optional<std::string> error = TakeValues(app_, runOptions_, invocation))
            return Fail(*error);
        if (parseError)
            return Fail(*parseError);
        const Slot* command = ChosenCommand();
        if (std::optional<std::string> error = LeftOverError(command))
            return Fail(*error);
        std::vector<std::string> operands;
        if (command != nullptr) {
            operands = command->operands;
            operands.insert(operands.end(), words.begin(), words.end());
        } else if (!words.empty()) {
            // The command itself stands after "--".
            for (const Slot& slot : slots_) {
                if (words[0] == slot.entry->word)
                    command = &slot;
            }
            if (command == nullptr)
                return Fail("unknown command '" + words[0] + "'");
            operands.assign(words.begin() + 1, words.end());
        }
        if (command == nullptr)
            return Fail("no command given");
        invocation.command = command->entry->command;
        if (std::optional<std::string> error =
                TakeValues(*command->app, command->options, invocation)) {
            return Fail(*error);
        }
        if (std::optional<std::string> error = ParseOperands(*command->entry, operands, invocation))
            return Fail(*error);
        if (std::optional<std::string> error = CheckRunOptionUse(invocation))
            return Fail(*error);
        return Succeed(invocation);
    }

    CLI::App app_{"", "kelo-cli"};
    std::vector<BoundOption> runOptions_;
    std::array<Slot, std::size(kCommands)> slots_;
};

// Lays the pieces out after the prefix, starting a new indented line where the next piece
// would pass the 80th column.
std::string WrapUsage(const std::string& prefix, const std::vector<std::string>& pieces) {
    constexpr size_t kWidth = 80;
    std::string text = prefix;
    size_t lineStart = 0;
    bool lineEmpty = true;
    for (const std::string& piece : pieces) {
        if (!lineEmpty && text.size() - lineStart + 1 + piece.size() > kWidth) {
            text += '\n';
            lineStart = text.size();
            text += std::string(prefix.size(), ' ');
            lineEmpty = true;
        }
        if (!lineEmpty)
            text += ' ';
        text += piece;
        lineEmpty = false;
    }
    return text + "\n";
}

std::string UsageLine() {
    std::vector<std::string> pieces;
    for (const OptionSpec& entry : kRunOptions) {
        if (entry.synopsis != nullptr)
            pieces.emplace_back(entry.synopsis);
    }
    pieces.emplace_back("COMMAND [ARGS]");
    return WrapUsage("Usage: kelo-cli ", pieces);
}

// The heading, then one line for each listed option.
std::string OptionList(const char* heading, std::span<const OptionSpec> options) {
    constexpr size_t kLabelWidth = 18;
    std::string text = heading;
    for (const OptionSpec& entry : options) {
        if (entry.help == nullptr)
            continue;
        std::string label = entry.name;
        if (entry.valueName != nullptr)
            label += std::string(" ") + entry.valueName;
        label.resize(std::max(kLabelWidth, label.size() + 1), ' ');
        text += "  " + label + entry.help + "\n";
    }
    return text;
}

}  // namespace

int PortKindFromName(const std::string& name) {
    if (name == "network")
        return kPortNetwork;
    if (name == "parallel")
        return kPortParallel;
    if (name == "usb")
        return kPortUsb;
    return -1;
}

std::string PortKindName(int portKind) {
    switch (portKind) {
        case kPortNetwork:
            return "network";
        case kPortParallel:
            return "parallel";
        case kPortUsb:
            return "usb";
        default:
            return "";
    }
}

bool ChangesProfile(Command command) {
    return command == Command::ConfigPort || command == Command::ConfigType ||
           command == Command::ConfigAddHost || command == Command::ConfigSelectHost ||
           command == Command::ConfigDeleteHost;
}

bool ServicesMachine(Command command) {
    return command == Command::GetReport || command == Command::GetParams ||
           command == Command::PutParams || command == Command::Upgrade ||
           command == Command::Restart;
}

std::string CommandWord(Command command) {
    for (const CommandSpec& entry : kCommands) {
        if (entry.command == command && entry.operands != Operands::kConfig)
            return entry.word;
    }
    return "";
}

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    if (std::optional<Command> answer = HelpOrVersion(arguments)) {
        Invocation invocation;
        invocation.command = *answer;
        return Succeed(invocation);
    }
    CommandLineParser parser;
    return parser.Parse(arguments);
}

std::string UsageText() {
    return UsageLine() +
           "\n"
           "Services a machine from the terminal, with the settings of the Kelo profile.\n"
           "\n"
           "Commands:\n"
           "  get-report [-o FILE]        read the machine's service report; without -o the\n"
           "                              text goes to standard output; a FILE ending in \"kel\"\n"
           "                              is saved as a report file, one ending in \"txt\" as "
           "text\n"
           "  open-report FILE [-o FILE]  read a report file; print its text or save it\n"
           "  get-params -o FILE          read the parameter set into a parameter file\n"
           "  put-params FILE             write a parameter file into the machine (it restarts)\n"
           "  upgrade FILE                upgrade the firmware from FILE (name ending in \"rfw\")\n"
           "  restart [HOST]              restart a machine's network interface (default: the\n"
           "                              selected host)\n"
           "  config                      show the port kind, machine type and hosts\n"
           "  config port network|parallel|usb\n"
           "  config type 1|2|3|4\n"
           "  config add-host HOST\n"
           "  config select-host INDEX\n"
           "  config delete-host INDEX\n"
           "  discover [--subnet CIDR]... [--timeout MS] [--rate N] [--community TEXT] [--json]\n"
           "                              find the machines on the network; without --subnet\n"
           "                              by a broadcast on every local network\n"
           "\n" +
           OptionList("Options:\n", kRunOptions) + "  --help, --version\n\n" +
           OptionList("Options of discover:\n", kDiscoverOptions) +
           "\n"
           "With --hosts, FILE holds a host a line, optionally followed by its type 1 to 4;\n"
           "-o then names each host's file, with {host} standing for the host.\n"
           "\n"
           "Only config changes the profile. Messages go to standard error. Exit status: 0 done,\n"
           "1 the operation failed (for a host list: any host; discover: no machine found),\n"
           "2 a usage error, 130 cancelled\n"
           "with Ctrl-C.\n";
}

}  // namespace kelo::cli
