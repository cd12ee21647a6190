// Standard error as kelo-cli uses it: each message as one line "kelo-cli: TEXT", and on a
// terminal one progress line that is redrawn in place and cleared before anything else is
// written.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/messages.h"

namespace kelo::cli {

// Writes bytes to standard error (or, in tests, wherever the function puts them).
using TerminalWriter = std::function<void(const std::string& bytes)>;
using SteadyNow = std::function<std::chrono::steady_clock::time_point()>;

// Writes the bytes to descriptor 2, unbuffered, so lines and the progress line never mix.
void WriteStandardError(const std::string& bytes);

class ProgressLine {
  public:
    // Redraws come at most this often, except the one that reaches the end of the range.
    static constexpr std::chrono::milliseconds kRedrawInterval{100};

    explicit ProgressLine(TerminalWriter write, SteadyNow now = std::chrono::steady_clock::now);

    // The name of the operation, shown before the bar.
    void SetLabel(std::string label) { label_ = std::move(label); }

    // Draws the operation's range and position, unless a redraw came too recently.
    void Update(int range, int position);

    // Erases a drawn line and puts the cursor back at its start.
    void Clear();

    // The line's text: "Get Report [#####     ] 512/1024".
    static std::string Render(const std::string& label, int range, int position);

  private:
    TerminalWriter write_;
    SteadyNow now_;
    std::string label_;
    std::string drawn_;  // the text on the terminal now; empty when nothing is drawn
    std::chrono::steady_clock::time_point lastDraw_{};
};

// The progress as a whole percentage, one line each ("37\n"), written when it changes: what
// --progress-fd gives to a progress dialog such as zenity's, and what a host list reads from
// each of its hosts.
class PercentLine {
  public:
    explicit PercentLine(TerminalWriter write) : write_(std::move(write)) {}

    void Update(int range, int position);

    // 0 to 100; 0 for an empty range.
    static int Percent(int range, int position);

  private:
    TerminalWriter write_;
    int written_ = -1;
};

// The message sink of kelo-cli. It keeps the ids of the messages shown, because Put
// Parameters and Firmware upgrade tell their outcome only by their messages.
class TerminalSink : public platform::MessageSink {
  public:
    // progress may be null when no progress line is drawn.
    TerminalSink(TerminalWriter write, ProgressLine* progress);

    void Show(const platform::Message& message) override;
    // A line of kelo-cli's own where the system shows nothing: written and kept as messages
    // are, so that it is the run's last message in its result line too.
    void Tell(const std::string& text);

    const std::vector<int>& ShownIds() const { return ids_; }
    // The text of the last message shown; nullopt when none was.
    const std::optional<std::string>& LastText() const { return lastText_; }

  private:
    TerminalWriter write_;
    ProgressLine* progress_;
    std::vector<int> ids_;
    std::optional<std::string> lastText_;
};

}  // namespace kelo::cli
