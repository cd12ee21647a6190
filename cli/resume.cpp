#include "cli/resume.h"

#include <filesystem>
#include <memory>
#include <optional>

#include "cli/recording.h"
#include "cli/records_commands.h"
#include "platform/shown_text.h"
#include "records/service_records.h"

namespace kelo::cli {
namespace {

// The path as an absolute one; as given when it has none (or it is "-", standard error).
std::string Absolute(const std::string& path) {
    if (path.empty() || path == "-")
        return path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// The command line a kept run is run again with: its command, as a host list (the hosts come
// from the records, so the list is never read), its -o template and its own options.
std::vector<std::string> ReplayArguments(const records::RunStart& start) {
    std::vector<std::string> arguments{start.command, "--hosts", "-"};
    if (!start.outputTemplate.empty())
        arguments.insert(arguments.end(), {"-o", start.outputTemplate});
    arguments.insert(arguments.end(), start.options.begin(), start.options.end());
    return arguments;
}

// The hosts to run again, each with the type it was run as.
std::vector<HostEntry> HostsOf(const std::vector<records::Machine>& machines) {
    std::vector<HostEntry> hosts;
    for (const records::Machine& machine : machines) {
        HostEntry entry{machine.host, std::nullopt, static_cast<int>(hosts.size()) + 1,
                        std::nullopt};
        if (machine.type >= 1 && machine.type <= 4)
            entry.machineTypeIndex = machine.type - 1;
        hosts.push_back(entry);
    }
    return hosts;
}

}  // namespace

records::RunStart RunStartOf(const Invocation& invocation) {
    std::vector<std::string> words;
    const auto add = [&words](std::initializer_list<std::string> more) {
        words.insert(words.end(), more);
    };
    if (invocation.overrides.machineTypeIndex)
        add({"--type", std::to_string(*invocation.overrides.machineTypeIndex + 1)});
    if (!invocation.traceFile.empty())
        add({"--trace", Absolute(invocation.traceFile)});
    if (!invocation.captureFile.empty())
        add({"--pcap", Absolute(invocation.captureFile)});
    if (!invocation.encoding.empty())
        add({"--encoding", invocation.encoding});
    if (invocation.timeoutSeconds)
        add({"--timeout", std::to_string(*invocation.timeoutSeconds)});
    if (invocation.jobs)
        add({"--jobs", std::to_string(*invocation.jobs)});
    if (invocation.json)
        add({"--json"});
    if (invocation.noBackup)
        add({"--no-backup"});
    const WriteOptions& write = invocation.write;
    for (const auto& [given, word] : {std::pair{write.ifChanged, "--if-changed"},
                                      {write.check, "--check"},
                                      {write.diff, "--diff"},
                                      {write.verify, "--verify"}}) {
        if (given)
            add({word});
    }
    // restore-params' RECORD is a number; a FILE a path.
    if (!invocation.restore.record.empty())
        add({"--", invocation.restore.record});
    if (!invocation.file.empty())
        add({"--", Absolute(invocation.file)});
    return records::RunStart{
        CommandWord(invocation.command), words, Absolute(invocation.output), {}};
}

std::string StartRun(const Console& console, const Invocation& invocation,
                     const std::vector<HostEntry>& hosts, int defaultTypeIndex) {
    const std::optional<std::string> path = RecordsPathOf(invocation);
    if (!path)
        return "";
    const int64_t startedMs = records::WallClockMs();
    const std::string id = records::NewRunId(startedMs);
    records::RunStart start = RunStartOf(invocation);
    for (const HostEntry& entry : hosts) {
        records::Machine machine;
        machine.host = entry.host;
        machine.type = entry.machineTypeIndex.value_or(defaultTypeIndex) + 1;
        start.hosts.push_back(machine);
    }
    const records::StoredRun run{id, startedMs, start};
    auto opened = records::ServiceRecords::Open(*path);
    std::string reason = opened.reason;
    if (opened)
        reason = (*opened.value)->RecordRun(run).reason;
    else if (opened.failure == records::OpenFailure::Busy)
        reason = records::ServiceRecords::SetAside(opened.checkedPath, run).reason;
    if (!reason.empty())
        TellError(console, records::NotRecordedText(reason));
    return id;
}

int RunResume(const Console& console, const Invocation& resume, const HostListRunner& runList) {
    int status = kExitFailed;
    std::unique_ptr<records::ServiceRecords> opened =
        OpenRecords(console, resume, status, kExitFailed);
    if (!opened)
        return status;
    records::ServiceRecords& kept = *opened;
    const auto run = kept.Run(resume.resumeRun);
    if (!run) {
        TellError(console, run.reason);
        return kExitFailed;
    }
    const auto machines = kept.MachinesToResume(*run);
    if (!machines) {
        TellError(console, machines.reason);
        return kExitFailed;
    }
    opened.reset();  // the hosts' programs write to it
    if (machines->empty()) {
        TellError(console, "nothing to resume: no host of run " + run->id +
                               " failed, was cancelled, timed out or was skipped");
        return kExitSuccess;
    }
    const ParseResult replay = ParseCommandLine(ReplayArguments(run->start));
    if (!replay.ok) {
        TellError(console,
                  "run " + run->id + " cannot be run again: " + platform::ShownText(replay.error));
        return kExitFailed;
    }
    Invocation again = replay.invocation;
    again.hostList.reset();
    again.recordsPath = resume.recordsPath;
    again.showProgress = resume.showProgress;
    // The run kept no limits of its own: those given now hold for the hosts resumed.
    again.rollout = resume.rollout;
    TellError(console, "resuming run " + run->id + " for " + std::to_string(machines->size()) +
                           (machines->size() == 1 ? " host" : " hosts"));
    return runList(again, HostsOf(*machines), "run " + run->id);
}

}  // namespace kelo::cli
