// Finding Kelo's machines on the network. Every address is probed once: asked for the status
// object over SNMP and tried on the packet ports of machine types 3 and 4 over TCP. Addresses
// start at a steady pace, many at once in one poll loop; each is sorted by its answers as they
// arrive, and every machine found is asked for its name and description. The caller pumps
// Step (RunDiscovery does it on a progress dialog) and so decides when to stop.
//
// The schedule (what is to be sent, and what is out waiting for an answer) is kept apart from
// what was learnt: the schedule holds state only for questions and connects in flight, and the
// record of what was learnt only for addresses that answered, so a /16 costs little memory.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <queue>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "discover/address_block.h"
#include "discover/broadcast_addresses.h"
#include "link/wire_format.h"
#include "snmp/snmp_codec.h"

namespace kelo::discover {

// How long a request is awaited after it last went out, unless told otherwise: --timeout.
constexpr int kDefaultTimeoutMs = 1500;

// The ports a probe goes to; tests move them to free ones.
struct ProbePorts {
    int snmp = snmp::kSnmpPort;
    int type3 = wire::kType3Port;
    int type4 = wire::kType4Port;
};

// The pace of new addresses: --rate.
constexpr int kDefaultRate = 1000;
constexpr int kMinRate = 1;
constexpr int kMaxRate = 100000;
// A broadcast lists at most this many machines; more answers are not taken.
constexpr size_t kMaxBroadcastMachines = 4096;

struct DiscoveryPlan {
    // Subnet mode: each of these addresses is probed; an answer from any other is ignored.
    std::vector<Address> hosts;
    // Broadcast mode: the status request goes to each network's broadcast address, and every
    // address inside that network that answers it is probed. Such a run ends at a fixed time
    // (Discovery::kBroadcastFollowUpMs after the broadcasts' time-out), however many answer.
    std::vector<BroadcastNetwork> broadcasts;
    std::string community = snmp::kDefaultCommunity;
    // How long a request is awaited after it last went out (a broadcast: after it first went
    // out).
    int timeoutMs = kDefaultTimeoutMs;
    // New addresses probed a second.
    int rate = kDefaultRate;
    ProbePorts ports;
};

// What an address showed of itself.
struct FoundMachine {
    Address address = 0;
    std::vector<int> types;  // 3 and/or 4 for open packet ports, else 1 and 2
    // The values as the agent sent them (untrusted bytes); nullopt when not answered.
    std::optional<std::string> name;
    std::optional<std::string> description;
    std::optional<std::string> status;
    // The round trip of the address's first answer, from the first send of its request.
    long long ms = 0;
};

// How far a run has come, for a progress line.
struct DiscoveryProgress {
    int addresses = 0;  // to be probed: the hosts, or the broadcasts and those that answered
    int probed = 0;     // of them, started
    int found = 0;      // machines found
};

class Discovery {
  public:
    // An SNMP request goes out this many times, this far apart, with the same request-id.
    static constexpr int kSnmpSends = 3;
    static constexpr int kResendMs = 500;
    // A connect that has not been answered by then finds the port closed.
    static constexpr int kConnectGiveUpMs = 500;
    // A broadcast is awaited for the time-out from its first send (its resends only repeat it
    // for machines that missed it), its last send at least kResendMs; what its answers started
    // (ports, names) has this long after that, and then the run ends, so that no number of
    // answers can stretch it.
    static constexpr int kBroadcastFollowUpMs = 500;
    // The requests are spread over this many datagram sockets, for the room of their send
    // buffers: on a LAN every datagram to an address waits in it while ARP looks for the
    // address, up to three seconds.
    static constexpr int kSockets = 8;

    explicit Discovery(DiscoveryPlan plan);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // Opens the datagram sockets and queues the first probes; false with the reason when it
    // cannot.
    bool Start(std::string& error);
    // One round: sends what is due, waits at most maxWaitMs for answers and takes them in.
    // False once nothing is left to send or to wait for.
    bool Step(int maxWaitMs);

    // Takes in one datagram as if it came from the source address and port; the socket's
    // reader calls it, and the fuzz target feeds it directly.
    void TakeAnswer(Address source, int port, const uint8_t* data, int length);

    // The machines found so far, by address.
    std::vector<FoundMachine> Machines() const;
    DiscoveryProgress Progress() const;
    // True once a broadcast found kMaxBroadcastMachines and stopped listening.
    bool MachineLimitReached() const { return machineLimitReached_; }
    // Datagrams the kernel refused for a full send buffer; waiting for room keeps it at zero.
    long long SendsRefused() const { return sendsRefused_; }
    // When the last address was started, for a measure of the pace.
    long long LastHostStartMs() const { return lastHostStartMs_; }

    // Runs when an address turns out to be a machine, and whenever more is known of it.
    std::function<void(const FoundMachine&)> onMachine;

  private:
    enum Question { kStatus, kName, kDescription, kQuestions };

