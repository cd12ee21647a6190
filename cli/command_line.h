// The command line of kelo-cli: options that hold for one run, a command and its arguments.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
    std::vector<std::string> subnetTexts;         // each --subnet as given, read into subnets
    std::vector<discover::AddressBlock> subnets;  // none: broadcast on every local network
    int timeoutMs = discover::kDefaultTimeoutMs;
    int rate = discover::kDefaultRate;  // new addresses probed a second
    std::string community = snmp::kDefaultCommunity;
};

// The options that hold for the whole run, wherever they stand on the command line.
struct RunOptions {
    RunOverrides overrides;
    bool showProgress = true;
    std::optional<std::string> hostList;  // --hosts FILE ("-": standard input)
    std::optional<int> jobs;              // --jobs N, when given
    RolloutLimits rollout;                // --canary N, --max-fail N|P%
    bool json = false;                    // --json: the result as a JSON line on standard output
    int progressFd = -1;                  // --progress-fd FD, or -1
    std::string traceFile;    // --trace FILE: the text trace ("-" standard error); empty: none
    std::string captureFile;  // --pcap FILE: the capture file; empty: none
    // --encoding NAME: the code page a report's text is shown in; empty: the profile's.
    std::string encoding;
    // --timeout SECONDS: the run is cancelled once they have passed; 0 is no bound. Without it
    // a single run has no bound and each host of a host list kDefaultHostTimeout.
    std::optional<int> timeoutSeconds;
    std::string recordsPath;  // --records FILE: the records database; empty: the default
    bool noRecords = false;   // --no-records: keep no record of this run
    bool noBackup = false;    // --no-backup: write parameters without reading the machine's first
    std::string resumeRun;    // --resume RUN: a run id or "last"
    // -o FILE, where get-report, open-report, get-params and show write; empty when not given.
    std::string output;
};

// config: the setting it changes and the value it gives it (the command says which).
struct ConfigChange {
    int portKind = 0;   // config port
    int typeIndex = 0;  // config type, from 0
    std::string host;   // config add-host
    int index = 0;      // config select-host, delete-host
};

// restore-params [HOST] [RECORD]: its HOST is the invocation's.
struct RestoreOptions {
    std::string record;  // a record number; empty: the newest backup
};

// How put-params, restore-params and upgrade write: only where the set differs, not at all
// (saying what would change), with the changed bytes shown, and with the machine's return
// checked afterwards.
struct WriteOptions {
    bool ifChanged = false;  // --if-changed: nothing is written when the machine holds the set
    bool check = false;   // --check: read what the write needs, write nothing, say what it would do
    bool diff = false;    // --diff: the changed byte ranges of the parameter set
    bool verify = false;  // --verify: the machine answers again (and holds the set) after the write
};

// history [HOST] and the filters of its list.
struct HistoryOptions {
    std::string host;       // empty: every host
    std::string since;      // --since DATE; empty: from the first record
    std::string until;      // --until DATE; empty: to the last record
    std::string operation;  // --operation NAME; empty: every operation
    std::string result;     // --result WORD; empty: every result
    std::string run;        // --run RUN: a run id or "last"; empty: any
    std::string file;       // --file NAME|SHA256; empty: any
    bool csv = false;       // --csv: RFC 4180 CSV on standard output
};

struct ShowOptions {
    std::string record;
};

// compare A B: each a record or a file.
struct CompareOptions {
    std::string first;
    std::string second;
    bool all = false;  // --all: every changed range of parameter sets
};

struct PruneOptions {
    int olderThanDays = 0;        // --older-than DAYS
    bool includeBackups = false;  // --include-backups
};

// A parsed command line: the run options, the command, and what the command was given.
struct Invocation : RunOptions {
    Command command = Command::Help;
    // The FILE open-report, put-params and upgrade read.
    std::string file;
    // The HOST restart and restore-params name (restore-params' then stands for --host).
    std::string host;
    ConfigChange config;
    RestoreOptions restore;
    WriteOptions write;
    DiscoverOptions discover;
    HistoryOptions history;
    ShowOptions show;
    CompareOptions compare;
    PruneOptions prune;
    // The host-list run a host's single run belongs to, for its record; empty for none.
    std::string runId;
    // A host of a list: the list has said once that records are off, so it does not again.
    bool recordsOffTold = false;
    // A host of a list: the address the list was checked with, which the run goes to.
    std::optional<uint32_t> targetAddress;
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
    std::vector<std::string> runOptions;  // with --help and --version
    // The commands below a command: config's settings, records' prune.
    std::map<std::string, std::vector<std::string>> subcommands;
    // The options of each command (and command below one) beside the run options.
    std::map<std::string, std::vector<std::string>> commandOptions;
    // Every option that takes a value, wherever it stands.
    std::set<std::string> valuedOptions;
    // The names of each command's operands in order ("open-report": FILE).
    std::map<std::string, std::vector<std::string>> operands;
};
CommandLineWords KnownWords();

// Port kind from its name (network, parallel, usb), or -1.
int PortKindFromName(const std::string& name);
// The name of a port kind; "" for a kind that has none.
std::string PortKindName(int portKind);

}  // namespace kelo::cli
