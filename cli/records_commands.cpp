#include "cli/records_commands.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

#include "cli/operations.h"
#include "files/parameter_file.h"
#include "files/report_file.h"
#include "platform/atomic_file.h"
#include "platform/code_page.h"
#include "platform/messages.h"
#include "platform/profile.h"
#include "platform/shown_text.h"
#include "platform/system.h"
#include "records/compare.h"
#include "records/service_records.h"

namespace kelo::cli {
namespace {

using records::ServiceRecords;

constexpr int64_t kMillisecondsADay = 86400000;

// A time as the history shows it, in local time: "2026-12-09 10:20:08".
std::string LocalTime(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
    return text;
}

// --since: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" in local time, as milliseconds since 1970.
std::optional<int64_t> ParseLocalTime(const std::string& text) {
    for (const char* format : {"%Y-%m-%d %H:%M:%S", "%Y-%m-%d %H:%M", "%Y-%m-%d"}) {
        std::tm parts{};
        const char* end = ::strptime(text.c_str(), format, &parts);
        if (end == nullptr || *end != '\0')
            continue;
        parts.tm_isdst = -1;
        const std::tm written = parts;
        const std::time_t seconds = std::mktime(&parts);
        // mktime moves an impossible date on (February 31 to March 3): such a date is refused,
        // as is a local time the clocks skipped.
        const bool asWritten = parts.tm_year == written.tm_year && parts.tm_mon == written.tm_mon &&
                               parts.tm_mday == written.tm_mday &&
                               parts.tm_hour == written.tm_hour && parts.tm_min == written.tm_min;
        if (seconds != static_cast<std::time_t>(-1) && asWritten)
            return static_cast<int64_t>(seconds) * 1000;
    }
    return std::nullopt;
}

}  // namespace

std::unique_ptr<ServiceRecords> OpenRecords(const Console& console, const Invocation& invocation,
                                            int& status, int missingStatus) {
    const std::string path =
        invocation.recordsPath.empty() ? records::DefaultRecordsPath() : invocation.recordsPath;
    auto opened = ServiceRecords::OpenExisting(path);
    if (opened)
        return std::move(*opened.value);
    TellError(console, opened.reason);
    switch (opened.failure) {
        case records::OpenFailure::NoFile:
            status = missingStatus;
            break;
        case records::OpenFailure::Refused:
            status = kExitUsage;
            break;
        default:
            status = kExitFailed;
    }
    return nullptr;
}

namespace {

// A record id: digits only.
std::optional<int64_t> RecordIdOf(const std::string& word) {
    if (word.empty() || word.size() > 18 ||
        !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoll(word);
}

std::string TypeText(int type) {
    return type == 0 ? "-" : std::to_string(type);
}

// The history as a table whose columns are as wide as their widest cell.
// The history as a table whose columns are as wide as their widest cell. The cells are taken
// one operation at a time, in one flat list: a busy machine has ten thousand operations.
std::optional<std::string> HistoryTable(ServiceRecords& kept, const records::HistoryQuery& query,
                                        std::string& reason) {
    constexpr size_t kColumns = 7;
    std::vector<std::string> cells = {"ID", "TIME", "HOST", "TYPE", "OPERATION", "RESULT", "FILE"};
    const auto visited = kept.VisitHistory(query, [&cells](const records::StoredOperation& op) {
        cells.push_back(std::to_string(op.id));
        cells.push_back(LocalTime(op.startedMs));
        cells.push_back(platform::ShownText(op.machine.host));
        cells.push_back(TypeText(op.machine.type));
        cells.push_back(op.operation);
        cells.push_back(std::string(records::ResultWord(op.result)));
        cells.push_back(platform::ShownText(op.firstFile));
    });
    if (!visited) {
        reason = visited.reason;
        return std::nullopt;
    }
    std::vector<size_t> widths(kColumns, 0);
    for (size_t i = 0; i < cells.size(); ++i)
        widths[i % kColumns] = std::max(widths[i % kColumns], cells[i].size());
    const size_t lineLength = std::accumulate(widths.begin(), widths.end(), 2 * kColumns - 1);
    std::string table;
    table.reserve(cells.size() / kColumns * lineLength);
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t column = i % kColumns;
        table += cells[i];
        if (column + 1 < kColumns) {
            table.append(widths[column] - cells[i].size() + 2, ' ');
        } else {
            table.erase(table.find_last_not_of(' ') + 1);
            table += '\n';
        }
    }
    return table;
}

std::string HistoryJsonLine(const records::StoredOperation& op) {
    nlohmann::json line;
    line["id"] = op.id;
    line["started"] = op.startedMs;
    line["ended"] = op.endedMs;
    line["host"] = op.machine.host;
    line["type"] = op.machine.type;
    line["port"] = op.machine.portKind;
    line["operation"] = op.operation;
    line["result"] = records::ResultWord(op.result);
    line["message"] = op.message;
    line["ms"] = op.durationMs;
    line["program"] = op.program;
    line["file"] = op.firstFile;
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

int RunHistory(const Console& console, const Invocation& invocation) {
    records::HistoryQuery query;
    if (!invocation.host.empty())
        query.host = invocation.host;
    if (!invocation.historyOperation.empty())
        query.operation = invocation.historyOperation;
    if (!invocation.since.empty()) {
        query.sinceMs = ParseLocalTime(invocation.since);
        if (!query.sinceMs) {
            TellError(console,
                      "--since needs a date such as 2026-12-09 or 2026-12-09 08:30, not '" +
                          invocation.since + "'");
            return kExitUsage;
        }
    }
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitSuccess);
    if (!kept)
        return status;
    std::string reason;
    std::optional<std::string> text;
    if (invocation.json) {
        text.emplace();
        const auto visited = kept->VisitHistory(
            query, [&text](const records::StoredOperation& op) { *text += HistoryJsonLine(op); });
        if (!visited) {
            reason = visited.reason;
            text.reset();
        }
    } else {
        text = HistoryTable(*kept, query, reason);
    }
    if (!text) {
        TellError(console, reason);
        return kExitFailed;
    }
    return PrintText(console.writeOut, *text) ? kExitSuccess : kExitFailed;
}

// What one side of a comparison or a show holds.
struct KeptItem {
    records::ContentKind kind = records::ContentKind::Report;
    std::string report;
    std::vector<uint8_t> parameters;  // the data followed by its check byte
    std::string label;
};

// The content a record kept; a record without one, or one that cannot be read back, is
// told and gives nullopt.
std::optional<KeptItem> ItemOfRecord(const Console& console, ServiceRecords& kept, int64_t id) {
    const auto operation = kept.Operation(id);
    if (!operation) {
        TellError(console, operation.reason);
        return std::nullopt;
    }
    if (!operation->content) {
        TellError(console, "record " + std::to_string(id) + " kept no report or parameter set");
        return std::nullopt;
    }
    const auto content = kept.Content(*operation->content);
    if (!content) {
        TellError(console, content.reason);
        return std::nullopt;
    }
    KeptItem item;
    item.kind = content->kind;
    item.label = operation->machine.host + " " + LocalTime(operation->startedMs);
    if (item.kind == records::ContentKind::Report) {
        const auto text = records::DecodeReport(*content);
        if (text)
            item.report = *text;
        else
            TellError(console, text.reason);
        return text ? std::optional<KeptItem>(item) : std::nullopt;
    }
    const auto set = records::DecodeParameters(*content);
    if (!set) {
        TellError(console, set.reason);
        return std::nullopt;
    }
    item.parameters = *set;
    return item;
}

// A report's text as a file holds it; a file that cannot be read shows the OS reason.
bool ReadReportText(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (file)
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!file && !file.eof()) {
        platform::ShowText(platform::FileErrorText(path, errno));
        return false;
    }
    return true;
}

// A report file (name ending in "kel"), a report text (ending in "txt") or a parameter file.
// The file functions show their own messages.
std::optional<KeptItem> ItemOfFile(const std::string& path) {
    KeptItem item;
    item.label = path;
    const bool text = path.ends_with("txt");
    if (path.ends_with("kel") || text) {
        const bool read =
            text ? ReadReportText(path, item.report) : OpenReportFile(path, item.report);
        return read ? std::optional<KeptItem>(item) : std::nullopt;
    }
    item.kind = records::ContentKind::Parameters;
    const bool loaded = LoadParameterFile(
        [&path](std::string& chosen) {
            chosen = path;
            return true;
        },
        item.parameters);
    return loaded ? std::optional<KeptItem>(item) : std::nullopt;
}

// A word of compare: an existing file is that file, else digits name a record.
std::optional<KeptItem> ItemOf(const Console& console, const Invocation& invocation,
                               std::unique_ptr<ServiceRecords>& kept, const std::string& word) {
    const std::optional<int64_t> id = RecordIdOf(word);
    if (!id || std::filesystem::exists(word))
        return ItemOfFile(word);
    int status = kExitSuccess;
    if (!kept)
        kept = OpenRecords(console, invocation, status, kExitUsage);
    if (!kept)
        return std::nullopt;
    return ItemOfRecord(console, *kept, *id);
}

// The code page a shown report is converted from: --encoding, else the profile's, else none.
std::optional<platform::CodePage> ShownCodePage(const Invocation& invocation) {
    if (!invocation.encoding.empty())
        return platform::CodePage::Named(invocation.encoding);
    const std::string name =
        platform::ReportEncodingName(platform::ProfileStore(platform::ProfileStore::DefaultPath()));
    return name.empty() ? std::nullopt : platform::CodePage::Named(name);
}

int RunShow(const Console& console, const Invocation& invocation) {
    const std::optional<int64_t> id = RecordIdOf(invocation.file);
    if (!id) {
        TellError(console, "show needs a record number, not '" + invocation.file + "'");
        return kExitUsage;
    }
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitFailed);
    if (!kept)
        return status;
    const std::optional<KeptItem> item = ItemOfRecord(console, *kept, *id);
    if (!item)
        return kExitFailed;
    const std::string& output = invocation.output;
    if (item->kind == records::ContentKind::Parameters) {
        if (output.empty()) {
            TellError(console,
                      "record " + invocation.file + " holds a parameter set; save it with -o FILE");
            return kExitFailed;
        }
        const int count = static_cast<int>(item->parameters.size()) - 1;
        return SaveParameterFile(item->parameters.data(), count,
                                 [&output](std::string& chosen) {
                                     chosen = output;
                                     return true;
                                 })
                   ? kExitSuccess
                   : kExitFailed;
    }
    if (!output.empty())
        return SaveReportText(output, item->report) ? kExitSuccess : kExitFailed;
    const std::optional<platform::CodePage> codePage = ShownCodePage(invocation);
    const std::string shown = codePage ? codePage->ToUtf8(item->report) : item->report;
    return PrintText(console.writeOut, shown) ? kExitSuccess : kExitFailed;
}

