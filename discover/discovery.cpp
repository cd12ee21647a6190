#include "discover/discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "platform/clock.h"
#include "snmp/status_query.h"

namespace kelo::discover {
namespace {

constexpr const char* kSysDescrOid = ".1.3.6.1.2.1.1.1.0";
constexpr const char* kSysNameOid = ".1.3.6.1.2.1.1.5.0";

// The datagrams and errors taken from the socket in one round, so that a flood of them
// cannot hold the loop.
constexpr int kReadsPerRound = 512;
// Answers and ICMP errors queue against the socket's receive buffer; a burst of starts stops
// for a read this often so that none is dropped.
constexpr int kStartsBetweenReads = 64;
// Starts are made in batches at most this often, so that a high rate does not turn into a
// round (and a poll over every pending connect) for each address.
constexpr long long kPaceRoundMs = 20;
// Descriptors kept free of connects for the rest of the program.
constexpr rlim_t kSpareDescriptors = 64;
// After ENOBUFS (the neighbour table is full of addresses ARP is still looking for, or the
// kernel is short of memory) sending pauses this long.
constexpr long long kBackOffMs = 20;
// Sends (or starts, of up to two datagrams) made between two looks for room in the send
// buffers.
constexpr int kSendsBetweenRoomChecks = 16;
// Sends that hit a pending error of another address are tried this often in all.
constexpr int kSendAttempts = 4;
// Larger send and receive buffers ride out datagrams held back by ARP and bursts of answers.
constexpr int kSocketBufferBytes = 4 << 20;

sockaddr_in SocketAddress(Address address, int port) {
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(static_cast<uint16_t>(port));
    socketAddress.sin_addr.s_addr = htonl(address);
    return socketAddress;
}

// The first request-id of a run, picked afresh so that a late answer to an earlier run is
// not taken for one to this run; each question then takes the next id.
uint32_t NewRequestIdBase() {
    std::random_device source;
    return std::uniform_int_distribution<uint32_t>(1, 0x7FFFFFFF)(source);
}

std::string ValueOf(const snmp::SnmpVarBind& fields) {
    return std::string(reinterpret_cast<const char*>(fields.oidvalue_data),
                       static_cast<size_t>(fields.oidvalue_length));
}

bool Failed(std::string& error, const std::string& reason) {
    error = reason;
    return false;
}

bool Contains(const AddressBlock& block, Address address) {
    const Address mask = block.prefix == 0 ? 0 : ~Address{0} << (32 - block.prefix);
    return (address & mask) == block.network;
}

// An error the kernel reports on a later send: it may belong to another address.
bool IsPendingError(int error) {
    return error == ECONNREFUSED || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == EHOSTDOWN;
}

// Connects are kept within the descriptors the process may open; the soft limit is raised to
// the hard one first, as a paced sweep keeps thousands of connects waiting.
size_t ConnectCapacity() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 256;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    const rlim_t usable = limit.rlim_cur > 2 * kSpareDescriptors
                              ? limit.rlim_cur - kSpareDescriptors
                              : limit.rlim_cur / 2;
    return static_cast<size_t>(std::min<rlim_t>(usable, 1 << 16));
}

}  // namespace

Discovery::Discovery(DiscoveryPlan plan) : plan_(std::move(plan)) {
    plan_.rate = std::clamp(plan_.rate, kMinRate, kMaxRate);
}

Discovery::~Discovery() {
    for (const auto& [serial, connect] : connects_)
        ::close(connect.fd);
    if (epoll_ >= 0)
        ::close(epoll_);
    for (int fd : udp_) {
        if (fd >= 0)
            ::close(fd);
    }
}

long long Discovery::Elapsed() const {
    return platform::NowMilliseconds() - startedAt_;
}

bool Discovery::Start(std::string& error) {
    startedAt_ = platform::NowMilliseconds();
    nextRequestId_ = NewRequestIdBase();
    const char* const oids[kQuestions] = {kStatusOid, kSysNameOid, kSysDescrOid};
    for (int question = 0; question < kQuestions; ++question) {
        const snmp::RequestHeader header{snmp::kPduGetRequest, 0, plan_.community};
        if (snmp::BuildGetRequest(oids[question], header).empty())
            return Failed(error, "the community is too long for a request");
        uint8_t name[snmp::kMaxOidContent];
        const int nameLength = snmp::EncodeOid(oids[question], name, sizeof name);
        names_[question].assign(name, name + nameLength);
    }
    connectCapacity_ = ConnectCapacity();

    return OpenSockets(error);
}

