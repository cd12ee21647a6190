#include "sim/listeners.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/socket_faults.h"

namespace kelo::sim {
namespace {

constexpr int kListenBacklog = 16;

}  // namespace

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

int OpenListener(Listener& listener, const std::string& machineAddress, bool neverAccepts,
                 const std::function<bool(int fd)>& watch) {
    const PortPlan& plan = listener.plan;
    const int fd =
        socket(AF_INET, (plan.udp ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(plan.port);
    const std::string& address = listener.broadcast.empty() ? machineAddress : listener.broadcast;
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    // A backlog of 0 lets one connection wait; once it does, the kernel drops new SYNs.
    const int backlog = neverAccepts ? 0 : kListenBacklog;
    int failure = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        (!plan.udp && listen(fd, backlog) != 0)) {
        failure = errno;
    } else if (neverAccepts) {
        failure = FillAcceptQueue(listener, local);
    } else if (!watch(fd)) {
        failure = errno;
    }
    return KeepUnlessFailed(fd, failure, listener.fd);
}

void CloseListener(Listener& listener) {
    if (listener.fd >= 0)
        close(listener.fd);
    listener.fd = -1;
    if (listener.filler >= 0)
        close(listener.filler);
    listener.filler = -1;
}

int KeepUnlessFailed(int fd, int failure, int& slot) {
    if (failure != 0) {
        close(fd);
        return failure;
    }
    slot = fd;
    return 0;
}

std::string BindError(const PortPlan& plan, const std::string& address, int failure) {
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

void MissingAgents::Add(const std::string& address, int error) {
    if (count++ == 0) {
        firstAddress = address;
        failure = error;
    }
}

void MissingAgents::Report() const {
    if (count == 0)
        return;
    std::string where = firstAddress;
    if (count > 1)
        where += " and " + std::to_string(count - 1) + " more addresses";
    std::fprintf(stderr,
                 "kelo-sim: cannot bind UDP 161 on %s: %s; serving without the SNMP agent\n",
                 where.c_str(), std::strerror(failure));
}

}  // namespace kelo::sim
