#include "discover/address_block.h"

#include <arpa/inet.h>

#include <charconv>
#include <set>

namespace kelo::discover {
namespace {

// How many hosts the block holds, and the first of them.
struct HostRange {
    uint64_t count;
    Address first;
};

HostRange HostsOf(const AddressBlock& block) {
    const uint64_t size = uint64_t{1} << (32 - block.prefix);
    if (size <= 2)
        return {size, block.network};
    return {size - 2, block.network + 1};
}

}  // namespace

std::optional<Address> ParseAddress(const std::string& dotted) {
    in_addr address{};
    if (inet_pton(AF_INET, dotted.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string AddressText(Address address) {
    in_addr raw{};
    raw.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &raw, text, sizeof text);
    return text;
}

std::optional<AddressBlock> ParseAddressBlock(const std::string& text) {
    const size_t slash = text.find('/');
    const std::optional<Address> address = ParseAddress(text.substr(0, slash));
    if (!address)
        return std::nullopt;
    AddressBlock block;
    if (slash != std::string::npos) {
        const char* first = text.data() + slash + 1;
        const char* last = text.data() + text.size();
        const auto [stop, error] = std::from_chars(first, last, block.prefix);
        if (first == last || *first == '-' || error != std::errc() || stop != last ||
            block.prefix > 32) {
            return std::nullopt;
        }
    }
    const Address mask = block.prefix == 0 ? 0 : ~Address{0} << (32 - block.prefix);
    block.network = *address & mask;
    return block;
}

std::optional<std::vector<Address>> HostAddresses(const std::vector<AddressBlock>& blocks,
                                                  size_t limit) {
    std::set<Address> hosts;
    for (const AddressBlock& block : blocks) {
        const HostRange range = HostsOf(block);
        // One block over the limit is too many however the others overlap it.
        if (range.count > limit)
            return std::nullopt;
        for (uint64_t i = 0; i < range.count; ++i)
            hosts.insert(range.first + static_cast<Address>(i));
        if (hosts.size() > limit)
            return std::nullopt;
    }
    return std::vector<Address>(hosts.begin(), hosts.end());
}

}  // namespace kelo::discover
