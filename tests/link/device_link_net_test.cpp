// The connection over the packet link against scripted machines on loopback. Runs in a
// private network namespace, so the machine's fixed ports are free.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/device_link.h"
#include "link/packet_link.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/full_listener.h"
#include "testsupport/latch.h"
#include "testsupport/loopback_peer.h"
#include "testsupport/scripted_cancel.h"
#include "testsupport/temp_dir.h"
#include "testsupport/trace_tap.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::Latch;
using testing_support::LoopbackPeer;
using testing_support::PeerConnection;
using testing_support::ReplyFrame;

constexpr uint16_t kType3Port = 9101;
constexpr uint16_t kType4Port = 9500;

class DeviceLinkNetTest : public ::testing::Test {
  protected:
    // A connection to 127.0.0.1 with the given machine type over the network.
    std::unique_ptr<kelo::DeviceLink> MakeLink(int machineType,
                                               std::vector<std::string> hosts = {"127.0.0.1"}) {
        auto link = std::make_unique<kelo::DeviceLink>(dialog_);
        link->MutableSettings().portKind = kelo::kPortNetwork;
        link->MutableSettings().machineTypeIndex = machineType - 1;
        link->MutableSettings().hosts = std::move(hosts);
        link->MutableSettings().selectedHost = 0;
        return link;
    }

    // Opens a type 3 link to a peer that sends these bytes in these pieces, then keeps the
    // connection until the read ended. Each piece goes once the link has received every byte
    // before it (or gave up reading), so each is a receive of its own.
    int ReadReplyFrom(const std::vector<Bytes>& pieces, Bytes* data = nullptr,
                      bool closeAfter = false) {
        constexpr long long kReadEnded = 1LL << 40;  // added once the read returned
        Latch received;
        testing_support::TraceTap tap([&received](const kelo::platform::TraceBlock& block) {
            if (block.direction == kelo::platform::TraceDirection::kFromMachine)
                received.Add(static_cast<long long>(block.size));
        });
        LoopbackPeer peer(kType3Port, [&](PeerConnection& c) {
            long long sent = 0;
            for (const Bytes& piece : pieces) {
                c.Write(piece);
                sent += static_cast<long long>(piece.size());
                received.WaitFor(sent);
            }
            if (!closeAfter)
                received.WaitFor(kReadEnded);
        });
        auto link = MakeLink(3);
        EXPECT_TRUE(link->Port().Open(false));
        Bytes buffer(kelo::Transport::kReplyBufferSize, 0xEE);
        const int n = link->Port().ReadReply(buffer.data(), false, -1);
        if (data != nullptr && n >= 0)
            data->assign(buffer.begin(), buffer.begin() + n + 1);
        received.Add(kReadEnded);
        link->Port().Close();
        return n;
    }

    testing_support::TempDir dir_;
    kelo::platform::HeadlessCancelDialog dialog_;
    kelo::platform::MessageRecorder messages_;
};

TEST_F(DeviceLinkNetTest, ReplyFrameGivesItsDataEndedByAZero) {
    Bytes data;
    EXPECT_EQ(ReadReplyFrom({{0x80, 0x00, 0x03, 0x41, 0x42, 0x43, 0xB6}}, &data), 3);
    EXPECT_EQ(data, (Bytes{0x41, 0x42, 0x43, 0x00}));
    EXPECT_TRUE(messages_.Messages().empty());
    // What follows the frame in the same segment is not part of the reply.
    EXPECT_EQ(ReadReplyFrom({{0x80, 0x00, 0x02, 0x48, 0x69, 0xCC, 0x58, 0x59, 0x5A}}, &data), 2);
    EXPECT_EQ(data, (Bytes{0x48, 0x69, 0x00}));
}

TEST_F(DeviceLinkNetTest, EmptyReplyFrameGivesAnEmptyText) {
    Bytes data;
    EXPECT_EQ(ReadReplyFrom({{0x80, 0x00, 0x00, 0x7F}}, &data), 0);
    EXPECT_EQ(data, Bytes{0x00});
}

TEST_F(DeviceLinkNetTest, HeaderSplitOverSeveralReceivesIsAssembled) {
    Bytes data;
    EXPECT_EQ(ReadReplyFrom({{0x80}, {0x00}, {0x03, 0x41}, {0x42, 0x43, 0xB6}}, &data), 3);
    EXPECT_EQ(data, (Bytes{0x41, 0x42, 0x43, 0x00}));
}

