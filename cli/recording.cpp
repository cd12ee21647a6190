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
    auto opened = records::ServiceRecords::Open(*path);
    std::string reason = opened.reason;
    for (size_t i = 0; opened && i < operations.size() && reason.empty(); ++i)
        reason = (*opened.value)->RecordOperation(operations[i]).reason;
    if (!reason.empty())
        TellError(console, "not recorded: " + reason);
}

}  // namespace kelo::cli
