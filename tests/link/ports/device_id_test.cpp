#include "link/device_id.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelo {
namespace {

struct DeviceIdCase {
    const char* name;
    std::vector<uint8_t> raw;  // what arrived
    int capacity;
    std::string text;
};

// "REPORT:0,2;" is 52 45 50 4F 52 54 3A 30 2C 32 3B, eleven bytes; with its length bytes 13.
const DeviceIdCase kCases[] = {
    {"big endian",
     {0x00, 0x0D, 0x52, 0x45, 0x50, 0x4F, 0x52, 0x54, 0x3A, 0x30, 0x2C, 0x32, 0x3B},
     512,
     "REPORT:0,2;"},
    {"big endian stops at its length", {0x00, 0x05, 0x41, 0x42, 0x43, 0x44, 0x45}, 512, "ABC"},
    {"little endian when big endian is more than arrived",
     {0x0D, 0x00, 0x52, 0x45, 0x50, 0x4F, 0x52, 0x54, 0x3A, 0x30, 0x2C, 0x32, 0x3B, 0x58},
     512,
     "REPORT:0,2;"},
    {"little endian when big endian is below two",
     {0x00, 0x01, 0x41, 0x42},
     512,
     "AB"},  // little-endian 256, clamped to the four bytes that arrived
    {"clamped to what arrived", {0x00, 0xFF, 0x41, 0x42, 0x43}, 512, "ABC"},
    {"stops at the first zero byte", {0x00, 0x07, 0x41, 0x42, 0x00, 0x43, 0x44}, 512, "AB"},
    {"truncated to the capacity", {0x00, 0x06, 0x41, 0x42, 0x43, 0x44}, 3, "AB"},
    {"length field only", {0x00, 0x02}, 512, ""},
    {"length zero", {0x00, 0x00, 0x41, 0x42}, 512, ""},
    {"length one either way", {0x01, 0x00}, 512, ""},
    {"garbage length below two both ways", {0x00, 0x00, 0xFF, 0xFF}, 512, ""},
    {"one byte", {0x00}, 512, ""},
    {"nothing", {}, 512, ""},
};

TEST(DeviceIdText, FollowsTheLengthRules) {
    for (const DeviceIdCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> text(static_cast<size_t>(c.capacity) + 1, 0xEE);
        const int count =
            DeviceIdText(c.raw.data(), static_cast<int>(c.raw.size()), text.data(), c.capacity);
        EXPECT_EQ(count, static_cast<int>(c.text.size()));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data()), c.text.size()), c.text);
        EXPECT_EQ(text[c.text.size()], 0);
        EXPECT_EQ(text[static_cast<size_t>(c.capacity)], 0xEE) << "written past the capacity";
    }
}

TEST(DeviceIdText, NeverReadsPastWhatArrived) {
    // Four bytes arrived; the length bytes claim 1280 or 5 either way round. The byte after
    // them in memory would join the text if the length were not clamped.
    const uint8_t memory[] = {0x05, 0x00, 0x41, 0x42, 0x43};
    uint8_t text[8] = {};
    EXPECT_EQ(DeviceIdText(memory, 4, text, sizeof text), 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(text), "AB");
}

TEST(DeviceIdText, NoRoomWritesNothing) {
    const uint8_t raw[] = {0x00, 0x03, 0x41};
    uint8_t text = 0xEE;
    EXPECT_EQ(DeviceIdText(raw, 3, &text, 0), 0);
    EXPECT_EQ(text, 0xEE);
    EXPECT_EQ(DeviceIdText(nullptr, 5, &text, 1), 0);
    EXPECT_EQ(text, 0);
}

}  // namespace
}  // namespace kelo
