// The command line of kelo-cli: options that hold for one run, a command and its arguments.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kelo::cli {

enum class Command {
    Help,
    Version,
    GetReport,
    OpenReport,
    GetParams,
    PutParams,
    Upgrade,
    Restart,
    ConfigShow,
    ConfigPort,
    ConfigType,
    ConfigAddHost,
    ConfigSelectHost,
    ConfigDeleteHost,
};

// Settings that replace the profile's for this run only; they are never saved.
struct RunOverrides {
    std::optional<std::string> host;  // a one-host list with this host selected
    std::optional<int> machineTypeIndex;
    std::optional<int> portKind;

    bool Any() const { return host || machineTypeIndex || portKind; }
};

struct Invocation {
    Command command = Command::Help;
    RunOverrides overrides;
    bool showProgress = true;
    std::string traceFile;    // --trace FILE: the text trace ("-" standard error); empty: none
    std::string captureFile;  // --pcap FILE: the capture file; empty: none
    std::string file;         // the FILE of open-report, put-params, upgrade
    std::string output;       // -o FILE; empty when not given
    std::string host;         // restart HOST, config add-host HOST
    int value = 0;            // config port/type value, config select-host/delete-host INDEX
};

struct ParseResult {
    bool ok = false;
    std::string error;  // one line saying what was wrong
    Invocation invocation;
};

// Parses the arguments after the program name. Run options may stand anywhere before "--".
ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// True for the config commands that change the profile.
bool ChangesProfile(Command command);

// The --help text.
std::string UsageText();

// Port kind from its name (network, parallel, usb), or -1.
int PortKindFromName(const std::string& name);
// The name of a port kind; "" for a kind that has none.
std::string PortKindName(int portKind);

}  // namespace kelo::cli