bool Discovery::OpenSockets(std::string& error) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0)
        return Failed(error, std::string("cannot watch sockets: ") + std::strerror(errno));
    for (int& fd : udp_) {
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Failed(error, std::string("cannot open a socket: ") + std::strerror(errno));
        // ICMP errors (nobody listens on the SNMP port, ARP found nobody) come back on the
        // error queue, each naming the address it concerns, so such an address is done with
        // at once.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
        if (!plan_.broadcasts.empty() &&
            ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
            return Failed(error, std::string("cannot broadcast: ") + std::strerror(errno));
        }
    }
    return true;
}

bool Discovery::Step(int maxWaitMs) {
    const long long now = Elapsed();
    if (now >= runEndMs_)
        return false;  // nothing more goes out at a broadcast run's end
    ResendDue(now);
    StartDue(now);
    EndAbsentAddresses();
    EndExpired(now);
    if (Finished())
        return false;
    const long long wait = std::clamp<long long>(NextDeadline(now) - now, 0, maxWaitMs);
    Wait(static_cast<int>(wait));
    EndAbsentAddresses();
    return true;
}

bool Discovery::NothingToStart() const {
    return nextHost_ == plan_.hosts.size() && nextBroadcast_ == plan_.broadcasts.size() &&
           answeredBroadcast_.empty() && namesToAsk_.empty();
}

bool Discovery::Finished() const {
    return NothingToStart() && asks_.empty() && connects_.empty();
}

long long Discovery::NextSendMs(const Ask& ask) const {
    return ask.firstSendMs + static_cast<long long>(ask.sends) * kResendMs;
}

// A question to one address is awaited for the time-out after its last send; a broadcast for
// the time-out after its first, and its last send at least as long as sends are apart.
long long Discovery::EndMs(const Ask& ask) const {
    if (ask.broadcast != nullptr)
        return std::max(ask.firstSendMs + plan_.timeoutMs, ask.lastSendMs + kResendMs);
    return ask.lastSendMs + plan_.timeoutMs;
}

// Queues the question's next moment: its next send, or its end once it went out every time.
void Discovery::Schedule(uint32_t requestId, const Ask& ask) {
    if (ask.sends < kSnmpSends) {
        sendsDue_.push({NextSendMs(ask), requestId});
    } else {
        endsDue_.push({EndMs(ask), requestId});
    }
}

// The question a queue entry names, while it still waits for that moment.
Discovery::Ask* Discovery::WaitingToSend(const Due& due) {
    const auto found = asks_.find(due.requestId);
    if (found == asks_.end() || found->second.sends >= kSnmpSends ||
        NextSendMs(found->second) != due.ms) {
        return nullptr;
    }
    return &found->second;
}

Discovery::Ask* Discovery::WaitingToEnd(const Due& due) {
    const auto found = asks_.find(due.requestId);
    if (found == asks_.end() || found->second.sends < kSnmpSends ||
        EndMs(found->second) != due.ms) {
        return nullptr;
    }
    return &found->second;
}

// Drops the entries at the front of the queues whose questions were answered or ended.
void Discovery::DropStale() {
    while (!sendsDue_.empty() && WaitingToSend(sendsDue_.top()) == nullptr)
        sendsDue_.pop();
    while (!endsDue_.empty() && WaitingToEnd(endsDue_.top()) == nullptr)
        endsDue_.pop();
}

// Every start (an address, a broadcast, a machine's names) waits for its turn at the rate.
bool Discovery::PaceAllows(long long now) const {
    return now >= backOffUntilMs_ && started_ * 1000 <= static_cast<long long>(plan_.rate) * now;
}

long long Discovery::NextStartMs() const {
    const long long rate = plan_.rate;
    return (started_ * 1000 + rate - 1) / rate;
}

