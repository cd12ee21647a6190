// Discovery's pieces without a network namespace: address blocks and the probe schedule against an
// agent on loopback, timed by the fake clock.
#include "discover/discovery.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/clock.h"
#include "tests/snmp/ber_bytes.h"

namespace kelo::discover {
namespace {

using test::Bytes;
using test::Cat;
using test::HexBytes;
using test::Tlv;
using ::testing::ElementsAre;

TEST(AddressBlock, HostAddressesLeaveOutNetworkAndBroadcast) {
    const struct {
        std::vector<std::string> blocks;
        std::optional<size_t> count;  // nullopt: refused
        std::string first, last;
    } cases[] = {
        {{"192.0.2.77/24"}, 254, "192.0.2.1", "192.0.2.254"},
        {{"192.0.2.7"}, 1, "192.0.2.7", "192.0.2.7"},
        {{"192.0.2.6/31"}, 2, "192.0.2.6", "192.0.2.7"},
        {{"10.0.0.0/22"}, 1022, "10.0.0.1", "10.0.3.254"},
        {{"10.0.0.0/22", "10.0.2.0/23", "10.0.0.5"}, 1022, "10.0.0.1", "10.0.3.254"},
        {{"10.0.0.0/16", "10.1.0.0/30", "10.0.0.9"}, 65536, "10.0.0.1", "10.1.0.2"},
        {{"10.0.0.0/16", "10.1.0.0/30", "10.1.0.9"}, std::nullopt, "", ""},
        {{"10.0.0.0/15"}, std::nullopt, "", ""},
        {{"0.0.0.0/0"}, std::nullopt, "", ""},
    };
    for (const auto& c : cases) {
        std::vector<AddressBlock> blocks;
        for (const std::string& text : c.blocks)
            blocks.push_back(ParseAddressBlock(text).value());
        const auto hosts = HostAddresses(blocks);
        ASSERT_EQ(hosts.has_value(), c.count.has_value()) << c.blocks[0];
        if (!hosts)
            continue;
        EXPECT_EQ(hosts->size(), *c.count) << c.blocks[0];
        EXPECT_EQ(AddressText(hosts->front()), c.first) << c.blocks[0];
        EXPECT_EQ(AddressText(hosts->back()), c.last) << c.blocks[0];
    }
    for (const char* bad : {"", "192.0.2.0/", "192.0.2.0/33", "192.0.2.0/-1", "192.0.2.0/+8",
                            "192.0.2/24", "192.0.2.0/24x", "printer/24", "192.0.2.0 /24"}) {
        EXPECT_FALSE(ParseAddressBlock(bad)) << bad;
    }
}

// ---- The probe schedule ---------------------------------------------------------------------

// Object identifier contents of the three questions.
const Bytes kStatusName = HexBytes("2B 06 01 04 01 89 4D 02 02 02 01 18 01");
const Bytes kSysName = HexBytes("2B 06 01 02 01 01 05 00");

// A UDP socket on an address of loopback; every port probed is its port number, on which no
// TCP listener waits, so the port probes are refused.
class LoopbackSocket {
  public:
    explicit LoopbackSocket(const char* address, uint16_t port = 0)
        : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{AF_INET, htons(port), {}, {}};
        ::inet_pton(AF_INET, address, &local.sin_addr);
        socklen_t size = sizeof local;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&local), size);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
        port_ = ntohs(local.sin_port);
    }
    ~LoopbackSocket() { ::close(fd_); }
    uint16_t Port() const { return port_; }

    // The datagrams waiting, with where each came from.
    std::vector<std::pair<Bytes, sockaddr_in>> Take() {
        std::vector<std::pair<Bytes, sockaddr_in>> taken;
        Bytes buffer(2048);
        sockaddr_in from{};
        socklen_t size = sizeof from;
        for (ssize_t got; (got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                            reinterpret_cast<sockaddr*>(&from), &size)) >= 0;) {
            taken.emplace_back(Bytes(buffer.begin(), buffer.begin() + got), from);
        }
        return taken;
    }
    void SendTo(const sockaddr_in& to, const Bytes& datagram) {
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to);
    }

  private:
    int fd_;
    uint16_t port_ = 0;
};

// A request of community "public" has its request-id element at 15 and its name at 33.
Bytes RequestIdOf(const Bytes& request) {
    return Bytes(request.begin() + 15, request.begin() + 21);
}
Bytes NameOf(const Bytes& request) {
    return Bytes(request.begin() + 33, request.begin() + 33 + request[32]);
}

