#include "cli/command_line.h"

#include <charconv>
#include <climits>

#include "link/settings.h"

namespace kelo::cli {
namespace {

struct CommandWord {
    const char* word;
    Command command;
};

constexpr CommandWord kCommands[] = {
    {"get-report", Command::GetReport}, {"open-report", Command::OpenReport},
    {"get-params", Command::GetParams}, {"put-params", Command::PutParams},
    {"upgrade", Command::Upgrade},      {"restart", Command::Restart},
};

constexpr CommandWord kConfigCommands[] = {
    {"port", Command::ConfigPort},
    {"type", Command::ConfigType},
    {"add-host", Command::ConfigAddHost},
    {"select-host", Command::ConfigSelectHost},
    {"delete-host", Command::ConfigDeleteHost},
};

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

// Run options and -o, taken out of the arguments wherever they stand before "--".
struct Split {
    std::vector<std::string> words;
    bool outputGiven = false;
};

ParseResult Fail(std::string error) {
    ParseResult result;
    result.error = std::move(error);
    return result;
}

// Reads "--name VALUE" or "--name=VALUE" at arguments[i]; false when it is not that option.
bool TakeValue(const std::vector<std::string>& arguments, size_t& i, const std::string& name,
               std::optional<std::string>& value) {
    const std::string& argument = arguments[i];
    if (argument == name) {
        if (i + 1 < arguments.size())
            value = arguments[++i];
        else
            value = std::nullopt;
        return true;
    }
    if (argument.rfind(name + "=", 0) == 0) {
        value = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

// Separates the options from the words; on a bad option returns its error.
std::optional<std::string> SplitArguments(const std::vector<std::string>& arguments,
                                          Invocation& invocation, Split& split) {
    bool optionsEnded = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            split.words.push_back(argument);
            continue;
        }
        std::optional<std::string> value;
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--no-progress") {
            invocation.showProgress = false;
        } else if (TakeValue(arguments, i, "--host", value)) {
            if (!value || value->empty() || !IsUsableHostName(*value))
                return "--host needs a host name";
            invocation.overrides.host = *value;
        } else if (TakeValue(arguments, i, "--type", value)) {
            const int index = value ? TypeIndexFromText(*value) : -1;
            if (index < 0)
                return "--type must be 1, 2, 3 or 4";
            invocation.overrides.machineTypeIndex = index;
        } else if (TakeValue(arguments, i, "--port", value)) {
            const int kind = value ? PortKindFromName(*value) : -1;
            if (kind < 0)
                return "--port must be network, parallel or usb";
            invocation.overrides.portKind = kind;
        } else if (TakeValue(arguments, i, "-o", value)) {
            if (!value || value->empty())
                return "-o needs a file name";
            invocation.output = *value;
            split.outputGiven = true;
        } else {
            return "unknown option '" + argument + "'";
        }
    }
    return std::nullopt;
}

// The arguments of a config command (the words after "config").
std::optional<std::string> ParseConfig(const std::vector<std::string>& words,
                                       Invocation& invocation) {
    if (words.empty()) {
        invocation.command = Command::ConfigShow;
        return std::nullopt;
    }
    const CommandWord* found = nullptr;
    for (const CommandWord& entry : kConfigCommands) {
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
    return std::nullopt;
}

// The arguments of a device or file command (the words after the command word).
std::optional<std::string> ParseOperands(const std::string& word,
                                         const std::vector<std::string>& operands,
                                         Invocation& invocation, bool outputGiven) {
    const Command command = invocation.command;
    const bool takesOutput = command == Command::GetReport || command == Command::OpenReport ||
                             command == Command::GetParams;
    if (outputGiven && !takesOutput)
        return word + " does not take -o";
    if (command == Command::GetParams && !outputGiven)
        return "get-params needs -o FILE";
    switch (command) {
        case Command::GetReport:
        case Command::GetParams:
            if (!operands.empty())
                return word + " takes no file";
            break;
        case Command::OpenReport:
        case Command::PutParams:
        case Command::Upgrade:
            if (operands.size() != 1)
                return word + " needs one FILE";
            invocation.file = operands[0];
            break;
        case Command::Restart:
            if (operands.size() > 1)
                return "restart takes at most one HOST";
            if (!operands.empty()) {
                if (operands[0].empty() || !IsUsableHostName(operands[0]))
                    return "restart needs a host name";
                invocation.host = operands[0];
            }
            break;
        default:
            break;
    }
    return std::nullopt;
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

ParseResult ParseCommandLine(const std::vector<std::string>& arguments) {
    // --help and --version answer at once, whatever else stands there.
    for (const std::string& argument : arguments) {
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            ParseResult result;
            result.ok = true;
            result.invocation.command = argument == "--version" ? Command::Version : Command::Help;
            return result;
        }
    }

    ParseResult result;
    Invocation& invocation = result.invocation;
    Split split;
    if (std::optional<std::string> error = SplitArguments(arguments, invocation, split))
        return Fail(*error);
    if (split.words.empty())
        return Fail("no command given");

    const std::string& word = split.words[0];
    const std::vector<std::string> rest(split.words.begin() + 1, split.words.end());
    if (word == "config") {
        if (split.outputGiven)
            return Fail("config does not take -o");
        if (std::optional<std::string> error = ParseConfig(rest, invocation))
            return Fail(*error);
        // Run options hold for one run; a change written to the profile must not mix them in.
        if (ChangesProfile(invocation.command) && invocation.overrides.Any())
            return Fail("--host, --type and --port cannot be used with a config change");
        result.ok = true;
        return result;
    }
    bool known = false;
    for (const CommandWord& entry : kCommands) {
        if (word == entry.word) {
            invocation.command = entry.command;
            known = true;
        }
    }
    if (!known)
        return Fail("unknown command '" + word + "'");
    if (std::optional<std::string> error =
            ParseOperands(word, rest, invocation, split.outputGiven)) {
        return Fail(*error);
    }
    result.ok = true;
    return result;
}

std::string UsageText() {
    return "Usage: kelo-cli [--host HOST] [--type 1|2|3|4] [--port network|parallel|usb]\n"
           "                [--no-progress] COMMAND [ARGS]\n"
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
           "\n"
           "Options:\n"
           "  --host HOST      use this host for this run only\n"
           "  --type N         use machine type N for this run only\n"
           "  --port KIND      use this port kind for this run only\n"
           "  --no-progress    draw no progress line\n"
           "  --help, --version\n"
           "\n"
           "Only config changes the profile. Messages go to standard error. Exit status: 0 done,\n"
           "1 the operation failed, 2 a usage error, 130 cancelled with Ctrl-C.\n";
}

}  // namespace kelo::cli