constexpr int kCompareTrouble = 2;

int RunCompare(const Console& console, const Invocation& invocation) {
    std::unique_ptr<ServiceRecords> kept;
    const std::optional<KeptItem> before = ItemOf(console, invocation, kept, invocation.file);
    if (!before)
        return kCompareTrouble;
    const std::optional<KeptItem> after = ItemOf(console, invocation, kept, invocation.secondFile);
    if (!after)
        return kCompareTrouble;
    if (before->kind != after->kind) {
        TellError(console, "a report and a parameter set cannot be compared");
        return kCompareTrouble;
    }
    std::string difference;
    if (before->kind == records::ContentKind::Report) {
        difference =
            records::UnifiedDiff(before->report, after->report, before->label, after->label);
    } else {
        difference = records::FormatChangedBytes(
            records::ChangedByteRanges(before->parameters, after->parameters));
    }
    if (!PrintText(console.writeOut, difference))
        return kCompareTrouble;
    return difference.empty() ? kExitSuccess : kExitFailed;
}

std::string OptionalTime(const std::optional<int64_t>& ms) {
    return ms ? LocalTime(*ms) : "-";
}

int RunRecordsSummary(const Console& console, const Invocation& invocation) {
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitSuccess);
    if (!kept)
        return status;
    const auto summary = kept->Summarise();
    if (!summary) {
        TellError(console, summary.reason);
        return kExitFailed;
    }
    const std::string text = "path: " + summary->path +
                             "\nsize: " + std::to_string(summary->bytes) +
                             " bytes\noperations: " + std::to_string(summary->operations) +
                             "\nmachines: " + std::to_string(summary->machines) +
                             "\ncontents: " + std::to_string(summary->contents) +
                             "\nruns: " + std::to_string(summary->runs) +
                             "\noldest: " + OptionalTime(summary->oldestMs) +
                             "\nnewest: " + OptionalTime(summary->newestMs) + "\n";
    return PrintText(console.writeOut, text) ? kExitSuccess : kExitFailed;
}