// A datagram is sent only while the socket's send buffer has room, so that no send fails and
// none is spun on: datagrams held back while ARP resolves their address fill it.
bool Discovery::Writable() {
    pollfd sockets[kSockets];
    for (int i = 0; i < kSockets; ++i)
        sockets[i] = {udp_[i], POLLOUT, 0};
    ::poll(sockets, kSockets, 0);
    withoutRoom_ = 0;
    for (int i = 0; i < kSockets; ++i) {
        if ((sockets[i].revents & POLLOUT) == 0)
            withoutRoom_ |= 1u << i;
    }
    waitForWritable_ = withoutRoom_ != 0;
    return !waitForWritable_;
}

// Room is looked for before the first of a run of sends and again every few: room means half
// of every send buffer free, which holds many more datagrams than that.
bool Discovery::HasRoom(int sendsSoFar) {
    return sendsSoFar % kSendsBetweenRoomChecks == 0 ? Writable() : !waitForWritable_;
}

void Discovery::StartDue(long long now) {
    int starts = 0;
    while (!NothingToStart() && PaceAllows(now) && HasRoom(starts)) {
        if (!StartNext(now))
            return;  // no descriptor for a connect now; a connect's end frees one
        ++started_;
        if (++starts % kStartsBetweenReads == 0)
            ReadSockets(now);
    }
}

// Starts the most pressing of what waits: a machine's names, a broadcast, the ports of an
// address that answered one, the next host. False when it must wait for descriptors.
bool Discovery::StartNext(long long now) {
    if (!namesToAsk_.empty()) {
        const Address address = namesToAsk_.front();
        namesToAsk_.pop_front();
        StartAsk(address, kName, nullptr, now);
        StartAsk(address, kDescription, nullptr, now);
        return true;
    }
    if (nextBroadcast_ < plan_.broadcasts.size()) {
        const BroadcastNetwork& network = plan_.broadcasts[nextBroadcast_++];
        StartAsk(network.broadcast, kStatus, &network, now);
        if (nextBroadcast_ == plan_.broadcasts.size()) {
            const long long awaited = std::max(plan_.timeoutMs, kSnmpSends * kResendMs);
            runEndMs_ = now + awaited + kBroadcastFollowUpMs;
        }
        return true;
    }
    if (!answeredBroadcast_.empty()) {
        if (!StartPorts(answeredBroadcast_.front(), now))
            return false;
        answeredBroadcast_.pop_front();
        return true;
    }
    if (!StartPorts(plan_.hosts[nextHost_], now))
        return false;
    StartAsk(plan_.hosts[nextHost_++], kStatus, nullptr, now);
    lastHostStartMs_ = now;
    return true;
}

bool Discovery::StartPorts(Address address, long long now) {
    if (connects_.size() + 2 > connectCapacity_)
        return false;
    OpenConnect(address, 3, now);
    OpenConnect(address, 4, now);
    return true;
}

void Discovery::StartAsk(Address address, Question question, const BroadcastNetwork* broadcast,
                         long long now) {
    const uint32_t requestId = nextRequestId_;
    nextRequestId_ = nextRequestId_ >= 0x7FFFFFFF ? 1 : nextRequestId_ + 1;
    Ask& ask = asks_[requestId];
    ask = Ask{address, question, broadcast, now, now, 0};
    if (Send(requestId, ask, now) != SendResult::Absent) {
        Schedule(requestId, ask);  // a datagram that could not go yet is due again at once
        return;
    }
    asks_.erase(requestId);
    if (broadcast == nullptr)
        EndAddress(address);
}

Discovery::SendResult Discovery::Send(uint32_t requestId, Ask& ask, long long now) {
    const snmp::RequestHeader header{snmp::kPduGetRequest, requestId, plan_.community};
    const char* const oids[kQuestions] = {kStatusOid, kSysNameOid, kSysDescrOid};
    const std::vector<uint8_t> request = snmp::BuildGetRequest(oids[ask.question], header);
    const sockaddr_in to = SocketAddress(ask.address, plan_.ports.snmp);
    for (int attempt = 0; attempt < kSendAttempts; ++attempt) {
        if (::sendto(SocketOf(requestId), request.data(), request.size(), MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to) >= 0) {
            ++ask.sends;
            ask.lastSendMs = now;
            return SendResult::Sent;
        }
        // An ICMP error that came in since the last send is handed to this one instead; the
        // request itself did not go, so it is sent once more.
        if (!IsPendingError(errno))
            break;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        ++sendsRefused_;
        waitForWritable_ = true;
        withoutRoom_ |= 1u << (requestId % kSockets);
        return SendResult::Later;
    }
    if (errno == ENOBUFS) {
        backOffUntilMs_ = now + kBackOffMs;
        return SendResult::Later;
    }
    if (errno == EINTR)
        return SendResult::Later;
    return SendResult::Absent;  // no route, not allowed: this address cannot be asked
}

