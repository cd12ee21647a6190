// libFuzzer target for discovery's answer intake: a discovery probes a few loopback addresses,
// whose requests a sink socket catches (with the address each went to), and the input then
// feeds it datagrams from random sources and ports with random or echoed request-ids, names,
// error statuses and values, between rounds of its schedule. It stops when a machine is listed
// that was not sent a matching answer: from the SNMP port of an address probed, carrying a
// request-id that went to that very address.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "discover/discovery.h"
#include "fuzz/require.h"
#include "platform/clock.h"
#include "snmp/snmp_codec.h"

namespace {

using kelo::discover::Address;

constexpr Address kFirstHost = 0x7F000001;  // 127.0.0.1
constexpr int kMostHosts = 4;
constexpr int kMostRecords = 64;
constexpr int kRecordsBetweenRounds = 8;

// Object identifier contents: the status, sysName and sysDescr.
const std::vector<uint8_t> kNames[] = {
    {0x2B, 0x06, 0x01, 0x04, 0x01, 0x89, 0x4D, 0x02, 0x02, 0x02, 0x01, 0x18, 0x01},
    {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x05, 0x00},
    {0x2B, 0x06, 0x01, 0x02, 0x01, 0x01, 0x01, 0x00},
};

// A UDP socket on every loopback address that keeps each request with where it went.
class Sink {
  public:
    Sink() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)) {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        socklen_t size = sizeof any;
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&any), size);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&any), &size);
        port_ = ntohs(any.sin_port);
    }
    int Port() const { return port_; }

    // Each request's destination and request-id.
    void Take(std::multimap<Address, uint32_t>& asked) {
        uint8_t datagram[kelo::snmp::kMessageSize];
        uint8_t control[128];
        while (true) {
            iovec part{datagram, sizeof datagram};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = ::recvmsg(fd_, &message, MSG_DONTWAIT);
            if (got < 0)
                return;
            kelo::snmp::SnmpVarBind fields;
            const cmsghdr* header = CMSG_FIRSTHDR(&message);
            if (header == nullptr || header->cmsg_type != IP_PKTINFO ||
                !kelo::snmp::ParseMessage(datagram, static_cast<int>(got), fields)) {
                continue;
            }
            const auto* info = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(header));
            asked.emplace(ntohl(info->ipi_addr.s_addr), static_cast<uint32_t>(fields.request_id));
        }
    }

  private:
    int fd_;
    int port_ = 0;
};

// Reads the input front to back; zeros once it runs out.
class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t Word() {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i)
            word = word << 8 | Byte();
        return word;
    }
    std::vector<uint8_t> Bytes(size_t count) {
        std::vector<uint8_t> bytes;
        while (count-- > 0 && !Empty())
            bytes.push_back(Byte());
        return bytes;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::vector<uint8_t> Tlv(uint8_t tag, const std::vector<uint8_t>& content) {
    std::vector<uint8_t> out{tag, static_cast<uint8_t>(content.size())};
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<uint8_t> IdElement(uint32_t id) {
    return {kelo::snmp::kTagInteger,        4,
            static_cast<uint8_t>(id >> 24), static_cast<uint8_t>(id >> 16),
            static_cast<uint8_t>(id >> 8),  static_cast<uint8_t>(id)};
}

// A GetResponse around the id element, with the name, error status and value the input picks.
std::vector<uint8_t> Answer(const std::vector<uint8_t>& idElement, Input& in) {
    const uint8_t choice = in.Byte();
    const std::vector<uint8_t> name =
        choice % 4 < 3 ? kNames[choice % 4] : in.Bytes(in.Byte() % 16);
    const uint8_t errorStatus = (choice & 0x10) != 0 ? in.Byte() % 6 : 0;
    const uint8_t valueTag = (choice & 0x20) != 0 ? in.Byte() : kelo::snmp::kTagOctetString;
    const uint8_t pduType = (choice & 0x40) != 0 ? in.Byte() : kelo::snmp::kPduGetResponse;
    const std::vector<uint8_t> value = Tlv(valueTag, in.Bytes(in.Byte() % 32));
    const std::vector<uint8_t> varBind = Tlv(0x30, Cat({Tlv(0x06, name), value}));
    const std::vector<uint8_t> pdu =
        Tlv(pduType,
            Cat({idElement, {0x02, 0x01, errorStatus}, {0x02, 0x01, 0x00}, Tlv(0x30, varBind)}));
    return Tlv(0x30, Cat({{0x02, 0x01, 0x00}, Tlv(0x04, {'p', 'u', 'b', 'l', 'i', 'c'}), pdu}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Sink sink;
    std::multimap<Address, uint32_t> asked;  // every request-id that went to each address
    sink.Take(asked);                        // a late request of an earlier input is no ask
    asked.clear();
    kelo::platform::FakeClock clock;
    Input in(data, size);

    kelo::discover::DiscoveryPlan plan;
    const int hosts = 1 + in.Byte() % kMostHosts;
    for (int i = 0; i < hosts; ++i)
        plan.hosts.push_back(kFirstHost + static_cast<Address>(i));
    // Nothing listens on TCP ports 1 and 2; an ephemeral port (the sink's) could meet the
    // connect's own source port and connect to itself.
    plan.ports = {sink.Port(), 1, 2};
    plan.rate = kelo::discover::kMaxRate;
    plan.timeoutMs = 100;
    kelo::discover::Discovery discovery(plan);
    std::string error;
    FUZZ_REQUIRE(discovery.Start(error));

    std::set<Address> answered;  // addresses sent an answer with one of them
    for (int record = 0; record < kMostRecords && !in.Empty(); ++record) {
        if (record % kRecordsBetweenRounds == 0) {
            discovery.Step(5);
            sink.Take(asked);
        }
        const uint8_t kind = in.Byte();
        const Address source = kFirstHost - 1 + in.Byte() % (2 * kMostHosts);
        const int port = (kind & 0x80) != 0 ? sink.Port() : in.Byte();
        std::vector<uint8_t> datagram;
        if ((kind & 0x03) == 0) {
            datagram = in.Bytes(in.Byte());
        } else {
            // An id that went out (to any address), moved by a small amount, or the input's own.
            uint32_t id = in.Word();
            if ((kind & 0x03) != 3 && !asked.empty()) {
                auto pick = asked.begin();
                std::advance(pick, static_cast<long>(id % asked.size()));
                id = pick->second + ((kind & 0x03) == 2 ? in.Byte() % 4 : 0);
            }
            datagram = Answer(IdElement(id), in);
            const auto [first, last] = asked.equal_range(source);
            for (auto it = first; it != last; ++it) {
                if (it->second == id && port == sink.Port())
                    answered.insert(source);
            }
        }
        discovery.TakeAnswer(source, port, datagram.data(), static_cast<int>(datagram.size()));
        for (const kelo::discover::FoundMachine& machine : discovery.Machines())
            FUZZ_REQUIRE(answered.count(machine.address) != 0);
    }
    return 0;
}
