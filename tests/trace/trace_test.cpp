// The protocol trace's core: the access code never leaves the channel unmasked, the text
// rows are od's, the capture's packets add up, and a trace file that cannot be written is
// reported once without failing anything.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "testsupport/temp_dir.h"
#include "trace/pcapng_writer.h"
#include "trace/trace_session.h"
#include "trace/trace_text_writer.h"

namespace kelo::trace {
namespace {

using platform::ActiveTraceSink;
using platform::FakeClock;
using platform::Sleep;
using platform::TraceDecoder;
using platform::TraceMask;

using Ranges = std::vector<TraceHiddenRange>;

std::string Repeat(char c, size_t count) {
    return std::string(count, c);
}

const uint8_t* Data(const std::string& bytes) {
    return reinterpret_cast<const uint8_t*>(bytes.data());
}

// Keeps what a sink gets, as text.
class RecordingSink : public TraceSink {
  public:
    void Bytes(const TraceChannel&, const TraceBlock& block) override {
        blocks.emplace_back(reinterpret_cast<const char*>(block.data), block.size);
        decodings.push_back(block.decoding);
    }
    std::vector<std::string> blocks;
    std::vector<std::string> decodings;
};

class EchoDecoder : public TraceDecoder {
  public:
    std::string Decode(TraceDirection, const uint8_t* data, size_t size) override {
        return std::string(reinterpret_cast<const char*>(data), size);
    }
};

// Hides everything after the first ten bytes of each block.
class TailMask : public TraceMask {
  public:
    Ranges Apply(const uint8_t* data, size_t size, std::vector<uint8_t>& masked) override {
        if (size <= 10)
            return {};
        masked.assign(data, data + 10);
        masked.resize(size, '*');
        return {{10, size - 10}};
    }
};

TEST(TraceChannel, DecodersAndSinksSeeOnlyTheMaskedCodeAndTheMachinesBytesAsTheyCame) {
    TraceChannel channel;
    channel.SetDecoder([] { return std::make_unique<EchoDecoder>(); });
    channel.SetMask([] { return std::make_unique<TailMask>(); });
    RecordingSink sink;
    const std::string line = "OPEN CODE=" + Repeat('s', 500);
    channel.Bytes(sink, TraceDirection::kToMachine, Data(line), line.size());
    channel.Bytes(sink, TraceDirection::kFromMachine, Data(line), line.size());
    const std::string masked = "OPEN CODE=" + Repeat('*', 500);
    EXPECT_EQ(sink.blocks, (std::vector<std::string>{masked, line}));
    EXPECT_EQ(sink.decodings, (std::vector<std::string>{masked, line}));
}

// What od itself writes for count bytes from skip on, without its closing offset line.
std::string OdRows(const std::string& bytes, size_t skip = 0, size_t count = std::string::npos) {
    char path[] = "/tmp/kelo-trace-od-XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
    std::string rows;
    const std::string command = "od -v -Ax -tx1z -j " + std::to_string(skip) + " -N " +
                                std::to_string(std::min(count, bytes.size() - skip)) + " " + path;
    FILE* od = ::popen(command.c_str(), "r");
    char buffer[256];
    while (od != nullptr && std::fgets(buffer, sizeof buffer, od) != nullptr)
        rows += buffer;
    if (od != nullptr)
        ::pclose(od);
    ::unlink(path);
    return rows.substr(0, rows.rfind('\n', rows.size() - 2) + 1);
}

TraceBlock BlockOf(const std::string& bytes, Ranges hidden = {}) {
    TraceBlock block;
    block.data = Data(bytes);
    block.size = bytes.size();
    block.hidden = std::move(hidden);
    return block;
}

TEST(TraceText, RowsAreOdsAndLeaveOutTheCodeAndTheMiddleOfBulkData) {
    std::string bytes;
    for (int i = 0; i < 45; ++i)
        bytes += static_cast<char>(i * 7);
    EXPECT_EQ(TraceRows(BlockOf(bytes)), OdRows(bytes));

    // What follows a part left out is a packet of its own for text2pcap: rows from 000000.
    const std::string line = "OPEN CODE=" + Repeat('*', 500) + "!";
    EXPECT_EQ(TraceRows(BlockOf(line, {{10, 500}})),
              "000000 4f 50 45 4e 20 43 4f 44 45 3d                    >OPEN CODE=<\n"
              "# <access code, 500 characters, not shown> (the rows below start at byte 510)\n"
              "000000 21                                               >!<\n");

    std::string bulk;
    for (int i = 0; i < 3000; ++i)
        bulk += static_cast<char>(i % 251);
    EXPECT_EQ(TraceRows(BlockOf(bulk)),
              OdRows(bulk, 0, 256) +
                  "# <2488 bytes not shown> (the rows below start at byte 2744)\n" +
                  OdRows(bulk.substr(2744)));

    std::string written;
    TraceTextWriter writer(
        [&](const void* data, size_t size) {
            written.append(static_cast<const char*>(data), size);
        },
        [] { return int64_t{1234567}; });
    writer.Wait(300);
    writer.Message("Failed to receive.");
    EXPECT_EQ(written,
              "# 1970-01-01T00:00:01.234Z wait 300 ms\n"
              "# 1970-01-01T00:00:01.234Z message \"Failed to receive.\"\n");
}

// ---- The capture ----------------------------------------------------------------------------

uint32_t Little32(const std::string& file, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(file[at + static_cast<size_t>(i)]);
    return value;
}
uint32_t Big(const std::string& packet, size_t at, int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | static_cast<uint8_t>(packet[at + static_cast<size_t>(i)]);
    return value;
}
// The ones' complement sum over the bytes, folded: 0xFFFF when a checksum inside is right.
uint32_t Folded(std::string bytes, uint32_t sum = 0) {
    bytes += '\0';
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += Big(bytes, i, 2);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
}

// Each packet as "> SA 0 1 0": direction from 127.0.0.1, flags, sequence and acknowledgement
// numbers relative to each side's first sequence number, payload length; after checking the
// block lengths, the IPv4 header and both checksums.
std::vector<std::string> Packets(const std::string& file) {
    std::vector<std::string> packets;
    uint32_t first[2] = {0, 0};
    EXPECT_EQ(Little32(file, 0), 0x0A0D0D0Au);
    for (size_t at = 0; at + 12 <= file.size();) {
        const uint32_t type = Little32(file, at);
        const uint32_t total = Little32(file, at + 4);
        EXPECT_EQ(Little32(file, at + total - 4), total);
        if (type == 1) {
            EXPECT_EQ(Little32(file, at + 8) & 0xFFFF, 228u);  // raw IPv4
        }
        if (type == 6) {
            const std::string ip = file.substr(at + 28, Little32(file, at + 20));
            EXPECT_EQ(Big(ip, 2, 2), ip.size());
            EXPECT_EQ(Folded(ip.substr(0, 20)), 0xFFFFu);
            const uint32_t protocol = static_cast<uint8_t>(ip[9]);
            const std::string segment = ip.substr(20);
            EXPECT_EQ(Folded(segment, Folded(ip.substr(12, 8)) + protocol + segment.size()),
                      0xFFFFu);
            const bool fromUs = Big(ip, 12, 4) == 0x7F000001;
            std::string text = fromUs ? ">" : "<";
            if (protocol == 17) {
                packets.push_back(text + " U " + std::to_string(segment.size() - 8));
            } else {
                const uint32_t flags = static_cast<uint8_t>(segment[13]);
                text += " ";
                for (auto [bit, letter] :
                     {std::pair{2u, 'S'}, {1u, 'F'}, {4u, 'R'}, {8u, 'P'}, {16u, 'A'}})
                    text += (flags & bit) ? std::string(1, letter) : "";
                if (flags & 2)
                    first[fromUs] = Big(segment, 4, 4);
                const size_t header = (static_cast<uint8_t>(segment[12]) >> 4) * 4u;
                const uint32_t ack = (flags & 16) ? Big(segment, 8, 4) - first[!fromUs] : 0;
                packets.push_back(text + " " + std::to_string(Big(segment, 4, 4) - first[fromUs]) +
                                  " " + std::to_string(ack) + " " +
                                  std::to_string(segment.size() - header));
            }
        }
        at += total;
    }
    return packets;
}

TEST(PcapngCapture, ExchangesBecomeConsistentPackets) {
    enum Step { kConnect, kRefused, kSend3, kReceive2, kSend70000, kPeerCloses, kClose, kUdp };
    const struct {
        TraceTransport transport;
        std::vector<Step> steps;
        std::vector<std::string> packets;
    } cases[] = {
        {TraceTransport::kTcp,
         {kConnect, kSend3, kReceive2, kClose},
         {"> S 0 0 0", "< SA 0 1 0", "> A 1 1 0", "> PA 1 1 3", "< A 1 4 0", "< PA 1 4 2",
          "> A 4 3 0", "> FA 4 3 0", "< FA 3 5 0", "> A 5 4 0"}},
        {TraceTransport::kTcp, {kRefused}, {"> S 0 0 0", "< RA 0 1 0"}},
        {TraceTransport::kTcp,
         {kReceive2, kPeerCloses, kClose},  // the trace started after the connect
         {"> S 0 0 0", "< SA 0 1 0", "> A 1 1 0", "< PA 1 1 2", "> A 1 3 0", "< FA 3 1 0",
          "> A 1 4 0", "> FA 1 4 0", "< A 4 2 0"}},
        {TraceTransport::kTcp,
         {kConnect, kSend70000},
         {"> S 0 0 0", "< SA 0 1 0", "> A 1 1 0", "> A 1 1 65495", "> PA 65496 1 4505",
          "< A 1 70001 0"}},
        {TraceTransport::kUdp, {kConnect, kSend3, kReceive2, kClose}, {"> U 3", "< U 2"}},
    };
    const std::string big(70000, 'b');
    const std::string three = "abc";
    const std::string two = "xy";
    for (const auto& c : cases) {
        std::string file;
        PcapngTraceWriter writer([&](const void* data, size_t size) {
            file.append(static_cast<const char*>(data), size);
        });
        TraceChannel channel;
        channel.SetEndpoints({c.transport, 0x7F000001, 40000, 0x7F000002, 9101, ""});
        for (Step step : c.steps) {
            TraceBlock block = BlockOf(step == kSend70000 ? big : step == kSend3 ? three : two);
            block.direction =
                step == kReceive2 ? TraceDirection::kFromMachine : TraceDirection::kToMachine;
            if (step == kConnect || step == kRefused)
                writer.Opened(
                    channel,
                    step == kConnect ? TraceOpenResult::kOpened : TraceOpenResult::kRefused, "");
            else if (step == kClose)
                writer.Closed(channel);
            else if (step == kPeerCloses)
                writer.PeerClosed(channel);
            else
                writer.Bytes(channel, block);
        }
        EXPECT_EQ(Packets(file), c.packets);
    }
}

TEST(TraceConnect, BothFilesStampAConnectWhenItWentOutNotWhenItFailed) {
    int64_t now = 0;
    std::string text;
    std::string capture;
    TraceTextWriter textWriter(
        [&](const void* data, size_t size) { text.append(static_cast<const char*>(data), size); },
        [&] { return now; });
    PcapngTraceWriter captureWriter(
        [&](const void* data, size_t size) {
            capture.append(static_cast<const char*>(data), size);
        },
        [&] { return now; });
    TraceChannel silent;
    silent.SetEndpoints({TraceTransport::kTcp, 0x7F000001, 40000, 0x7F000002, 9101, ""});
    for (TraceSink* sink : std::initializer_list<TraceSink*>{&textWriter, &captureWriter}) {
        now = 1000000;
        silent.Connecting(*sink);
        now = 21000000;
        silent.Opened(*sink, TraceOpenResult::kNoAnswer, "no answer within 20000 ms");
    }
    EXPECT_EQ(text,
              "# 1970-01-01T00:00:01.000Z tcp 127.0.0.2:9101 connect: no answer within 20000 ms\n");
    EXPECT_EQ(Packets(capture), std::vector<std::string>{"> S 0 0 0"});
    const size_t syn = capture.size() - Little32(capture, capture.size() - 4);
    EXPECT_EQ(Little32(capture, syn + 16), 1000000u) << "the SYN's time";
}

// ---- Trace files ----------------------------------------------------------------------------

// A file that cannot be opened, or stops taking bytes, is reported once; a device is no trace
// file and is refused before it is opened.
TEST(TraceSession, AFileThatCannotBeWrittenIsReportedOnceAndNothingElseChanges) {
    std::vector<std::string> reports;
    FakeClock clock;
    testing_support::TempDir dir;
    const std::string full = dir.File("full.txt");
    // The file takes no byte more than it has: each write fails as on a full disk.
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const rlimit none{0, previous.rlim_max};
    const sighandler_t previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    {
        TraceSession session([&](const std::string& problem) { reports.push_back(problem); });
        EXPECT_FALSE(session.StartText("/nonexistent/trace.txt"));
        EXPECT_FALSE(session.StartText("/dev/full"));
        EXPECT_EQ(ActiveTraceSink(), nullptr);
        EXPECT_TRUE(session.StartText(full));
        EXPECT_NE(ActiveTraceSink(), nullptr);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
        Sleep(300);
        Sleep(5);
        session.StopText();
        EXPECT_EQ(ActiveTraceSink(), nullptr) << "nothing to write: the hooks cost nothing again";
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(reports, (std::vector<std::string>{
                           "/nonexistent/trace.txt: No such file or directory",
                           "/dev/full is a character device; the trace writes regular files",
                           full + ": File too large"}));
    EXPECT_EQ(clock.Waits(), (std::vector<int>{300, 5}));
}

}  // namespace
}  // namespace kelo::trace
