#include "sim/options.h"

#include <arpa/inet.h>

#include <charconv>

namespace sim {
namespace {

bool ParseInt(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= low && value <= high;
}

}  // namespace

std::string UsageText() {
    std::string text =
        "Usage: kelo-sim --type N [--bind ADDR] [--report FILE] [--params FILE]\n"
        "                [--record DIR] [--restart-ms MS] [--fault NAME]...\n"
        "\n"
        "A simulated machine of type N (1 to 4) on its real ports:\n"
        "  types 1 and 2  LPD on TCP 515, SNMP on UDP 161\n"
        "  type 3         packet frames on TCP 9101, firmware on TCP 9100\n"
        "  type 4         packet frames on TCP 9500, firmware on TCP 9100\n"
        "Every event is written to standard output as one JSON line. It runs until\n"
        "SIGINT or SIGTERM and then exits 0.\n"
        "\n"
        "  --bind ADDR       IPv4 address to listen on (default 127.0.0.1)\n"
        "  --report FILE     the service report to serve (default: a built-in one)\n"
        "  --params FILE     the parameter set to serve (default: 65,536 built-in bytes)\n"
        "  --record DIR      keep received parameter sets and firmware images as files\n"
        "  --restart-ms MS   how long a restart refuses connections (default 2000)\n"
        "  --fault NAME      misbehave on purpose; repeatable. Names:\n";
    for (const std::string& name : FaultNames())
        text += "                      " + name + "\n";
    text +=
        "  --help            show this text\n"
        "\n"
        "Ports below 1024 need root or a network namespace of your own, e.g.\n"
        "  unshare --net --map-root-user sh -c 'ip link set lo up && kelo-sim --type 1'\n";
    return text;
}

OptionsParse ParseOptions(const std::vector<std::string>& arguments) {
    OptionsParse result;
    Options& options = result.options;
    bool typeGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--help" || name == "-h") {
            options.help = true;
            result.ok = true;
            return result;
        }
        const bool takesValue = name == "--type" || name == "--bind" || name == "--report" ||
                                name == "--params" || name == "--record" ||
                                name == "--restart-ms" || name == "--fault";
        if (!takesValue) {
            result.error = "unknown argument: " + name;
            return result;
        }
        if (i + 1 >= arguments.size()) {
            result.error = name + " needs a value";
            return result;
        }
        const std::string& value = arguments[++i];
        if (name == "--type") {
            if (!ParseInt(value, 1, 4, options.type)) {
                result.error = "--type must be 1, 2, 3 or 4, not '" + value + "'";
                return result;
            }
            typeGiven = true;
        } else if (name == "--bind") {
            in_addr address{};
            if (inet_pton(AF_INET, value.c_str(), &address) != 1) {
                result.error = "--bind needs a dotted IPv4 address, not '" + value + "'";
                return result;
            }
            options.bind = value;
        } else if (name == "--report") {
            options.reportFile = value;
        } else if (name == "--params") {
            options.paramsFile = value;
        } else if (name == "--record") {
            options.recordDir = value;
        } else if (name == "--restart-ms") {
            if (!ParseInt(value, 0, 3600000, options.restartMs)) {
                result.error = "--restart-ms must be 0 to 3600000, not '" + value + "'";
                return result;
            }
        } else if (!EnableFault(value, options.faults)) {
            result.error = "unknown fault '" + value + "'";
            return result;
        }
    }
    if (!typeGiven) {
        result.error = "--type is required";
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace sim
