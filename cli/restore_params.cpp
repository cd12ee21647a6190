// restore-params: a parameter set the records kept goes back into the machine, through the
// same write as put-params (with a backup of its own first).
#include <optional>
#include <string>
#include <vector>

#include "cli/operations.h"
#include "cli/recording.h"
#include "cli/records_commands.h"
#include "platform/messages.h"
#include "platform/shown_text.h"
#include "records/service_records.h"

namespace kelo::cli {
namespace {

constexpr char kRecordsOff[] =
    "restore-params writes back a kept parameter set, and the records are off (--no-records, "
    "or Enabled=0 in [Records] of the profile)";

// The kept parameter block to write back and the record it came from.
struct KeptSet {
    int64_t id = 0;
    std::string host;
    int type = 0;  // the machine type it was read from, 0 when not known
    int64_t startedMs = 0;
    std::vector<uint8_t> plainBlock;
};

// The record restore-params names, else the newest backup of the host; nullopt after a message
// saying why there is no parameter set to write.
std::optional<KeptSet> FindKeptSet(records::ServiceRecords& kept, const Invocation& invocation,
                                   const std::string& host) {
    const auto operation =
        invocation.restore.record.empty()
            ? kept.NewestBackup(host)
            : kept.Operation(*records::RecordNumberOf(invocation.restore.record));
    if (!operation) {
        platform::ShowText(operation.reason);
        return std::nullopt;
    }
    const std::string record = "record " + std::to_string(operation->id);
    if (!operation->content) {
        platform::ShowText(record + " kept no parameter set");
        return std::nullopt;
    }
    const auto content = kept.Content(*operation->content);
    if (!content) {
        platform::ShowText(content.reason);
        return std::nullopt;
    }
    if (content->kind != records::ContentKind::Parameters) {
        platform::ShowText(record + " kept a report, not a parameter set");
        return std::nullopt;
    }
    const auto plainBlock = records::DecodeParameters(*content);
    if (!plainBlock) {
        platform::ShowText(plainBlock.reason);
        return std::nullopt;
    }
    return KeptSet{operation->id, operation->machine.host, operation->machine.type,
                   operation->startedMs, *plainBlock};
}

// The kept set, read from the records the run writes to; the database is closed again before
// the machine is talked to.
std::optional<KeptSet> KeptSetOf(CommandContext& context, const Invocation& invocation) {
    const std::optional<std::string> path = RecordsPathOf(invocation);
    if (!path) {
        platform::ShowText(kRecordsOff);
        return std::nullopt;
    }
    auto opened = records::ServiceRecords::OpenExisting(*path);
    if (!opened) {
        platform::ShowText(opened.reason);
        if (opened.failure == records::OpenFailure::Refused)
            context.failedStatus = kExitUsage;
        return std::nullopt;
    }
    return FindKeptSet(**opened.value, invocation, context.recordedHost);
}

}  // namespace

bool RunRestoreParams(CommandContext& context, const Invocation& invocation) {
    const std::optional<KeptSet> set = KeptSetOf(context, invocation);
    if (!set || context.dialog.Stopped())
        return false;
    // A set is laid out for the type of machine it was read from.
    const int type = context.link.GetMachineType();
    if (set->type != 0 && set->type != type) {
        platform::ShowText("record " + std::to_string(set->id) +
                           " is the parameter set of a type " + std::to_string(set->type) +
                           " machine, and this one is type " + std::to_string(type) +
                           "; nothing was written");
        return false;
    }
    platform::ShowText("writing back record " + std::to_string(set->id) +
                       ", the parameter set of " + platform::ShownText(set->host) + " kept " +
                       RecordTime(set->startedMs));
    return PutParameterSet(context, set->plainBlock);
}

}  // namespace kelo::cli