Bytes Answer(const Bytes& idElement, const Bytes& name, uint8_t errorStatus, const Bytes& value,
             uint8_t pduType = 0xA2) {
    const Bytes varBind = Tlv(0x30, Cat({Tlv(0x06, name), value}));
    const Bytes pdu = Tlv(pduType, Cat({idElement, Bytes{0x02, 0x01, errorStatus},
                                        HexBytes("02 01 00"), Tlv(0x30, varBind)}));
    return Tlv(0x30, Cat({HexBytes("02 01 00"), Tlv(0x04, {'p', 'u', 'b', 'l', 'i', 'c'}), pdu}));
}

Bytes AnswerTo(const Bytes& request, uint8_t errorStatus, const Bytes& value) {
    return Answer(RequestIdOf(request), NameOf(request), errorStatus, value);
}

// The request's id element with its value moved by delta.
Bytes OtherId(const Bytes& request, int delta) {
    Bytes id = RequestIdOf(request);
    id[5] = static_cast<uint8_t>(id[5] + delta);
    return id;
}

class ProbeSchedule : public ::testing::Test {
  protected:
    DiscoveryPlan Plan(bool broadcast) {
        DiscoveryPlan plan;
        if (broadcast) {
            plan.broadcasts = {{0x7F000001, {0x7F000000, 8}}};
        } else {
            plan.hosts = {0x7F000001};
        }
        plan.ports = {agent_.Port(), agent_.Port(), agent_.Port()};
        return plan;
    }

    // Runs the discovery to its end; at each wait the agent's script sees the requests that
    // arrived, with the time they went out.
    std::vector<FoundMachine> Run(
        const DiscoveryPlan& plan,
        std::function<void(long long sentAt, const Bytes&, const sockaddr_in&)> script) {
        clock_.Clear();
        clock_.onSleep = [&](int milliseconds) {
            for (const auto& [request, from] : agent_.Take()) {
                requests_.emplace_back(clock_.Total() - milliseconds, request);
                script(clock_.Total() - milliseconds, request, from);
            }
        };
        Discovery discovery(plan);
        std::string error;
        EXPECT_TRUE(discovery.Start(error)) << error;
        while (discovery.Step(60000)) {
        }
        return discovery.Machines();
    }

    platform::FakeClock clock_;
    LoopbackSocket agent_{"127.0.0.1"};
    std::vector<std::pair<long long, Bytes>> requests_;  // when each went out
};

TEST_F(ProbeSchedule, SilentAgentGetsTheRequestThreeTimesThenTheTimeOut) {
    DiscoveryPlan plan = Plan(false);
    plan.timeoutMs = 1200;
    EXPECT_TRUE(Run(plan, [](long long, const Bytes&, const sockaddr_in&) {}).empty());
    ASSERT_EQ(requests_.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(requests_[i].first, static_cast<long long>(500 * i));
        EXPECT_EQ(requests_[i].second, requests_[0].second) << "the same request-id each time";
    }
    EXPECT_EQ(NameOf(requests_[0].second), kStatusName);
    EXPECT_EQ(clock_.Total(), 1000 + 1200);
}

// The agent misses the first status request. An answer from another address is taken only
// from a broadcast; the name is asked on its own, and a noSuchName for the description
// leaves the machine found.
TEST_F(ProbeSchedule, AnswerToARepeatCountsOnceAndOnlyFromAnAddressAsked) {
    for (const bool broadcast : {false, true}) {
        requests_.clear();
        LoopbackSocket stranger("127.0.0.2", agent_.Port());
        const auto machines = Run(
            Plan(broadcast), [&](long long sentAt, const Bytes& request, const sockaddr_in& from) {
                const Bytes name = NameOf(request);
                if (name == kStatusName && sentAt == 500) {
                    const Bytes answer = AnswerTo(request, 0, test::OctetString("MDL:Type 1;"));
                    stranger.SendTo(from, answer);
                    agent_.SendTo(from, answer);
                    agent_.SendTo(from, answer);
                } else if (name == kSysName) {
                    agent_.SendTo(from, AnswerTo(request, 0, test::OctetString("m1")));
                } else if (name != kStatusName) {
                    agent_.SendTo(from, AnswerTo(request, 2, HexBytes("05 00")));
                }
            });
        ASSERT_EQ(machines.size(), broadcast ? 2u : 1u);
        EXPECT_EQ(AddressText(machines.back().address), broadcast ? "127.0.0.2" : "127.0.0.1");
        const FoundMachine& machine = machines[0];
        EXPECT_EQ(AddressText(machine.address), "127.0.0.1");
        EXPECT_THAT(machine.types, ElementsAre(1, 2));
        EXPECT_EQ(machine.status, "MDL:Type 1;");
        EXPECT_EQ(machine.name, "m1");
        EXPECT_EQ(machine.description, std::nullopt);
        EXPECT_EQ(machine.ms, 1000) << "from the first request, seen when the wait ended";
        // The status twice (an answer ends a request to one address, not a broadcast), then
        // one request for each of the other two questions.
        EXPECT_EQ(requests_.size(), broadcast ? 5u : 4u);
    }
}

