// Host names as the C library reads them. Its resolver takes more than dotted quads as IPv4
// addresses (inet_aton): fields with a leading zero are octal, "0x" fields hexadecimal, and
// fewer than four fields fill the last one's bytes, so "10.78.1.020" reaches 10.78.1.16 and
// "10.1" reaches 10.0.0.1. Kelo takes a host that would be read so only as a plain dotted quad.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Why the host is refused, naming it and what it would reach ("10.78.1.020: write IPv4
// addresses without leading zeros (did you mean 10.78.1.20?)"); nullopt for a plain dotted
// quad, and for any host the C library does not read as an IPv4 address (a name, IPv6).
std::optional<std::string> RefusedHostForm(const std::string& host);

// An IPv4 address in host byte order as a plain dotted quad: "10.78.1.20".
std::string DottedQuad(uint32_t address);

}  // namespace platform
