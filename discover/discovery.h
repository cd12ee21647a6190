// Finding Kelo's machines on the network. Every address is probed once: asked for the status
// object over SNMP and tried on the packet ports of machine types 3 and 4 over TCP, many
// addresses at once in one poll loop; each address is sorted by its answers as they arrive,
// and every machine found is asked for its name and description. The caller pumps Step
// (RunDiscovery does it on a progress dialog) and so decides when to stop.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "discover/address_block.h"

namespace kelo::discover {

// The ports a probe goes to; tests move them to free ones.
struct ProbePorts {
    int snmp = 161;
    int type3 = 9101;
    int type4 = 9500;
};

struct DiscoveryPlan {
    // Subnet mode: each of these addresses is probed; an answer from any other is ignored.
    std::vector<Address> hosts;
    // Broadcast mode: the status request goes to each of these, and every address that
    // answers it is probed.
    std::vector<Address> broadcasts;
    std::string community = "public";
    // How long a request is awaited after it last went out.
    int timeoutMs = 1500;
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

class Discovery {
  public:
    // Addresses probed at once: an address holds its place while its status request still has
    // sends to come or a connect of it waits for an answer.
    static constexpr int kMaxOutstanding = 256;
    // An SNMP request goes out this many times, this far apart, with the same request-id.
    static constexpr int kSnmpSends = 3;
    static constexpr int kResendMs = 500;
    // A connect that has not been answered by then finds the port closed.
    static constexpr int kConnectGiveUpMs = 500;

    explicit Discovery(DiscoveryPlan plan);
    ~Discovery();
    Discovery(const Discovery&) = delete;
    Discovery& operator=(const Discovery&) = delete;

    // Builds the requests, opens the datagram socket and queues the first probes; false with
    // the reason when it cannot.
    bool Start(std::string& error);
    // One round: sends what is due, waits at most maxWaitMs for answers and takes them in.
    // False once no probe is left waiting.
    bool Step(int maxWaitMs);

    // The machines found so far, by address.
    std::vector<FoundMachine> Machines() const;
    // For a progress bar: the probes made so far and those that have ended.
    int ProbeCount() const { return static_cast<int>(probes_.size()); }
    int EndedCount() const { return endedCount_; }

    // Runs when an address turns out to be a machine, and whenever more is known of it.
    std::function<void(const FoundMachine&)> onMachine;

  private:
    // The three SNMP questions; the request-id of each is the run's base plus its number.
    enum Question { kStatus, kName, kDescription, kQuestions };
    enum class Kind { Snmp, Type3Port, Type4Port };
    // Queued until it can start; Active while it has requests left to send or its connect
    // waits; Listening after its last request until its time-out.
    enum class State { Queued, Active, Listening, Ended };

    struct Probe {
        size_t index = 0;  // in probes_
        Kind kind = Kind::Snmp;
        Question question = kStatus;
        Address address = 0;
        bool broadcast = false;
        State state = State::Queued;
        bool holdsPlace = false;  // Active as part of its address's place
        int fd = -1;              // a port probe's connecting socket
        long long startMs = 0;
        long long lastSendMs = 0;
        int sends = 0;
    };

    // What is known of one address.
    struct Target {
        bool statusAnswered = false;  // the status object, error-status 0
        bool type3Open = false;
        bool type4Open = false;
        bool portsQueued = false;
        bool namesQueued = false;
        std::vector<size_t> firstProbes;  // made when the address is queued, started together
        int activeFirstProbes = 0;        // while above 0 the address holds a place
        std::optional<std::string> status, name, description;
        std::optional<long long> firstAnswerMs;
        bool IsMachine() const { return statusAnswered || type3Open || type4Open; }
    };

    long long Elapsed() const;
    size_t MakeProbe(Kind kind, Address address, Question question = kStatus,
                     bool broadcast = false);
    void QueueAddress(Address address, std::vector<Kind> kinds);
    void StartQueued(long long now);
    void StartAddress(Address address, long long now);
    bool StartProbe(Probe& probe, long long now);
    enum class SendResult { Sent, Later, Failed };
    SendResult SendRequest(Probe& probe, long long now);
    bool Connect(Probe& probe, long long now);
    void SendDue(long long now);
    void EndExpired(long long now);
    long long NextDeadline(long long now) const;
    void Wait(int milliseconds);
    void ReadSocket(long long now);
    void ReadErrors();
    void TakeAnswer(Address source, int port, const uint8_t* data, int length, long long now);
    void TakePort(Probe& probe, bool open, long long now);
    void Activate(Probe& probe);
    void LeaveActive(Probe& probe);
    void End(Probe& probe);
    Probe* AwaitingProbe(Address address, Question question);
    Probe* AwaitingBroadcast();
    void NoteAnswer(Target& target, const Probe& probe, long long now);
    void Changed(Address address);
    FoundMachine MachineOf(Address address, const Target& target) const;

    DiscoveryPlan plan_;
    int udp_ = -1;
    long long startedAt_ = 0;
    uint32_t requestIdBase_ = 0;
    std::vector<uint8_t> requests_[kQuestions];
    std::vector<uint8_t> names_[kQuestions];  // each question's object identifier, encoded

    std::deque<Probe> probes_;          // a deque: probes added later leave references valid
    std::deque<Address> addressQueue_;  // addresses waiting for a place
    std::deque<size_t> queue_;          // probes to start as soon as the socket takes them
    std::vector<size_t> live_;          // Active and Listening probes
    std::map<std::pair<Address, int>, size_t> snmpProbes_;  // unicast, by address and question
    std::vector<size_t> broadcastProbes_;
    int outstanding_ = 0;  // addresses holding a place
    int endedCount_ = 0;
    std::map<Address, Target> targets_;
};

}  // namespace kelo::discover
