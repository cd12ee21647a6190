// The protocol trace: every byte that goes to or comes from the machine, and every event
// around it (connects, closes, fixed waits, Cancel, the messages shown), handed to the one
// trace sink installed for the process. Without a sink every hook costs one load and one
// test; a build with KELO_NO_TRACE compiles the hooks out altogether.
//
// The transports own a TraceChannel each. Its slow path runs the mask its owner handed in over
// the bytes going to the machine before anything else sees them, so no decoder and no writer
// ever holds an access code, then lets the channel's decoder describe the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelo::platform {

enum class TraceDirection : uint8_t { kToMachine, kFromMachine };
enum class TraceTransport : uint8_t { kTcp, kUdp, kUsb, kParallel };

// The two ends of a channel: IPv4 addresses and ports in host byte order for the network,
// the device for USB and the parallel port.
struct TraceEndpoints {
    TraceTransport transport = TraceTransport::kTcp;
    uint32_t localAddress = 0;
    uint16_t localPort = 0;
    uint32_t peerAddress = 0;
    uint16_t peerPort = 0;
    std::string device;
};

// "127.0.0.2:9101".
std::string AddressText(uint32_t address, uint16_t port);

// Bytes as a quoted text for a decoding: printable ASCII as it is, \r \n \t \" \\ escaped,
// other bytes as \xNN; after limit bytes it stops with "...".
std::string QuotedPreview(const uint8_t* data, size_t size, size_t limit = 40);

// "1 byte", "510 bytes".
std::string ByteCount(size_t count);

// The part of a block the text trace leaves out: an access code.
struct TraceHiddenRange {
    size_t offset = 0;
    size_t length = 0;
    bool operator==(const TraceHiddenRange&) const = default;
};

// One block as every sink gets it: the access codes in it are already masked.
struct TraceBlock {
    TraceDirection direction = TraceDirection::kToMachine;
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::string decoding;                  // one line; empty when nobody can tell
    std::vector<TraceHiddenRange> hidden;  // masked ranges, in order
};

// How opening a channel ended.
enum class TraceOpenResult : uint8_t {
    kOpened,
    kRefused,   // the machine answered the connect with a refusal
    kNoAnswer,  // the connect got no answer before its deadline
    kFailed,    // anything else: no device, an interrupted connect, an error
};

// Describes the blocks of one channel, one line each. Blocks come in the order they went over
// the channel, in both directions, so a decoder may keep state (a frame split over several
// receives). It sees the bytes already masked.
class TraceDecoder {
  public:
    virtual ~TraceDecoder() = default;
    virtual std::string Decode(TraceDirection direction, const uint8_t* data, size_t size) = 0;
};

// Makes the decoder of a channel; it runs the first time the channel is traced.
using TraceDecoderFactory = std::function<std::unique_ptr<TraceDecoder>()>;

// Hides what must never reach a trace file in the bytes going to the machine (the access
// codes). Only the owner of a channel knows what its bytes carry, so it hands the mask in, as
// it hands in the decoder. A mask keeps its state across the blocks of its channel.
class TraceMask {
  public:
    virtual ~TraceMask() = default;
    // The ranges of this block to hide, in order; when there is any, masked holds the block
    // with them hidden.
    virtual std::vector<TraceHiddenRange> Apply(const uint8_t* data, size_t size,
                                                std::vector<uint8_t>& masked) = 0;
};

// Makes the mask of a channel; it runs the first time the channel is traced.
using TraceMaskFactory = std::function<std::unique_ptr<TraceMask>()>;

class TraceChannel;