// Before each real answer come answers that must change nothing: another question's or
// another run's request-id, the id in five octets or as no INTEGER, another object's name, a
// request instead of an answer, another address, another port. The first real status answer
// comes to the second send, so any of them taken would show as a "forged" value or an earlier
// round trip; the description's real answer still counts after a stray one with its id.
TEST_F(ProbeSchedule, OnlyTheAnswerToTheQuestionAskedCounts) {
    LoopbackSocket stranger("127.0.0.2", agent_.Port());
    LoopbackSocket otherPort("127.0.0.1");
    const Bytes forged = test::OctetString("forged");
    const auto machines =
        Run(Plan(false), [&](long long sentAt, const Bytes& request, const sockaddr_in& from) {
            const Bytes id = RequestIdOf(request);
            const Bytes name = NameOf(request);
            const Bytes longId = Cat({Bytes{0x02, 0x05, 0x00}, Bytes(id.begin() + 2, id.end())});
            const Bytes notInteger = Cat({Bytes{0x04}, Bytes(id.begin() + 1, id.end())});
            const Bytes otherName = name == kSysName ? kStatusName : kSysName;
            for (const Bytes& stray :
                 {Answer(OtherId(request, 1), name, 0, forged),
                  Answer(OtherId(request, 100), name, 0, forged), Answer(longId, name, 0, forged),
                  Answer(notInteger, name, 0, forged), Answer(id, otherName, 0, forged),
                  Answer(id, name, 0, forged, 0xA0)}) {
                if (name != kStatusName || sentAt == 0)
                    agent_.SendTo(from, stray);
            }
            stranger.SendTo(from, AnswerTo(request, 0, forged));
            otherPort.SendTo(from, AnswerTo(request, 0, forged));
            if (name != kStatusName || sentAt == 500)
                agent_.SendTo(from, AnswerTo(request, 0, test::OctetString("real")));
        });
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(machines[0].status, "real");
    EXPECT_EQ(machines[0].name, "real");
    EXPECT_EQ(machines[0].description, "real");
    EXPECT_EQ(machines[0].ms, 1000);
}

// A broadcast takes answers only from the SNMP port of addresses inside its network, one
// machine a source, and tries the ports of those alone.
TEST_F(ProbeSchedule, BroadcastTakesEachSourceOnceAndOnlyFromItsNetwork) {
    DiscoveryPlan plan = Plan(true);
    plan.broadcasts[0].network = {0x7F000000, 24};
    LoopbackSocket inside("127.0.0.2", agent_.Port());
    LoopbackSocket outside("127.0.1.2", agent_.Port());
    LoopbackSocket otherPort("127.0.0.3");
    const auto machines = Run(plan, [&](long long, const Bytes& request, const sockaddr_in& from) {
        if (NameOf(request) != kStatusName)
            return;
        for (LoopbackSocket* source : {&inside, &inside, &outside, &otherPort})
            source->SendTo(from, AnswerTo(request, 0, test::OctetString("MDL:x;")));
    });
    ASSERT_EQ(machines.size(), 1u);
    EXPECT_EQ(AddressText(machines[0].address), "127.0.0.2");
    EXPECT_EQ(requests_.size(), 3u) << "the agent hears the broadcasts only";
}

// A broadcast is awaited for the time-out from its first send (its last send at least half a
// second), and what its answers started has half a second more: a source that answers the
// last broadcast and ignores its questions cannot hold the run longer.
TEST_F(ProbeSchedule, BroadcastRunEndsAtAFixedTimeHoweverLateItsAnswers) {
    LoopbackSocket inside("127.0.0.2", agent_.Port());
    for (const int timeoutMs : {1500, 200}) {
        requests_.clear();
        DiscoveryPlan plan = Plan(true);
        plan.timeoutMs = timeoutMs;
        const auto machines =
            Run(plan, [&](long long sentAt, const Bytes& request, const sockaddr_in& from) {
                if (NameOf(request) == kStatusName && sentAt == 1000)
                    inside.SendTo(from, AnswerTo(request, 0, test::OctetString("MDL:x;")));
            });
        ASSERT_EQ(machines.size(), 1u) << timeoutMs;
        EXPECT_EQ(requests_.size(), 3u) << timeoutMs;
        EXPECT_EQ(clock_.Total(), std::max(timeoutMs, 1500) + Discovery::kBroadcastFollowUpMs);
    }
}

}  // namespace
}  // namespace kelo::discover
