#include "cli/run_policies.h"

#include <algorithm>

#include "cli/recording.h"
#include "net/target.h"
#include "platform/host_address.h"
#include "platform/profile.h"

namespace kelo::cli {
namespace {

// The backup before a parameter write, kept as an operation of its own ("backup") on the
// machine of the run's record. The write's own record then starts after it, so that the
// records list the two in the order they happened: the backup first, the write after it.
std::function<void(const records::ReadContent&, int64_t, int64_t)> BackupKeeper(
    const Console& console, const Invocation& invocation, records::OperationRecord& kept) {
    return [&console, &invocation, &kept](const records::ReadContent& set, int64_t startedMs,
                                          int64_t durationMs) {
        records::OperationRecord backup;
        backup.machine = kept.machine;
        backup.startedMs = startedMs;
        backup.endedMs = records::WallClockMs();
        backup.durationMs = durationMs;
        backup.operation = records::OperationWord(records::Operation::Backup);
        backup.program = records::ProgramWord(records::Program::KeloCli);
        backup.runId = kept.runId;
        backup.backup = true;
        backup.content = set;
        KeepOperation(console, invocation, backup);
        kept.startedMs = std::max(records::WallClockMs(), backup.startedMs);
    };
}

}  // namespace

std::optional<std::string> TargetHost(const ConnectionSettings& settings,
                                      const Invocation& invocation) {
    if (!invocation.host.empty())
        return invocation.host;
    const int selected = settings.selectedHost;
    if (settings.portKind != kPortNetwork || selected < 0 ||
        static_cast<size_t>(selected) >= settings.hosts.size()) {
        return std::nullopt;
    }
    return settings.hosts[static_cast<size_t>(selected)];
}

std::optional<std::string> ChooseShownCodePage(const Invocation& invocation,
                                               std::optional<platform::CodePage>& codePage) {
    if (!invocation.encoding.empty()) {
        codePage = platform::CodePage::Named(invocation.encoding);
        return std::nullopt;
    }
    const bool printsReport =
        (invocation.command == Command::GetReport || invocation.command == Command::OpenReport) &&
        invocation.output.empty() && !invocation.json;
    if (!printsReport)
        return std::nullopt;
    const std::string path = platform::ProfileStore::DefaultPath();
    const std::string name = platform::ReportEncodingName(platform::ProfileStore(path));
    if (name.empty())
        return std::nullopt;
    codePage = platform::CodePage::Named(name);
    if (!codePage)
        return "unknown encoding '" + name + "' in " + path + " (Encoding in [Report])";
    return std::nullopt;
}

std::optional<std::string> ResolveRunTarget(const std::string& host, const Invocation& invocation,
                                            HostResult& record) {
    if (invocation.targetAddress)
        FixTarget(host, *invocation.targetAddress);
    const Target target = ResolveTarget(host);
    if (target.address)
        record.address = platform::DottedQuad(*target.address);
    return target.refusal;
}

void ChooseBackup(const Console& console, const Invocation& invocation,
                  records::OperationRecord& kept, CommandContext& context) {
    if (!WritesParameters(invocation.command) || invocation.noBackup)
        return;
    if (RecordsPathOf(invocation)) {
        context.keepBackup = BackupKeeper(console, invocation, kept);
        return;
    }
    if (invocation.command == Command::PutParams && !invocation.recordsOffTold)
        TellError(console, kRecordsOffNoBackup);
}

}  // namespace kelo::cli
