// Where a discovery without a subnet sends its status request.
#pragma once

#include <vector>

#include "discover/address_block.h"

namespace kelo::discover {

// The broadcast address of every IPv4 interface that is up and can broadcast, loopback left
// out; each once, in the order the system lists the interfaces.
std::vector<Address> BroadcastAddresses();

}  // namespace kelo::discover
