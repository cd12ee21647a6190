#include "cli/recording.h"

#include "platform/profile.h"
#include "records/service_records.h"

namespace kelo::cli {

std::optional<std::string> RecordsPathOf(const Invocation& invocation) {
    if (invocation.noRecords)
        return std::nullopt;
    const platform::ProfileStore profile(platform::ProfileStore::DefaultPath());
    if (profile.GetInt("Records", "Enabled", 1) == 0)
        return std::nullopt;
    if (!invocation.recordsPath.empty())
        return invocation.recordsPath;
    return records::DefaultRecordsPath();
}

void KeepOperation(const Console& console, const Invocation& invocation,
                   const records::OperationRecord& operation) {
    KeepOperations(console, invocation, {operation});
}

void KeepOperations(const Console& console, const Invocation& invocation,
                    const std::vector<records::OperationRecord>& operations) {
    const std::optional<std::string> path = RecordsPathOf(invocation);
    if (!path || operations.empty())
        return;
    // Once another program held the records for the whole wait, the later records of this run
    // are set aside at once: the run's records hold it up for one wait at most.
    static bool s_foundBusy = false;
    auto opened =
        records::ServiceRecords::Open(*path, s_foundBusy ? 0 : records::kBusyTimeoutMilliseconds);
    std::string reason = opened.reason;
    if (opened.failure == records::OpenFailure::Busy) {
        s_foundBusy = true;
        reason.clear();
        for (size_t i = 0; i < operations.size() && reason.empty(); ++i)
            reason = records::ServiceRecords::SetAside(opened.checkedPath, operations[i]).reason;
    }
    if (opened) {
        reason = (*opened.value)->RecordOperations(operations).reason;
        s_foundBusy = s_foundBusy || (*opened.value)->SetSomethingAside();
    }
    if (!reason.empty())
        TellError(console, "not recorded: " + reason);
}

}  // namespace kelo::cli
