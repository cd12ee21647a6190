#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace sim {
namespace {

constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxConnections = 64;  // per machine
constexpr int kAcceptsPerWake = 16;
constexpr int kDatagramsPerWake = 64;
constexpr int kEventsPerWait = 256;
constexpr int kListenBacklog = 16;
// How long a connection that fills an accept queue may take on loopback: it is answered at
// once, so only a machine that is badly overloaded comes near this.
constexpr int kFillConnectMs = 5000;
// Files a process needs beside its listeners: the standard streams, the signal pipe, the
// epoll instance, and its connections.
constexpr rlim_t kSpareFiles = 256;
constexpr int kTricklePauseMs = 1;
// Piece sizes of slow-trickle, varied so that a reader meets every split of a frame.
constexpr size_t kTricklePieces[] = {1, 2, 3, 5, 7, 4, 6};

int signalPipe[2] = {-1, -1};

void OnStopSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

struct PortPlan {
    uint16_t port;
    bool udp;
    PortRole role;
    // A port the machine can do without: types 3 and 4 ran without their SNMP agent before
    // they had one, and still do where UDP 161 cannot be bound.
    bool optional;
};

std::vector<PortPlan> PortsOf(int machineType) {
    switch (machineType) {
        case 1:
        case 2:
            return {{515, false, PortRole::kLpd, false}, {161, true, PortRole::kLpd, false}};
        case 3:
            return {{9101, false, PortRole::kPackets, false},
                    {9100, false, PortRole::kRawImage, false},
                    {161, true, PortRole::kPackets, true}};
        default:
            return {{9500, false, PortRole::kPackets, false},
                    {9100, false, PortRole::kRawImage, false},
                    {161, true, PortRole::kPackets, true}};
    }
}

// With never-accept, the listeners that clients connect to first are never served.
bool NeverAccepts(const PortPlan& plan, const Faults& faults) {
    return faults.neverAccept && !plan.udp && plan.role != PortRole::kRawImage;
}

// Makes room for the open files the machines need: the limit is raised to the hard limit
// when it is lower than that; false when even the hard limit is too low.
bool EnsureOpenFiles(rlim_t needed, std::string& error) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed)
        return true;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
        error = "these machines need about " + std::to_string(needed) +
                " open files, more than this process may open (" + std::to_string(limit.rlim_max) +
                "; see ulimit -Hn)";
        return false;
    }
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        error = std::string("cannot raise the open file limit: ") + std::strerror(errno);
        return false;
    }
    return true;
}

struct Listener {
    PortPlan plan;
    int fd = -1;
    int filler = -1;  // never-accept: our own connection that fills its accept queue
    // The SNMP agent's ear on its network's broadcast address: it receives what is sent
    // there, and the answers go out from the machine's own address.
    std::string broadcast;
};

// The broadcast address of the interface network that holds the address, as a real machine
// on it hears it: the one the system gives, or the address with every host bit set when it
// gives none or the address itself. Empty on loopback, on a /31 or /32, or off every network.
std::string BroadcastAddressOf(const std::string& dotted) {
    in_addr wanted{};
    ifaddrs* list = nullptr;
    if (inet_pton(AF_INET, dotted.c_str(), &wanted) != 1 || getifaddrs(&list) != 0)
        return "";
    const uint32_t address = ntohl(wanted.s_addr);
    auto ipv4 = [](const sockaddr* socketAddress) {
        return socketAddress != nullptr && socketAddress->sa_family == AF_INET;
    };
    auto value = [](const sockaddr* socketAddress) {
        return ntohl(reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr);
    };
    std::string found;
    for (const ifaddrs* entry = list; entry != nullptr && found.empty(); entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_BROADCAST) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0 ||
            !ipv4(entry->ifa_addr) || !ipv4(entry->ifa_netmask)) {
            continue;
        }
        const uint32_t mask = value(entry->ifa_netmask);
        if ((value(entry->ifa_addr) & mask) != (address & mask) || mask >= 0xFFFFFFFEu)
            continue;
        uint32_t broadcast = address | ~mask;
        if (ipv4(entry->ifa_broadaddr) && value(entry->ifa_broadaddr) != value(entry->ifa_addr) &&
            value(entry->ifa_broadaddr) != 0) {
            broadcast = value(entry->ifa_broadaddr);
        }
        in_addr raw{htonl(broadcast)};
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &raw, text, sizeof text);
        found = text;
    }
    freeifaddrs(list);
    return found;
}

