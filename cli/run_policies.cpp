#include "cli/run_policies.h"

#include <algorithm>

#include "cli/recording.h"
#include "net/target.h"
#include "platform/host_address.h"
#include "platform/profile.h"
#include "service/machine.h"
#include "service/recording.h"
#include "service/report_code_page.h"

namespace kelo::cli {
namespace {

// The backup before a parameter write, kept as an operation of its own ("backup") on the
// machine of the run's record. The write's own record then starts after it, so that the
// records list the two in the order they happened: the backup first, the write after it.
std::function<void(const service::BackupRead&)> BackupKeeper(const Console& console,
                                                             const Invocation& invocation,
                                                             records::OperationRecord& kept,
                                                             CommandContext& context) {
    return [&console, &invocation, &kept, &context](const service::BackupRead& read) {
        const records::OperationRecord backup =
            service::BackupRecord(kept.machine, read, records::Program::KeloCli, kept.runId);
        context.backupRecord = KeepOperation(console, invocation, backup);
        kept.startedMs = std::max(records::WallClockMs(), backup.startedMs);
    };
}

}  // namespace

std::optional<std::string> TargetHost(const ConnectionSettings& settings,
                                      const Invocation& invocation) {
    if (!invocation.host.empty())
        return invocation.host;
    return service::NetworkHost(settings);
}

std::optional<std::string> ChooseShownCodePage(const Invocation& invocation,
                                               std::optional<platform::CodePage>& codePage) {
    const bool printsReport =
        (invocation.command == Command::GetReport || invocation.command == Command::OpenReport) &&
        invocation.output.empty() && !invocation.json;
    if (invocation.encoding.empty() && !printsReport)
        return std::nullopt;
    const std::string path = platform::ProfileStore::DefaultPath();
    const service::ReportCodePage chosen = service::ChooseReportCodePage(invocation.encoding, path);
    codePage = chosen.codePage;
    if (!chosen.unknownName.empty())
        return service::UnknownEncodingText(chosen, path);
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
    // A check writes nothing, so it keeps no backup to stand before a write.
    if (!WritesParameters(invocation.command) || invocation.noBackup || invocation.write.check)
        return;
    if (RecordsPathOf(invocation)) {
        context.keepBackup = BackupKeeper(console, invocation, kept, context);
        return;
    }
    if (invocation.command == Command::PutParams && !invocation.recordsOffTold)
        TellError(console, kRecordsOffNoBackup);
}

}  // namespace kelo::cli
