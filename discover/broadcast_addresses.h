// Where a discovery without a subnet sends its status request, and from where answers to it
// may come.
#pragma once

#include <vector>

#include "discover/address_block.h"

namespace kelo::discover {

// A network a broadcast goes out on: its broadcast address, and the block whose addresses may
// answer it.
struct BroadcastNetwork {
    Address broadcast = 0;
    AddressBlock network;
};

// The broadcast address of an interface address: the one the system gives, unless it is
// missing or the address itself (as for an address added without one), then the address with
// every host bit set. nullopt when the block has no broadcast address (a /31 or /32).
std::optional<Address> BroadcastOf(Address address, Address netmask, std::optional<Address> given);

// The network of every IPv4 interface address that is up and can broadcast, loopback left
// out; each broadcast address once, in the order the system lists the interfaces.
std::vector<BroadcastNetwork> BroadcastNetworks();

}  // namespace kelo::discover