// One machine on its address: its state, its event log and recorder, its listeners, and its
// restart.
struct Station {
    Station(MachinePlan plan, const EventLog& processLog, size_t index)
        : index(index),
          log(processLog.ForAddress(plan.config.address)),
          recorder(std::move(plan.recordDir)),
          machine(std::move(plan.config), log, recorder) {
        for (const PortPlan& port : PortsOf(machine.Type())) {
            listeners.push_back({port, -1, -1, ""});
            const std::string broadcast = port.udp ? BroadcastAddressOf(machine.Address()) : "";
            if (!broadcast.empty())
                listeners.push_back({{port.port, true, port.role, true}, -1, -1, broadcast});
        }
    }

    // The descriptor the SNMP agent answers from; -1 when it runs without one.
    int AgentDescriptor() const {
        for (const Listener& listener : listeners) {
            if (listener.plan.udp && listener.broadcast.empty())
                return listener.fd;
        }
        return -1;
    }

    const size_t index;  // in the server's list, for the listeners' epoll tokens
    EventLog log;
    Recorder recorder;
    Machine machine;
    std::vector<Listener> listeners;
    size_t connections = 0;
    std::string pendingRestart;
    bool restarting = false;
    long long restartEndsMs = 0;
};

struct Connection {
    int fd = -1;
    uint16_t port = 0;
    Station* station = nullptr;
    std::unique_ptr<Session> session;
    std::string out;
    size_t sent = 0;
    bool closeAfterSend = false;
    bool dead = false;
    long long nextSendMs = 0;
    size_t trickleStep = 0;
    uint32_t watched = 0;  // the epoll events asked for now
};

// What the epoll data of a descriptor says it is: the signal pipe, a connection (by id), or a
// listener (by station and port, with the top bit set).
constexpr uint64_t kSignalToken = 0;
constexpr uint64_t kListenerTag = uint64_t{1} << 63;

uint64_t ListenerToken(size_t station, size_t listener) {
    return kListenerTag | (static_cast<uint64_t>(station) << 8) | listener;
}

class Server {
  public:
    Server(std::vector<MachinePlan> plans, int restartMs, const EventLog& log)
        : log_(log), restartMs_(restartMs) {
        for (MachinePlan& plan : plans) {
            stations_.push_back(std::make_unique<Station>(std::move(plan), log_, stations_.size()));
            Station* station = stations_.back().get();
            station->machine.SetRestartHook([this, station](const std::string& cause) {
                if (station->pendingRestart.empty())
                    restartsDue_.push_back(station);
                station->pendingRestart = cause;
            });
        }
    }

    ~Server() {
        for (auto& station : stations_) {
            for (Listener& listener : station->listeners)
                CloseListener(listener);
        }
        for (auto& [id, connection] : connections_) {
            if (connection.fd >= 0)
                close(connection.fd);
        }
        if (epoll_ >= 0)
            close(epoll_);
    }

    ServeResult Run() {
        ServeResult result;
        if (!Prepare(result.error)) {
            result.exitCode = 2;
            return result;
        }
        for (auto& station : stations_)
            EmitListening(*station);
        const int signalNumber = Loop(result);
        if (result.exitCode != 0)
            return result;
        for (auto& [id, connection] : connections_)
            Drop(id, connection, "stopping");
        log_.Emit(Event("stopped").Number("signal", signalNumber));
        return result;
    }

