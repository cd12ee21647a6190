// Host names as the C library reads them. Its resolver takes more than dotted quads as IPv4
// addresses (inet_aton): fields with a leading zero are octal, "0x" fields hexadecimal, and
// fewer than four fields fill the last one's bytes, so "10.78.1.020" reaches 10.78.1.16 and
// "10.1" reaches 10.0.0.1. Kelo takes a host that would be read so only as a plain dotted quad.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelo::platform {

// Why the host is refused, naming it and what it would reach ("10.78.1.020: write IPv4
// addresses without leading zeros (did you mean 10.78.1.20?)"); nullopt for a plain dotted
// quad of a machine, and for a name. Refused besides the C library's other IPv4 forms: a
// numeric form with a trailing dot (the resolver would take it for a name), every IPv6
// literal (Kelo speaks IPv4 only), and the addresses that are no one machine's.
std::optional<std::string> RefusedHostForm(const std::string& host);

// What makes an address no one machine's ("the unspecified address", "the broadcast address",
// "a multicast address"); nullopt for any other. address is in host byte order.
std::optional<std::string> NoMachineAddress(uint32_t address);

// An IPv4 address in host byte order as a plain dotted quad: "10.78.1.20".
std::string DottedQuad(uint32_t address);

}  // namespace kelo::platform
