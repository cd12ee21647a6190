#include "cli/rollout_limits.h"

#include <algorithm>

namespace kelo::cli {
namespace {

// The most digits a count may have, so that it fits an int and its arithmetic cannot overflow.
constexpr size_t kMostDigits = 9;

std::string Machines(size_t count) {
    return std::to_string(count) + (count == 1 ? " machine" : " machines");
}

}  // namespace

std::optional<int> ParseHostCount(const std::string& text) {
    if (text.empty() || text.size() > kMostDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::stoi(text);
}

std::optional<FailBudget> ParseFailBudget(const std::string& text) {
    const bool percent = text.ends_with('%');
    const std::optional<int> value =
        ParseHostCount(percent ? text.substr(0, text.size() - 1) : text);
    if (!value || (percent && *value > 100))
        return std::nullopt;
    return FailBudget{*value, percent};
}

RolloutGate::RolloutGate(const RolloutLimits& limits, size_t hosts)
    : limits_(limits),
      hosts_(hosts),
      canaries_(std::min(hosts, static_cast<size_t>(std::max(limits.canary.value_or(0), 0)))) {}

bool RolloutGate::OverBudget() const {
    if (!limits_.maxFail)
        return false;
    const auto allowed = static_cast<unsigned long long>(limits_.maxFail->value);
    if (limits_.maxFail->percent)
        return failed_ * 100ULL > allowed * hosts_;
    return failed_ > allowed;
}

bool RolloutGate::CanaryFailed() const {
    return canariesEnded_ == canaries_ && canariesFailed_ > 0;
}

RolloutGate::Step RolloutGate::Next(size_t index) const {
    if (OverBudget())
        return Step::kStop;
    if (index < canaries_)
        return Step::kStart;
    if (canariesEnded_ < canaries_)
        return Step::kWait;
    return canariesFailed_ > 0 ? Step::kStop : Step::kStart;
}

void RolloutGate::Ended(size_t index, RunResult result) {
    const bool failed = !Succeeded(result) && result != RunResult::kSkipped;
    if (failed)
        ++failed_;
    if (index < canaries_) {
        ++canariesEnded_;
        if (!Succeeded(result))
            ++canariesFailed_;
    }
}

std::string RolloutGate::StopReason() const {
    if (CanaryFailed()) {
        return std::to_string(canariesFailed_) + " of " + std::to_string(canaries_) +
               (canaries_ == 1 ? " canary machine" : " canary machines") + " failed";
    }
    const FailBudget budget = limits_.maxFail.value_or(FailBudget{});
    return Machines(failed_) + " failed, more than --max-fail " + std::to_string(budget.value) +
           (budget.percent ? "%" : "") + " allows";
}

std::string StoppedListLine(const std::string& reason, size_t skipped, const std::string& runId) {
    std::string line = reason + "; " + Machines(skipped) + " skipped";
    if (!runId.empty())
        line += " (resume with --resume " + runId + ")";
    return line;
}

}  // namespace kelo::cli
