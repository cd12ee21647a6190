// The byte formats of the connection: packet frames, command frames, access lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "link/device_link.h"
#include "link/packet_link.h"
#include "link/wire_format.h"
#include "platform/access_codes.h"
#include "platform/headless_cancel_dialog.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packet(const Bytes& payload) {
    Bytes out(payload.size() + 5);
    const bool sum = kelo::wire::CarriesDataSum(payload[0], payload[1]);
    out.resize(static_cast<size_t>(kelo::PacketLink::BuildPacket(
        out.data(), 0x80, payload.data(), static_cast<int>(payload.size()), sum)));
    return out;
}

struct FrameCase {
    const char* name;
    Bytes payload;
    Bytes frame;
};

TEST(PacketFrame, MatchesTheWireTable) {
    const FrameCase cases[] = {
        {"get report", {0x00, 0x01}, {0x80, 0x00, 0x02, 0x00, 0x01, 0x7C}},
        {"text command AB",
         {0x00, 0x06, 0x41, 0x42},
         {0x80, 0x00, 0x05, 0x00, 0x06, 0x41, 0x42, 0x84, 0x6D}},
        {"data-sum of no data", {0x00, 0x06}, {0x80, 0x00, 0x03, 0x00, 0x06, 0x01, 0x75}},
        {"rs",
         {0x00, 0x06, 0x72, 0x73, 0x0A},
         {0x80, 0x00, 0x06, 0x00, 0x06, 0x72, 0x73, 0x0A, 0xF0, 0x94}},
    };
    for (const FrameCase& c : cases) {
        const Bytes frame = Packet(c.payload);
        EXPECT_EQ(frame, c.frame) << c.name;
        unsigned sum = 0;
        for (uint8_t b : frame)
            sum += b;
        EXPECT_EQ(sum & 0xFF, 0xFFu) << c.name;
    }
}

TEST(PacketFrame, OnlyCommands1237GoWithoutDataSum) {
    const struct {
        Bytes command;
        bool dataSum;
    } cases[] = {
        {{0x00, 0x01}, false}, {{0x00, 0x02}, false}, {{0x00, 0x03}, false}, {{0x00, 0x07}, false},
        {{0x00, 0x04}, true},  {{0x00, 0x05}, true},  {{0x00, 0x06}, true},  {{0x00, 0x08}, true},
        {{0x01, 0x01}, true},  {{0x00, 0x81}, true},  {{0x00, 0x00}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelo::wire::CarriesDataSum(c.command[0], c.command[1]), c.dataSum)
            << int(c.command[0]) << " " << int(c.command[1]);
    }
}

TEST(PacketFrame, LargestPayloadFillsTheBuffer) {
    Bytes payload(32770, 0xAB);
    payload[0] = 0x00;
    payload[1] = 0x05;
    const Bytes frame = Packet(payload);
    ASSERT_EQ(frame.size(), 32770u + 5u);
    EXPECT_EQ(frame[1] * 256 + frame[2], 32771);
}

TEST(CommandFrame, CarriesLengthTextAndCheckByte) {
    EXPECT_EQ(kelo::Transport::CommandFrame("rs\n"), (Bytes{0x00, 0x03, 0x72, 0x73, 0x0A, 0xF3}));
    const std::string update = "BOOT_UpdateMain 0\n";
    Bytes expected{0x00, 0x12};
    expected.insert(expected.end(), update.begin(), update.end());
    expected.push_back(0xE8);
    EXPECT_EQ(kelo::Transport::CommandFrame(update), expected);
}

TEST(ReplyFrame, IsReadExactlyAndWhatFollowsStaysUnread) {
    // A good frame for "Hi", then "XYZ" from whatever the machine sends next.
    const Bytes stream{0x80, 0x00, 0x02, 0x48, 0x69, 0xCC, 0x58, 0x59, 0x5A};
    size_t taken = 0;
    auto receive = [&](uint8_t* into, int length) {
        const size_t n = std::min(static_cast<size_t>(length), stream.size() - taken);
        std::copy_n(stream.begin() + static_cast<long>(taken), n, into);
        taken += n;
        return static_cast<int>(n);
    };
    kelo::platform::HeadlessCancelDialog dialog;
    Bytes buffer(kelo::Transport::kReplyBufferSize, 0xEE);
    EXPECT_EQ(kelo::ReadReplyFrame(receive, buffer.data(), dialog, true, -1), 2);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 4), (Bytes{0x48, 0x69, 0x00, 0xEE}));
    EXPECT_EQ(taken, 6u);
    // The bar ends at the frame's end.
    EXPECT_EQ(dialog.Range(), 3);
    EXPECT_EQ(dialog.Pos(), 3);
}

TEST(AccessLine, UsesCodeAForType1AndCodeBForEveryOtherType) {
    const std::string a = kelo::Transport::AccessLine(1);
    ASSERT_EQ(a.size(), 510u);
    EXPECT_EQ(a.substr(0, 10), "OPEN CODE=");
    EXPECT_EQ(a.substr(10), kelo::platform::kAccessCodeA);
    for (int type : {2, 3, 4, 0, 7}) {
        EXPECT_EQ(kelo::Transport::AccessLine(type).substr(10), kelo::platform::kAccessCodeB)
            << type;
    }
}

}  // namespace