    // One SNMP question in flight, keyed by its own request-id.
    struct Ask {
        Address address = 0;  // the host asked, or the broadcast address
        Question question = kStatus;
        const BroadcastNetwork* broadcast = nullptr;  // set for a broadcast's status request
        long long firstSendMs = 0;
        long long lastSendMs = 0;
        int sends = 0;
    };
    // One TCP connect in flight to a packet port.
    struct Connect {
        Address address = 0;
        int type = 3;
        int fd = -1;
        long long startMs = 0;
    };
    // What an address showed; kept only for addresses that answered something.
    struct Learned {
        bool statusAnswered = false;  // the status object, error-status 0
        bool type3Open = false;
        bool type4Open = false;
        bool namesAsked = false;
        std::optional<std::string> status, name, description;
        std::optional<long long> firstAnswerMs;
        bool IsMachine() const { return statusAnswered || type3Open || type4Open; }
    };
    enum class SendResult { Sent, Later, Absent };
    // When a question is next due: to be sent again, or to end. Kept in queues ordered by
    // time, so a round costs nothing for the questions not yet due; an entry whose question
    // has ended or moved on is dropped when it comes up.
    struct Due {
        long long ms = 0;
        uint32_t requestId = 0;
        bool operator>(const Due& other) const { return ms > other.ms; }
    };
    using DueQueue = std::priority_queue<Due, std::vector<Due>, std::greater<Due>>;

    long long Elapsed() const;
    bool NothingToStart() const;
    bool Finished() const;
    long long NextSendMs(const Ask& ask) const;
    long long EndMs(const Ask& ask) const;
    void Schedule(uint32_t requestId, const Ask& ask);
    Ask* WaitingToSend(const Due& due);
    Ask* WaitingToEnd(const Due& due);
    void DropStale();
    bool PaceAllows(long long now) const;
    long long NextStartMs() const;
    bool Writable();
    bool HasRoom(int sendsSoFar);
    // Only the sockets without room are waited on for it: the others would end every wait.
    bool WithoutRoom(int socket) const { return waitForWritable_ && (withoutRoom_ >> socket & 1); }
    int SocketOf(uint32_t requestId) const { return udp_[requestId % kSockets]; }
    bool OpenSockets(std::string& error);
    void StartDue(long long now);
    bool StartNext(long long now);
    bool StartPorts(Address address, long long now);
    void StartAsk(Address address, Question question, const BroadcastNetwork* broadcast,
                  long long now);
    SendResult Send(uint32_t requestId, Ask& ask, long long now);
    void OpenConnect(Address address, int type, long long now);
    void ResendDue(long long now);
    void EndExpired(long long now);
    void EndAddress(Address address);
    void EndAbsentAddresses();
    long long NextDeadline(long long now);
    void Wait(int milliseconds);
    void ReadSockets(long long now);
    void ReadSocket(int fd, long long now);
    void ReadErrors(int fd);
    void TakeConnect(const Connect& connect, long long now);
    void TakeConnects(long long now);
    const Connect* OldestConnect();
    void TakePort(const Connect& connect, bool open, long long now);
    bool TakeBroadcastAnswer(const BroadcastNetwork& network, Address source);
    void Learn(Address address, Question question, const snmp::SnmpVarBind& fields,
               long long answerMs);
    void ReportIfMachine(Address address, Learned& learned);
    FoundMachine MachineOf(Address address, const Learned& learned) const;

    DiscoveryPlan plan_;
    int udp_[kSockets] = {-1, -1, -1, -1, -1, -1, -1, -1};
    long long startedAt_ = 0;
    long long now_ = 0;  // the time of the round being worked
    uint32_t nextRequestId_ = 0;
    std::vector<uint8_t> names_[kQuestions];  // each question's object identifier, encoded

    // The schedule.
    size_t nextHost_ = 0;                     // plan_.hosts before it are started
    size_t nextBroadcast_ = 0;                // plan_.broadcasts before it are started
    std::deque<Address> answeredBroadcast_;   // sources whose ports are still to be tried
    std::deque<Address> namesToAsk_;          // machines whose name and description are to be asked
    std::unordered_map<uint32_t, Ask> asks_;  // by request-id
    DueQueue sendsDue_;                       // questions to be sent again
    DueQueue endsDue_;                        // questions sent for the last time
    long long runEndMs_ = std::numeric_limits<long long>::max();  // a broadcast run's end
    std::unordered_set<Address> absent_;  // found absent this round, to be ended with it
    // The connects waiting, by serial number; their descriptors are watched by one epoll
    // descriptor, so that a round costs nothing per connect waiting.
    std::unordered_map<uint64_t, Connect> connects_;
    std::deque<uint64_t> connectOrder_;  // serials in the order they started, ended ones too
    uint64_t nextConnect_ = 0;
    int epoll_ = -1;
    long long started_ = 0;  // starts counted against the pace
    size_t connectCapacity_ = 0;
    bool waitForWritable_ = false;
    unsigned withoutRoom_ = 0;      // a bit for each socket found without room
    long long backOffUntilMs_ = 0;  // the kernel had no buffers (or neighbour entries) to spare
    long long lastHostStartMs_ = 0;

    // What was learnt.
    std::map<Address, Learned> learned_;
    std::set<Address> broadcastSources_;  // each source answers a broadcast once
    bool machineLimitReached_ = false;
    int machines_ = 0;
    long long sendsRefused_ = 0;
};

}  // namespace kelo::discover
