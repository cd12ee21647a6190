#include "sim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

namespace sim {
namespace {

constexpr size_t kReadChunk = 65536;
constexpr size_t kMaxConnections = 64;
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
};

std::vector<PortPlan> PortsOf(int machineType) {
    switch (machineType) {
        case 1:
        case 2:
            return {{515, false, PortRole::kLpd}, {161, true, PortRole::kLpd}};
        case 3:
            return {{9101, false, PortRole::kPackets}, {9100, false, PortRole::kRawImage}};
        default:
            return {{9500, false, PortRole::kPackets}, {9100, false, PortRole::kRawImage}};
    }
}

struct Listener {
    PortPlan plan;
    int fd = -1;
};

struct Connection {
    int fd = -1;
    uint16_t port = 0;
    std::unique_ptr<Session> session;
    std::string out;
    size_t sent = 0;
    bool closeAfterSend = false;
    bool dead = false;
    long long nextSendMs = 0;
    size_t trickleStep = 0;
};

class Server {
  public:
    Server(Machine& machine, std::string bindAddress, int restartMs)
        : machine_(machine), bindAddress_(std::move(bindAddress)), restartMs_(restartMs) {
        for (const PortPlan& plan : PortsOf(machine.Type()))
            listeners_.push_back({plan, -1});
        machine_.SetRestartHook([this](const std::string& cause) { pendingRestart_ = cause; });
    }

    ~Server() {
        for (Listener& listener : listeners_)
            CloseListener(listener);
        for (auto& [id, connection] : connections_) {
            if (connection.fd >= 0)
                close(connection.fd);
        }
    }

    ServeResult Run() {
        ServeResult result;
        if (!OpenListeners(result.error)) {
            result.exitCode = 2;
            return result;
        }
        EmitListening();
        const int signalNumber = Loop(result);
        if (result.exitCode != 0)
            return result;
        for (auto& [id, connection] : connections_)
            Drop(id, connection, "stopping");
        machine_.Log().Emit(Event("stopped").Number("signal", signalNumber));
        return result;
    }

  private:
    bool OpenListeners(std::string& error) {
        in_addr address{};
        inet_pton(AF_INET, bindAddress_.c_str(), &address);
        for (Listener& listener : listeners_) {
            if (listener.fd < 0 && !OpenListener(listener, address, error))
                return false;
        }
        return true;
    }

    bool OpenListener(Listener& listener, const in_addr& address, std::string& error) {
        const PortPlan& plan = listener.plan;
        const int fd = socket(
            AF_INET, (plan.udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = std::string("cannot create a socket: ") + std::strerror(errno);
            return false;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(plan.port);
        local.sin_addr = address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            (!plan.udp && listen(fd, 16) != 0)) {
            const int failure = errno;
            close(fd);
            error = std::string("cannot bind ") + (plan.udp ? "UDP " : "TCP ") +
                    std::to_string(plan.port) + " on " + bindAddress_ + ": " +
                    std::strerror(failure);
            if (failure == EACCES && plan.port < 1024) {
                error +=
                    " (ports below 1024 need root or a network namespace of your own, "
                    "e.g. unshare --net --map-root-user)";
            }
            return false;
        }
        listener.fd = fd;
        return true;
    }

    static void CloseListener(Listener& listener) {
        if (listener.fd >= 0)
            close(listener.fd);
        listener.fd = -1;
    }

    void EmitListening() {
        std::string tcp;
        std::string udp;
        for (const Listener& listener : listeners_) {
            std::string& list = listener.plan.udp ? udp : tcp;
            if (!list.empty())
                list += ',';
            list += std::to_string(listener.plan.port);
        }
        machine_.Log().Emit(
            Event("listening")
                .Number("type", machine_.Type())
                .Text("bind", bindAddress_)
                .Text("tcp", tcp)
                .Text("udp", udp)
                .Number("restart_ms", restartMs_)
                .Text("faults", EnabledFaultNames(machine_.GetFaults()))
                .Number("report_bytes", static_cast<long long>(machine_.Report().size()))
                .Number("params_bytes", static_cast<long long>(machine_.Parameters().size())));
    }

    // Runs until a stop signal; returns its number (0 when the loop failed).
    int Loop(ServeResult& result) {
        std::vector<pollfd> fds;
        std::vector<int> owners;  // per entry: -1 signal pipe, -2 - index listener, else conn id
        while (true) {
            const long long now = NowMs();
            if (restarting_ && now >= restartEndsMs_) {
                if (!OpenListeners(result.error)) {
                    result.exitCode = 1;
                    return 0;
                }
                restarting_ = false;
                machine_.Log().Emit(Event("ready"));
            }
            fds.clear();
            owners.clear();
            fds.push_back({signalPipe[0], POLLIN, 0});
            owners.push_back(-1);
            for (size_t i = 0; i < listeners_.size(); ++i) {
                if (listeners_[i].fd < 0)
                    continue;
                fds.push_back({listeners_[i].fd, POLLIN, 0});
                owners.push_back(-2 - static_cast<int>(i));
            }
            long long wakeMs = restarting_ ? restartEndsMs_ : -1;
            for (auto& [id, connection] : connections_) {
                short events = connection.closeAfterSend ? 0 : POLLIN;
                if (connection.sent < connection.out.size()) {
                    if (connection.nextSendMs <= now) {
                        events |= POLLOUT;
                    } else if (wakeMs < 0 || connection.nextSendMs < wakeMs) {
                        wakeMs = connection.nextSendMs;
                    }
                }
                fds.push_back({connection.fd, events, 0});
                owners.push_back(id);
            }
            const int timeout = wakeMs < 0 ? -1 : static_cast<int>(std::max(0LL, wakeMs - now));
            if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
                result.error = std::string("poll failed: ") + std::strerror(errno);
                result.exitCode = 1;
                return 0;
            }
            if (fds[0].revents & POLLIN) {
                unsigned char signalNumber = 0;
                [[maybe_unused]] ssize_t got = read(signalPipe[0], &signalNumber, 1);
                return signalNumber;
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0)
                    continue;
                if (owners[i] <= -2) {
                    Listener& listener = listeners_[static_cast<size_t>(-2 - owners[i])];
                    if (listener.plan.udp) {
                        ServeDatagrams(listener.fd);
                    } else {
                        Accept(listener);
                    }
                } else {
                    Service(owners[i], fds[i].revents);
                }
            }
            CloseFinished();
            ApplyRestart();
        }
    }