  private:
    // Everything before the first event: open files, epoll, and every port of every machine.
    bool Prepare(std::string& error) {
        rlim_t needed = kSpareFiles;
        for (const auto& station : stations_) {
            for (const Listener& listener : station->listeners)
                needed += NeverAccepts(listener.plan, station->machine.GetFaults()) ? 2 : 1;
        }
        if (!EnsureOpenFiles(needed, error))
            return false;
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        if (epoll_ < 0 || !Watch(signalPipe[0], kSignalToken, EPOLLIN)) {
            error = std::string("cannot start the event loop: ") + std::strerror(errno);
            return false;
        }
        MissingAgents missing;
        for (auto& station : stations_) {
            if (!OpenFirstTime(*station, missing, error))
                return false;
        }
        missing.Report();
        return true;
    }

    // Types 3 and 4 whose SNMP agent could not be bound: one line on standard error for all.
    struct MissingAgents {
        std::string firstAddress;
        int failure = 0;
        size_t count = 0;

        void Add(const std::string& address, int error) {
            if (count++ == 0) {
                firstAddress = address;
                failure = error;
            }
        }
        void Report() const {
            if (count == 0)
                return;
            std::string where = firstAddress;
            if (count > 1)
                where += " and " + std::to_string(count - 1) + " more addresses";
            std::fprintf(
                stderr, "kelo-sim: cannot bind UDP 161 on %s: %s; serving without the SNMP agent\n",
                where.c_str(), std::strerror(failure));
        }
    };

    // Opens every port of one machine; an optional port that is taken or forbidden is left
    // out for good.
    bool OpenFirstTime(Station& station, MissingAgents& missing, std::string& error) {
        std::vector<Listener>& listeners = station.listeners;
        for (size_t i = 0; i < listeners.size();) {
            const int failure = OpenListener(station, i);
            const bool mayGoWithout = failure == EACCES || failure == EADDRINUSE;
            if (failure != 0 && !listeners[i].broadcast.empty()) {
                listeners.erase(listeners.begin() + static_cast<long>(i));
                continue;  // the machine answers only what is sent to its address
            }
            if (failure != 0 && listeners[i].plan.optional && mayGoWithout) {
                missing.Add(station.machine.Address(), failure);
                listeners.erase(listeners.begin() + static_cast<long>(i));
                continue;
            }
            if (failure != 0) {
                error = BindError(listeners[i].plan, station.machine.Address(), failure);
                return false;
            }
            ++i;
        }
        return true;
    }

    static std::string BindError(const PortPlan& plan, const std::string& address, int failure) {
        std::string error = std::string("cannot bind ") + (plan.udp ? "UDP " : "TCP ") +
                            std::to_string(plan.port) + " on " + address + ": " +
                            std::strerror(failure);
        if (failure == EACCES && plan.port < 1024) {
            error +=
                " (ports below 1024 need root or a network namespace of your own, "
                "e.g. unshare --net --map-root-user)";
        }
        return error;
    }