void Discovery::OpenConnect(Address address, int type, long long now) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;  // the port counts as closed
    Connect connect{address, type, fd, now};
    const sockaddr_in to =
        SocketAddress(address, type == 3 ? plan_.ports.type3 : plan_.ports.type4);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        ::close(fd);
        TakePort(connect, true, now);
        return;
    }
    epoll_event watch{};
    watch.events = EPOLLOUT;
    watch.data.u64 = nextConnect_;
    if (errno != EINPROGRESS || ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &watch) != 0) {
        ::close(fd);
        TakePort(connect, false, now);
        return;
    }
    connects_.emplace(nextConnect_, connect);
    connectOrder_.push_back(nextConnect_++);
}

// Sends the requests whose time has come again, the most overdue first. A request the socket
// could not take yet stays due.
void Discovery::ResendDue(long long now) {
    int sends = 0;
    while (!sendsDue_.empty() && sendsDue_.top().ms <= now) {
        const Due due = sendsDue_.top();
        Ask* ask = WaitingToSend(due);
        if (ask == nullptr) {
            sendsDue_.pop();
            continue;
        }
        if (now < backOffUntilMs_ || !HasRoom(sends++))
            return;
        switch (Send(due.requestId, *ask, now)) {
            case SendResult::Sent:
                sendsDue_.pop();
                Schedule(due.requestId, *ask);
                break;
            case SendResult::Absent:
                sendsDue_.pop();
                asks_.erase(due.requestId);
                break;
            case SendResult::Later:
                return;
        }
    }
}

// Connects unanswered after kConnectGiveUpMs find the port closed; requests unanswered for the
// time-out after their last send end without an answer.
void Discovery::EndExpired(long long now) {
    while (!endsDue_.empty() && endsDue_.top().ms <= now) {
        if (WaitingToEnd(endsDue_.top()) != nullptr)
            asks_.erase(endsDue_.top().requestId);
        endsDue_.pop();
    }
    while (const Connect* oldest = OldestConnect()) {
        if (now < oldest->startMs + kConnectGiveUpMs)
            break;
        ::close(oldest->fd);
        connects_.erase(connectOrder_.front());
        connectOrder_.pop_front();
    }
}

// The connect waiting longest; the serials of connects already ended are dropped on the way.
const Discovery::Connect* Discovery::OldestConnect() {
    while (!connectOrder_.empty()) {
        const auto found = connects_.find(connectOrder_.front());
        if (found != connects_.end())
            return &found->second;
        connectOrder_.pop_front();
    }
    return nullptr;
}

// The address answered that it is not there (ARP found nobody, no route): its questions and
// connects end without costing resends, at the end of the round, together with those of the
// other addresses found absent in it: a sweep of a LAN where most addresses are absent then
// costs one pass over what is in flight a round, not one for each absent address.
void Discovery::EndAddress(Address address) {
    absent_.insert(address);
}

void Discovery::EndAbsentAddresses() {
    if (absent_.empty())
        return;
    std::erase_if(asks_, [&](const auto& entry) {
        return entry.second.broadcast == nullptr && absent_.contains(entry.second.address);
    });
    std::erase_if(connects_, [&](const auto& entry) {
        if (!absent_.contains(entry.second.address))
            return false;
        ::close(entry.second.fd);
        return true;
    });
    absent_.clear();
}

// The next moment something is due: a start at the pace, a resend, a connect's give-up, a
// time-out. Starts and resends that wait for room in the send buffers wait for the poll.
long long Discovery::NextDeadline(long long now) {
    DropStale();
    long long next = std::min(runEndMs_, now + plan_.timeoutMs + kSnmpSends * kResendMs);
    if (!NothingToStart() && !waitForWritable_ && connects_.size() + 2 <= connectCapacity_)
        next = std::min(next, std::max({NextStartMs(), now + kPaceRoundMs, backOffUntilMs_}));
    if (!sendsDue_.empty() && !waitForWritable_)
        next = std::min(next, std::max(backOffUntilMs_, sendsDue_.top().ms));
    if (!endsDue_.empty())
        next = std::min(next, endsDue_.top().ms);
    if (!connectOrder_.empty()) {
        const auto oldest = connects_.find(connectOrder_.front());
        // An ended connect at the front is dropped in the next round, which comes at once.
        next = std::min(
            next, oldest == connects_.end() ? now : oldest->second.startMs + kConnectGiveUpMs);
    }
    return next;
}

