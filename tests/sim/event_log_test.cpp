// The event lines: every byte string comes back whole, and a line is plain ASCII JSON.
#include "sim/event_log.h"

#include <gtest/gtest.h>

#include "testsupport/sim_process.h"

namespace kelo::sim {
namespace {

using sim_testing::EventField;

TEST(EventLine, EveryByteValueComesBackAndTheLineIsAscii) {
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes += static_cast<char>(value);
    const std::string line =
        Event("lpd-file").Text("text", bytes).Number("bytes", -7).Flag("ok", false).Line();
    for (unsigned char c : line)
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(c) << " in " << line;
    EXPECT_EQ(line.rfind("{\"event\":\"lpd-file\",\"text\":\"\\u0000", 0), 0u) << line;
    EXPECT_EQ(EventField(line, "text"), bytes);
    EXPECT_EQ(EventField(line, "bytes"), "-7");
    EXPECT_EQ(EventField(line, "ok"), "false");
}

}  // namespace
}  // namespace kelo::sim