TEST_F(DeviceLinkNetTest, BadFramesFailWithoutAMessage) {
    const struct {
        const char* name;
        Bytes frame;
    } cases[] = {
        {"check byte one off", {0x80, 0x00, 0x03, 0x41, 0x42, 0x43, 0xB7}},
        {"check byte zero", {0x80, 0x00, 0x03, 0x41, 0x42, 0x43, 0x00}},
        {"lead byte 7F", {0x7F, 0x00, 0x03, 0x41, 0x42, 0x43, 0xB7}},
        {"lead byte 81", {0x81, 0x00, 0x03, 0x41, 0x42, 0x43, 0xB5}},
        {"length 65535", {0x80, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        messages_.Clear();
        EXPECT_EQ(ReadReplyFrom({c.frame}), -1) << c.name;
        EXPECT_TRUE(messages_.Messages().empty()) << c.name;
    }
}

TEST_F(DeviceLinkNetTest, ClosedConnectionEndsTheRead) {
    // Mid-header: the header cannot be received.
    EXPECT_EQ(ReadReplyFrom({{0x80, 0x00}}, nullptr, true), -1);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to receive."});
    // Mid-data: the data cannot be received, which shows nothing.
    messages_.Clear();
    EXPECT_EQ(ReadReplyFrom({{0x80, 0x00, 0x03, 0x41}}, nullptr, true), -1);
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(DeviceLinkNetTest, ReplyWithoutAPacketLinkFails) {
    auto link = MakeLink(3);
    link->MutableSettings().portKind = kelo::kPortUsb;
    Bytes buffer(kelo::Transport::kReplyBufferSize);
    EXPECT_EQ(link->Port().ReadReply(buffer.data(), false, -1), -1);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to receive."});
}

TEST_F(DeviceLinkNetTest, ProgressFollowsTheBytesOfTheFrame) {
    std::vector<int> positions;
    Latch firstPartRead;
    Latch done;
    dialog_.onProgress = [&](kelo::platform::HeadlessCancelDialog& d) {
        positions.push_back(d.Pos());
        if (d.Pos() > 0)
            firstPartRead.Open();
    };
    LoopbackPeer peer(kType3Port, [&](PeerConnection& c) {
        Bytes frame = ReplyFrame({0x48, 0x65, 0x6C, 0x6C, 0x6F});
        c.Write(Bytes(frame.begin(), frame.begin() + 5));
        // The rest goes only once the first part was taken, so the two arrive as two receives
        // however the threads are scheduled.
        firstPartRead.WaitFor();
        c.Write(Bytes(frame.begin() + 5, frame.end()));
        done.WaitFor();
    });
    auto link = MakeLink(3);
    ASSERT_TRUE(link->Port().Open(false));
    Bytes buffer(kelo::Transport::kReplyBufferSize);
    EXPECT_EQ(link->Port().ReadReply(buffer.data(), true, -1), 5);
    done.Open();
    EXPECT_EQ(dialog_.Range(), 6);
    ASSERT_EQ(positions.size(), 3u);  // the range, then two receives
    EXPECT_EQ(positions[1], 2);
    EXPECT_EQ(positions[2], 6);
}

TEST_F(DeviceLinkNetTest, TextCommandGoesAsRequestPayloadInAPacket) {
    Bytes received;
    {
        LoopbackPeer peer(kType4Port, [&](PeerConnection& c) { received = c.ReadUntilClosed(); });
        auto link = MakeLink(4);
        ASSERT_TRUE(link->Port().Open(false));
        EXPECT_TRUE(link->Port().SendCommand("rs\n"));
        link->Port().Close();
        EXPECT_TRUE(peer.WaitForServed(1));
    }
    EXPECT_EQ(received, (Bytes{0x80, 0x00, 0x06, 0x00, 0x06, 0x72, 0x73, 0x0A, 0xF0, 0x94}));
}

TEST_F(DeviceLinkNetTest, OpeningNeedsAHostForEveryPortKind) {
    for (int kind : {0, 1, 2}) {
        auto link = MakeLink(3, {});
        link->MutableSettings().portKind = kind;
        messages_.Clear();
        EXPECT_FALSE(link->Port().Open(false)) << kind;
        EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Set up \"SELECT PORT\""}) << kind;
    }
}

TEST_F(DeviceLinkNetTest, OpeningRefusesAMissingHostOrAnUnknownPortKind) {
    auto outside = MakeLink(3);
    outside->MutableSettings().selectedHost = 1;
    EXPECT_FALSE(outside->Port().Open(false));
    auto unknown = MakeLink(3);
    unknown->MutableSettings().portKind = 5;
    EXPECT_FALSE(unknown->Port().Open(false));
    EXPECT_EQ(messages_.Texts(),
              (std::vector<std::string>{"Set up \"SELECT PORT\"", "Set up \"SELECT PORT\""}));
}

TEST_F(DeviceLinkNetTest, FailedConnectIsQuietOnlyForPacketMachinesWhenAskedTo) {
    auto type3 = MakeLink(3);
    EXPECT_FALSE(type3->Port().Open(true));
    EXPECT_TRUE(messages_.Messages().empty());
    EXPECT_FALSE(type3->Port().Open(false));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to connect."});
    messages_.Clear();
    auto type1 = MakeLink(1);
    EXPECT_FALSE(type1->Port().Open(true));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to connect."});
}

TEST_F(DeviceLinkNetTest, UnresolvableHostMakesNoSocket) {
    kelo::PacketLink put(kType3Port);
    EXPECT_EQ(put.Open("no-such-machine.invalid", "lp1"), -1);
    EXPECT_FALSE(put.IsOpen());
}

TEST_F(DeviceLinkNetTest, WaitForRestartFindsAMachineThatComesBack) {
    kelo::platform::FakeClock clock;
    std::unique_ptr<LoopbackPeer> peer;
    int sleeps = 0;
    clock.onSleep = [&](int) {
        // The machine listens again after the second failed attempt.
        if (++sleeps == 3)
            peer = std::make_unique<LoopbackPeer>(kType4Port, [](PeerConnection&) {});
    };
    auto link = MakeLink(4);
    EXPECT_TRUE(link->Port().WaitForRestart());
    EXPECT_EQ(clock.Waits(), (std::vector<int>{10000, 2000, 2000}));
    EXPECT_TRUE(messages_.Messages().empty());
    link->Port().Close();
}

TEST_F(DeviceLinkNetTest, WaitForRestartGivesUpAfterTenQuietAttempts) {
    kelo::platform::FakeClock clock;
    auto link = MakeLink(3);
    EXPECT_FALSE(link->Port().WaitForRestart());
    std::vector<int> expected{3000};
    expected.insert(expected.end(), 10, 2000);
    EXPECT_EQ(clock.Waits(), expected);
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(DeviceLinkNetTest, CancelAbortsABlockedReceive) {
    Latch done;
    LoopbackPeer peer(kType3Port, [&](PeerConnection&) { done.WaitFor(); });
    auto link = MakeLink(3);
    ASSERT_TRUE(link->Port().Open(false));
    dialog_.Show();
    testing_support::CancelAtPump(dialog_, 3);
    Bytes buffer(kelo::Transport::kReplyBufferSize);
    EXPECT_EQ(link->Port().ReadReply(buffer.data(), false, -1), -1);
    EXPECT_LE(dialog_.PumpCount(), 4);
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to receive."});
    // After Cancel every further write of the operation fails at once, without a message.
    const uint8_t request[2] = {0x00, 0x01};
    EXPECT_FALSE(link->Port().Write(request, 2));
    EXPECT_EQ(messages_.Messages().size(), 1u);
    done.Open();
}

TEST_F(DeviceLinkNetTest, CancelAbortsABlockedSend) {
    Latch done;
    // A machine that never reads: the send fills the buffers and blocks.
    LoopbackPeer peer(kelo::FirmwareStream::kPort, [&](PeerConnection&) { done.WaitFor(); });
    kelo::FirmwareStream put;
    ASSERT_TRUE(testing_support::OpenWithCancelAtSecondPump(put, dialog_));
    Bytes image(64 << 20, 0x5A);
    EXPECT_EQ(put.Send(image.data(), static_cast<int>(image.size())), -1);
    EXPECT_EQ(put.LastError(), kelo::Socket::kInterrupted);
    EXPECT_LE(dialog_.PumpCount(), 3);
    done.Open();
}

// A listener whose accept queue is full drops further connection requests, so a connect to it
// waits: a Cancel ends it at once, else it gives up at its deadline, failing as a refused one.
TEST_F(DeviceLinkNetTest, ConnectToASilentHostEndsAtCancelOrItsDeadline) {
    testing_support::FullListener listener(kType3Port);
    ASSERT_TRUE(listener.Listening());
    dialog_.Show();
    {
        kelo::PacketLink put(kType3Port);
        put.SetCancelDialog(&dialog_);
        testing_support::CancelAtPump(dialog_, 2);
        EXPECT_EQ(put.Open("127.0.0.1", "lp1"), -1);
        EXPECT_EQ(put.LastError(), kelo::Socket::kInterrupted);
        EXPECT_EQ(dialog_.PumpCount(), 2);
    }
    dialog_.Hide();
    dialog_.Show();
    dialog_.onPump = nullptr;
    const int pumpsBefore = dialog_.PumpCount();
    kelo::PacketLink put(kType3Port);
    put.SetCancelDialog(&dialog_);
    put.SetConnectDeadline(300);
    EXPECT_EQ(put.Open("127.0.0.1", "lp1"), -1);
    EXPECT_EQ(put.LastError(), ETIMEDOUT);
    EXPECT_GT(dialog_.PumpCount(), pumpsBefore) << "the window kept running while it waited";
    EXPECT_FALSE(dialog_.IsCancelled());
}

}  // namespace