// Waits for answers on the datagram socket (and for room in it when a send waits for that)
// and for the pending connects, then takes them in.
void Discovery::Wait(int milliseconds) {
    pollfd fds[kSockets + 1];
    for (int i = 0; i < kSockets; ++i)
        fds[i] = {udp_[i], static_cast<short>(POLLIN | (WithoutRoom(i) ? POLLOUT : 0)), 0};
    fds[kSockets] = {epoll_, POLLIN, 0};
    if (platform::Poll(fds, kSockets + 1, milliseconds) <= 0)
        return;  // nothing yet, or a signal: the caller's pump sees a Ctrl-C
    const long long now = Elapsed();
    if (fds[kSockets].revents != 0)
        TakeConnects(now);
    for (int i = 0; i < kSockets; ++i) {
        if ((fds[i].revents & ~POLLOUT) != 0)
            ReadSocket(udp_[i], now);
    }
}

// Takes in every connect that has been answered. Each leaves the list before it is looked
// at, as what it tells may end other connects of its address.
void Discovery::TakeConnects(long long now) {
    constexpr int kEventsPerRead = 256;
    epoll_event events[kEventsPerRead];
    int count = kEventsPerRead;
    while (count == kEventsPerRead) {
        count = ::epoll_wait(epoll_, events, kEventsPerRead, 0);
        for (int i = 0; i < count; ++i) {
            const uint64_t serial = events[i].data.u64;  // copied: the event is packed
            const auto found = connects_.find(serial);
            if (found == connects_.end())
                continue;
            const Connect connect = found->second;
            connects_.erase(found);
            TakeConnect(connect, now);
        }
    }
}

// A connect that failed for want of a route or a neighbour tells the whole address is absent.
void Discovery::TakeConnect(const Connect& connect, long long now) {
    int failure = 0;
    socklen_t size = sizeof failure;
    if (::getsockopt(connect.fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
        failure = errno;
    ::close(connect.fd);
    TakePort(connect, failure == 0, now);
    if (failure == EHOSTUNREACH || failure == ENETUNREACH)
        EndAddress(connect.address);
}

void Discovery::ReadSockets(long long now) {
    for (int fd : udp_)
        ReadSocket(fd, now);
}

void Discovery::ReadSocket(int fd, long long now) {
    now_ = now;
    uint8_t datagram[snmp::kMessageSize];
    for (int reads = 0; reads < kReadsPerRound; ++reads) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = ::recvfrom(fd, datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 0) {
            if (IsPendingError(errno))
                continue;  // an ICMP error was pending; its detail is on the error queue
            break;
        }
        // A datagram larger than any answer is cut short; its lengths then fail the parse.
        const int length = static_cast<int>(std::min<ssize_t>(got, sizeof datagram));
        TakeAnswer(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port), datagram, length);
    }
    ReadErrors(fd);
}

// An ICMP error names the address a request went to: nobody answers SNMP there, or nobody is
// there at all, so the address is done with now instead of at its time-out.
void Discovery::ReadErrors(int fd) {
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
        if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        if (ntohs(to.sin_port) == plan_.ports.snmp)
            EndAddress(ntohl(to.sin_addr.s_addr));
    }
}

