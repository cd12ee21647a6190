#include "discover/discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/clock.h"
#include "snmp/snmp_codec.h"
#include "snmp/status_query.h"

namespace kelo::discover {
namespace {

constexpr const char* kSysDescrOid = ".1.3.6.1.2.1.1.1.0";
constexpr const char* kSysNameOid = ".1.3.6.1.2.1.1.5.0";

// The datagrams and errors taken from the socket in one round, so that a flood of them
// cannot hold the loop.
constexpr int kReadsPerRound = 512;
// Answers and ICMP errors queue against the socket's receive buffer, which holds about 250 of
// them; a burst of requests stops for a read this often so that none is dropped.
constexpr int kStartsBetweenReads = 64;

sockaddr_in SocketAddress(Address address, int port) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<uint16_t>(port));
    socketAddress.sin_addr.s_addr = htonl(address);
    return socketAddress;
}

// A request-id base picked afresh for each run, so that a late answer to an earlier run is
// not taken for one to this run; it leaves room for the questions above it.
uint32_t NewRequestIdBase() {
    std::random_device source;
    return std::uniform_int_distribution<uint32_t>(1, 0x7FFFFF00)(source);
}

std::string ValueOf(const snmp::SnmpVarBind& fields) {
    return std::string(reinterpret_cast<const char*>(fields.oidvalue_data),
                       static_cast<size_t>(fields.oidvalue_length));
}

bool Failed(std::string& error, const std::string& reason) {
    error = reason;
    return false;
}

}  // namespace

Discovery::Discovery(DiscoveryPlan plan) : plan_(std::move(plan)) {}

Discovery::~Discovery() {
    for (Probe& probe : probes_) {
        if (probe.fd >= 0)
            ::close(probe.fd);
    }
    if (udp_ >= 0)
        ::close(udp_);
}

long long Discovery::Elapsed() const {
    return platform::NowMilliseconds() - startedAt_;
}

