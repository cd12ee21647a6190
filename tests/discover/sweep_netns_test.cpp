// Discovery in a network namespace of its own: an address whose datagrams the kernel refuses
// (a route marks it unreachable) is done with at once, and a sweep over a veth pair, where
// every datagram waits for ARP, keeps its pace without a send ever failing for want of room.
#include <gtest/gtest.h>

#include <cstdlib>

#include "discover/discovery.h"
#include "platform/clock.h"

namespace kelo::discover {
namespace {

TEST(Unreachable, AnAddressTheKernelRefusesCostsNoResendsAndNoTimeOut) {
    ASSERT_EQ(std::system("ip link set lo up && ip route add unreachable 10.66.0.0/16"), 0);
    platform::FakeClock clock;
    DiscoveryPlan plan;
    plan.hosts = {0x0A420001, 0x0A420002, 0x0A420003};
    plan.ports = {9161, 9162, 9163};
    Discovery discovery(plan);
    std::string error;
    ASSERT_TRUE(discovery.Start(error)) << error;
    while (discovery.Step(60000)) {
    }
    EXPECT_TRUE(discovery.Machines().empty());
    EXPECT_LT(clock.Total(), Discovery::kResendMs) << "no resend was waited for";
    EXPECT_EQ(discovery.Progress().probed, 3);
}

// The far end of the pair has no address, so ARP never finds anyone and every datagram stays
// in the send buffers until ARP gives up, seconds later. The starts must spread over the /24
// at the rate (within 10%) all the same.
TEST(PacedSweep, ASlash24OverAVethKeepsItsRateAndNeverFindsTheSendBufferFull) {
    ASSERT_EQ(std::system("ip link add kv0 type veth peer name kv1 && "
                          "ip addr add 10.55.0.1/24 dev kv0 && ip link set kv0 up && "
                          "ip link set kv1 up"),
              0);
    DiscoveryPlan plan;
    for (Address host = 0x0A370002; host < 0x0A3700FF; ++host)
        plan.hosts.push_back(host);
    plan.rate = 500;
    plan.timeoutMs = 0;
    Discovery discovery(plan);
    std::string error;
    ASSERT_TRUE(discovery.Start(error)) << error;
    while (discovery.Step(1)) {
    }
    EXPECT_EQ(discovery.SendsRefused(), 0);
    const double expectedMs = 1000.0 * static_cast<double>(plan.hosts.size() - 1) / plan.rate;
    EXPECT_GE(discovery.LastHostStartMs(), 0.9 * expectedMs);
    EXPECT_LE(discovery.LastHostStartMs(), 1.1 * expectedMs);
}

}  // namespace
}  // namespace kelo::discover