    void Accept(Listener& listener) {
        for (int i = 0; i < 16; ++i) {
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
            if (connections_.size() >= kMaxConnections) {
                machine_.Log().Emit(event.Flag("refused", true));
                close(fd);
                continue;
            }
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            machine_.Log().Emit(event);
            Connection& connection = connections_[id];
            connection.fd = fd;
            connection.port = listener.plan.port;
            connection.session = MakeSession(listener.plan.role, machine_, id);
        }
    }

    void ServeDatagrams(int fd) {
        std::vector<uint8_t> datagram(kReadChunk);
        for (int i = 0; i < 64; ++i) {
            sockaddr_in peer{};
            socklen_t size = sizeof peer;
            const ssize_t got = recvfrom(fd, datagram.data(), datagram.size(), 0,
                                         reinterpret_cast<sockaddr*>(&peer), &size);
            if (got < 0)
                return;
            if (restarting_) {
                // A booting machine's agent is not up yet: the request gets no answer at all.
                machine_.Log().Emit(Event("snmp-dropped")
                                        .Text("peer", PeerText(peer))
                                        .Number("bytes", got)
                                        .Text("reason", "restarting"));
                continue;
            }
            const std::vector<uint8_t> answer =
                machine_.AnswerSnmp(datagram.data(), static_cast<size_t>(got), PeerText(peer));
            if (!answer.empty()) {
                sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                       size);
            }
        }
    }

    void Service(int id, short revents) {
        Connection& connection = connections_[id];
        if (connection.dead)
            return;
        if (revents & (POLLIN | POLLHUP | POLLERR))
            Read(id, connection);
        if (!connection.dead && (revents & POLLOUT))
            Write(id, connection);
    }

    void Read(int id, Connection& connection) {
        if (connection.closeAfterSend) {
            if (PeerLeft(connection))
                Drop(id, connection, "peer-closed");
            return;
        }
        std::vector<uint8_t> buffer(kReadChunk);
        const ssize_t got = recv(connection.fd, buffer.data(), buffer.size(), 0);
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
        connection.session->Receive(buffer.data(), static_cast<size_t>(got), out);
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
        const bool trickle = machine_.GetFaults().slowTrickle;
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
        close(connection.fd);
        connection.fd = -1;
        machine_.Log().Emit(Event("disconnect")
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

    void ApplyRestart() {
        if (pendingRestart_.empty())
            return;
        machine_.Log().Emit(
            Event("restart").Text("cause", pendingRestart_).Number("ms", restartMs_));
        pendingRestart_.clear();
        for (Listener& listener : listeners_) {
            if (!listener.plan.udp)
                CloseListener(listener);
        }
        machine_.OnRestart();
        restarting_ = true;
        restartEndsMs_ = NowMs() + restartMs_;
    }

    Machine& machine_;
    const std::string bindAddress_;
    const int restartMs_;
    std::vector<Listener> listeners_;
    std::map<int, Connection> connections_;
    int lastConnection_ = 0;
    std::string pendingRestart_;
    bool restarting_ = false;
    long long restartEndsMs_ = 0;
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

ServeResult Serve(Machine& machine, const std::string& bindAddress, int restartMs) {
    ServeResult result;
    if (!InstallSignals(result.error)) {
        result.exitCode = 1;
        return result;
    }
    Server server(machine, bindAddress, restartMs);
    return server.Run();
}

}  // namespace sim
