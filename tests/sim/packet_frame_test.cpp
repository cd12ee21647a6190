#include "sim/packet_frame.h"

#include <gtest/gtest.h>

#include <numeric>

#include "testsupport/test_bytes.h"

namespace kelo::sim {
namespace {

using sim_testing::Bytes;
using testing_support::HexText;

struct FrameCase {
    const char* name;
    const char* hex;
    FrameStatus status;
    const char* command;  // for complete frames
    const char* data;
};

class RequestFrameTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(RequestFrameTest, IsJudgedByItsBytes) {
    const FrameCase& c = GetParam();
    const std::vector<uint8_t> bytes = Bytes(c.hex);
    const FrameParse parse = ParsePacketFrame(bytes.data(), bytes.size());
    EXPECT_EQ(FrameStatusName(parse.status), std::string(FrameStatusName(c.status)));
    if (c.status == FrameStatus::kComplete) {
        EXPECT_EQ(parse.frameLength, bytes.size());
        EXPECT_EQ(HexText({parse.frame.command[0], parse.frame.command[1]}), c.command);
        EXPECT_EQ(HexText(parse.frame.data), c.data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Frames, RequestFrameTest,
    ::testing::Values(
        FrameCase{"GetReport", "80 00 02 00 01 7C", FrameStatus::kComplete, "00 01", ""},
        FrameCase{"FirstHalf", "80 00 02 00 02 7B", FrameStatus::kComplete, "00 02", ""},
        FrameCase{"TextAB", "80 00 05 00 06 41 42 84 6D", FrameStatus::kComplete, "00 06", "41 42"},
        FrameCase{"EmptyWithDataSum", "80 00 03 00 06 01 75", FrameStatus::kComplete, "00 06", ""},
        FrameCase{"Command0007MayCarryData", "80 00 03 00 07 41 34", FrameStatus::kComplete,
                  "00 07", "41"},
        FrameCase{"Command0081NeedsDataSum", "80 00 03 00 81 01 FA", FrameStatus::kComplete,
                  "00 81", ""},
        FrameCase{"BadLead", "81 00 02 00 01 7B", FrameStatus::kBadLead, "", ""},
        FrameCase{"BadLeadSeenAtOnce", "7F", FrameStatus::kBadLead, "", ""},
        FrameCase{"LengthBelowTwo", "80 00 01 00 7E", FrameStatus::kBadLength, "", ""},
        FrameCase{"BadChecksum", "80 00 02 00 01 7D", FrameStatus::kBadChecksum, "", ""},
        FrameCase{"GetReportWithDataSum", "80 00 03 00 01 01 7A", FrameStatus::kUnexpectedData, "",
                  ""},
        FrameCase{"TextWithoutDataSum", "80 00 02 00 06 77", FrameStatus::kMissingDataSum, "", ""},
        FrameCase{"WrongDataSum", "80 00 05 00 06 41 42 85 6C", FrameStatus::kBadDataSum, "", ""},
        FrameCase{"HeaderOnly", "80 00 05", FrameStatus::kIncomplete, "", ""},
        FrameCase{"BodyCut", "80 00 05 00 06 41 42 84", FrameStatus::kIncomplete, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RequestFrameTest, EveryShorterPrefixOfAGoodFrameWaitsForMore) {
    const std::vector<uint8_t> frame =
        sim_testing::RequestFrame(0x00, 0x06, Bytes("72 73 0A"), true);
    for (size_t size = 1; size < frame.size(); ++size) {
        EXPECT_EQ(ParsePacketFrame(frame.data(), size).status, FrameStatus::kIncomplete) << size;
    }
}

TEST(RequestFrameTest, APutHalfCarriesAllItsDataBytes) {
    std::vector<uint8_t> half(32768);
    std::iota(half.begin(), half.end(), 0);
    const std::vector<uint8_t> frame = sim_testing::RequestFrame(0x00, 0x05, half, true);
    const FrameParse parse = ParsePacketFrame(frame.data(), frame.size());
    ASSERT_EQ(parse.status, FrameStatus::kComplete);
    EXPECT_EQ(parse.frame.data, half);
    EXPECT_TRUE(parse.frame.hasDataSum);
}

TEST(RequestFrameTest, TheFrameAfterAGoodOneIsLeftForTheNextCall) {
    std::vector<uint8_t> two = Bytes("80 00 02 00 01 7C 80 00 02 00 03");
    const FrameParse parse = ParsePacketFrame(two.data(), two.size());
    ASSERT_EQ(parse.status, FrameStatus::kComplete);
    EXPECT_EQ(parse.frameLength, 6u);
}

struct ReplyCase {
    const char* name;
    const char* fault;
    const char* expected;
    bool closeAfter;
};

class ReplyPlanTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ReplyPlanTest, SpoilsTheReplyAsTheFaultSays) {
    const ReplyCase& c = GetParam();
    Faults faults;
    if (*c.fault != '\0') {
        ASSERT_TRUE(EnableFault(c.fault, faults));
    }
    const ReplyPlan plan = PlanReply(Bytes("41 42 43"), faults);
    EXPECT_EQ(HexText(plan.bytes), c.expected);
    EXPECT_EQ(plan.closeAfter, c.closeAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ReplyPlanTest,
    ::testing::Values(ReplyCase{"Good", "", "80 00 03 41 42 43 B6", false},
                      ReplyCase{"BadChecksum", "bad-checksum", "80 00 03 41 42 43 B7", false},
                      // The check byte still matches the wrong lead: only the lead is wrong.
                      ReplyCase{"BadLead", "bad-lead", "7F 00 03 41 42 43 B7", false},
                      ReplyCase{"CloseMidHeader", "close-mid-header", "80 00", true},
                      ReplyCase{"CloseMidBody", "close-mid-body", "80 00 03 41", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplyPlanTest, LengthFaultSendsAWholeFrameOf65535BodyBytes) {
    Faults faults;
    faults.length65535 = true;
    const ReplyPlan plan = PlanReply(Bytes("41 42 43"), faults);
    ASSERT_EQ(plan.bytes.size(), 65539u);
    EXPECT_EQ(HexText({plan.bytes[0], plan.bytes[1], plan.bytes[2], plan.bytes[3]}), "80 FF FF 41");
    EXPECT_EQ(std::accumulate(plan.bytes.begin(), plan.bytes.end(), 0u) & 0xFF, 0xFFu);
    EXPECT_FALSE(plan.closeAfter);
}

TEST(ReplyFrameTest, AnEmptyBodyIsFourBytes) {
    EXPECT_EQ(HexText(BuildReplyFrame({})), "80 00 00 7F");
}

struct CommandFrameCase {
    const char* name;
    const char* hex;
    const char* problem;  // "" for a good frame
    const char* text;
};

class CommandFrameTest : public ::testing::TestWithParam<CommandFrameCase> {};

TEST_P(CommandFrameTest, IsCheckedBeforeItsTextIsUsed) {
    const CommandFrameCase& c = GetParam();
    std::string text;
    const char* problem = ParseCommandFrame(Bytes(c.hex), text);
    EXPECT_EQ(std::string(problem == nullptr ? "" : problem), c.problem);
    if (problem == nullptr) {
        EXPECT_EQ(text, c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandFrames, CommandFrameTest,
    ::testing::Values(
        CommandFrameCase{"Restart", "00 03 72 73 0A F3", "", "rs\n"},
        CommandFrameCase{"Update", "00 12 42 4F 4F 54 5F 55 70 64 61 74 65 4D 61 69 6E 20 30 0A E8",
                         "", "BOOT_UpdateMain 0\n"},
        CommandFrameCase{"EmptyText", "00 00 01", "", ""},
        CommandFrameCase{"WrongCheckByte", "00 03 72 73 0A F2", "bad-check-byte", ""},
        CommandFrameCase{"LengthSaysMore", "00 04 72 73 0A F4", "bad-length", ""},
        CommandFrameCase{"TooShort", "00 03", "too-short", ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelo::sim