bool Discovery::Start(std::string& error) {
    startedAt_ = platform::NowMilliseconds();
    requestIdBase_ = NewRequestIdBase();
    const char* const oids[kQuestions] = {kStatusOid, kSysNameOid, kSysDescrOid};
    for (int question = 0; question < kQuestions; ++question) {
        const snmp::RequestHeader header{snmp::kPduGetRequest,
                                         requestIdBase_ + static_cast<uint32_t>(question),
                                         plan_.community};
        requests_[question] = snmp::BuildGetRequest(oids[question], header);
        if (requests_[question].empty())
            return Failed(error, "the community is too long for a request");
        uint8_t name[snmp::kMaxOidContent];
        const int nameLength = snmp::EncodeOid(oids[question], name, sizeof name);
        names_[question].assign(name, name + nameLength);
    }

    udp_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (udp_ < 0)
        return Failed(error, std::string("cannot open a socket: ") + std::strerror(errno));
    // ICMP errors (nobody listens on the SNMP port) come back on the error queue, each naming
    // the address it concerns, so such an address is done with at once.
    const int on = 1;
    ::setsockopt(udp_, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    if (!plan_.broadcasts.empty() &&
        ::setsockopt(udp_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        return Failed(error, std::string("cannot broadcast: ") + std::strerror(errno));
    }

    for (Address host : plan_.hosts)
        QueueAddress(host, {Kind::Snmp, Kind::Type3Port, Kind::Type4Port});
    for (Address broadcast : plan_.broadcasts)
        queue_.push_back(MakeProbe(Kind::Snmp, broadcast, kStatus, true));
    return true;
}

size_t Discovery::MakeProbe(Kind kind, Address address, Question question, bool broadcast) {
    Probe probe;
    probe.index = probes_.size();
    probe.kind = kind;
    probe.question = question;
    probe.address = address;
    probe.broadcast = broadcast;
    probes_.push_back(probe);
    if (kind == Kind::Snmp && !broadcast)
        snmpProbes_[{address, question}] = probe.index;
    if (broadcast)
        broadcastProbes_.push_back(probe.index);
    return probe.index;
}

// The address waits for a place, with the probes it is to get then.
void Discovery::QueueAddress(Address address, std::vector<Kind> kinds) {
    Target& target = targets_[address];
    for (Kind kind : kinds)
        target.firstProbes.push_back(MakeProbe(kind, address));
    addressQueue_.push_back(address);
}

bool Discovery::Step(int maxWaitMs) {
    const long long now = Elapsed();
    SendDue(now);
    StartQueued(now);
    EndExpired(now);
    if (endedCount_ == ProbeCount())
        return false;
    const long long wait = std::clamp<long long>(NextDeadline(now) - now, 0, maxWaitMs);
    Wait(static_cast<int>(wait));
    return true;
}

// Starts the probes that wait only for the socket, then the addresses that wait for a place
// while fewer than kMaxOutstanding hold one.
void Discovery::StartQueued(long long now) {
    while (!queue_.empty()) {
        if (!StartProbe(probes_[queue_.front()], now))
            return;  // the socket takes no more now; the next round tries again
        queue_.pop_front();
    }
    int started = 0;
    while (!addressQueue_.empty() && outstanding_ < kMaxOutstanding) {
        StartAddress(addressQueue_.front(), now);
        addressQueue_.pop_front();
        if (++started % kStartsBetweenReads == 0)
            ReadSocket(now);
    }
}

// Starts every first probe of the address; the address holds a place while any of them is
// active. A probe the socket cannot take yet waits in the queue, outside the place.
void Discovery::StartAddress(Address address, long long now) {
    Target& target = targets_[address];
    for (size_t index : target.firstProbes) {
        Probe& probe = probes_[index];
        if (!StartProbe(probe, now)) {
            queue_.push_back(index);
        } else if (probe.state == State::Active) {
            probe.holdsPlace = true;
            ++target.activeFirstProbes;
        }
    }
    target.firstProbes.clear();
    if (target.activeFirstProbes > 0)
        ++outstanding_;
}

// False when the probe could not go out yet and stays queued.
bool Discovery::StartProbe(Probe& probe, long long now) {
    probe.startMs = now;
    if (probe.kind != Kind::Snmp)
        return Connect(probe, now);
    switch (SendRequest(probe, now)) {
        case SendResult::Later:
            return false;
        case SendResult::Failed:
            End(probe);
            return true;
        case SendResult::Sent:
            Activate(probe);
            return true;
    }
    return true;
}

Discovery::SendResult Discovery::SendRequest(Probe& probe, long long now) {
    const std::vector<uint8_t>& request = requests_[probe.question];
    const sockaddr_in to = SocketAddress(probe.address, plan_.ports.snmp);
    // A refusal here is an earlier ICMP error handed to this call instead; the request itself
    // did not go, so it is sent once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::sendto(udp_, request.data(), request.size(), MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0) {
            ++probe.sends;
            probe.lastSendMs = now;
            return SendResult::Sent;
        }
        if (errno != ECONNREFUSED)
            break;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS || errno == EINTR ||
        errno == ECONNREFUSED) {
        return SendResult::Later;
    }
    return SendResult::Failed;  // no route, not allowed: this address cannot be asked
}

// False when no socket is to be had now (the descriptors are used up); the probe waits.
bool Discovery::Connect(Probe& probe, long long now) {
    const int port = probe.kind == Kind::Type3Port ? plan_.ports.type3 : plan_.ports.type4;
    probe.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe.fd < 0) {
        if (errno == EMFILE || errno == ENFILE)
            return false;
        End(probe);
        return true;
    }
    const sockaddr_in to = SocketAddress(probe.address, port);
    if (::connect(probe.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        TakePort(probe, true, now);
    } else if (errno == EINPROGRESS) {
        Activate(probe);
    } else {
        TakePort(probe, false, now);
    }
    return true;
}

void Discovery::Activate(Probe& probe) {
    probe.state = State::Active;
    live_.push_back(probe.index);
}

// A first probe that stops being active may free its address's place.
void Discovery::LeaveActive(Probe& probe) {
    if (!probe.holdsPlace)
        return;
    probe.holdsPlace = false;
    if (--targets_[probe.address].activeFirstProbes == 0)
        --outstanding_;
}

void Discovery::End(Probe& probe) {
    if (probe.state == State::Ended)
        return;
    LeaveActive(probe);
    if (probe.fd >= 0) {
        ::close(probe.fd);
        probe.fd = -1;
    }
    probe.state = State::Ended;
    ++endedCount_;
}

