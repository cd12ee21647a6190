// libFuzzer target for the protocol trace itself: a sink is installed that hands every block
// to the text trace and the capture file, and one channel (LPD, the packet link, SNMP or USB,
// each with its own decoder) carries a fuzzed stream in both directions, cut into fuzzed
// writes, with real access lines placed anywhere in the bytes going to the machine. Besides
// the sanitizers, it stops when a byte of an access code reaches either writer, when a byte
// that either file shows is not the byte that was sent there, when the text trace has a line
// that is neither a comment nor a row, or when its rows do not count up as text2pcap needs.
//
// Input: one byte choosing the channel (bits 0-1), then records, each a head byte whose top
// two bits say what it is:
//   0  append fuzzed bytes to those waiting to go to the machine
//   1  append an access line (code A or B by bit 0) to them
//   2  write the waiting bytes to the machine, at most the length given, in one write
//   3  a block from the machine
// Records 0, 2 and 3 go on with a length byte, scaled by the head's low six bits (at most
// kLongestBlock). Fuzzed bytes are taken from the input and repeated when it runs out, so
// that a short input can still make a bulk block; after kMostBytes the input is not read
// further. Whatever waits at the end is written in one last write.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "link/access_code_mask.h"
#include "link/command_trace.h"
#include "link/frame_trace.h"
#include "link/lpr_trace.h"
#include "link/status_text.h"
#include "platform/access_codes.h"
#include "snmp/snmp_trace.h"
#include "trace/pcapng_writer.h"
#include "trace/trace_text_writer.h"

namespace {

using kelo::platform::TraceBlock;
using kelo::platform::TraceChannel;
using kelo::platform::TraceDirection;

// Long enough for a bulk block, short enough to keep the runs quick.
constexpr size_t kLongestBlock = 1536;
constexpr size_t kMostBytes = 4096;

// One block as it was sent, and which of its bytes were access code bytes.
struct SentBlock {
    TraceDirection direction;
    std::string bytes;
    std::vector<uint8_t> code;    // 1 for each byte of an access code
    std::vector<uint8_t> hidden;  // 1 for each byte the channel gave the sinks as hidden
};

kelo::trace::TraceOutput AppendTo(std::string& file) {
    return [&file](const void* data, size_t size) {
        file.append(static_cast<const char*>(data), size);
    };
}

// The sink installed for the run: checks each block as the writers get it, then hands it on.
class CheckingSink : public kelo::platform::TraceSink {
  public:
    CheckingSink(std::vector<SentBlock>& sent, std::string& text, std::string& capture)
        : sent_(sent),
          text_(AppendTo(text), [] { return int64_t{0}; }),
          capture_(AppendTo(capture), [] { return int64_t{0}; }) {}

    void Opened(const TraceChannel& channel, kelo::platform::TraceOpenResult result,
                const std::string& detail) override {
        text_.Opened(channel, result, detail);
        capture_.Opened(channel, result, detail);
    }
    // No byte of a code reaches a writer: each is hidden, and masked in the bytes.
    void Bytes(const TraceChannel& channel, const TraceBlock& block) override {
        FUZZ_REQUIRE(blocks_ < sent_.size());
        SentBlock& sent = sent_[blocks_++];
        FUZZ_REQUIRE(block.size == sent.bytes.size());
        FUZZ_REQUIRE(block.decoding.find('\n') == std::string::npos);
        sent.hidden.assign(block.size, 0);
        size_t end = 0;
        for (const kelo::platform::TraceHiddenRange& range : block.hidden) {
            FUZZ_REQUIRE(range.length > 0 && range.offset >= end && range.offset <= block.size &&
                         range.length <= block.size - range.offset);
            end = range.offset + range.length;
            std::fill_n(sent.hidden.begin() + static_cast<long>(range.offset), range.length, 1);
        }
        for (size_t i = 0; i < block.size; ++i) {
            FUZZ_REQUIRE(!sent.code[i] || sent.hidden[i]);
            FUZZ_REQUIRE(block.data[i] ==
                         static_cast<uint8_t>(sent.hidden[i] ? '*' : sent.bytes[i]));
        }
        text_.Bytes(channel, block);
        capture_.Bytes(channel, block);
    }
    void PeerClosed(const TraceChannel& channel) override {
        text_.PeerClosed(channel);
        capture_.PeerClosed(channel);
    }
    void Closed(const TraceChannel& channel) override {
        text_.Closed(channel);
        capture_.Closed(channel);
    }
    void Note(const TraceChannel&, const std::string&) override {}
    void Wait(int) override {}
    void Cancel(const std::string&) override {}
    void Message(const std::string&) override {}

