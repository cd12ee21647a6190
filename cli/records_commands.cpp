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
#include <string_view>
#include <vector>

#include "cli/json_result.h"
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
#include "service/report_code_page.h"

namespace kelo::cli {
namespace {

using records::ServiceRecords;

constexpr int64_t kMillisecondsADay = 86400000;

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

std::string TypeText(int type) {
    return type == 0 ? "-" : std::to_string(type);
}

// The history as a table whose columns are as wide as their widest cell. The cells are taken
// one operation at a time, in one flat list: a busy machine has ten thousand operations.
std::optional<std::string> HistoryTable(ServiceRecords& kept, const records::HistoryQuery& query,
                                        std::string& reason) {
    constexpr size_t kColumns = 7;
    std::vector<std::string> cells = {"ID", "TIME", "HOST", "TYPE", "OPERATION", "RESULT", "FILE"};
    const auto visited = kept.VisitHistory(query, [&cells](const records::StoredOperation& op) {
        cells.push_back(std::to_string(op.id));
        cells.push_back(records::LocalTimeText(op.startedMs));
        cells.push_back(platform::ShownText(op.machine.host));
        cells.push_back(TypeText(op.machine.type));
        cells.push_back(platform::ShownText(op.operation));
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

nlohmann::ordered_json FilesJson(const std::vector<records::FileUse>& files) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const records::FileUse& file : files)
        list.push_back({{"role", file.role},
                        {"name", file.name},
                        {"size", file.size},
                        {"sha256", file.sha256}});
    return list;
}

std::string HistoryJsonLine(const records::StoredOperation& op) {
    nlohmann::ordered_json line;
    line["id"] = op.id;
    line["started"] = op.startedMs;
    line["ended"] = op.endedMs;
    line["host"] = op.machine.host;
    line["address"] = op.machine.address;
    line["name"] = op.machine.name;
    line["type"] = op.machine.type;
    line["port"] = op.machine.portKind;
    line["operation"] = op.operation;
    line["result"] = records::ResultWord(op.result);
    line["message"] = op.message;
    line["ms"] = op.durationMs;
    line["program"] = op.program;
    line["run"] = op.runId ? nlohmann::ordered_json(*op.runId) : nlohmann::ordered_json(nullptr);
    line["file"] = op.firstFile;
    line["files"] = FilesJson(op.files);
    return JsonLine(line);
}

// A field of RFC 4180 CSV: quoted when it holds a comma, a quote or a line end, with its
// quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string field = "\"";
    for (char c : text) {
        field += c;
        if (c == '"')
            field += '"';
    }
    return field + "\"";
}

// A text a record holds, as a CSV cell: one a spreadsheet would take for a formula (it begins
// with =, +, -, @, a tab or a carriage return) gets a leading apostrophe, as spreadsheets
// write such text themselves; on a terminal it is shown through the filter of machine texts.
std::string CsvText(const std::string& text, bool terminal) {
    std::string cell = terminal ? platform::ShownText(text) : text;
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string::npos)
        cell.insert(0, 1, '\'');
    return CsvField(cell);
}

constexpr char kCsvHeader[] =
    "id,started,ended,host,address,name,type,port,operation,result,message,ms,program,run,"
    "role,file,size,sha256\r\n";

// One operation as a CSV record; an operation's files share its one record, a line each in
// the cells of role, file, size and sha256.
std::string HistoryCsvLine(const records::StoredOperation& op, bool terminal) {
    std::string roles, names, sizes, hashes;
    for (const records::FileUse& file : op.files) {
        const char* separator = &file == &op.files.front() ? "" : "\n";
        roles += separator + (terminal ? platform::ShownText(file.role) : file.role);
        names += separator + (terminal ? platform::ShownText(file.name) : file.name);
        sizes += separator + std::to_string(file.size);
        hashes += separator + (terminal ? platform::ShownText(file.sha256) : file.sha256);
    }
    const std::vector<std::string> fields = {
        std::to_string(op.id),
        records::LocalTimeText(op.startedMs),
        records::LocalTimeText(op.endedMs),
        CsvText(op.machine.host, terminal),
        CsvText(op.machine.address, terminal),
        CsvText(op.machine.name, terminal),
        std::to_string(op.machine.type),
        CsvText(op.machine.portKind, terminal),
        CsvText(op.operation, terminal),
        std::string(records::ResultWord(op.result)),
        CsvText(op.message, terminal),
        std::to_string(op.durationMs),
        CsvText(op.program, terminal),
        CsvText(op.runId.value_or(""), terminal),
        // Filtered a file at a time above, so that the line ends between them stay.
        CsvText(roles, false),
        CsvText(names, false),
        CsvField(sizes),
        CsvText(hashes, false),
    };
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : ",") + field;
    return line + "\r\n";
}

