#include "cli/host_table.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "cli/console.h"
#include "platform/shown_text.h"

namespace kelo::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr size_t kNarrowestHostColumn = 15;  // a dotted IPv4 address
// A longer name is cut with "…", so that the bar keeps its place on an 80-column terminal.
constexpr size_t kWidestHostColumn = 32;

// Moves the cursor up over the given number of lines and clears from there to the end.
std::string EraseLinesAbove(size_t lines) {
    if (lines == 0)
        return "";
    return "\x1b[" + std::to_string(lines) + "A\r\x1b[J";
}

// The first characters of text that fill at most the columns.
std::string CutWithoutMark(const std::string& text, size_t columns) {
    std::string cut;
    for (size_t at = 0; at < text.size();) {
        size_t next = at + 1;
        while (next < text.size() && (static_cast<unsigned char>(text[next]) & 0xC0) == 0x80)
            ++next;
        if (platform::DisplayColumns(cut + text.substr(at, next - at)) > columns)
            break;
        cut.append(text, at, next - at);
        at = next;
    }
    return cut;
}

}  // namespace

HostTable::HostTable(TerminalWriter write, bool live, std::function<TerminalSize()> size,
                     SteadyNow now)
    : write_(std::move(write)), live_(live), size_(std::move(size)), now_(std::move(now)) {}

std::string HostTable::Row(const std::string& host, size_t hostWidth, int percent, int columns) {
    const int filled = std::clamp(percent, 0, 100) * kBarWidth / 100;
    std::string row = platform::CutToColumns(host, hostWidth);
    row.append(hostWidth - platform::DisplayColumns(row), ' ');
    const std::string number = std::to_string(std::clamp(percent, 0, 100));
    row += " [" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), ' ') + "] " +
           std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "%";
    // A row that wrapped would move every later line; one column stays free for the cursor.
    const size_t width = static_cast<size_t>(std::max(columns - 1, 1));
    if (platform::DisplayColumns(row) > width)
        row = CutWithoutMark(row, width);
    return row;
}

void HostTable::Started(size_t id, const std::string& host) {
    running_.push_back({id, host, 0});
    pending_ = true;
    RedrawIfDue();
}

void HostTable::Progress(size_t id, int percent) {
    for (Running& run : running_) {
        if (run.id == id && run.percent != percent) {
            run.percent = percent;
            pending_ = true;
        }
    }
    RedrawIfDue();
}

void HostTable::Message(const std::string& host, const std::string& text) {
    WriteAbove(kMessagePrefix + host + ": " + text + "\n");
}

void HostTable::Ended(size_t id, const std::string& host, RunResult result) {
    std::erase_if(running_, [id](const Running& run) { return run.id == id; });
    WriteAbove(host + ": " + ResultShownWord(result) + "\n");
}

void HostTable::Summary(const HostListSummary& summary) {
    running_.clear();
    // Timed-out hosts are named only when there are any, so the usual line stays as it was.
    const std::string timedOut =
        summary.timedOut > 0 ? ", " + std::to_string(summary.timedOut) + " timed out" : "";
    const std::string skipped =
        summary.skipped > 0 ? ", " + std::to_string(summary.skipped) + " skipped" : "";
    const std::string unchanged =
        summary.unchanged > 0 ? ", " + std::to_string(summary.unchanged) + " unchanged" : "";
    const std::string run = summary.runId.empty() ? "" : " (run " + summary.runId + ")";
    WriteAbove(std::to_string(summary.hosts) + (summary.hosts == 1 ? " host: " : " hosts: ") +
               std::to_string(summary.ok) + " done, " + std::to_string(summary.failed) +
               " failed, " + std::to_string(summary.cancelled) + " cancelled" + timedOut + skipped +
               unchanged + run + "\n");
}

std::optional<std::chrono::milliseconds> HostTable::UntilRedraw() const {
    if (!live_ || !pending_)
        return std::nullopt;
    const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now_() - lastDraw_);
    return std::max(kRedrawInterval - since, std::chrono::milliseconds(0));
}

void HostTable::RedrawIfDue() {
    if (const std::optional<std::chrono::milliseconds> wait = UntilRedraw();
        wait && wait->count() == 0)
        WriteAbove("");
}

void HostTable::WriteAbove(const std::string& lines) {
    if (!live_) {
        write_(lines);
        return;
    }
    const std::string block = Block();
    write_(EraseLinesAbove(drawnRows_) + lines + block);
    drawnRows_ = static_cast<size_t>(std::count(block.begin(), block.end(), '\n'));
    pending_ = false;
    lastDraw_ = now_();
}

std::string HostTable::Block() const {
    const TerminalSize size = size_();
    // The block must fit the screen, or moving up over it would miss its first rows.
    const size_t room = static_cast<size_t>(std::max(size.rows - 1, 1));
    const size_t shown = running_.size() <= room ? running_.size() : room - 1;
    size_t hostWidth = kNarrowestHostColumn;
    for (size_t i = 0; i < shown; ++i)
        hostWidth = std::max(
            hostWidth, std::min(platform::DisplayColumns(running_[i].host), kWidestHostColumn));
    std::string block;
    for (size_t i = 0; i < shown; ++i)
        block += Row(running_[i].host, hostWidth, running_[i].percent, size.columns) + "\n";
    if (shown < running_.size())
        block += "and " + std::to_string(running_.size() - shown) + " more running\n";
    return block;
}

TerminalSize StandardErrorSize() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return {};
    return {size.ws_col, size.ws_row};
}

}  // namespace kelo::cli
