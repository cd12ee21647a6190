#include "cli/dispatch.h"

#include <optional>

#include "cli/host_list.h"
#include "cli/host_pool.h"
#include "cli/recording.h"
#include "cli/resume.h"
#include "cli/run_files.h"
#include "cli/run_policies.h"
#include "cli/session.h"
#include "net/target.h"
#include "platform/profile.h"
#include "platform/shown_text.h"
#include "platform/system.h"

namespace kelo::cli {
namespace {

// The run's files, checked before anything else: each of the right kind, none written over
// another; the trace files only where the command has traffic to trace. A usage error, or
// nullopt.
std::optional<int> CheckRunFiles(const Console& console, const Invocation& invocation) {
    Invocation checked = invocation;
    if (!TalksToMachine(invocation.command))
        checked.captureFile.clear();
    const RunFilePaths paths{TextTracePath(invocation),
                             invocation.traceFile.empty() ? "KELO_TRACE" : "--trace",
                             RecordsPathOf(invocation)};
    if (std::optional<std::string> refusal = RefusedRunFile(checked, paths))
        return UsageError(console, platform::ShownText(*refusal), "");
    if (std::optional<std::string> clash = SharedFileError(checked, paths))
        return UsageError(console, platform::ShownText(*clash));
    return std::nullopt;
}

// Runs the hosts of a list as one run of its own, kept in the records with a new id and the
// whole list. Every host is resolved once first, and its run goes to that address; hosts that
// reach one machine are refused, whether the list came from a file or a resumed run.
int RunListedHosts(const Console& console, const Invocation& invocation,
                   std::vector<HostEntry> hosts, const std::string& listName) {
    if (std::optional<int> refused = CheckRunFiles(console, invocation))
        return *refused;
    TargetScope targets;
    if (std::optional<std::string> refusal = ResolveListTargets(hosts, listName))
        return UsageError(console, *refusal, "");
    // A host without a type of its own takes --type, else the profile's type.
    const int typeIndex = invocation.overrides.machineTypeIndex.value_or(
        LoadSettings(platform::ProfileStore(platform::ProfileStore::DefaultPath()))
            .machineTypeIndex);
    Invocation listRun = invocation;
    listRun.runId = StartRun(console, invocation, hosts, typeIndex);
    if (invocation.command == Command::PutParams && !invocation.noBackup &&
        !invocation.write.check && !RecordsPathOf(invocation)) {
        TellError(console, kRecordsOffNoBackup);
        listRun.recordsOffTold = true;
    }
    const auto runHost = [](const Invocation& hostRun) {
        // The child's standard output is a pipe of its own, whatever became of the list's.
        StandardOutput own;
        return RunInvocation(hostRun, own.MakeConsole());
    };
    UntoldResult untold = nullptr;
    if (!listRun.runId.empty()) {
        untold = [&console, &listRun](const HostResult& result) {
            KeepUntoldResult(console, listRun, result);
        };
    }
    return RunHostList(listRun, hosts, typeIndex, console, runHost, untold);
}

// --hosts: reads the list and runs the command for each of its hosts.
int RunForHostList(const Console& console, const Invocation& invocation) {
    std::string text;
    if (std::optional<std::string> error = ReadHostList(*invocation.hostList, text))
        return UsageError(console, *error, "");
    const std::string name = HostListName(*invocation.hostList);
    const HostListParse list = ParseHostList(text, name);
    if (!list.ok)
        return UsageError(console, list.error, "");
    return RunListedHosts(console, invocation, list.hosts, name);
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments, const Console& console) {
    const ParseResult parse = ParseCommandLine(arguments);
    if (!parse.ok)
        return UsageError(console, parse.error, parse.helpHint ? kHelpHint : "");
    return RunInvocation(parse.invocation, console);
}

int RunInvocation(const Invocation& invocation, const Console& console) {
    if (invocation.command == Command::Help)
        return console.writeOut(UsageText()) ? kExitSuccess : kExitFailed;
    if (invocation.command == Command::Version) {
        return console.writeOut("kelo-cli " + platform::ProgramVersion() + "\n") ? kExitSuccess
                                                                                 : kExitFailed;
    }
    if (invocation.command == Command::Resume) {
        return RunResume(console, invocation,
                         [&console](const Invocation& again, const std::vector<HostEntry>& hosts,
                                    const std::string& listName) {
                             return RunListedHosts(console, again, hosts, listName);
                         });
    }
    if (std::optional<int> refused = CheckRunFiles(console, invocation))
        return *refused;
    if (invocation.hostList)
        return RunForHostList(console, invocation);
    return RunSingle(invocation, console);
}

}  // namespace kelo::cli
