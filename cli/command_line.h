// The command line of kelo-cli: options that hold for one run, a command and its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/rollout_limits.h"
#include "discover/address_block.h"
#include "discover/discovery.h"
#include "snmp/snmp_codec.h"

namespace kelo::cli {

enum class Command {
    Help,
    Version,
    GetReport,
    OpenReport,
    GetParams,
    PutParams,
    RestoreParams,
    Upgrade,
    Restart,
    ConfigShow,
    ConfigPort,
    ConfigType,
    ConfigAddHost,
    ConfigSelectHost,
    ConfigDeleteHost,
    Discover,
    History,
    Show,
    Compare,
    Records,
    RecordsPrune,
    // --resume RUN: the command of a host-list run again, for its hosts that did not succeed.
    Resume,
};

// Settings that replace the profile's for this run only; they are never saved.
struct RunOverrides {
    std::optional<std::string> host;  // a one-host list with this host selected
    std::optional<int> machineTypeIndex;
    std::optional<int> portKind;

    bool Any() const { return host || machineTypeIndex || portKind; }
};

// How many hosts of a host list run at once.
constexpr int kDefaultJobs = 8;
constexpr int kMostJobs = 64;

// How long each host of a host list may take unless --timeout says otherwise, so that one
// silent machine cannot hold a job for ever.
constexpr int kDefaultHostTimeout = 300;
// The longest --timeout: a day.
constexpr int kLongestRunTimeout = 86400;

// What discover probes, how long it waits and how it prints.
struct DiscoverOptions {
    std::vector<discover::AddressBlock> subnets;  // none: broadcast on every local network
    int timeoutMs = discover::kDefaultTimeoutMs;
    int rate = discover::kDefaultRate;  // new addresses probed a second
    std::string community = snmp::kDefaultCommunity;
};

struct Invocation {
    Command command = Command::Help;
    RunOverrides overrides;
    bool showProgress = true;
    std::optional<std::string> hostList;  // --hosts FILE ("-": standard input)
    std::optional<int> jobs;              // --jobs N, when given
    RolloutLimits rollout;                // --canary N, --max-fail N|P%
    bool json = false;                    // --json: the result as a JSON line on standard output
    int progressFd = -1;                  // --progress-fd FD, or -1
    std::string traceFile;    // --trace FILE: the text trace ("-" standard error); empty: none
    std::string captureFile;  // --pcap FILE: the capture file; empty: none
    std::string file;  // the FILE of open-report, put-params, upgrade; show's RECORD; compare's A
    std::string secondFile;  // compare's B
    std::string output;      // -o FILE; empty when not given
    std::string host;        // restart HOST, config add-host HOST
    int value = 0;           // config port/type value, config select-host/delete-host INDEX
    DiscoverOptions discover;
    // --encoding NAME: the code page a report's text is shown in; empty: the profile's.
    std::string encoding;
    // --timeout SECONDS: the run is cancelled once they have passed; 0 is no bound. Without it
    // a single run has no bound and each host of a host list kDefaultHostTimeout.
    std::optional<int> timeoutSeconds;
    std::string recordsPath;  // --records FILE: the records database; empty: the default
    bool noRecords = false;   // --no-records: keep no record of this run
    bool noBackup = false;    // --no-backup: write parameters without reading the machine's first
    std::string resumeRun;    // --resume RUN: a run id or "last"
    // The host-list run a host's single run belongs to, for its record; empty for none.
    std::string runId;
    // A host of a list: the list has said once that records are off, so it does not again.
    bool recordsOffTold = false;
    // A host of a list: the address the list was checked with, which the run goes to.
    std::optional<uint32_t> targetAddress;
    std::string since;             // history --since DATE; empty: from the first record
    std::string historyOperation;  // history --operation NAME; empty: every operation
    std::string until;             // history --until DATE; empty: to the last record
    std::string historyResult;     // history --result WORD; empty: every result
    std::string historyRun;        // history --run RUN: a run id or "last"; empty: any
    std::string historyFile;       // history --file NAME|SHA256; empty: any
    bool csv = false;              // history --csv: RFC 4180 CSV on standard output
    bool compareAll = false;       // compare --all: every changed range of parameter sets
    int olderThanDays = 0;         // records prune --older-than DAYS
    bool pruneBackups = false;     // records prune --include-backups
};

struct ParseResult {
    bool ok = false;
    std::string error;     // one line saying what was wrong
    bool helpHint = true;  // whether the message points to --help
    Invocation invocation;
};

// Parses the arguments after the program name. Run options may stand anywhere before "--".
ParseResult ParseCommandLine(const std::vector<std::string>& arguments);

// True for the config commands that change the profile.
bool ChangesProfile(Command command);

// True for the commands that talk to a machine: the ones a host list and --json go with.
bool TalksToMachine(Command command);

// True for the commands that write a parameter set, and so read the machine's for a backup first.
bool WritesParameters(Command command);

// The word that names a command on the command line ("get-report"); "" for config and help.
std::string CommandWord(Command command);

// The --help text.
std::string UsageText();

// The words the command line knows, as the shell's completion offers them.
struct CommandLineWords {
    std::vector<std::string> commands;
    std::vector<std::string> configSettings;
    std::vector<std::string> runOptions;       // with --help and --version
    std::vector<std::string> discoverOptions;  // discover's own, beside the run options
};
CommandLineWords KnownWords();

// Port kind from its name (network, parallel, usb), or -1.
int PortKindFromName(const std::string& name);
// The name of a port kind; "" for a kind that has none.
std::string PortKindName(int portKind);

}  // namespace kelo::cli
