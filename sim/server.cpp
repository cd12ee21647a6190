// The event loop of every machine of the process: one epoll instance watches the stop
// signal's pipe, every listener and every connection; it accepts connections, hands datagrams
// to the SNMP agents, moves bytes between the sockets and the sessions, and runs the restarts.
#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "sim/connection.h"
#include "sim/listeners.h"
#include "sim/socket_faults.h"
#include "sim/station.h"

namespace kelo::sim {
namespace {

constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxConnections = 64;  // per machine
constexpr int kAcceptsPerWake = 16;
constexpr int kDatagramsPerWake = 64;
constexpr int kEventsPerWait = 256;
// Files a process needs beside its listeners: the standard streams, the signal pipe, the
// epoll instance, and its connections.
constexpr rlim_t kSpareFiles = 256;

int signalPipe[2] = {-1, -1};

void OnStopSignal(int signalNumber) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

std::string PeerText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

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
            connection.Close(id, "stopping");
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

    // Binds one port; returns 0, or the errno of what failed.
    int OpenListener(Station& station, size_t listenerIndex) {
        Listener& listener = station.listeners[listenerIndex];
        const uint64_t token = ListenerToken(station.index, listenerIndex);
        return sim::OpenListener(listener, station.machine.Address(),
                                 NeverAccepts(listener.plan, station.machine.GetFaults()),
                                 [this, token](int fd) { return Watch(fd, token, EPOLLIN); });
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
            const uint32_t events = connection.WantedEvents(now, wakeMs);
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
                const bool dead = station.machine.GetFaults().silentAfterRestart;
                station.log.Emit(Event("snmp-dropped")
                                     .Text("peer", PeerText(peer))
                                     .Number("bytes", got)
                                     .Text("reason", dead ? "silent-after-restart" : "restarting"));
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
        if (events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            if (const char* reason = connection.Receive(buffer_))
                connection.Close(id, reason);
        }
        if (!connection.dead && (events & EPOLLOUT)) {
            if (const char* reason = connection.Send())
                connection.Close(id, reason);
        }
    }

    void CloseFinished() {
        for (auto it = connections_.begin(); it != connections_.end();) {
            Connection& connection = it->second;
            if (connection.Finished())
                connection.Close(it->first, "machine-closed");
            it = connection.dead ? connections_.erase(it) : std::next(it);
        }
    }

    // The machines that decided to restart stop listening on TCP for the restart time. The
    // event goes out once the listeners are closed, so that whoever waits for it finds the
    // machine already gone.
    void StartRestarts() {
        for (Station* station : restartsDue_) {
            for (Listener& listener : station->listeners) {
                if (!listener.plan.udp)
                    CloseListener(listener);
            }
            station->log.Emit(
                Event("restart").Text("cause", station->pendingRestart).Number("ms", restartMs_));
            station->pendingRestart.clear();
            station->machine.OnRestart();
            // silent-after-restart: the machine never comes back, as one that was switched off
            // instead of restarted; its restart has no end.
            const bool comesBack = !station->machine.GetFaults().silentAfterRestart;
            if (!station->restarting && comesBack)
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

}  // namespace kelo::sim
