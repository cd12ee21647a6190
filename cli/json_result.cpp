#include "cli/json_result.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/console.h"
#include "platform/code_points.h"
#include "platform/hex.h"
#include "platform/shown_text.h"
#include "records/words.h"

namespace kelo::cli {
namespace {

using Json = nlohmann::ordered_json;

// Each result as the records keep it, whose word a JSON line carries, and its word in the line
// a host list shows when a host ends.
struct ResultWords {
    RunResult result;
    records::Result recorded;
    const char* shown;
};

constexpr ResultWords kResultWords[] = {
    {RunResult::kOk, records::Result::Ok, "done"},
    {RunResult::kFailed, records::Result::Failed, "failed"},
    {RunResult::kCancelled, records::Result::Cancelled, "cancelled"},
    {RunResult::kTimedOut, records::Result::TimedOut, "timed out"},
    {RunResult::kSkipped, records::Result::Skipped, "skipped"},
    {RunResult::kUnchanged, records::Result::Unchanged, "unchanged"},
};

const ResultWords& WordsOf(RunResult result) {
    for (const ResultWords& words : kResultWords) {
        if (words.result == result)
            return words;
    }
    return kResultWords[1];
}

std::string_view ResultName(RunResult result) {
    return records::ResultWord(WordsOf(result).recorded);
}

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// Whether the UTF-8 sequence E2 second third is one of the characters JsonLine escapes:
// U+200E, U+200F, U+2028 to U+202E, U+2066 to U+2069.
bool TurnsTextAround(unsigned char second, unsigned char third) {
    if (second == 0x80)
        return third == 0x8E || third == 0x8F || (third >= 0xA8 && third <= 0xAE);
    return second == 0x81 && third >= 0xA6 && third <= 0xA9;
}

// The dumped text with those characters escaped. They stand only inside strings, where an
// escape means the same character, and the text is valid UTF-8, so every 0xE2 starts one.
std::string EscapeTurningCharacters(const std::string& dumped) {
    std::string line;
    line.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        const auto byte = [&](size_t at) { return static_cast<unsigned char>(dumped[at]); };
        if (byte(i) == 0xE2 && i + 2 < dumped.size() && TurnsTextAround(byte(i + 1), byte(i + 2))) {
            const unsigned codePoint = 0x2000 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", codePoint);
            line += escape;
            i += 2;
            continue;
        }
        line += dumped[i];
    }
    return line;
}

std::string Line(const Json& object) {
    return JsonLine(object);
}

// A report's text: decoded from the code page when one was given, else byte for byte.
std::string ReportText(const std::string& bytes,
                       const std::optional<platform::CodePage>& codePage) {
    return codePage ? codePage->ToUtf8(bytes) : platform::Latin1CodePoints(bytes);
}

}  // namespace

std::string JsonLine(const nlohmann::ordered_json& object) {
    return EscapeTurningCharacters(
               object.dump(-1, ' ', /*ensure_ascii=*/false, Json::error_handler_t::replace)) +
           "\n";
}

void HostListSummary::Count(RunResult result) {
    ++hosts;
    // In the order of RunResult.
    int* const counts[] = {&ok, &failed, &cancelled, &timedOut, &skipped, &unchanged};
    const auto index = static_cast<size_t>(result);
    ++*(index < std::size(counts) ? counts[index] : &failed);
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
    if (result.answered)
        line["answered"] = *result.answered;
    if (result.carriesText && result.textCodePage)
        line["encoding"] = result.textCodePage->Name();
    if (result.carriesText)
        line["text"] =
            result.text ? Json(ReportText(*result.text, result.textCodePage)) : Json(nullptr);
    if (result.check)
        line["check"] = *result.check;
    if (result.diff) {
        Json ranges = Json::array();
        for (const records::ChangedBytes& change : *result.diff) {
            Json range;
            range["offset"] = change.offset;
            range["length"] = std::max(change.before.size(), change.after.size());
            range["before"] = platform::LowerHex(change.before);
            range["after"] = platform::LowerHex(change.after);
            ranges.push_back(range);
        }
        line["diff"] = ranges;
    }
    if (result.backup)
        line["backup"] = *result.backup;
    return Line(line);
}

std::string SummaryLine(const HostListSummary& summary) {
    Json counts;
    counts["hosts"] = summary.hosts;
    counts["ok"] = summary.ok;
    counts["failed"] = summary.failed;
    counts["cancelled"] = summary.cancelled;
    counts["timed_out"] = summary.timedOut;
    counts["skipped"] = summary.skipped;
    // Only a list of parameter writes with --if-changed has unchanged hosts; any other keeps
    // its summary as it was.
    if (summary.unchanged > 0)
        counts["unchanged"] = summary.unchanged;
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
        if (found->get<std::string>() == records::ResultWord(words.recorded))
            return words.result;
    }
    return std::nullopt;
}

const char* ResultShownWord(RunResult result) {
    return WordsOf(result).shown;
}

records::Result RecordedResult(RunResult result) {
    return WordsOf(result).recorded;
}

RunResult ResultOfStatus(int exitStatus) {
    if (exitStatus == kExitSuccess)
        return RunResult::kOk;
    const bool stoppedBySignal =
        exitStatus == kExitCancelled || exitStatus == kExitTerminated || exitStatus == kExitHangUp;
    return stoppedBySignal ? RunResult::kCancelled : RunResult::kFailed;
}

}  // namespace kelo::cli
