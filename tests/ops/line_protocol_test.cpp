// Get Report and Get Parameters of machine types 1 and 2: the count and the numbered lines
// arrive in status texts, here from a scripted machine on the parallel port.
#include <gtest/gtest.h>

#include "link/device_link.h"
#include "link/status_text.h"
#include "platform/clock.h"
#include "platform/headless_cancel_dialog.h"
#include "platform/message_recorder.h"
#include "testsupport/fake_parallel_port.h"
#include "testsupport/ops_calls.h"
#include "testsupport/scripted_cancel.h"
#include "testsupport/temp_dir.h"
#include "testsupport/test_bytes.h"
#include "testsupport/text_case.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testing_support::CurrentMachine;
using testing_support::HexText;

std::string Status(const std::string& field) {
    return "MFG:Kelo;" + field + "STATUS:IDLE;";
}

class LineProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link_ = testing_support::MakeScriptedParallelLink(dialog_, 0);
        dialog_.onProgress = [this](kelo::platform::HeadlessCancelDialog& d) {
            progress_.push_back({d.Range(), d.Pos()});
        };
    }

    void Script(std::initializer_list<std::string> statuses) {
        for (const std::string& s : statuses)
            CurrentMachine().statuses.push_back(s);
    }

    std::vector<int> Positions() const {
        std::vector<int> positions;
        for (auto [range, pos] : progress_)
            positions.push_back(pos);
        return positions;
    }

    Bytes LastWrite() const { return CurrentMachine().writes.back(); }

    testing_support::TempDir dir_;
    kelo::platform::HeadlessCancelDialog dialog_;
    kelo::platform::MessageRecorder messages_;
    kelo::platform::FakeClock clock_;
    std::unique_ptr<kelo::DeviceLink> link_;
    std::vector<std::pair<int, int>> progress_;
};

TEST_F(LineProtocolTest, ReportArrivesLineByLine) {
    Script({Status(""), Status("REPORT:0,2;"), Status("REPORT:2,4445;"),
            Status("REPORT:1," + HexText(Bytes(128, 0x41), "") + ";")});
    std::string report = "old";
    ASSERT_TRUE(testing_support::ReportInto(link_->Port(), report));
    EXPECT_EQ(report, std::string(128, 'A') + "DE");
    EXPECT_EQ(dialog_.Range(), 2);
    EXPECT_EQ(Positions(), (std::vector<int>{0, 0, 1, 2}));  // SetPos(0), SetRange, then lines
    // Access line, the bare command, and the end-of-exchange byte at the end.
    const auto& writes = CurrentMachine().writes;
    ASSERT_EQ(writes.size(), 3u);
    const std::string access = kelo::Transport::AccessLine(1);
    EXPECT_EQ(writes[0], Bytes(access.begin(), access.end()));
    EXPECT_EQ(writes[1], Bytes({'G', 'E', 'T', ' ', 'R', 'E', 'P', 'O', 'R', 'T'}));
    EXPECT_EQ(writes[2], Bytes{0x00});
    EXPECT_FALSE(CurrentMachine().open);
    EXPECT_FALSE(dialog_.IsVisible());
    EXPECT_EQ(clock_.Waits().front(), 300);
    EXPECT_TRUE(messages_.Messages().empty());
}

TEST_F(LineProtocolTest, PayloadsThatDoNotFitAreIgnored) {
    Script({Status("REPORT:1,41;"),  // a line before the count
            Status("REPORT:0,3"),    // no ";": an empty payload
            Status("REPORT:0,-4;"),  // a count below 1
            Status("REPORT:0,3;"),
            Status("REPORT:5,41;"),  // out of range
            Status("REPORT:2,42;"),  // a short line that is not the last
            Status("REPORT:2,43;"),  // repeated: ignored, the bar stays
            Status("REPORT:1," + HexText(Bytes(130, 0x30), "") + ";"),  // overlong: cut to 128
            Status("REPORT:3,414;")});                                  // odd digits: one byte
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link_->Port(), report));
    // The short line 2 leaves its slot zero after its byte, which ends the text.
    EXPECT_EQ(report, std::string(128, '0') + "B");
    EXPECT_EQ(Positions(), (std::vector<int>{0, 0, 1, 2, 3}));
}

TEST_F(LineProtocolTest, OddDigitCountDropsTheLastDigit) {
    Script({Status("REPORT:0,1;"), Status("REPORT:1,414;")});
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link_->Port(), report));
    EXPECT_EQ(report, "A");
}

TEST_F(LineProtocolTest, HexPairsAreReadAsBase16Numbers) {
    // Lower case, a sign, and a pair without a digit.
    Script({Status("REPORT:0,1;"), Status("REPORT:1,4a-1zz6F;")});
    std::string report;
    ASSERT_TRUE(testing_support::ReportInto(link_->Port(), report));
    EXPECT_EQ(report, "J\xFF");  // 4a, -1, then zz gives 0, which ends the text
}

