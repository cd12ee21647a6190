#include "sim/options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <memory>
#include <optional>
#include <set>

#include "platform/help_layout.h"

namespace kelo::sim {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= low && value <= high;
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

const CLI::Validator kFaultName(
    [](std::string& name) -> std::string {
        Faults faults;
        return EnableFault(name, faults) ? "" : name + " is no fault's name";
    },
    "");

// The --fault help: what it does, then every fault's name on a line of its own.
std::string FaultHelp() {
    std::string help = "misbehave on purpose; repeatable. Names:";
    for (const std::string& name : FaultNames())
        help += "\n  " + name;
    return help;
}

// The options bound to their fields; --bind and --fault keep every value in order, of the
// others a later one wins.
struct CommandLine {
    CLI::App app{
        "Simulated machines of type N (1 to 4) on their real ports, one per address:\n"
        "  types 1 and 2  LPD on TCP 515, SNMP on UDP 161\n"
        "  type 3         packet frames on TCP 9101, firmware on 9100, SNMP on UDP 161\n"
        "  type 4         packet frames on TCP 9500, firmware on 9100, SNMP on UDP 161\n"
        "Every event is written to standard output as one JSON line. It runs until\n"
        "SIGINT or SIGTERM and then exits 0.",
        "kelo-sim"};
    std::vector<std::string> binds;
    std::vector<std::string> faults;

    explicit CommandLine(Options& options) {
        app.formatter(std::make_shared<platform::HelpLayout>());
        app.footer(
            "Ports below 1024 need root or a network namespace of your own, e.g.\n"
            "  unshare --net --map-root-user sh -c 'ip link set lo up && kelo-sim --type 1'");
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_option("--type", options.type, "the machine type, 1 to 4 (required)")
            ->option_text("N")
            ->required()
            ->check(CLI::Range(1, 4));
        Repeated(app.add_option("--bind", binds,
                                "IPv4 address to listen on (default 127.0.0.1); repeatable; "
                                "ADDR/N: every address of that block (at most " +
                                    std::to_string(kMaxAddresses) + " in all)"))
            ->option_text("ADDR[/N]");
        app.add_option("--report", options.reportFile,
                       "the service report to serve (default: a built-in one); {address} in "
                       "FILE stands for each machine's address")
            ->option_text("FILE");
        app.add_option("--params", options.paramsFile,
                       "the parameter set to serve (default: 65,536 built-in bytes); {address} "
                       "as for --report")
            ->option_text("FILE");
        app.add_option("--record", options.recordDir,
                       "keep received parameter sets and firmware images as files (in "
                       "DIR/ADDRESS/ when serving more than one address)")
            ->option_text("DIR");
        app.add_option("--restart-ms", options.restartMs, "how long a restart refuses connections")
            ->option_text("MS")
            ->capture_default_str()
            ->check(CLI::Range(0, 3600000));
        Repeated(app.add_option("--fault", faults, FaultHelp()))
            ->option_text("NAME")
            ->check(kFaultName);
        app.set_help_flag("-h,--help", "show this text");
        app.set_version_flag("--version", "", "show the version");
    }

    static CLI::Option* Repeated(CLI::Option* option) {
        return option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->allow_extra_args(false);
    }
};

// The addresses and faults of the parsed options.
std::optional<std::string> TakeBindsAndFaults(const CommandLine& line, Options& options) {
    for (const std::string& bind : line.binds) {
        if (std::optional<std::string> error = TakeBind(bind, options))
            return error;
    }
    if (std::optional<std::string> repeated = RepeatedAddress(options.addresses))
        return "--bind gives " + *repeated + " more than once";
    if (options.addresses.empty())
        options.addresses.push_back("127.0.0.1");
    for (const std::string& fault : line.faults)
        EnableFault(fault, options.faults);
    return std::nullopt;
}

}  // namespace

std::string UsageText() {
    Options options;
    const CommandLine line(options);
    return line.app.help();
}

OptionsParse ParseOptions(const std::vector<std::string>& arguments) {
    OptionsParse result;
    CommandLine line(result.options);
    try {
        line.app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));
    } catch (const CLI::CallForHelp&) {
        result.options.help = result.ok = true;
        return result;
    } catch (const CLI::CallForVersion&) {
        result.options.version = result.ok = true;
        return result;
    } catch (const CLI::ParseError& error) {
        result.error = error.what();
        return result;
    }
    if (std::optional<std::string> error = TakeBindsAndFaults(line, result.options)) {
        result.error = *error;
        return result;
    }
    result.ok = true;
    return result;
}

std::vector<std::string> OptionNames() {
    Options options;
    const CommandLine line(options);
    std::vector<std::string> names;
    for (const CLI::Option* option : line.app.get_options())
        names.push_back(option->get_name());
    return names;
}

}  // namespace kelo::sim