int RunRecordsPrune(const Console& console, const Invocation& invocation) {
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitSuccess);
    if (!kept)
        return status;
    const int64_t cutoff =
        records::WallClockMs() - int64_t{invocation.olderThanDays} * kMillisecondsADay;
    const auto removed = kept->Prune(cutoff, invocation.pruneBackups);
    if (!removed) {
        TellError(console, removed.reason);
        return kExitFailed;
    }
    const std::string text = "removed " + std::to_string(removed->operations) + " operations and " +
                             std::to_string(removed->contents) + " contents, and gave back " +
                             std::to_string(removed->freedBytes) + " bytes\n";
    return PrintText(console.writeOut, text) ? kExitSuccess : kExitFailed;
}

}  // namespace

std::string RecordTime(int64_t ms) {
    return LocalTime(ms);
}

bool ReadsRecords(Command command) {
    return command == Command::History || command == Command::Show || command == Command::Compare ||
           command == Command::Records || command == Command::RecordsPrune;
}

int RunRecordsCommand(const Console& console, const Invocation& invocation) {
    switch (invocation.command) {
        case Command::History:
            return RunHistory(console, invocation);
        case Command::Show:
            return RunShow(console, invocation);
        case Command::Compare:
            return RunCompare(console, invocation);
        case Command::Records:
            return RunRecordsSummary(console, invocation);
        case Command::RecordsPrune:
            return RunRecordsPrune(console, invocation);
        default:
            return kExitUsage;
    }
}

}  // namespace kelo::cli