TEST_F(LineProtocolTest, HugeCountEndsTheExchangeBeforeAnythingIsAllocated) {
    Script({Status("REPORT:0,2049;")});
    std::string report = "kept";
    EXPECT_FALSE(testing_support::ReportInto(link_->Port(), report));
    EXPECT_EQ(report, "kept");
    EXPECT_EQ(LastWrite(), Bytes{0x00});
}

TEST_F(LineProtocolTest, CancelDuringTheCountWaitEndsWithoutTheEndByte) {
    CurrentMachine().idleStatus = Status("");
    testing_support::CancelAtPump(dialog_, 50);
    std::string report;
    EXPECT_FALSE(testing_support::ReportInto(link_->Port(), report));
    ASSERT_EQ(CurrentMachine().writes.size(), 2u);  // access line and command only
    EXPECT_FALSE(CurrentMachine().open);
    EXPECT_TRUE(messages_.Messages().empty());
    // The next operation shows the dialog again and starts with the flag cleared.
    Script({Status("REPORT:0,1;"), Status("REPORT:1,41;")});
    dialog_.onPump = nullptr;
    EXPECT_TRUE(testing_support::ReportInto(link_->Port(), report));
}

TEST_F(LineProtocolTest, FailedStatusReadShowsItsMessage) {
    link_->SetParallelPortFactory([]() -> std::unique_ptr<kelo::ParallelPort> {
        struct Broken : kelo::ParallelPort {
            bool Open() override { return open = true; }
            bool IsOpen() const override { return open; }
            int Write(const uint8_t*, int n) override { return n; }
            int ReadDeviceId(uint8_t*, int) override { return -1; }
            void Close() override { open = false; }
            bool open = false;
        };
        return std::make_unique<Broken>();
    });
    std::string report;
    EXPECT_FALSE(testing_support::ReportInto(link_->Port(), report));
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{"Failed to read."});
}

TEST_F(LineProtocolTest, ParametersKeepZerosAndCountTheLastLine) {
    Bytes line1(128);
    for (int i = 0; i < 128; ++i)
        line1[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    Script({Status("READ_PARAM:0,2;"), Status("READ_PARAM:1," + HexText(line1, "") + ";"),
            Status("READ_PARAM:2,0102;")});
    Bytes buffer(131072, 0xEE);
    EXPECT_EQ(testing_support::ParametersInto(link_->Port(), buffer.data(), 131072), 130);
    EXPECT_TRUE(std::equal(line1.begin(), line1.end(), buffer.begin()));
    EXPECT_EQ(buffer[128], 0x01);
    EXPECT_EQ(buffer[129], 0x02);
    EXPECT_EQ(buffer[130], 0xEE);
    const std::string command(CurrentMachine().writes[1].begin(), CurrentMachine().writes[1].end());
    EXPECT_EQ(command, "GET PARAM");
    EXPECT_EQ(LastWrite(), Bytes{0x00});
}

TEST_F(LineProtocolTest, ParametersLongerThanTheCapacityAreCut) {
    Script({Status("READ_PARAM:0,2;"), Status("READ_PARAM:2," + HexText(Bytes(50, 7), "") + ";"),
            Status("READ_PARAM:1," + HexText(Bytes(128, 9), "") + ";")});
    Bytes buffer(131072, 0xEE);
    EXPECT_EQ(testing_support::ParametersInto(link_->Port(), buffer.data(), 100), 100);
    EXPECT_EQ(buffer[99], 9);
    EXPECT_EQ(buffer[100], 0xEE);
}

TEST_F(LineProtocolTest, EmptyParameterPayloadsDoNotWait) {
    Script({Status(""), Status(""), Status("READ_PARAM:0,1;"), Status(""),
            Status("READ_PARAM:1,00;")});
    Bytes buffer(16);
    EXPECT_EQ(testing_support::ParametersInto(link_->Port(), buffer.data(), 16), 1);
    // 300 after the command, then one 5 ms wait per non-empty payload only.
    EXPECT_EQ(clock_.Waits(), (std::vector<int>{300, 5, 5}));
}

TEST_F(LineProtocolTest, CancelledParametersSendNoEndByte) {
    CurrentMachine().idleStatus = Status("READ_PARAM:0,0;");
    testing_support::CancelAtPump(dialog_, 20);
    Bytes buffer(16);
    EXPECT_EQ(testing_support::ParametersInto(link_->Port(), buffer.data(), 16), -1);
    EXPECT_EQ(CurrentMachine().writes.size(), 2u);
}

TEST(ExtractField, TakesThePayloadUpToTheFirstSemicolonAfterTheKey) {
    const testing_support::TextCase cases[] = {
        {"MFG:X;REPORT:0,12;CMD:Y;", "0,12"},
        {"REPORT:1,41;REPORT:2,42;", "1,41"},
        {"REPORT:0,3", ""},
        {"NOTHING:1;", ""},
        {"REPORT:;", ""},
        {"READ_PARAM:1,00;", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.given;
        text = kelo::FieldPayload(text, "REPORT:");
        EXPECT_EQ(text, c.expected) << c.given;
    }
}

}  // namespace