    // Binds one port; returns 0, or the errno of what failed.
    int OpenListener(Station& station, size_t listenerIndex) {
        Listener& listener = station.listeners[listenerIndex];
        const PortPlan& plan = listener.plan;
        const int fd = socket(
            AF_INET, (plan.udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return errno;
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(plan.port);
        const std::string& address =
            listener.broadcast.empty() ? station.machine.Address() : listener.broadcast;
        inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        const bool neverAccepts = NeverAccepts(plan, station.machine.GetFaults());
        // A backlog of 0 lets one connection wait; once it does, the kernel drops new SYNs.
        const int backlog = neverAccepts ? 0 : kListenBacklog;
        int failure = 0;
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            (!plan.udp && listen(fd, backlog) != 0)) {
            failure = errno;
        } else if (neverAccepts) {
            failure = FillAcceptQueue(listener, local);
        } else if (!Watch(fd, ListenerToken(station.index, listenerIndex), EPOLLIN)) {
            failure = errno;
        }
        return KeepUnlessFailed(fd, failure, listener.fd);
    }

    // never-accept: one connection of our own waits in the listener's accept queue, which is
    // then full, so the kernel drops every further SYN and a client's connect gets no answer.
    static int FillAcceptQueue(Listener& listener, const sockaddr_in& address) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return errno;
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            const int failure = errno;
            close(fd);
            return failure;
        }
        pollfd entry{fd, POLLOUT, 0};
        int failure = 0;
        socklen_t size = sizeof failure;
        if (poll(&entry, 1, kFillConnectMs) != 1)
            failure = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
            failure = errno;
        return KeepUnlessFailed(fd, failure, listener.filler);
    }

    // Keeps the socket in its slot, or closes it when setting it up failed; the failure.
    static int KeepUnlessFailed(int fd, int failure, int& slot) {
        if (failure != 0) {
            close(fd);
            return failure;
        }
        slot = fd;
        return 0;
    }

    static void CloseListener(Listener& listener) {
        if (listener.fd >= 0)
            close(listener.fd);
        listener.fd = -1;
        if (listener.filler >= 0)
            close(listener.filler);
        listener.filler = -1;
    }

    bool Watch(int fd, uint64_t token, uint32_t events) {
        epoll_event entry{};
        entry.events = events;
        entry.data.u64 = token;
        return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &entry) == 0;
    }

    void EmitListening(Station& station) {
        std::string tcp;
        std::string udp;
        for (const Listener& listener : station.listeners) {
            if (!listener.broadcast.empty())
                continue;
            std::string& list = listener.plan.udp ? udp : tcp;
            if (!list.empty())
                list += ',';
            list += std::to_string(listener.plan.port);
        }
        const Machine& machine = station.machine;
        station.log.Emit(
            Event("listening")
                .Number("type", machine.Type())
                .Text("bind", machine.Address())
                .Text("tcp", tcp)
                .Text("udp", udp)
                .Number("restart_ms", restartMs_)
                .Text("faults", EnabledFaultNames(machine.GetFaults()))
                .Number("report_bytes", static_cast<long long>(machine.Report().size()))
                .Number("params_bytes", static_cast<long long>(machine.Parameters().size())));
    }

    // Runs until a stop signal; returns its number (0 when the loop failed).
    int Loop(ServeResult& result) {
        epoll_event events[kEventsPerWait];
        while (true) {
            if (!EndRestarts(NowMs(), result.error)) {
                result.exitCode = 1;
                return 0;
            }
            const int count = epoll_wait(epoll_, events, kEventsPerWait, WatchConnections());
            if (count < 0 && errno != EINTR) {
                result.error = std::string("epoll_wait failed: ") + std::strerror(errno);
                result.exitCode = 1;
                return 0;
            }
            for (int i = 0; i < count; ++i) {
                const uint64_t token = events[i].data.u64;
                if (token == kSignalToken) {
                    unsigned char signalNumber = 0;
                    [[maybe_unused]] ssize_t got = read(signalPipe[0], &signalNumber, 1);
                    return signalNumber;
                }
                if (token & kListenerTag) {
                    Station& station = *stations_[(token & ~kListenerTag) >> 8];
                    Listener& listener = station.listeners[token & 0xFF];
                    if (listener.plan.udp) {
                        ServeDatagrams(station, listener.fd, station.AgentDescriptor());
                    } else {
                        Accept(station, listener);
                    }
                } else {
                    Service(static_cast<int>(token), events[i].events);
                }
            }
            CloseFinished();
            StartRestarts();
        }
    }

    // Asks epoll for what each connection waits for now (reading unless it only waits to
    // close; writing while it has bytes due); returns how long the loop may wait for them and
    // for the restarts in progress, in ms, or -1 for as long as it takes.
    int WatchConnections() {
        const long long now = NowMs();
        long long wakeMs = -1;
        auto wakeAt = [&wakeMs](long long ms) {
            if (wakeMs < 0 || ms < wakeMs)
                wakeMs = ms;
        };
        for (const Station* station : restarting_)
            wakeAt(station->restartEndsMs);
        for (auto& [id, connection] : connections_) {
            uint32_t events = connection.closeAfterSend ? 0u : uint32_t{EPOLLIN};
            if (connection.sent < connection.out.size()) {
                if (connection.nextSendMs <= now) {
                    events |= EPOLLOUT;
                } else {
                    wakeAt(connection.nextSendMs);
                }
            }
            if (events != connection.watched) {
                epoll_event entry{};
                entry.events = events;
                entry.data.u64 = static_cast<uint64_t>(id);
                epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.fd, &entry);
                connection.watched = events;
            }
        }
        return wakeMs < 0 ? -1 : static_cast<int>(std::max(0LL, wakeMs - now));
    }

    void Accept(Station& station, Listener& listener) {
        for (int i = 0; i < kAcceptsPerWake; ++i) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const int fd = accept4(listener.fd, reinterpret_cast<sockaddr*>(&peer), &size,
                                   SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return;
            const int id = ++lastConnection_;
            Event event("connect");
            event.Number("conn", id)
                .Number("port", listener.plan.port)
                .Text("peer", PeerText(peer));
            if (station.connections >= kMaxConnections) {
                station.log.Emit(event.Flag("refused", true));
                close(fd);
                continue;
            }
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            station.log.Emit(event);
            Connection& connection = connections_[id];
            connection.fd = fd;
            connection.port = listener.plan.port;
            connection.station = &station;
            connection.session = MakeSession(listener.plan.role, station.machine, id);
            connection.watched = EPOLLIN;
            ++station.connections;
            Watch(fd, static_cast<uint64_t>(id), EPOLLIN);
        }
    }

    // Reads from fd and answers from answerFd: the same but for a broadcast listener.
    void ServeDatagrams(Station& station, int fd, int answerFd) {
        for (int i = 0; i < kDatagramsPerWake; ++i) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const ssize_t got = recvfrom(fd, buffer_.data(), buffer_.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &size);
            if (got < 0)
                return;
            if (station.restarting) {
                // A booting machine's agent is not up yet: the request gets no answer at all.
                station.log.Emit(Event("snmp-dropped")
                                     .Text("peer", PeerText(peer))
                                     .Number("bytes", got)
                                     .Text("reason", "restarting"));
                continue;
            }
            const std::vector<uint8_t> answer = station.machine.AnswerSnmp(
                buffer_.data(), static_cast<size_t>(got), PeerText(peer));
            if (!answer.empty() && answerFd >= 0) {
                sendto(answerFd, answer.data(), answer.size(), 0,
                       reinterpret_cast<sockaddr*>(&peer), size);
            }
        }
    }

    void Service(int id, uint32_t events) {
        const auto found = connections_.find(id);
        if (found == connections_.end() || found->second.dead)
            return;
        Connection& connection = found->second;
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR))
            Read(id, connection);
        if (!connection.dead && (events & EPOLLOUT))
            Write(id, connection);
    }

    void Read(int id, Connection& connection) {
        if (connection.closeAfterSend) {
            if (PeerLeft(connection))
                Drop(id, connection, "peer-closed");
            return;
        }
        const ssize_t got = recv(connection.fd, buffer_.data(), buffer_.size(), 0);
        if (got == 0) {
            Drop(id, connection, "peer-closed");
            return;
        }
        if (got < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Drop(id, connection, "error");
            }
            return;
        }
        Outbox out;
        connection.session->Receive(buffer_.data(), static_cast<size_t>(got), out);
        connection.out += out.bytes;
        if (out.closeAfterSend)
            connection.closeAfterSend = true;
    }

    // A connection that waits to close after its last bytes still notices a peer that left.
    static bool PeerLeft(const Connection& connection) {
        char probe;
        const ssize_t got = recv(connection.fd, &probe, 1, MSG_PEEK);
        return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

    void Write(int id, Connection& connection) {
        size_t length = connection.out.size() - connection.sent;
        const bool trickle = connection.station->machine.GetFaults().slowTrickle;
        if (trickle) {
            const size_t piece =
                kTricklePieces[connection.trickleStep++ % std::size(kTricklePieces)];
            length = std::min(length, piece);
        }
        const ssize_t sent =
            send(connection.fd, connection.out.data() + connection.sent, length, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                Drop(id, connection, "error");
            }
            return;
        }
        connection.sent += static_cast<size_t>(sent);
        if (trickle)
            connection.nextSendMs = NowMs() + kTricklePauseMs;
        if (connection.sent == connection.out.size()) {
            connection.out.clear();
            connection.sent = 0;
        }
    }

    void Drop(int id, Connection& connection, const char* reason) {
        if (connection.dead)
            return;
        connection.dead = true;
        connection.session->Closed(reason);
        close(connection.fd);  // which also takes it out of epoll
        connection.fd = -1;
        --connection.station->connections;
        connection.station->log.Emit(Event("disconnect")
                                         .Number("conn", id)
                                         .Number("port", connection.port)
                                         .Text("reason", reason));
    }

    void CloseFinished() {
        for (auto it = connections_.begin(); it != connections_.end();) {
            Connection& connection = it->second;
            if (!connection.dead && connection.closeAfterSend &&
                connection.sent == connection.out.size()) {
                Drop(it->first, connection, "machine-closed");
            }
            it = connection.dead ? connections_.erase(it) : std::next(it);
        }
    }

    // The machines that decided to restart stop listening on TCP for the restart time.
    void StartRestarts() {
        for (Station* station : restartsDue_) {
            station->log.Emit(
                Event("restart").Text("cause", station->pendingRestart).Number("ms", restartMs_));
            station->pendingRestart.clear();
            for (Listener& listener : station->listeners) {
                if (!listener.plan.udp)
                    CloseListener(listener);
            }
            station->machine.OnRestart();
            if (!station->restarting)
                restarting_.push_back(station);
            station->restarting = true;
            station->restartEndsMs = NowMs() + restartMs_;
        }
        restartsDue_.clear();
    }

    // The machines whose restart time is over listen again.
    bool EndRestarts(long long now, std::string& error) {
        for (auto it = restarting_.begin(); it != restarting_.end();) {
            Station& station = **it;
            if (now < station.restartEndsMs) {
                ++it;
                continue;
            }
            for (size_t i = 0; i < station.listeners.size(); ++i) {
                if (station.listeners[i].fd >= 0)
                    continue;
                if (const int failure = OpenListener(station, i)) {
                    error =
                        BindError(station.listeners[i].plan, station.machine.Address(), failure);
                    return false;
                }
            }
            station.restarting = false;
            station.log.Emit(Event("ready"));
            it = restarting_.erase(it);
        }
        return true;
    }

    const EventLog& log_;
    const int restartMs_;
    int epoll_ = -1;
    std::vector<std::unique_ptr<Station>> stations_;
    std::map<int, Connection> connections_;
    int lastConnection_ = 0;
    std::vector<Station*> restartsDue_;
    std::vector<Station*> restarting_;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kReadChunk);
};

bool InstallSignals(std::string& error) {
    if (signalPipe[0] < 0 && pipe2(signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a reader of standard output that went away is no reason to die
    return true;
}

}  // namespace

ServeResult Serve(std::vector<MachinePlan> plans, int restartMs, const EventLog& log) {
    ServeResult result;
    if (!InstallSignals(result.error)) {
        result.exitCode = 1;
        return result;
    }
    Server server(std::move(plans), restartMs, log);
    return server.Run();
}

}  // namespace sim