// Sends the requests whose time has come again; after its last one a probe listens until its
// time-out.
void Discovery::SendDue(long long now) {
    for (size_t index : live_) {
        Probe& probe = probes_[index];
        if (probe.kind != Kind::Snmp || probe.state != State::Active)
            continue;
        if (now < probe.startMs + static_cast<long long>(probe.sends) * kResendMs)
            continue;
        if (SendRequest(probe, now) == SendResult::Failed) {
            End(probe);
        } else if (probe.sends == kSnmpSends) {
            LeaveActive(probe);
            probe.state = State::Listening;
        }
    }
}

// Connects unanswered after kConnectGiveUpMs find the port closed; requests unanswered for the
// time-out after their last send end without an answer. Ended probes leave the live list.
void Discovery::EndExpired(long long now) {
    for (size_t index : live_) {
        Probe& probe = probes_[index];
        if (probe.state == State::Active && probe.kind != Kind::Snmp &&
            now >= probe.startMs + kConnectGiveUpMs) {
            End(probe);
        } else if (probe.state == State::Listening && now >= probe.lastSendMs + plan_.timeoutMs) {
            End(probe);
        }
    }
    std::erase_if(live_, [this](size_t index) { return probes_[index].state == State::Ended; });
}

// The next moment something is due: a resend, a connect's give-up, a time-out.
long long Discovery::NextDeadline(long long now) const {
    long long next = now + plan_.timeoutMs + kSnmpSends * kResendMs;
    for (size_t index : live_) {
        const Probe& probe = probes_[index];
        if (probe.state == State::Listening) {
            next = std::min(next, probe.lastSendMs + plan_.timeoutMs);
        } else if (probe.kind == Kind::Snmp) {
            next = std::min(next, probe.startMs + static_cast<long long>(probe.sends) * kResendMs);
        } else {
            next = std::min(next, probe.startMs + kConnectGiveUpMs);
        }
    }
    // A probe held back by a full socket buffer (or no free descriptor) is tried again soon.
    if (!queue_.empty())
        next = std::min(next, now + 1);
    return next;
}

// Waits for answers on the datagram socket and for the pending connects, then takes them in.
void Discovery::Wait(int milliseconds) {
    std::vector<pollfd> fds{{udp_, POLLIN, 0}};
    std::vector<size_t> connecting;
    for (size_t index : live_) {
        const Probe& probe = probes_[index];
        if (probe.fd >= 0) {
            fds.push_back({probe.fd, POLLOUT, 0});
            connecting.push_back(index);
        }
    }
    if (platform::Poll(fds.data(), fds.size(), milliseconds) <= 0)
        return;  // nothing yet, or a signal: the caller's pump sees a Ctrl-C
    const long long now = Elapsed();
    if (fds[0].revents != 0)
        ReadSocket(now);
    for (size_t i = 1; i < fds.size(); ++i) {
        Probe& probe = probes_[connecting[i - 1]];
        if (fds[i].revents == 0 || probe.fd < 0)
            continue;
        int failure = 0;
        socklen_t size = sizeof failure;
        if (::getsockopt(probe.fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
            failure = errno;
        TakePort(probe, failure == 0, now);
    }
}

void Discovery::ReadSocket(long long now) {
    uint8_t datagram[snmp::kMessageSize];
    for (int reads = 0; reads < kReadsPerRound; ++reads) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = ::recvfrom(udp_, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 0) {
            if (errno == ECONNREFUSED || errno == EHOSTUNREACH || errno == ENETUNREACH)
                continue;  // an ICMP error was pending; its detail is on the error queue
            break;
        }
        // A datagram larger than any answer is cut short; its lengths then fail the parse.
        const int length = static_cast<int>(std::min<ssize_t>(got, sizeof datagram));
        TakeAnswer(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), datagram, length, now);
    }
    ReadErrors();
}

