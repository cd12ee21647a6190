#include "cli/recording.h"

#include <unistd.h>

#include <memory>

#include "platform/profile.h"
#include "records/service_records.h"
#include "records/sha256.h"
#include "service/machine.h"

namespace kelo::cli {

std::optional<std::string> RecordsPathOf(const Invocation& invocation) {
    if (invocation.noRecords)
        return std::nullopt;
    std::optional<std::string> chosen;
    if (!invocation.recordsPath.empty())
        chosen = invocation.recordsPath;
    return service::RecordsPath(platform::ProfileStore::DefaultPath(), chosen);
}

namespace {

// The records this process writes to, opened once: the backup before a parameter write and the
// write's own record share one opening (its checks, its look at the schema, its statements).
struct KeptOpening {
    std::string path;
    pid_t pid = 0;
    std::unique_ptr<records::ServiceRecords> records;
};

KeptOpening& Opening() {
    static KeptOpening opening;
    return opening;
}

// The opening of path kept by this process; null, with why, when it cannot be had. A host
// list's run is a forked child: the connection it inherited is its parent's, never used or
// closed here (closing it could take the parent's log with it), and it opens its own.
records::ServiceRecords* KeptRecords(const std::string& path, records::OpenedRecords& failed) {
    KeptOpening& opening = Opening();
    if (opening.records && opening.pid != ::getpid())
        (void)opening.records.release();
    if (opening.records && opening.path == path)
        return opening.records.get();
    // Once another program held the records for the whole wait, the later records of this run
    // are set aside at once: the run's records hold it up for one wait at most.
    static bool s_foundBusy = false;
    records::OpenedRecords opened =
        records::ServiceRecords::Open(path, s_foundBusy ? 0 : records::kBusyTimeoutMilliseconds);
    if (!opened) {
        s_foundBusy = s_foundBusy || opened.failure == records::OpenFailure::Busy;
        failed = std::move(opened);
        return nullptr;
    }
    opening = KeptOpening{path, ::getpid(), std::move(*opened.value)};
    return opening.records.get();
}

}  // namespace

std::optional<int64_t> KeepOperation(const Console& console, const Invocation& invocation,
                                     const records::OperationRecord& operation) {
    const std::optional<std::string> path = RecordsPathOf(invocation);
    if (!path)
        return std::nullopt;
    records::OpenedRecords failed;
    records::ServiceRecords* kept = KeptRecords(*path, failed);
    if (kept == nullptr) {
        KeepOperations(console, invocation, {operation});
        return std::nullopt;
    }
    const auto recorded = kept->RecordOperation(operation);
    if (!recorded.reason.empty()) {
        TellError(console, records::NotRecordedText(recorded.reason));
        return std::nullopt;
    }
    return recorded && *recorded > 0 ? std::optional<int64_t>(*recorded) : std::nullopt;
}

void KeepOperations(const Console& console, const Invocation& invocation,
                    const std::vector<records::OperationRecord>& operations) {
    const std::optional<std::string> path = RecordsPathOf(invocation);
    if (!path || operations.empty())
        return;
    records::OpenedRecords failed;
    std::string reason;
    if (records::ServiceRecords* kept = KeptRecords(*path, failed)) {
        reason = kept->RecordOperations(operations).reason;
    } else if (failed.failure == records::OpenFailure::Busy) {
        for (size_t i = 0; i < operations.size() && reason.empty(); ++i)
            reason = records::ServiceRecords::SetAside(failed.checkedPath, operations[i]).reason;
    } else {
        reason = failed.reason;
    }
    if (!reason.empty())
        TellError(console, records::NotRecordedText(reason));
}

void NoteMachine(const ConnectionSettings& settings, const HostResult& record,
                 records::OperationRecord& kept) {
    kept.machine = service::RecordedMachine(settings, record.host);
    kept.machine.address = record.address.value_or("");
}

std::vector<records::FileUse> UsedFiles(const Invocation& invocation,
                                        const std::optional<records::FileUse>& input,
                                        bool succeeded) {
    std::vector<records::FileUse> files;
    if (input) {
        files.push_back(*input);
    } else if (invocation.command == Command::OpenReport) {
        if (std::optional<records::FileUse> read = records::DescribeFile("input", invocation.file))
            files.push_back(*read);
    }
    if (succeeded && !invocation.output.empty()) {
        if (std::optional<records::FileUse> output =
                records::DescribeFile("output", invocation.output))
            files.push_back(*output);
    }
    return files;
}

void KeepUntoldResult(const Console& console, const Invocation& listRun, const HostResult& result) {
    records::OperationRecord kept;
    kept.machine.host = result.host.value_or("");
    kept.machine.type = result.type;
    kept.machine.portKind = records::PortKindWord(kPortNetwork);
    kept.startedMs = records::WallClockMs();
    kept.endedMs = kept.startedMs;
    kept.durationMs = result.ms.value_or(0);
    kept.operation = CommandWord(listRun.command);
    kept.result = RecordedResult(result.result);
    kept.message = result.message.value_or("");
    kept.program = records::ProgramWord(records::Program::KeloCli);
    kept.runId = listRun.runId;
    KeepOperation(console, listRun, kept);
}

}  // namespace kelo::cli
