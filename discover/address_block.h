// IPv4 addresses as discovery takes them: blocks written ADDRESS/PREFIX, and the host
// addresses they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelo::discover {

// An IPv4 address in host byte order, so that addresses sort as numbers.
using Address = uint32_t;

// One discovery probes at most this many addresses.
constexpr size_t kMaxProbedAddresses = 65536;

// A dotted IPv4 address ("192.0.2.7"); nullopt for anything else.
std::optional<Address> ParseAddress(const std::string& dotted);
std::string AddressText(Address address);

struct AddressBlock {
    Address network = 0;
    int prefix = 32;
};

// "192.0.2.0/24" (the host bits of the address are ignored) or a single address, which is a
// block of one; nullopt for anything else.
std::optional<AddressBlock> ParseAddressBlock(const std::string& text);

// The host addresses of the blocks, each once, in ascending order: every address of a block
// but its network and broadcast address (a /31 or /32 has neither). nullopt when they are
// more than the limit.
std::optional<std::vector<Address>> HostAddresses(const std::vector<AddressBlock>& blocks,
                                                  size_t limit = kMaxProbedAddresses);

}  // namespace kelo::discover
