#include "sim/options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <map>
#include <optional>
#include <set>

namespace sim {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= low && value <= high;
}

// What an option does with one value it was given; returns what was wrong with it.
using TakeValue = std::optional<std::string> (*)(const std::string& value, Options& options);

std::optional<std::string> TakeType(const std::string& value, Options& options) {
    if (!ParseInt(value, 1, 4, options.type))
        return "--type must be 1, 2, 3 or 4, not '" + value + "'";
    return std::nullopt;
}

// "ADDR" is one address; "ADDR/N" every address of that block (the host bits of ADDR are
// ignored), up to kMaxAddresses in all over every --bind.
std::optional<std::string> TakeBind(const std::string& value, Options& options) {
    const size_t slash = value.find('/');
    const std::string dotted = value.substr(0, slash);
    in_addr address{};
    if (inet_pton(AF_INET, dotted.c_str(), &address) != 1)
        return "--bind needs a dotted IPv4 address, not '" + value + "'";
    int prefix = 32;
    if (slash != std::string::npos && !ParseInt(value.substr(slash + 1), 0, 32, prefix))
        return "--bind needs a prefix length from 0 to 32 after the '/', not '" + value + "'";
    const uint64_t count = uint64_t{1} << (32 - prefix);
    if (options.addresses.size() + count > kMaxAddresses) {
        return "--bind covers more than " + std::to_string(kMaxAddresses) + " addresses in all (" +
               value + ")";
    }
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    const uint32_t first = ntohl(address.s_addr) & mask;
    for (uint64_t i = 0; i < count; ++i) {
        in_addr each{};
        each.s_addr = htonl(first + static_cast<uint32_t>(i));
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &each, text, sizeof text);
        options.addresses.emplace_back(text);
    }
    return std::nullopt;
}

// The first address given twice; a machine can be served only once.
std::optional<std::string> RepeatedAddress(const std::vector<std::string>& addresses) {
    std::set<std::string> seen;
    for (const std::string& address : addresses) {
        if (!seen.insert(address).second)
            return address;
    }
    return std::nullopt;
}

std::optional<std::string> TakeReport(const std::string& value, Options& options) {
    options.reportFile = value;
    return std::nullopt;
}

std::optional<std::string> TakeParams(const std::string& value, Options& options) {
    options.paramsFile = value;
    return std::nullopt;
}

std::optional<std::string> TakeRecord(const std::string& value, Options& options) {
    options.recordDir = value;
    return std::nullopt;
}

std::optional<std::string> TakeRestartMs(const std::string& value, Options& options) {
    if (!ParseInt(value, 0, 3600000, options.restartMs))
        return "--restart-ms must be 0 to 3600000, not '" + value + "'";
    return std::nullopt;
}

std::optional<std::string> TakeFault(const std::string& value, Options& options) {
    if (!EnableFault(value, options.faults))
        return "unknown fault '" + value + "'";
    return std::nullopt;
}

struct OptionSpec {
    const char* name;
    TakeValue take;
};

// Every option takes a value; each may be given more than once, and the values are taken in
// the order they stand (a later --type wins, every --fault counts).
constexpr OptionSpec kOptions[] = {
    {"--type", TakeType},     {"--bind", TakeBind},     {"--report", TakeReport},
    {"--params", TakeParams}, {"--record", TakeRecord}, {"--restart-ms", TakeRestartMs},
    {"--fault", TakeFault},
};

const OptionSpec* OptionNamed(const std::string& name) {
    for (const OptionSpec& entry : kOptions) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

}  // namespace

std::string UsageText() {
    std::string text =
        "Usage: kelo-sim --type N [--bind ADDR[/N]]... [--report FILE] [--params FILE]\n"
        "                [--record DIR] [--restart-ms MS] [--fault NAME]...\n"
        "\n"
        "Simulated machines of type N (1 to 4) on their real ports, one per address:\n"
        "  types 1 and 2  LPD on TCP 515, SNMP on UDP 161\n"
        "  type 3         packet frames on TCP 9101, firmware on 9100, SNMP on UDP 161\n"
        "  type 4         packet frames on TCP 9500, firmware on 9100, SNMP on UDP 161\n"
        "Every event is written to standard output as one JSON line. It runs until\n"
        "SIGINT or SIGTERM and then exits 0.\n"
        "\n"
        "  --bind ADDR       IPv4 address to listen on (default 127.0.0.1); repeatable;\n"
        "                    ADDR/N: every address of that block (at most 1024 in all)\n"
        "  --report FILE     the service report to serve (default: a built-in one);\n"
        "                    {address} in FILE stands for each machine's address\n"
        "  --params FILE     the parameter set to serve (default: 65,536 built-in bytes);\n"
        "                    {address} as for --report\n"
        "  --record DIR      keep received parameter sets and firmware images as files\n"
        "                    (in DIR/ADDRESS/ when serving more than one address)\n"
        "  --restart-ms MS   how long a restart refuses connections (default 2000)\n"
        "  --fault NAME      misbehave on purpose; repeatable. Names:\n";
    for (const std::string& name : FaultNames())
        text += "                      " + name + "\n";
    text +=
        "  --help            show this text\n"
        "  --version         show the version\n"
        "\n"
        "Ports below 1024 need root or a network namespace of your own, e.g.\n"
        "  unshare --net --map-root-user sh -c 'ip link set lo up && kelo-sim --type 1'\n";
    return text;
}

OptionsParse ParseOptions(const std::vector<std::string>& arguments) {
    OptionsParse result;
    CLI::App app{"", "kelo-sim"};
    app.set_help_flag();  // the help is kelo-sim's own text
    app.allow_extras();   // left-over arguments get kelo-sim's own message
    const CLI::Option* help = app.add_flag("-h,--help");
    const CLI::Option* version = app.add_flag("--version");
    std::map<const CLI::Option*, const OptionSpec*> entries;
    for (const OptionSpec& entry : kOptions) {
        CLI::Option* option = app.add_option(entry.name)
                                  ->expected(1)
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        entries[option] = &entry;
    }
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);  // CLI11 takes the arguments last first
    } catch (const CLI::ArgumentMismatch& error) {
        // Only an option that ends the line can lack its value.
        result.error = OptionNamed(arguments.back()) != nullptr
                           ? arguments.back() + " needs a value"
                           : error.what();
    } catch (const CLI::ParseError& error) {
        result.error = error.what();
    }
    // --help and --version answer whatever else stands there.
    if (help->count() > 0 || version->count() > 0) {
        result.options.help = help->count() > 0;
        result.options.version = !result.options.help;
        result.error.clear();
        result.ok = true;
        return result;
    }
    if (!result.error.empty())
        return result;

    std::map<const CLI::Option*, size_t> taken;
    for (const CLI::Option* parsed : app.parse_order()) {
        const std::string& value = parsed->results().at(taken[parsed]++);
        if (std::optional<std::string> error = entries.at(parsed)->take(value, result.options)) {
            result.error = *error;
            return result;
        }
    }
    const std::vector<std::string> leftOver = app.remaining(false);
    if (!leftOver.empty()) {
        result.error = "unknown argument: " + leftOver[0];
        return result;
    }
    if (result.options.type == 0) {
        result.error = "--type is required";
        return result;
    }
    if (std::optional<std::string> repeated = RepeatedAddress(result.options.addresses)) {
        result.error = "--bind gives " + *repeated + " more than once";
        return result;
    }
    if (result.options.addresses.empty())
        result.options.addresses.push_back("127.0.0.1");
    result.ok = true;
    return result;
}

}  // namespace sim
