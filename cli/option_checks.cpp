#include "cli/option_checks.h"

#include "cli/rollout_limits.h"

#include <algorithm>
#include <map>

#include "cli/commands.h"

namespace kelo::cli {

CLI::Validator Within(int low, int high) {
    return CLI::Range(low, high).description("");
}

CLI::Validator OneOf(const std::vector<std::string>& words) {
    return CLI::IsMember(words).description("");
}

namespace {

// The check first, and the transform only on a value it let pass, so that a refusal names
// the check's own words.
CLI::Validator CheckThenTransform(const CLI::Validator& check, const CLI::Validator& transform) {
    return CLI::Validator(
        [check, transform](std::string& value) {
            std::string refusal = check(value);
            return refusal.empty() ? transform(value) : refusal;
        },
        "");
}

}  // namespace

// Only the names themselves are taken (a CheckedTransformer alone would also take the values
// they stand for), and a word that is none is refused as one outside the list.
CLI::Validator PortKindByName() {
    std::map<std::string, int> kinds;
    for (size_t kind = 0; kind < PortKindNames().size(); ++kind)
        kinds.emplace(PortKindNames()[kind], static_cast<int>(kind));
    return CheckThenTransform(OneOf(PortKindNames()), CLI::CheckedTransformer(kinds));
}

// The range is checked first, so that a wrong type is told as one outside 1 to 4.
CLI::Validator MachineTypeToIndex() {
    return CheckThenTransform(Within(1, 4), CLI::CheckedTransformer(std::map<std::string, int>{
                                                {"1", 0}, {"2", 1}, {"3", 2}, {"4", 3}}));
}

CLI::Validator FileName() {
    return CLI::Validator(
        [](std::string& name) -> std::string {
            if (name.empty())
                return "needs a file name";
            if (name == "--help" || name == "-h" || name == "--version")
                return "needs a file name, not " + name;
            return "";
        },
        "");
}

CLI::Validator RunId() {
    return CLI::Validator(
        [](std::string& run) -> std::string {
            const bool idForm =
                !run.empty() && run.size() <= 40 && std::all_of(run.begin(), run.end(), [](char c) {
                    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-';
                });
            return idForm || run == "last" ? "" : "needs a run id or last";
        },
        "");
}

CLI::Validator HostCount() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseHostCount(text) ? "" : "needs a whole number of hosts, not '" + text + "'";
        },
        "");
}

CLI::Validator FailBudgetText() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseFailBudget(text)
                       ? ""
                       : "needs a number of hosts or a percentage up to 100%, not '" + text + "'";
        },
        "");
}

bool IsUsableHostName(const std::string& host) {
    return !host.empty() && std::none_of(host.begin(), host.end(),
                                         [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

}  // namespace kelo::cli
