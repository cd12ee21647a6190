#include "sim/line_offer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelo::sim {
namespace {

// 130 bytes: line 1 is 128 bytes, line 2 the two bytes 0x00 0x7F.
std::vector<uint8_t> TwoLineData() {
    std::vector<uint8_t> data(128, 0x41);
    data.push_back(0x00);
    data.push_back(0x7F);
    return data;
}

std::vector<std::string> Fields(LineOffer& offer, int reads) {
    std::vector<std::string> fields;
    for (int i = 0; i < reads; ++i)
        fields.push_back(offer.NextField());
    return fields;
}

// Line 1 of TwoLineData: 128 bytes 0x41.
std::string Line1Field() {
    std::string field = "REPORT:1,";
    for (int i = 0; i < 128; ++i)
        field += "41";
    return field + ";";
}

TEST(LineOfferTest, CountFirstThenLinesThenRoundAgain) {
    LineOffer offer("REPORT:", TwoLineData(), Faults{});
    EXPECT_EQ(offer.LineCount(), 2);
    const std::vector<std::string> fields = Fields(offer, 7);
    EXPECT_EQ(fields[0], "REPORT:0,2;");
    EXPECT_EQ(fields[1], "REPORT:0,2;");
    EXPECT_EQ(fields[2], "REPORT:0,2;");
    EXPECT_EQ(fields[3], Line1Field());
    EXPECT_EQ(fields[4], "REPORT:2,007F;");  // the last line is shorter; zeros stay
    EXPECT_EQ(fields[5], Line1Field());
    EXPECT_EQ(fields[6], "REPORT:2,007F;");
}

TEST(LineOfferTest, FullLinesAre128BytesOfUppercaseHex) {
    std::vector<uint8_t> data;
    for (int i = 0; i < 300; ++i)
        data.push_back(static_cast<uint8_t>(0xA0 + i % 16));
    EXPECT_EQ(LineHex(data, 1).size(), 256u);
    EXPECT_EQ(LineHex(data, 1).substr(0, 8), "A0A1A2A3");
    EXPECT_EQ(LineHex(data, 3),
              "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"
              "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"
              "A0A1A2A3A4A5A6A7A8A9AAAB");  // 44 bytes: the rest of the 300
    EXPECT_EQ(LineHex(data, 4), "");
    EXPECT_EQ(LineHex(data, 0), "");
}

TEST(LineOfferTest, NothingToOfferKeepsTheCountOfZeroUp) {
    LineOffer offer("READ_PARAM:", {}, Faults{});
    for (const std::string& field : Fields(offer, 5))
        EXPECT_EQ(field, "READ_PARAM:0,0;");
}

// The payload numbers offered for 3 lines, read by read, under each fault.
struct ScheduleCase {
    const char* fault;
    std::vector<int> numbers;
};

class LineFaultTest : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(LineFaultTest, ChangesTheSequenceOfPayloads) {
    Faults faults;
    ASSERT_TRUE(*GetParam().fault == '\0' || EnableFault(GetParam().fault, faults));
    LineOffer offer("REPORT:", std::vector<uint8_t>(300, 0x55), faults);  // 3 lines
    std::vector<int> numbers;
    for (size_t i = 0; i < GetParam().numbers.size(); ++i) {
        offer.NextField();
        numbers.push_back(offer.LastNumber());
    }
    EXPECT_EQ(numbers, GetParam().numbers);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LineFaultTest,
    ::testing::Values(ScheduleCase{"", {0, 0, 0, 1, 2, 3, 1, 2}},
                      ScheduleCase{"lines-repeated", {0, 0, 0, 1, 1, 2, 2, 3, 3, 1}},
                      ScheduleCase{"lines-out-of-range", {0, 0, 0, 4, 1, 2, 1003, 3, 4}},
                      ScheduleCase{"lines-before-count", {1, 2, 0, 0, 0, 1, 2, 3, 1}},
                      ScheduleCase{"lines-without-semicolon", {0, 0, 0, 0, 0, 0, 1, 1, 2, 2}}),
    [](const auto& info) {
        std::string name = *info.param.fault == '\0' ? "none" : info.param.fault;
        for (char& c : name) {
            if (c == '-')
                c = '_';
        }
        return name;
    });

TEST(LineFaultTest, WithoutSemicolonOffersEachFieldFirstUnended) {
    Faults faults;
    faults.linesWithoutSemicolon = true;
    LineOffer offer("REPORT:", {0x41}, faults);
    EXPECT_EQ(offer.NextField(), "REPORT:0,1");
    EXPECT_EQ(offer.NextField(), "REPORT:0,1;");
}

TEST(LineFaultTest, OddDigitsAddOneDigitToEveryLineButNotTheCount) {
    Faults faults;
    faults.linesOddDigits = true;
    LineOffer offer("READ_PARAM:", {0x41, 0x00}, faults, 1);
    EXPECT_EQ(offer.NextField(), "READ_PARAM:0,1;");
    EXPECT_EQ(offer.NextField(), "READ_PARAM:1,4100F;");
}

TEST(LineFaultTest, OutOfRangeLinesCarryMadeUpBytes) {
    Faults faults;
    faults.linesOutOfRange = true;
    LineOffer offer("REPORT:", {0x41}, faults, 1);
    offer.NextField();
    EXPECT_EQ(offer.NextField(), "REPORT:2,4F5554204F462052414E4745;");
}

TEST(StatusTextTest, TheOfferedFieldComesLast) {
    const std::string text = StatusText(2, "REPORT:0,3");
    EXPECT_EQ(text.rfind("REPORT:0,3"), text.size() - 10);
    EXPECT_EQ(text.find("REPORT:"), text.rfind("REPORT:"));
    EXPECT_NE(text.find("MDL:Service Machine Type 2;"), std::string::npos);
    EXPECT_EQ(StatusText(1, "").back(), ';');
}

}  // namespace
}  // namespace kelo::sim
