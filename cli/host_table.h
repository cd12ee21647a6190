// Standard error during a host list. A host's messages come as "kelo-cli: HOST: TEXT", its
// result as one line "HOST: done" (failed, cancelled, timed out) when it ends, and the summary
// closes the run. On a terminal a block of lines stays below them, one per running host with its
// progress in percent; it is redrawn in place (at most every 100 ms), and cleared before
// anything else is written and at the end.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/json_result.h"
#include "cli/terminal.h"

namespace kelo::cli {

// The size of a terminal in characters.
struct TerminalSize {
    int columns = 80;
    int rows = 24;
};

class HostTable {
  public:
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    // live: draw the block of running hosts; size: the terminal's size at each redraw.
    HostTable(TerminalWriter write, bool live, std::function<TerminalSize()> size,
              SteadyNow now = std::chrono::steady_clock::now);

    void Started(size_t id, const std::string& host);
    void Progress(size_t id, int percent);
    void Message(const std::string& host, const std::string& text);
    // The host's result; id need not have started (a host that did not run).
    void Ended(size_t id, const std::string& host, RunResult result);
    // "N hosts: A done, B failed, C cancelled[, D timed out][, E skipped][, F unchanged]"; the
    // block is gone after it.
    void Summary(const HostListSummary& summary);

    // How long until a pending redraw of the block is due; nullopt when none is pending.
    std::optional<std::chrono::milliseconds> UntilRedraw() const;
    void RedrawIfDue();

    // One row of the block: the host, a bar and the percentage, cut to the width.
    static std::string Row(const std::string& host, size_t hostWidth, int percent, int columns);

  private:
    struct Running {
        size_t id;
        std::string host;
        int percent;
    };

    // Writes the lines above the block: on a terminal the block is cleared, the lines written
    // and the block drawn again, in one write.
    void WriteAbove(const std::string& lines);
    // The rows of the running hosts; those the terminal has no room for are counted in one.
    std::string Block() const;

    TerminalWriter write_;
    bool live_;
    std::function<TerminalSize()> size_;
    SteadyNow now_;
    std::vector<Running> running_;
    size_t drawnRows_ = 0;
    bool pending_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The size of the terminal on standard error; 80 by 24 when it cannot be told.
TerminalSize StandardErrorSize();

}  // namespace kelo::cli
