#include "records/compare.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstdio>

namespace kelo::records {
namespace {

constexpr size_t kContextLines = 3;

// One line of the unified form: ' ' kept, '-' only before, '+' only after.
struct Step {
    char mark;
    std::string line;  // with its line feed, when it had one
};

// The lines of a text, each with its line feed, so that a last line without one differs from
// the same line with one, as diff sees it.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size() - 1) + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

char MarkOf(dtl::edit_t type) {
    return type == dtl::SES_ADD ? '+' : type == dtl::SES_DELETE ? '-' : ' ';
}

// The shortest edit script from dtl, each run of changed lines put with its removed lines
// first, as diff prints them.
std::vector<Step> EditScript(const std::vector<std::string>& before,
                             const std::vector<std::string>& after) {
    dtl::Diff<std::string, std::vector<std::string>> diff(before, after);
    diff.compose();
    std::vector<Step> steps;
    for (const auto& [line, info] : diff.getSes().getSequence())
        steps.push_back(Step{MarkOf(info.type), line});
    for (auto run = steps.begin(); run != steps.end();) {
        const auto isKept = [](const Step& step) { return step.mark == ' '; };
        run = std::find_if_not(run, steps.end(), isKept);
        const auto runEnd = std::find_if(run, steps.end(), isKept);
        std::stable_partition(run, runEnd, [](const Step& step) { return step.mark == '-'; });
        run = runEnd;
    }
    return steps;
}

// The end of the hunk whose first change is at first: changes join one hunk while no more
// than twice the context lies between them; the hunk ends with the context after the last.
size_t HunkEnd(const std::vector<Step>& steps, size_t first) {
    size_t lastChange = first;
    size_t at = first;
    while (at < steps.size()) {
        if (steps[at].mark != ' ') {
            lastChange = at++;
            continue;
        }
        size_t kept = at;
        while (kept < steps.size() && steps[kept].mark == ' ')
            ++kept;
        if (kept == steps.size() || kept - at > 2 * kContextLines)
            break;
        at = kept;
    }
    return std::min(lastChange + 1 + kContextLines, steps.size());
}

// A line range of a hunk header as diff writes it: "start,count", the start alone for one
// line, and the line before the hunk with ",0" for none.
std::string LineRange(size_t linesBefore, size_t count) {
    if (count == 1)
        return std::to_string(linesBefore + 1);
    return std::to_string(count == 0 ? linesBefore : linesBefore + 1) + "," + std::to_string(count);
}

void AppendHunk(std::string& out, const std::vector<Step>& steps, size_t begin, size_t end,
                size_t beforeLine, size_t afterLine) {
    size_t beforeCount = 0;
    size_t afterCount = 0;
    for (size_t i = begin; i < end; ++i) {
        beforeCount += steps[i].mark != '+';
        afterCount += steps[i].mark != '-';
    }
    out += "@@ -" + LineRange(beforeLine, beforeCount) + " +" + LineRange(afterLine, afterCount) +
           " @@\n";
    for (size_t i = begin; i < end; ++i) {
        out += steps[i].mark;
        out += steps[i].line;
        if (steps[i].line.empty() || steps[i].line.back() != '\n')
            out += "\n\\ No newline at end of file\n";
    }
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty())
        return "-";
    std::string text;
    char digits[4];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        if (!text.empty())
            text += ' ';
        text += digits;
    }
    return text;
}

}  // namespace

std::string UnifiedDiff(const std::string& before, const std::string& after,
                        const std::string& beforeLabel, const std::string& afterLabel) {
    if (before == after)
        return "";
    const std::vector<Step> steps = EditScript(SplitLines(before), SplitLines(after));
    std::string out = "--- " + beforeLabel + "\n+++ " + afterLabel + "\n";
    size_t beforeLine = 0;  // lines of each text ahead of steps[at]
    size_t afterLine = 0;
    size_t at = 0;
    while (at < steps.size()) {
        if (steps[at].mark == ' ') {
            ++beforeLine;
            ++afterLine;
            ++at;
            continue;
        }
        const size_t begin = at - std::min(at, kContextLines);
        // The context lines ahead of the change are kept lines counted already.
        const size_t lead = at - begin;
        const size_t end = HunkEnd(steps, at);
        AppendHunk(out, steps, begin, end, beforeLine - lead, afterLine - lead);
        for (; at < end; ++at) {
            beforeLine += steps[at].mark != '+';
            afterLine += steps[at].mark != '-';
        }
    }
    return out;
}

std::vector<ChangedBytes> ChangedByteRanges(const std::vector<uint8_t>& before,
                                            const std::vector<uint8_t>& after) {
    const size_t length = std::max(before.size(), after.size());
    const auto differs = [&](size_t i) {
        return i >= before.size() || i >= after.size() || before[i] != after[i];
    };
    const auto slice = [](const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
        return std::vector<uint8_t>(bytes.begin() + std::min(begin, bytes.size()),
                                    bytes.begin() + std::min(end, bytes.size()));
    };
    std::vector<ChangedBytes> changes;
    size_t i = 0;
    while (i < length) {
        if (!differs(i)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < length && differs(end))
            ++end;
        changes.push_back(ChangedBytes{i, slice(before, i, end), slice(after, i, end)});
        i = end;
    }
    return changes;
}

std::string FormatChangedBytes(const std::vector<ChangedBytes>& changes) {
    std::string text;
    char offset[24];
    for (const ChangedBytes& change : changes) {
        std::snprintf(offset, sizeof offset, "0x%06zx: ", change.offset);
        text += offset + HexBytes(change.before) + " -> " + HexBytes(change.after) + "\n";
    }
    return text;
}

size_t ChangedByteCount(const std::vector<ChangedBytes>& changes) {
    size_t bytes = 0;
    for (const ChangedBytes& change : changes)
        bytes += std::max(change.before.size(), change.after.size());
    return bytes;
}

std::string ChangedBytesTotal(const std::vector<ChangedBytes>& changes) {
    const size_t bytes = ChangedByteCount(changes);
    return std::to_string(bytes) + (bytes == 1 ? " byte differs in " : " bytes differ in ") +
           std::to_string(changes.size()) + (changes.size() == 1 ? " range\n" : " ranges\n");
}

}  // namespace kelo::records