// --until: up to the end of the day, minute or second it names, as the start of the next one.
std::optional<int64_t> EndOfLocalTime(const std::string& text) {
    const std::optional<int64_t> start = ParseLocalTime(text);
    if (!start)
        return std::nullopt;
    const auto colons = std::count(text.begin(), text.end(), ':');
    if (colons == 2)
        return *start + 1000;
    if (colons == 1)
        return *start + 60000;
    // A whole day, counted in the calendar: a day of a clock change is not 24 hours.
    const std::time_t seconds = static_cast<std::time_t>(*start / 1000);
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    parts.tm_mday += 1;
    parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
    parts.tm_isdst = -1;
    const std::time_t next = std::mktime(&parts);
    if (next == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<int64_t>(next) * 1000;
}

// The date of --since or --until, or a usage error naming the option.
std::optional<int64_t> DateOption(const Console& console, const std::string& option,
                                  const std::string& text, bool end) {
    const std::optional<int64_t> ms = end ? EndOfLocalTime(text) : ParseLocalTime(text);
    if (!ms)
        TellError(console, option + " needs a date such as 2026-12-09 or 2026-12-09 08:30, not '" +
                               platform::ShownText(text) + "'");
    return ms;
}

// The query history's options ask for; a usage error is told and gives nullopt.
std::optional<records::HistoryQuery> HistoryQueryOf(const Console& console,
                                                    const Invocation& invocation) {
    records::HistoryQuery query;
    if (!invocation.history.host.empty())
        query.host = invocation.history.host;
    if (!invocation.history.operation.empty())
        query.operation = invocation.history.operation;
    if (!invocation.history.since.empty()) {
        query.sinceMs = DateOption(console, "--since", invocation.history.since, false);
        if (!query.sinceMs)
            return std::nullopt;
    }
    if (!invocation.history.until.empty()) {
        query.beforeMs = DateOption(console, "--until", invocation.history.until, true);
        if (!query.beforeMs)
            return std::nullopt;
    }
    if (!invocation.history.result.empty())
        query.result = records::ResultOfWord(invocation.history.result);
    if (!invocation.history.run.empty())
        query.runId = invocation.history.run;
    if (!invocation.history.file.empty())
        query.file = invocation.history.file;
    query.withFiles = invocation.json || invocation.history.csv;
    return query;
}

}  // namespace

int RunHistory(const Console& console, const Invocation& invocation) {
    std::optional<records::HistoryQuery> query = HistoryQueryOf(console, invocation);
    if (!query)
        return kExitUsage;
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitSuccess);
    if (!kept)
        return status;
    if (query->runId == "last") {
        const auto last = kept->Run("last");
        if (!last) {
            TellError(console, last.reason);
            return kExitFailed;
        }
        query->runId = last->id;
    }
    std::string reason;
    std::optional<std::string> text;
    if (invocation.json || invocation.history.csv) {
        const bool terminal = console.outIsTerminal;
        text.emplace(invocation.history.csv ? kCsvHeader : "");
        const auto visited = kept->VisitHistory(*query, [&](const records::StoredOperation& op) {
            *text += invocation.history.csv ? HistoryCsvLine(op, terminal) : HistoryJsonLine(op);
        });
        if (!visited) {
            reason = visited.reason;
            text.reset();
        }
    } else {
        text = HistoryTable(*kept, *query, reason);
    }
    if (!text) {
        TellError(console, reason);
        return kExitFailed;
    }
    return PrintText(console.writeOut, *text) ? kExitSuccess : kExitFailed;
}

