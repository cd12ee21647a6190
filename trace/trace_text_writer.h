// The text trace: one block per event, each headed by a comment line ("# ", so that
// text2pcap skips it) with the UTC time to the millisecond, then for bytes the transport and
// peer, the direction ('>' to the machine, '<' from it), the byte count and the decoding,
// followed by the bytes in the layout of "od -Ax -tx1z" (six-digit hexadecimal offset, 16
// bytes in hex, their ASCII between '>' and '<'). text2pcap reads each block's rows as a
// packet; a part left out (an access code, the middle of a bulk payload) is a comment line,
// and the rows after it are a packet of their own. A run of bulk blocks (a firmware image)
// is written in batches of up to 64 KiB; every other event is written at once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "platform/trace.h"

namespace kelo::trace {

// The trace's hooks and types, which the writers work with.
using platform::TraceBlock;
using platform::TraceChannel;
using platform::TraceDirection;
using platform::TraceEndpoints;
using platform::TraceHiddenRange;
using platform::TraceOpenResult;
using platform::TraceSink;
using platform::TraceTransport;

// Where a writer puts its bytes; each call is one whole block or line group.
using TraceOutput = std::function<void(const void* data, size_t size)>;
// Microseconds since 1970-01-01 00:00 UTC.
using TraceClock = std::function<int64_t()>;
int64_t RealTimeMicroseconds();

// A payload over this many bytes shows only its first and last kBulkShown bytes.
constexpr size_t kBulkThreshold = 1024;
constexpr size_t kBulkShown = 256;

// "2024-05-01T12:00:00.123Z".
std::string UtcTimeText(int64_t microseconds);

// The rows of a block: hidden ranges become "# <access code, N characters, not shown>", the
// middle of a bulk payload "# <N bytes not shown>"; rows after such a line count from 000000
// again, and the line ends with " (the rows below start at byte N)".
std::string TraceRows(const TraceBlock& block);
void AppendTraceRows(std::string& out, const TraceBlock& block);

class TraceTextWriter : public TraceSink {
  public:
    explicit TraceTextWriter(TraceOutput output, TraceClock clock = RealTimeMicroseconds);
    // Writes what a run of bulk blocks left held back.
    ~TraceTextWriter() override;
    TraceTextWriter(const TraceTextWriter&) = delete;
    TraceTextWriter& operator=(const TraceTextWriter&) = delete;

    void Connecting(const TraceChannel& channel) override;
    void Opened(const TraceChannel& channel, TraceOpenResult result,
                const std::string& detail) override;
    void Bytes(const TraceChannel& channel, const TraceBlock& block) override;
    void PeerClosed(const TraceChannel& channel) override;
    void Closed(const TraceChannel& channel) override;
    void Note(const TraceChannel& channel, const std::string& text) override;
    void Wait(int milliseconds) override;
    void WaitCutShort(int milliseconds, long long lasted) override;
    void Cancel(const std::string& cause) override;
    void Message(const std::string& text) override;

  private:
    // The line of an event (time, then what), written at once with what was held back
    // before it. Only bulk blocks are held back, up to kHeldBack bytes.
    void Write(const std::string& what);
    void Write(int64_t microseconds, const std::string& what);
    void AppendTime(int64_t microseconds);
    void Flush();

    TraceOutput output_;
    TraceClock clock_;
    std::string pending_;
    int64_t timeSecond_ = 0;
    std::string timeText_;                       // UtcTimeText of timeSecond_
    std::map<uint64_t, int64_t> connectStarts_;  // channel id: when its connect went out
};

}  // namespace kelo::trace
