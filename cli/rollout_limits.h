// How far a host list goes when its hosts fail. --canary N runs the first N hosts of the list
// on their own, and the rest only once every one of them ended ok; --max-fail N (or P%) starts
// no further host once more than N hosts (more than P% of the list) ended other than ok. The
// hosts a list does not start for either reason end "skipped", and can be resumed.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/json_result.h"

namespace kelo::cli {

// --max-fail: a number of hosts, or a percentage of the list's hosts.
struct FailBudget {
    int value = 0;
    bool percent = false;
};

struct RolloutLimits {
    std::optional<int> canary;  // --canary N
    std::optional<FailBudget> maxFail;
};

// A number of hosts: decimal digits only, so that "-1", "+5" or "0x10" is refused; nullopt
// for anything else.
std::optional<int> ParseHostCount(const std::string& text);

// "N" or "P%": N as ParseHostCount takes it, P 0 to 100; nullopt for anything else.
std::optional<FailBudget> ParseFailBudget(const std::string& text);

// Which hosts of a list may start, as the hosts before them end.
class RolloutGate {
  public:
    enum class Step {
        kStart,  // the host may start now
        kWait,   // not yet: a canary is still running
        kStop    // never: the list stops here
    };

    RolloutGate(const RolloutLimits& limits, size_t hosts);

    // Whether the host at this place of the list may start, the hosts before it started.
    Step Next(size_t index) const;
    // A host's result, whether it ran or not.
    void Ended(size_t index, RunResult result);

    // Why the list stopped, once Next said so: "1 of 2 canary machines failed" or "3 machines
    // failed, more than --max-fail 2 allows".
    std::string StopReason() const;

  private:
    bool OverBudget() const;
    bool CanaryFailed() const;

    RolloutLimits limits_;
    size_t hosts_;
    size_t canaries_;  // the canaries the list has: --canary, or every host of a shorter list
    size_t canariesEnded_ = 0;
    size_t canariesFailed_ = 0;
    size_t failed_ = 0;  // every host that ended other than ok, canaries included
};

// The line that ends a list that stopped: "REASON; N machines skipped (resume with --resume
// RUN)", the resume left out when the run was not recorded.
std::string StoppedListLine(const std::string& reason, size_t skipped, const std::string& runId);

}  // namespace kelo::cli
