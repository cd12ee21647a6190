#include "trace/trace_text_writer.h"

#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kelo::trace {
namespace {

constexpr size_t kRowBytes = 16;

constexpr char kDigits[] = "0123456789abcdef";
// The longest row: six offset digits (more past 16 MiB), 16 times " xx", "  >", 16, "<\n".
constexpr size_t kLongestRow = 16 + 3 * kRowBytes + 3 + kRowBytes + 2;
// A text trace that runs behind a firmware upgrade holds its bulk blocks back up to this
// much, so that thousands of them cost a few writes; every other event writes at once.
constexpr size_t kHeldBack = 64 * 1024;

// " xx" for every byte value, four bytes apart so that each is one aligned copy.
struct HexCells {
    char cell[256][4];
    constexpr HexCells() : cell() {
        for (int c = 0; c < 256; ++c) {
            cell[c][0] = ' ';
            cell[c][1] = kDigits[c >> 4];
            cell[c][2] = kDigits[c & 0x0F];
            cell[c][3] = ' ';
        }
    }
};
constexpr HexCells kHexCells;

// One row: offset, the bytes in hex (short rows padded so the ASCII lines up), the ASCII.
// Written by hand rather than with snprintf: a traced firmware upgrade writes thousands.
void AppendRow(std::string& out, const uint8_t* data, size_t offset, size_t count) {
    char row[kLongestRow + 1];  // one more: the last hex cell is copied whole
    size_t at = 0;
    int digits = 6;
    while (digits < 16 && (offset >> (4 * digits)) != 0)
        ++digits;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        row[at++] = kDigits[(offset >> shift) & 0x0F];
    char* hex = row + at;
    char* ascii = hex + 3 * kRowBytes + 3;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = data[offset + i];
        std::memcpy(hex + 3 * i, kHexCells.cell[c], 4);
        ascii[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    std::memset(hex + 3 * count, ' ', 3 * (kRowBytes - count) + 2);
    at += 3 * kRowBytes + 2;
    row[at++] = '>';
    at += count;
    row[at++] = '<';
    row[at++] = '\n';
    out.append(row, at);
}

void AppendRows(std::string& out, const uint8_t* data, size_t from, size_t to) {
    for (size_t offset = from; offset < to; offset += kRowBytes)
        AppendRow(out, data, offset, std::min(kRowBytes, to - offset));
}

// Writes a block's rows so that text2pcap reads every byte they show: each run of shown
// bytes is a packet of its own, its rows counted from 000000, and each part left out is a
// comment line that says what it was and, when rows follow, at which byte of the block they
// start.
class BlockRows {
  public:
    BlockRows(std::string& out, const TraceBlock& block) : out_(out), block_(block) {}
    ~BlockRows() {
        if (gapOpen_)
            out_ += '\n';
    }
    BlockRows(const BlockRows&) = delete;
    BlockRows& operator=(const BlockRows&) = delete;

    // The bytes of [from, to) that the trace shows: all of them, or for a bulk payload only
    // those within its first and last kBulkShown bytes.
    void Shown(size_t from, size_t to) {
        if (from >= to)
            return;
        if (block_.size <= kBulkThreshold) {
            Rows(from, to);
            return;
        }
        const size_t headEnd = kBulkShown;
        const size_t tailStart = block_.size - kBulkShown;
        Rows(from, std::min(to, headEnd));
        const size_t gapFrom = std::max(from, headEnd);
        const size_t gapTo = std::min(to, tailStart);
        if (gapFrom < gapTo)
            LeftOut("<" + platform::ByteCount(gapTo - gapFrom) + " not shown>");
        Rows(std::max(from, tailStart), to);
    }

    void LeftOut(const std::string& what) {
        if (gapOpen_)
            out_ += '\n';
        out_ += "# ";
        out_ += what;
        gapOpen_ = true;
    }

  private:
    void Rows(size_t from, size_t to) {
        if (from >= to)
            return;
        if (gapOpen_) {
            out_ += " (the rows below start at byte " + std::to_string(from) + ")\n";
            gapOpen_ = false;
        }
        AppendRows(out_, block_.data + from, 0, to - from);
    }

    std::string& out_;
    const TraceBlock& block_;
    bool gapOpen_ = false;  // a comment line waits to be ended
};

}  // namespace

int64_t RealTimeMicroseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::string UtcTimeText(int64_t microseconds) {
    const time_t seconds = static_cast<time_t>(microseconds / 1000000);
    tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + length, sizeof text - length, ".%03dZ",
                  static_cast<int>(microseconds % 1000000 / 1000));
    return text;
}

std::string TraceRows(const TraceBlock& block) {
    std::string out;
    AppendTraceRows(out, block);
    return out;
}

void AppendTraceRows(std::string& out, const TraceBlock& block) {
    BlockRows rows(out, block);
    size_t position = 0;
    for (const TraceHiddenRange& range : block.hidden) {
        rows.Shown(position, range.offset);
        rows.LeftOut("<access code, " + std::to_string(range.length) + " characters, not shown>");
        position = range.offset + range.length;
    }
    rows.Shown(position, block.size);
}

