#include "discover/broadcast_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <bit>

namespace kelo::discover {
namespace {

Address AddressOf(const sockaddr* socketAddress) {
    return ntohl(reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr);
}

bool IsIpv4(const sockaddr* socketAddress) {
    return socketAddress != nullptr && socketAddress->sa_family == AF_INET;
}

}  // namespace

std::optional<Address> BroadcastOf(Address address, Address netmask, std::optional<Address> given) {
    if (std::popcount(netmask) >= 31)
        return std::nullopt;
    if (given && *given != 0 && *given != address)
        return given;
    return address | ~netmask;
}

std::vector<BroadcastNetwork> BroadcastNetworks() {
    std::vector<BroadcastNetwork> networks;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return networks;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_BROADCAST) == 0 || (flags & IFF_LOOPBACK) != 0)
            continue;
        if (!IsIpv4(entry->ifa_addr) || !IsIpv4(entry->ifa_netmask))
            continue;
        const Address address = AddressOf(entry->ifa_addr);
        const Address netmask = AddressOf(entry->ifa_netmask);
        const std::optional<Address> given = IsIpv4(entry->ifa_broadaddr)
                                                 ? std::optional(AddressOf(entry->ifa_broadaddr))
                                                 : std::nullopt;
        const std::optional<Address> broadcast = BroadcastOf(address, netmask, given);
        if (!broadcast || std::any_of(networks.begin(), networks.end(), [&](const auto& known) {
                return known.broadcast == *broadcast;
            })) {
            continue;
        }
        networks.push_back({*broadcast, {address & netmask, std::popcount(netmask)}});
    }
    freeifaddrs(list);
    return networks;
}

}  // namespace kelo::discover
