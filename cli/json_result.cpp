#include "cli/json_result.h"

#include <nlohmann/json.hpp>

#include "cli/console.h"
#include "platform/code_points.h"
#include "platform/shown_text.h"

namespace kelo::cli {
namespace {

using Json = nlohmann::ordered_json;

// Each result's word in a JSON line and in the line a host list shows when a host ends.
struct ResultWords {
    RunResult result;
    const char* json;
    const char* shown;
};

constexpr ResultWords kResultWords[] = {
    {RunResult::kOk, "ok", "done"},
    {RunResult::kFailed, "failed", "failed"},
    {RunResult::kCancelled, "cancelled", "cancelled"},
    {RunResult::kTimedOut, "timed-out", "timed out"},
};

const ResultWords& WordsOf(RunResult result) {
    for (const ResultWords& words : kResultWords) {
        if (words.result == result)
            return words;
    }
    return kResultWords[1];
}

const char* ResultName(RunResult result) {
    return WordsOf(result).json;
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// One line: the object, UTF-8 as it stands, bytes that are not UTF-8 replaced.
std::string Line(const Json& object) {
    return object.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace) + "\n";
}

// A report's text: decoded from the code page when one was given, else byte for byte.
std::string ReportText(const std::string& bytes,
                       const std::optional<platform::CodePage>& codePage) {
    return codePage ? codePage->ToUtf8(bytes) : platform::Latin1CodePoints(bytes);
}

}  // namespace

void HostListSummary::Count(RunResult result) {
    ++hosts;
    switch (result) {
        case RunResult::kOk:
            ++ok;
            break;
        case RunResult::kCancelled:
            ++cancelled;
            break;
        case RunResult::kTimedOut:
            ++timedOut;
            break;
        default:
            ++failed;
            break;
    }
}

std::string ResultLine(const HostResult& result) {
    Json line;
    line["host"] = OrNull(result.host);
    line["address"] = OrNull(result.address);
    line["type"] = result.type;
    line["command"] = result.command;
    line["result"] = ResultName(result.result);
    // The message may quote what a machine or a list said: shown as any such text is.
    line["message"] = result.message ? Json(platform::ShownText(*result.message)) : Json(nullptr);
    line["output"] = OrNull(result.output);
    line["bytes"] = OrNull(result.bytes);
    line["ms"] = OrNull(result.ms);
    if (result.carriesText && result.textCodePage)
        line["encoding"] = result.textCodePage->Name();
    if (result.carriesText)
        line["text"] =
            result.text ? Json(ReportText(*result.text, result.textCodePage)) : Json(nullptr);
    return Line(line);
}

std::string SummaryLine(const HostListSummary& summary) {
    Json counts;
    counts["hosts"] = summary.hosts;
    counts["ok"] = summary.ok;
    counts["failed"] = summary.failed;
    counts["cancelled"] = summary.cancelled;
    counts["timed_out"] = summary.timedOut;
    counts["ms"] = summary.ms;
    if (!summary.runId.empty())
        counts["run"] = summary.runId;
    Json line;
    line["summary"] = counts;
    return Line(line);
}

std::optional<RunResult> ResultOfLine(const std::string& line) {
    const Json object = Json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object())
        return std::nullopt;
    const auto found = object.find("result");
    if (found == object.end() || !found->is_string())
        return std::nullopt;
    for (const ResultWords& words : kResultWords) {
        if (found->get<std::string>() == words.json)
            return words.result;
    }
    return std::nullopt;
}

const char* ResultShownWord(RunResult result) {
    return WordsOf(result).shown;
}

RunResult ResultOfStatus(int exitStatus) {
    if (exitStatus == kExitSuccess)
        return RunResult::kOk;
    const bool stoppedBySignal =
        exitStatus == kExitCancelled || exitStatus == kExitTerminated || exitStatus == kExitHangUp;
    return stoppedBySignal ? RunResult::kCancelled : RunResult::kFailed;
}

}  // namespace kelo::cli