namespace {

// What one side of a comparison or a show holds.
struct KeptItem {
    records::ContentKind kind = records::ContentKind::Report;
    std::string report;
    std::vector<uint8_t> parameters;  // the data followed by its check byte
    std::string label;
};

// The content an operation kept; one without one, or one that cannot be read back, is told
// and gives nullopt. The label names the machine as shown text: a host name may hold anything.
std::optional<KeptItem> ItemOfOperation(const Console& console, ServiceRecords& kept,
                                        const records::StoredOperation& operation) {
    if (!operation.content) {
        TellError(console,
                  "record " + std::to_string(operation.id) + " kept no report or parameter set");
        return std::nullopt;
    }
    const auto content = kept.Content(*operation.content);
    if (!content) {
        TellError(console, content.reason);
        return std::nullopt;
    }
    KeptItem item;
    item.kind = content->kind;
    item.label = platform::ShownText(operation.machine.host) + " " +
                 records::LocalTimeText(operation.startedMs);
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

std::optional<KeptItem> ItemOfRecord(const Console& console, ServiceRecords& kept, int64_t id) {
    const auto operation = kept.Operation(id);
    if (!operation) {
        TellError(console, operation.reason);
        return std::nullopt;
    }
    return ItemOfOperation(console, kept, *operation);
}

// A report's text as a file holds it; a file that cannot be read shows the OS reason.
bool ReadReportText(const std::string& path, std::string& text) {
    std::vector<uint8_t> bytes;
    bool tooLarge = false;
    if (!platform::ReadFileBytes(path, kMaxReportFileBytes, bytes, &tooLarge).OkElseShow(path))
        return false;
    if (tooLarge) {
        platform::ShowText(platform::FileErrorText(path, EFBIG));
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

// A report file (name ending in "kel"), a report text (ending in "txt") or a parameter file.
// The file functions show their own messages.
std::optional<KeptItem> ItemOfFile(const std::string& path) {
    KeptItem item;
    item.label = platform::ShownText(path);
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
    const std::optional<int64_t> id = records::RecordNumberOf(word);
    if (!id || std::filesystem::exists(word))
        return ItemOfFile(word);
    int status = kExitSuccess;
    if (!kept)
        kept = OpenRecords(console, invocation, status, kExitUsage);
    if (!kept)
        return std::nullopt;
    return ItemOfRecord(console, *kept, *id);
}

std::string KeptWhat(const records::StoredOperation& op) {
    if (!op.content)
        return "nothing";
    return op.contentKind == records::ContentKind::Parameters ? "a parameter set" : "a report";
}

// What show tells of every record: what was done to which machine, when and how it ended,
// what it kept, and each file it used with its role, name, size and SHA-256, a line each.
// Every text is shown through the filter of machine texts.
std::vector<std::string> RecordLines(const records::StoredOperation& op) {
    const auto shown = [](const std::string& text) { return platform::ShownText(text); };
    std::string machine = shown(op.machine.host);
    if (!op.machine.address.empty() && op.machine.address != op.machine.host)
        machine += " (" + shown(op.machine.address) + ")";
    if (!op.machine.name.empty())
        machine += " \"" + shown(op.machine.name) + "\"";
    std::vector<std::string> lines = {
        "record " + std::to_string(op.id) + ": " + shown(op.operation) + " of " + machine +
            ", type " + TypeText(op.machine.type) + ", " + records::LocalTimeText(op.startedMs) +
            ", " + std::string(records::ResultWord(op.result)),
    };
    if (!op.message.empty())
        lines.push_back("message: " + shown(op.message));
    if (op.runId)
        lines.push_back("run: " + shown(*op.runId));
    lines.push_back("kept: " + KeptWhat(op));
    if (op.files.empty())
        lines.emplace_back("files: none");
    for (const records::FileUse& file : op.files) {
        lines.push_back(shown(file.role) + " file: " + shown(file.name) + ", " +
                        std::to_string(file.size) + " bytes, sha256 " + shown(file.sha256));
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines, const std::string& prefix) {
    std::string text;
    for (const std::string& line : lines)
        text += prefix + line + "\n";
    return text;
}

}  // namespace

int RunShow(const Console& console, const Invocation& invocation) {
    const std::optional<int64_t> id = records::RecordNumberOf(invocation.show.record);
    if (!id) {
        TellError(console, "show needs a record number, not '" +
                               platform::ShownText(invocation.show.record) + "'");
        return kExitUsage;
    }
    int status = kExitSuccess;
    const auto kept = OpenRecords(console, invocation, status, kExitFailed);
    if (!kept)
        return status;
    const auto operation = kept->Operation(*id);
    if (!operation) {
        TellError(console, operation.reason);
        return kExitFailed;
    }
    const std::vector<std::string> told = RecordLines(*operation);
    const std::string& output = invocation.output;
    // A record that kept nothing, or a set not asked to be saved, is told alone.
    const bool keptSet = operation->contentKind == records::ContentKind::Parameters;
    if (output.empty() && (!operation->content || keptSet)) {
        const std::string hint = keptSet ? "save the parameter set with -o FILE\n" : "";
        return PrintText(console.writeOut, Joined(told, "") + hint) ? kExitSuccess : kExitFailed;
    }
    const std::optional<KeptItem> item = ItemOfOperation(console, *kept, *operation);
    if (!item)
        return kExitFailed;
    if (output.empty()) {
        // The code page is chosen as for get-report: a profile's unknown name is refused.
        const std::string profilePath = platform::ProfileStore::DefaultPath();
        const service::ReportCodePage chosen =
            service::ChooseReportCodePage(invocation.encoding, profilePath);
        if (!chosen.unknownName.empty()) {
            console.writeErr(kMessagePrefix + service::UnknownEncodingText(chosen, profilePath) +
                             "\n");
            return kExitUsage;
        }
        // The report's text is standard output's, byte for byte; the record is told beside it.
        console.writeErr(Joined(told, kMessagePrefix));
        const std::optional<platform::CodePage>& codePage = chosen.codePage;
        const std::string shown = codePage ? codePage->ToUtf8(item->report) : item->report;
        return PrintText(console.writeOut, shown) ? kExitSuccess : kExitFailed;
    }
    bool saved = false;
    if (item->kind == records::ContentKind::Parameters) {
        const int count = static_cast<int>(item->parameters.size()) - 1;
        saved = SaveParameterFile(item->parameters.data(), count, [&output](std::string& chosen) {
            chosen = output;
            return true;
        });
    } else {
        saved = SaveReportText(output, item->report);
    }
    if (!saved)
        return kExitFailed;
    return PrintText(console.writeOut, Joined(told, "")) ? kExitSuccess : kExitFailed;
}

namespace {

constexpr int kCompareTrouble = 2;

// The changed ranges of two parameter sets shown at once unless --all.
constexpr size_t kMostShownRanges = 100;

// A parameter set as it was loaded, without the check byte a parameter file ends with: the
// byte follows from the set and lies past its end, so it is no setting that changed.
std::vector<uint8_t> SetOf(const KeptItem& item) {
    const std::vector<uint8_t>& loaded = item.parameters;
    return std::vector<uint8_t>(loaded.begin(), loaded.end() - (loaded.empty() ? 0 : 1));
}

// The changed ranges of two sets, the first kMostShownRanges of them unless all, and the
// total; empty when the sets are equal.
std::string SetDifference(const KeptItem& before, const KeptItem& after, bool all) {
    std::vector<records::ChangedBytes> changes =
        records::ChangedByteRanges(SetOf(before), SetOf(after));
    if (changes.empty())
        return "";
    const std::string total = records::ChangedBytesTotal(changes);
    const size_t hidden = all ? 0 : changes.size() - std::min(changes.size(), kMostShownRanges);
    changes.resize(changes.size() - hidden);
    std::string text = records::FormatChangedBytes(changes);
    if (hidden > 0)
        text += "... " + std::to_string(hidden) + (hidden == 1 ? " more range" : " more ranges") +
                " (--all shows every one)\n";
    return text + total;
}

}  // namespace

int RunCompare(const Console& console, const Invocation& invocation) {
    std::unique_ptr<ServiceRecords> kept;
    const std::optional<KeptItem> before =
        ItemOf(console, invocation, kept, invocation.compare.first);
    if (!before)
        return kCompareTrouble;
    const std::optional<KeptItem> after =
        ItemOf(console, invocation, kept, invocation.compare.second);
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
        difference = SetDifference(*before, *after, invocation.compare.all);
    }
    if (!PrintText(console.writeOut, difference))
        return kCompareTrouble;
    return difference.empty() ? kExitSuccess : kExitFailed;
}

namespace {

std::string OptionalTime(const std::optional<int64_t>& ms) {
    return ms ? records::LocalTimeText(*ms) : "-";
}

}  // namespace

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
        records::WallClockMs() - int64_t{invocation.prune.olderThanDays} * kMillisecondsADay;
    const auto removed = kept->Prune(cutoff, invocation.prune.includeBackups);
    if (!removed) {
        TellError(console, removed.reason);
        return kExitFailed;
    }
    const std::string text = "removed " + std::to_string(removed->operations) + " operations and " +
                             std::to_string(removed->contents) + " contents, and gave back " +
                             std::to_string(removed->freedBytes) + " bytes\n";
    return PrintText(console.writeOut, text) ? kExitSuccess : kExitFailed;
}

std::string RecordTime(int64_t ms) {
    return records::LocalTimeText(ms);
}

}  // namespace kelo::cli