TraceTextWriter::TraceTextWriter(TraceOutput output, TraceClock clock)
    : output_(std::move(output)), clock_(std::move(clock)) {}

TraceTextWriter::~TraceTextWriter() {
    Flush();
}

void TraceTextWriter::Write(const std::string& what) {
    Write(clock_(), what);
}

void TraceTextWriter::Write(int64_t microseconds, const std::string& what) {
    pending_ += "# ";
    AppendTime(microseconds);
    pending_ += ' ';
    pending_ += what;
    pending_ += '\n';
    Flush();
}

// The date and time to the second change seldom; only the milliseconds are new each time.
void TraceTextWriter::AppendTime(int64_t microseconds) {
    const int64_t second = microseconds / 1000000;
    if (second != timeSecond_ || timeText_.empty()) {
        timeSecond_ = second;
        timeText_ = UtcTimeText(second * 1000000);
    }
    const int milliseconds = static_cast<int>(microseconds % 1000000 / 1000);
    const char digits[3] = {static_cast<char>('0' + milliseconds / 100),
                            static_cast<char>('0' + milliseconds / 10 % 10),
                            static_cast<char>('0' + milliseconds % 10)};
    // "....:SS." then the milliseconds, then "Z".
    pending_.append(timeText_, 0, timeText_.size() - 4);
    pending_.append(digits, 3);
    pending_ += 'Z';
}

void TraceTextWriter::Flush() {
    if (pending_.empty())
        return;
    output_(pending_.data(), pending_.size());
    pending_.clear();
}

void TraceTextWriter::Connecting(const TraceChannel& channel) {
    connectStarts_[channel.Id()] = clock_();
}

// The line of a connect carries the time it went out, and says how it ended.
void TraceTextWriter::Opened(const TraceChannel& channel, TraceOpenResult result,
                             const std::string& detail) {
    int64_t time = 0;
    if (const auto start = connectStarts_.find(channel.Id()); start != connectStarts_.end()) {
        time = start->second;
        connectStarts_.erase(start);
    } else {
        time = clock_();
    }
    const TraceEndpoints& ends = channel.Endpoints();
    const bool network =
        ends.transport == TraceTransport::kTcp || ends.transport == TraceTransport::kUdp;
    const bool tcp = ends.transport == TraceTransport::kTcp;
    std::string outcome;
    switch (result) {
        case TraceOpenResult::kOpened:
            outcome = tcp ? "connected" : "opened";
            if (network)
                outcome += " from " + platform::AddressText(ends.localAddress, ends.localPort);
            break;
        case TraceOpenResult::kRefused:
            outcome = "refused (" + detail + ")";
            break;
        case TraceOpenResult::kNoAnswer:
            outcome = detail;
            break;
        case TraceOpenResult::kFailed:
            outcome = "failed (" + detail + ")";
            break;
    }
    Write(time, channel.Name() + (tcp ? " connect: " : " open: ") + outcome);
}

// Built in place: a traced firmware upgrade writes a thousand of these in a few milliseconds.
void TraceTextWriter::Bytes(const TraceChannel& channel, const TraceBlock& block) {
    pending_ += "# ";
    AppendTime(clock_());
    pending_ += ' ';
    pending_ += channel.Name();
    pending_ += block.direction == TraceDirection::kToMachine ? " > " : " < ";
    char count[24];
    pending_.append(count, std::to_chars(count, count + sizeof count, block.size).ptr);
    pending_ += block.size == 1 ? " byte" : " bytes";
    if (!block.decoding.empty()) {
        pending_ += ": ";
        pending_ += block.decoding;
    }
    pending_ += '\n';
    AppendTraceRows(pending_, block);
    if (block.size <= kBulkThreshold || pending_.size() >= kHeldBack)
        Flush();
}

void TraceTextWriter::PeerClosed(const TraceChannel& channel) {
    Write(channel.Name() + " closed by the machine");
}

void TraceTextWriter::Closed(const TraceChannel& channel) {
    Write(channel.Name() + " close");
}

void TraceTextWriter::Note(const TraceChannel& channel, const std::string& text) {
    Write(channel.Name() + " " + text);
}

void TraceTextWriter::Wait(int milliseconds) {
    Write("wait " + std::to_string(milliseconds) + " ms");
}

void TraceTextWriter::WaitCutShort(int milliseconds, long long lasted) {
    Write("wait " + std::to_string(milliseconds) + " ms cut short after " + std::to_string(lasted) +
          " ms");
}

void TraceTextWriter::Cancel(const std::string& cause) {
    Write(cause.empty() ? std::string("Cancel") : "Cancel (" + cause + ")");
}

void TraceTextWriter::Message(const std::string& text) {
    Write("message " + platform::QuotedPreview(reinterpret_cast<const uint8_t*>(text.data()),
                                               text.size(), text.size()));
}

}  // namespace kelo::trace