// Where the trace goes: the text trace, the capture file, or both.
// Every event does nothing unless a sink overrides it, so that a sink names only the events
// it writes.
class TraceSink {
  public:
    virtual ~TraceSink() = default;
    // A connect went out and waits for its answer; Opened tells how it ended. Channels that
    // open at once (SNMP's socket, USB, the parallel port) report Opened only.
    virtual void Connecting(const TraceChannel& /*channel*/) {}
    // A channel was opened or failed to open; detail says how it ended, "" when it opened.
    virtual void Opened(const TraceChannel& /*channel*/, TraceOpenResult /*result*/,
                        const std::string& /*detail*/) {}
    virtual void Bytes(const TraceChannel& /*channel*/, const TraceBlock& /*block*/) {}
    // The machine closed its side (a receive found the end of the stream).
    virtual void PeerClosed(const TraceChannel& /*channel*/) {}
    virtual void Closed(const TraceChannel& /*channel*/) {}
    // Anything else about a channel: a failed call, a request that got no answer.
    virtual void Note(const TraceChannel& /*channel*/, const std::string& /*text*/) {}
    virtual void Wait(int /*milliseconds*/) {}
    // A wait that a stop ended before its time, after lasted milliseconds.
    virtual void WaitCutShort(int /*milliseconds*/, long long /*lasted*/) {}
    // The progress dialog's Cancel; cause says what gave it ("SIGTERM"), empty when the user
    // pressed Cancel.
    virtual void Cancel(const std::string& /*cause*/) {}
    virtual void Message(const std::string& /*text*/) {}
};

namespace detail {
extern TraceSink* g_traceSink;
}  // namespace detail

// The installed sink, or nullptr: the test every hook makes.
inline TraceSink* ActiveTraceSink() {
#ifdef KELO_NO_TRACE
    return nullptr;
#else
    return detail::g_traceSink;
#endif
}

// Installs the process-wide sink and returns the previous one.
TraceSink* SetTraceSink(TraceSink* sink);

// The progress dialog's Cancel, and what gave it.
inline void TraceCancel(const std::string& cause = "") {
    if (TraceSink* sink = ActiveTraceSink())
        sink->Cancel(cause);
}

// One connection or device as the trace knows it. The hooks of its owner test
// ActiveTraceSink() and call the members below only when it gave a sink.
class TraceChannel {
  public:
    TraceChannel() = default;
    ~TraceChannel();
    TraceChannel(const TraceChannel&) = delete;
    TraceChannel& operator=(const TraceChannel&) = delete;

    // The decoder of the blocks to come; the owner chooses it by what the channel carries.
    void SetDecoder(TraceDecoderFactory factory);
    // The mask of the bytes to come, when they may carry what a trace must not show; a
    // channel without one shows its bytes as they are.
    void SetMask(TraceMaskFactory factory);

    void SetEndpoints(TraceEndpoints endpoints);
    // Makes it a new channel (a socket made afresh): new endpoints, id and decoder state.
    void Restart();
    bool HasEndpoints() const { return hasEndpoints_; }
    const TraceEndpoints& Endpoints() const { return endpoints_; }
    // Unique in the process, so that sinks can keep state per channel; given the first time
    // the channel is traced.
    uint64_t Id() const;
    // "tcp 127.0.0.2:9101", "udp 127.0.0.2:161", "usb /dev/usb/lp0", "parallel parport0".
    const std::string& Name() const { return name_; }

    void Connecting(TraceSink& sink) { sink.Connecting(*this); }
    void Opened(TraceSink& sink, TraceOpenResult result, const std::string& detail = "");
    // Masks, decodes and hands on one block.
    void Bytes(TraceSink& sink, TraceDirection direction, const uint8_t* data, size_t size);
    void PeerClosed(TraceSink& sink) { sink.PeerClosed(*this); }
    void Closed(TraceSink& sink) { sink.Closed(*this); }
    void Note(TraceSink& sink, const std::string& text) { sink.Note(*this, text); }

  private:
    mutable uint64_t id_ = 0;
    bool hasEndpoints_ = false;
    TraceEndpoints endpoints_;
    std::string name_;
    TraceDecoderFactory factory_;
    std::unique_ptr<TraceDecoder> decoder_;
    TraceMaskFactory maskFactory_;
    std::unique_ptr<TraceMask> mask_;
};

}  // namespace kelo::platform