// An ICMP error names the address a request went to: nobody answers SNMP there, so its
// requests end now instead of waiting for their time-out.
void Discovery::ReadErrors() {
    for (int reads = 0; reads < kReadsPerRound; ++reads) {
        uint8_t payload[64];
        uint8_t control[512];
        sockaddr_in to{};
        iovec part{payload, sizeof payload};
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(udp_, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        if (ntohs(to.sin_port) != plan_.ports.snmp)
            continue;
        const Address address = ntohl(to.sin_addr.s_addr);
        for (int question = 0; question < kQuestions; ++question) {
            if (Probe* probe = AwaitingProbe(address, static_cast<Question>(question)))
                End(*probe);
        }
    }
}

Discovery::Probe* Discovery::AwaitingProbe(Address address, Question question) {
    const auto found = snmpProbes_.find({address, question});
    if (found == snmpProbes_.end())
        return nullptr;
    Probe& probe = probes_[found->second];
    const bool awaiting = probe.state == State::Active || probe.state == State::Listening;
    return awaiting ? &probe : nullptr;
}

Discovery::Probe* Discovery::AwaitingBroadcast() {
    for (size_t index : broadcastProbes_) {
        Probe& probe = probes_[index];
        if (probe.state == State::Active || probe.state == State::Listening)
            return &probe;
    }
    return nullptr;
}

// An answer counts when it comes from the SNMP port of an address that was asked that
// question (or, for the status, of any address while a broadcast awaits answers) and carries
// one of this run's request-ids. The first answer to a request ends it; the values count
// only without an error, for the object asked, as an OCTET STRING.
void Discovery::TakeAnswer(Address source, int port, const uint8_t* data, int length,
                           long long now) {
    snmp::SnmpVarBind fields;
    if (port != plan_.ports.snmp || !snmp::ParseMessage(data, length, fields))
        return;
    const long long offset = static_cast<long long>(static_cast<uint32_t>(fields.request_id)) -
                             static_cast<long long>(requestIdBase_);
    if (offset < 0 || offset >= kQuestions)
        return;
    const auto question = static_cast<Question>(offset);
    Probe* probe = AwaitingProbe(source, question);
    if (probe == nullptr && question == kStatus)
        probe = AwaitingBroadcast();
    if (probe == nullptr)
        return;  // not asked, or already answered
    if (!probe->broadcast)
        End(*probe);

    Target& target = targets_[source];
    NoteAnswer(target, *probe, now);
    const std::vector<uint8_t>& name = names_[question];
    const bool valueAnswered = fields.error_status == 0 &&
                               fields.oidvalue_type == snmp::kTagOctetString &&
                               fields.oidname_length == static_cast<int>(name.size()) &&
                               std::equal(name.begin(), name.end(), fields.oidname_data);
    if (probe->broadcast && !target.portsQueued) {
        target.portsQueued = true;
        QueueAddress(source, {Kind::Type3Port, Kind::Type4Port});
    }
    if (valueAnswered) {
        std::optional<std::string>& value = question == kStatus ? target.status
                                            : question == kName ? target.name
                                                                : target.description;
        value = ValueOf(fields);
        if (question == kStatus)
            target.statusAnswered = true;
    }
    Changed(source);
}

void Discovery::TakePort(Probe& probe, bool open, long long now) {
    End(probe);
    if (!open)
        return;
    Target& target = targets_[probe.address];
    (probe.kind == Kind::Type3Port ? target.type3Open : target.type4Open) = true;
    NoteAnswer(target, probe, now);
    Changed(probe.address);
}

void Discovery::NoteAnswer(Target& target, const Probe& probe, long long now) {
    if (!target.firstAnswerMs)
        target.firstAnswerMs = now - probe.startMs;
}

// A machine found is asked for its name and description in requests of their own, so that
// an agent lacking one of them still answers the other. They belong to the address's probe
// and go out at once.
void Discovery::Changed(Address address) {
    Target& target = targets_[address];
    if (!target.IsMachine())
        return;
    if (!target.namesQueued) {
        target.namesQueued = true;
        queue_.push_back(MakeProbe(Kind::Snmp, address, kName));
        queue_.push_back(MakeProbe(Kind::Snmp, address, kDescription));
    }
    if (onMachine)
        onMachine(MachineOf(address, target));
}

FoundMachine Discovery::MachineOf(Address address, const Target& target) const {
    FoundMachine machine;
    machine.address = address;
    if (target.type3Open)
        machine.types.push_back(3);
    if (target.type4Open)
        machine.types.push_back(4);
    if (machine.types.empty())
        machine.types = {1, 2};
    machine.name = target.name;
    machine.description = target.description;
    machine.status = target.status;
    machine.ms = target.firstAnswerMs.value_or(0);
    return machine;
}

std::vector<FoundMachine> Discovery::Machines() const {
    std::vector<FoundMachine> machines;
    for (const auto& [address, target] : targets_) {
        if (target.IsMachine())
            machines.push_back(MachineOf(address, target));
    }
    return machines;
}

}  // namespace kelo::discover
