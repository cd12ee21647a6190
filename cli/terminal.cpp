#include "cli/terminal.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "cli/console.h"
#include "cli/interrupt.h"
#include "platform/atomic_file.h"

namespace kelo::cli {
namespace {

constexpr int kBarWidth = 30;

}  // namespace

void WriteStandardError(const std::string& bytes) {
    platform::WriteWhole(STDERR_FILENO, bytes);  // a failure leaves nowhere to report it
}

ProgressLine::ProgressLine(TerminalWriter write, SteadyNow now)
    : write_(std::move(write)), now_(std::move(now)) {}

std::string ProgressLine::Render(const std::string& label, int range, int position) {
    std::string line = label;
    if (range > 0) {
        // Some operations run the position one or two past the range; the bar stops full.
        const long long filled = std::clamp(static_cast<long long>(position) * kBarWidth / range,
                                            0LL, static_cast<long long>(kBarWidth));
        line += " [" + std::string(static_cast<size_t>(filled), '#') +
                std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "]";
    }
    line += " " + std::to_string(position) + "/" + std::to_string(range);
    return line;
}

void ProgressLine::Update(int range, int position) {
    const auto now = now_();
    const bool atEnd = range > 0 && position >= range;
    if (!drawn_.empty() && !atEnd && now - lastDraw_ < kRedrawInterval)
        return;
    const std::string line = Render(label_, range, position);
    if (line == drawn_)
        return;
    // Spaces cover what a longer earlier line left behind.
    const size_t cover = drawn_.size() > line.size() ? drawn_.size() - line.size() : 0;
    write_("\r" + line + std::string(cover, ' ') + std::string(cover, '\b'));
    drawn_ = line;
    lastDraw_ = now;
}

void ProgressLine::Clear() {
    if (drawn_.empty())
        return;
    write_("\r" + std::string(drawn_.size(), ' ') + "\r");
    drawn_.clear();
}

int PercentLine::Percent(int range, int position) {
    if (range <= 0)
        return 0;
    return static_cast<int>(std::clamp(static_cast<long long>(position) * 100 / range, 0LL, 100LL));
}

void PercentLine::Update(int range, int position) {
    const int percent = Percent(range, position);
    if (percent == written_)
        return;
    write_(std::to_string(percent) + "\n");
    written_ = percent;
}

TerminalSink::TerminalSink(TerminalWriter write, ProgressLine* progress)
    : write_(std::move(write)), progress_(progress) {}

void TerminalSink::Show(const platform::Message& message) {
    // A run that a signal stopped is not done, even where its operation ran to the end.
    if (message.id == platform::MessageId::kDone && Interrupted())
        return;
    if (progress_ != nullptr)
        progress_->Clear();
    write_(kMessagePrefix + message.text + "\n");
    ids_.push_back(message.id);
    lastText_ = message.text;
    // The GUI answers this message with its port selection dialog; a terminal needs the words.
    if (message.id == platform::MessageId::kSetUpPort)
        write_(std::string(kMessagePrefix) +
               "hint: kelo-cli config add-host HOST (and config type N)\n");
}

void TerminalSink::Tell(const std::string& text) {
    Show(platform::Message{0, text, platform::Icon::Warning});
}

}  // namespace kelo::cli
