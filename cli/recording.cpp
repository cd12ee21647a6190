#include "cli/recording.h"

#include <unistd.h>

#include <memory>

#include "platform/profile.h"
#include "records/service_records.h"
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

void KeepOperation(const Console& console, const Invocation& invocation,
                   const records::OperationRecord& operation) {
    KeepOperations(console, invocation, {operation});
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

}  // namespace kelo::cli