// An answer counts when it is a GetResponse from the SNMP port, its request-id is a plain
// INTEGER naming a question in flight, and it names the object asked; it must come from the
// address asked, or for a broadcast from inside that broadcast's network. Anything else is
// ignored and leaves the question waiting, so a stray answer cannot take a real one's place.
void Discovery::TakeAnswer(Address source, int port, const uint8_t* data, int length) {
    snmp::SnmpVarBind fields;
    if (port != plan_.ports.snmp || !snmp::ParseMessage(data, length, fields) ||
        fields.pdu_type != snmp::kPduGetResponse || fields.request_id_tag != snmp::kTagInteger ||
        fields.request_id_length < 1 || fields.request_id_length > 4) {
        return;
    }
    const auto found = asks_.find(static_cast<uint32_t>(fields.request_id));
    if (found == asks_.end())
        return;
    const Ask ask = found->second;
    const std::vector<uint8_t>& name = names_[ask.question];
    if (fields.oidname_length != static_cast<int>(name.size()) ||
        !std::equal(name.begin(), name.end(), fields.oidname_data)) {
        return;
    }
    if (ask.broadcast != nullptr) {
        if (!TakeBroadcastAnswer(*ask.broadcast, source))
            return;
    } else {
        if (source != ask.address)
            return;
        asks_.erase(found);
    }
    Learn(source, ask.question, fields, now_ - ask.firstSendMs);
}

// A source inside the broadcast's network is taken once, and only until the limit of
// machines; reaching it ends every broadcast's listening.
bool Discovery::TakeBroadcastAnswer(const BroadcastNetwork& network, Address source) {
    if (!Contains(network.network, source) || broadcastSources_.size() >= kMaxBroadcastMachines ||
        !broadcastSources_.insert(source).second) {
        return false;
    }
    answeredBroadcast_.push_back(source);
    if (broadcastSources_.size() == kMaxBroadcastMachines) {
        machineLimitReached_ = true;
        std::erase_if(asks_, [](const auto& entry) { return entry.second.broadcast != nullptr; });
    }
    return true;
}

// The values count only without an error, as an OCTET STRING.
void Discovery::Learn(Address address, Question question, const snmp::SnmpVarBind& fields,
                      long long answerMs) {
    Learned& learned = learned_[address];
    if (!learned.firstAnswerMs)
        learned.firstAnswerMs = answerMs;
    if (fields.error_status == 0 && fields.oidvalue_type == snmp::kTagOctetString) {
        std::optional<std::string>& value = question == kStatus ? learned.status
                                            : question == kName ? learned.name
                                                                : learned.description;
        value = ValueOf(fields);
        if (question == kStatus)
            learned.statusAnswered = true;
    }
    ReportIfMachine(address, learned);
}

void Discovery::TakePort(const Connect& connect, bool open, long long now) {
    if (!open)
        return;
    Learned& learned = learned_[connect.address];
    (connect.type == 3 ? learned.type3Open : learned.type4Open) = true;
    if (!learned.firstAnswerMs)
        learned.firstAnswerMs = now - connect.startMs;
    ReportIfMachine(connect.address, learned);
}

// An address that turned out to be a machine is asked for its name and description, in
// requests of their own so that an agent lacking one still answers the other; whoever
// listens hears of every change.
void Discovery::ReportIfMachine(Address address, Learned& learned) {
    if (!learned.IsMachine())
        return;
    if (!learned.namesAsked) {
        learned.namesAsked = true;
        ++machines_;
        namesToAsk_.push_back(address);
    }
    if (onMachine)
        onMachine(MachineOf(address, learned));
}

FoundMachine Discovery::MachineOf(Address address, const Learned& learned) const {
    FoundMachine machine;
    machine.address = address;
    if (learned.type3Open)
        machine.types.push_back(3);
    if (learned.type4Open)
        machine.types.push_back(4);
    if (machine.types.empty())
        machine.types = {1, 2};
    machine.name = learned.name;
    machine.description = learned.description;
    machine.status = learned.status;
    machine.ms = learned.firstAnswerMs.value_or(0);
    return machine;
}

std::vector<FoundMachine> Discovery::Machines() const {
    std::vector<FoundMachine> machines;
    for (const auto& [address, learned] : learned_) {
        if (learned.IsMachine())
            machines.push_back(MachineOf(address, learned));
    }
    return machines;
}

DiscoveryProgress Discovery::Progress() const {
    DiscoveryProgress progress;
    const size_t answered = broadcastSources_.size();
    progress.addresses = static_cast<int>(plan_.hosts.size() + plan_.broadcasts.size() + answered);
    progress.probed =
        static_cast<int>(nextHost_ + nextBroadcast_ + answered - answeredBroadcast_.size());
    progress.found = machines_;
    return progress;
}

}  // namespace kelo::discover
