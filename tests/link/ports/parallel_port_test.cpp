#include "link/parallel_port_ieee1284.h"

#include <gtest/gtest.h>
#include <ieee1284.h>

#include <string>
#include <vector>

#include "tests/link/ports/port_fakes.h"

namespace kelo {
namespace {

using test::DeviceIdBytes;
using test::FakeIeee1284Backend;
using test::FakeIeee1284State;
using Calls = std::vector<std::string>;

class ParallelPortTest : public ::testing::Test {
  protected:
    FakeIeee1284State state;
    Ieee1284Port port{std::make_unique<FakeIeee1284Backend>(state)};
};

TEST_F(ParallelPortTest, OpenClaimsTheFirstPortSharedAndCloseGivesItBack) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        state.calls.clear();
        ASSERT_TRUE(port.Open());
        EXPECT_TRUE(port.IsOpen());
        port.Close();
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(state.calls, (Calls{"find", "open", "claim", "release", "close", "free"}));
    }
    EXPECT_EQ(state.openFlags, (std::vector<int>{0, 0}));
}

TEST_F(ParallelPortTest, FailedOpenUndoesWhatWasDone) {
    const struct {
        const char* name;
        int portCount;
        int openResult;
        int claimResult;
        Calls calls;
    } cases[] = {
        {"no port", 0, E1284_OK, E1284_OK, {"find", "free"}},
        {"find failed", E1284_NOMEM, E1284_OK, E1284_OK, {"find", "free"}},
        {"open failed", 1, E1284_INIT, E1284_OK, {"find", "open", "free"}},
        {"claim failed", 1, E1284_OK, E1284_SYS, {"find", "open", "claim", "close", "free"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        state.calls.clear();
        state.portCount = c.portCount;
        state.openResult = c.openResult;
        state.claimResult = c.claimResult;
        EXPECT_FALSE(port.Open());
        EXPECT_FALSE(port.IsOpen());
        port.Close();  // nothing more to give back
        EXPECT_EQ(state.calls, c.calls);
    }
}

TEST_F(ParallelPortTest, WriteReportsWhatTheDeviceTook) {
    ASSERT_TRUE(port.Open());
    const uint8_t data[5] = {0x48, 0x65, 0x6C, 0x6C, 0x6F};
    const struct {
        long taken;
        int result;
    } cases[] = {{5, 5}, {2, 2}, {0, 0}, {E1284_TIMEDOUT, -1}, {E1284_SYS, -1}};
    for (const auto& c : cases) {
        state.takes = [&c](long) { return c.taken; };
        EXPECT_EQ(port.Write(data, 5), c.result) << c.taken;
    }
}

TEST_F(ParallelPortTest, ClosedPortNeitherWritesNorReads) {
    const uint8_t data[1] = {0};
    uint8_t buffer[512];
    EXPECT_EQ(port.Write(data, 1), -1);
    EXPECT_EQ(port.ReadDeviceId(buffer, sizeof buffer), -1);
    EXPECT_TRUE(state.calls.empty());
}

TEST_F(ParallelPortTest, DeviceIdComesWithoutItsLengthBytes) {
    ASSERT_TRUE(port.Open());
    uint8_t buffer[512];
    state.deviceId = DeviceIdBytes("MFG:Maker;REPORT:1,41;");
    ASSERT_EQ(port.ReadDeviceId(buffer, sizeof buffer), 22);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "MFG:Maker;REPORT:1,41;");

    // Low byte first, as some devices send it.
    state.deviceId = {0x05, 0x00, 0x41, 0x42, 0x43};
    ASSERT_EQ(port.ReadDeviceId(buffer, sizeof buffer), 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(buffer), "ABC");

    state.deviceId = {};
    EXPECT_EQ(port.ReadDeviceId(buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], 0);

    state.deviceIdResult = E1284_NOID;
    EXPECT_EQ(port.ReadDeviceId(buffer, sizeof buffer), -1);
}

TEST_F(ParallelPortTest, LongDeviceIdStaysInsideTheBuffer) {
    ASSERT_TRUE(port.Open());
    state.deviceId = DeviceIdBytes(std::string(600, 'A'));
    std::vector<uint8_t> buffer(513, 0xEE);
    ASSERT_EQ(port.ReadDeviceId(buffer.data(), 512), 511);
    EXPECT_EQ(buffer[511], 0);
    EXPECT_EQ(buffer[512], 0xEE);
}

}  // namespace
}  // namespace kelo