  private:
    std::vector<SentBlock>& sent_;
    size_t blocks_ = 0;
    kelo::trace::TraceTextWriter text_;
    kelo::trace::PcapngTraceWriter capture_;
};

// Reads the input's records, one at a time.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A length: the next byte scaled by the head's low six bits.
    size_t Length(uint8_t head) {
        return std::min(kLongestBlock, (Byte() + size_t{1}) * ((head & 0x3F) + size_t{1}));
    }
    std::string Bytes(size_t count) {
        const char* rest = reinterpret_cast<const char*>(data_) + at_;
        const size_t restSize = size_ - at_;
        std::string bytes(rest, std::min(count, restSize));
        at_ += bytes.size();
        while (restSize > 0 && bytes.size() < count)
            bytes.append(rest, std::min(restSize, count - bytes.size()));
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

struct Stream {
    std::string bytes;
    std::vector<uint8_t> code;
};

// The channels the input may choose, each as its transport sets it up.
struct ChannelKind {
    kelo::platform::TraceTransport transport;
    uint16_t port;
    bool carriesAccessLines;
    kelo::platform::TraceDecoderFactory decoder;
};

const ChannelKind& KindOf(uint8_t choice) {
    using kelo::platform::TraceTransport;
    static const ChannelKind kinds[] = {
        {TraceTransport::kTcp, 515, true, kelo::MakeLpdDecoder},
        {TraceTransport::kTcp, 9101, false, kelo::MakePacketLinkDecoder},
        {TraceTransport::kUdp, 161, false,
         [] { return kelo::MakeSnmpDecoder(kelo::DescribeStatusText); }},
        {TraceTransport::kUsb, 0, true, kelo::MakeLocalPortDecoder},
    };
    return kinds[choice & 3];
}

void SetUpChannel(TraceChannel& channel, const ChannelKind& kind) {
    const bool usb = kind.transport == kelo::platform::TraceTransport::kUsb;
    channel.SetEndpoints(
        {kind.transport, 0x7F000001, 40000, 0x7F000002, kind.port, usb ? "/dev/usb/lp0" : ""});
    if (kind.carriesAccessLines)
        channel.SetMask(kelo::MakeAccessCodeMask);
    channel.SetDecoder(kind.decoder);
}

// The blocks the input sends, in order; access lines only where the channel carries them.
// Repeated bytes could make an input's stream very long, so it ends after kMostBytes.
std::vector<SentBlock> ReadBlocks(Input& input, bool carriesAccessLines) {
    std::vector<SentBlock> blocks;
    Stream waiting;
    size_t total = 0;
    for (bool more = !input.Done(); more || !waiting.bytes.empty();
         more = !input.Done() && total < kMostBytes) {
        const uint8_t head = more ? input.Byte() : 0x80;
        const int kind = head >> 6;
        if (kind == 0 || (kind == 1 && !carriesAccessLines)) {
            const std::string bytes = input.Bytes(input.Length(head));
            total += bytes.size();
            waiting.bytes += bytes;
            waiting.code.resize(waiting.bytes.size(), 0);
        } else if (kind == 1) {
            waiting.bytes += kelo::platform::kAccessLinePrefix;
            waiting.bytes +=
                (head & 1) ? kelo::platform::kAccessCodeB : kelo::platform::kAccessCodeA;
            waiting.code.resize(waiting.bytes.size() - kelo::platform::kAccessCodeLength, 0);
            waiting.code.resize(waiting.bytes.size(), 1);
            total += kelo::platform::kAccessLinePrefixLength + kelo::platform::kAccessCodeLength;
        } else if (kind == 2) {
            const size_t count =
                more ? std::min(waiting.bytes.size(), input.Length(head)) : waiting.bytes.size();
            if (count == 0)
                continue;
            const auto codeEnd = waiting.code.begin() + static_cast<long>(count);
            blocks.push_back({TraceDirection::kToMachine,
                              waiting.bytes.substr(0, count),
                              {waiting.code.begin(), codeEnd},
                              {}});
            waiting.bytes.erase(0, count);
            waiting.code.erase(waiting.code.begin(), codeEnd);
        } else {
            std::string bytes = input.Bytes(input.Length(head));
            const size_t size = bytes.size();
            total += size;
            if (size > 0)
                blocks.push_back({TraceDirection::kFromMachine,
                                  std::move(bytes),
                                  std::vector<uint8_t>(size),
                                  {}});
        }
    }
    return blocks;
}

// The value of a lower-case hex digit, or -1.
int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A row: six offset digits (the bytes of its run before it), 16 hex cells, "  >", the
// ASCII of its bytes, "<". Its bytes are those sent from runStart + runLength on.
void CheckRow(std::string_view line, const SentBlock& block, size_t runStart, size_t& runLength) {
    constexpr size_t kAscii = 6 + 3 * 16 + 3;
    FUZZ_REQUIRE(line.size() > kAscii + 1 && line.size() <= kAscii + 17);
    FUZZ_REQUIRE(line[kAscii - 1] == '>' && line.back() == '<');
    size_t offset = 0;
    for (size_t i = 0; i < 6; ++i) {
        FUZZ_REQUIRE(HexDigit(line[i]) >= 0);
        offset = offset * 16 + static_cast<size_t>(HexDigit(line[i]));
    }
    FUZZ_REQUIRE(offset == runLength);
    const size_t count = line.size() - kAscii - 1;
    for (size_t i = 0; i < count; ++i) {
        const int high = HexDigit(line[7 + 3 * i]);
        const int low = HexDigit(line[8 + 3 * i]);
        FUZZ_REQUIRE(line[6 + 3 * i] == ' ' && high >= 0 && low >= 0);
        const size_t position = runStart + runLength + i;
        FUZZ_REQUIRE(position < block.bytes.size() && !block.hidden[position]);
        const uint8_t sent = static_cast<uint8_t>(block.bytes[position]);
        FUZZ_REQUIRE(high * 16 + low == sent);
        FUZZ_REQUIRE(line[kAscii + i] ==
                     (sent >= 0x20 && sent < 0x7F ? static_cast<char>(sent) : '.'));
    }
    runLength += count;
}

// Reads the text trace back: every line is a comment or a row; the rows of a block count
// up from 000000, again after each part left out, whose line says where they start. Each
// shown byte must be the byte sent there and not a hidden one.
void CheckText(const std::string& text, const std::string& channelName,
               const std::vector<SentBlock>& blocks) {
    const std::string header = "# " + kelo::trace::UtcTimeText(0) + " " + channelName;
    const std::string rowsStart = "(the rows below start at byte ";
    const SentBlock* block = nullptr;  // the block of the last header line, if of bytes
    bool rowsMayFollow = false;
    size_t blockIndex = 0;
    size_t runStart = 0;
    size_t runLength = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        FUZZ_REQUIRE(end != std::string::npos);
        const std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (line.substr(0, 3) == "# <") {
            runLength = 0;
            const size_t from = line.find(rowsStart);
            rowsMayFollow = block != nullptr && from != std::string::npos;
            runStart =
                rowsMayFollow ? std::stoul(std::string(line.substr(from + rowsStart.size()))) : 0;
        } else if (line.substr(0, header.size()) == header) {
            const std::string_view direction = line.substr(header.size(), 3);
            const bool bytes = direction == " > " || direction == " < ";
            FUZZ_REQUIRE(!bytes || blockIndex < blocks.size());
            block = bytes ? &blocks[blockIndex++] : nullptr;
            rowsMayFollow = bytes;
            runStart = runLength = 0;
        } else {
            FUZZ_REQUIRE(rowsMayFollow);
            CheckRow(line, *block, runStart, runLength);
        }
    }
    FUZZ_REQUIRE(blockIndex == blocks.size());
}

uint32_t Little32(const std::string& file, size_t at) {
    uint32_t value = 0;
    for (size_t i = 4; i-- > 0;)
        value = value << 8 | static_cast<uint8_t>(file[at + i]);
    return value;
}

// Reads the capture back: its TCP blocks (segments up to a pushed one) and datagrams are the
// blocks sent, with the hidden bytes masked.
void CheckCapture(const std::string& capture, const std::vector<SentBlock>& blocks) {
    std::string block;
    size_t blockIndex = 0;
    for (size_t at = 0; at + 12 <= capture.size(); at += Little32(capture, at + 4)) {
        if (Little32(capture, at) != 6)
            continue;
        const std::string_view ip(capture.data() + at + 28, Little32(capture, at + 20));
        const std::string_view segment = ip.substr(20);
        const bool udp = ip[9] == 17;
        block += segment.substr(udp ? 8 : (static_cast<uint8_t>(segment[12]) >> 4) * 4u);
        if (!udp && (segment[13] & 0x08) == 0)
            continue;
        FUZZ_REQUIRE(blockIndex < blocks.size());
        const SentBlock& sent = blocks[blockIndex++];
        FUZZ_REQUIRE(block.size() == sent.bytes.size());
        for (size_t i = 0; i < block.size(); ++i)
            FUZZ_REQUIRE(block[i] == (sent.hidden[i] ? '*' : sent.bytes[i]));
        block.clear();
    }
    FUZZ_REQUIRE(block.empty() && blockIndex == blocks.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    Input input(data + 1, size - 1);
    const ChannelKind& kind = KindOf(data[0]);
    TraceChannel channel;
    SetUpChannel(channel, kind);
    std::vector<SentBlock> blocks = ReadBlocks(input, kind.carriesAccessLines);
    // Kept from run to run, so that their memory is not allocated afresh each time.
    static std::string text;
    static std::string capture;
    text.clear();
    capture.clear();
    {
        CheckingSink checking(blocks, text, capture);
        kelo::platform::TraceSink* previous = kelo::platform::SetTraceSink(&checking);
        kelo::platform::TraceSink& sink = *kelo::platform::ActiveTraceSink();
        channel.Opened(sink, kelo::platform::TraceOpenResult::kOpened);
        for (const SentBlock& block : blocks) {
            channel.Bytes(sink, block.direction,
                          reinterpret_cast<const uint8_t*>(block.bytes.data()), block.bytes.size());
        }
        channel.Closed(sink);
        kelo::platform::SetTraceSink(previous);
    }
    CheckText(text, channel.Name(), blocks);
    if (kind.transport != kelo::platform::TraceTransport::kUsb)
        CheckCapture(capture, blocks);
    return 0;
}
