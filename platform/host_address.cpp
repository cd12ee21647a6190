#include "platform/host_address.h"

#include <arpa/inet.h>

#include <cstdint>
#include <vector>

namespace kelo::platform {
namespace {

// One field of an address as the C library reads it: decimal, octal after a leading zero,
// hexadecimal after "0x".
struct Field {
    std::string text;
    uint64_t value = 0;
    bool hexadecimal = false;
    bool octal = false;  // a leading zero before further digits
};

// The fields of host in the C library's IPv4 grammar: one to four fields of digits between
// dots, the last of which fills the bytes the missing ones leave. Empty for any other text.
std::vector<Field> ReadFields(const std::string& host) {
    std::vector<Field> fields;
    size_t at = 0;
    for (;;) {
        Field field;
        const size_t start = at;
        unsigned base = 10;
        if (at < host.size() && host[at] == '0' && at + 1 < host.size() &&
            (host[at + 1] == 'x' || host[at + 1] == 'X')) {
            base = 16;
            at += 2;
        } else if (at < host.size() && host[at] == '0') {
            base = 8;
        }
        const size_t digitsStart = at;
        for (; at < host.size(); ++at) {
            const char c = host[at];
            unsigned digit = 16;
            if (c >= '0' && c <= '9')
                digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<unsigned>(c - 'A' + 10);
            if (digit >= base)
                break;
            field.value = field.value * base + digit;
            if (field.value > 0xFFFFFFFFu)
                return {};
        }
        if (at == digitsStart)
            return {};
        field.text = host.substr(start, at - start);
        field.hexadecimal = base == 16;
        field.octal = base == 8 && at - digitsStart > 1;
        fields.push_back(field);
        if (at == host.size())
            break;
        if (host[at] != '.' || fields.size() == 4)
            return {};
        ++at;
    }
    return fields;
}

// The address the fields reach, or nullopt where a field is too large for its place.
std::optional<uint32_t> AddressOf(const std::vector<Field>& fields) {
    uint32_t address = 0;
    for (size_t i = 0; i + 1 < fields.size(); ++i) {
        if (fields[i].value > 0xFF)
            return std::nullopt;
        address |= static_cast<uint32_t>(fields[i].value) << (24 - 8 * i);
    }
    const size_t filledBytes = 5 - fields.size();
    const uint64_t largest = (uint64_t{1} << (8 * filledBytes)) - 1;
    if (fields.back().value > largest)
        return std::nullopt;
    return address | static_cast<uint32_t>(fields.back().value);
}

// The four decimal fields with their leading zeros taken off, when that gives a dotted quad:
// what "10.78.1.020" was most likely meant to be.
std::optional<std::string> WithoutLeadingZeros(const std::vector<Field>& fields) {
    if (fields.size() != 4)
        return std::nullopt;
    std::string quad;
    for (const Field& field : fields) {
        if (field.hexadecimal)
            return std::nullopt;
        const size_t first = field.text.find_first_not_of('0');
        const std::string digits = first == std::string::npos ? "0" : field.text.substr(first);
        if (digits.size() > 3 || std::stoi(digits) > 255)
            return std::nullopt;
        quad += (quad.empty() ? "" : ".") + digits;
    }
    return quad;
}

std::optional<uint32_t> DottedQuadAddress(const std::string& host) {
    in_addr address{};
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

// "HOST: A is the broadcast address, not a machine's".
std::string NotAMachine(const std::string& host, uint32_t address, const std::string& why) {
    return host + ": " + DottedQuad(address) + " is " + why + ", not a machine's";
}

// The refusal of one of the C library's numeric forms other than a dotted quad, saying what it
// would reach; nullopt when host is none of them.
std::optional<std::string> RefusedNumericForm(const std::string& host);

// A numeric form with a dot at its end goes to the resolver as a name, which may answer it with
// any address at all.
std::optional<std::string> RefusedTrailingDot(const std::string& host) {
    if (host.size() < 2 || host.back() != '.')
        return std::nullopt;
    const std::string bare = host.substr(0, host.size() - 1);
    if (!DottedQuadAddress(bare) && ReadFields(bare).empty())
        return std::nullopt;  // a name written with its root dot
    if (std::optional<std::string> refusal = RefusedHostForm(bare))
        return host + refusal->substr(bare.size());
    return host + ": write IPv4 addresses without a dot at the end (did you mean " + bare + "?)";
}

}  // namespace

std::string DottedQuad(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::optional<std::string> NoMachineAddress(uint32_t address) {
    if (address == 0)
        return "the unspecified address";
    if (address == 0xFFFFFFFFu)
        return "the broadcast address";
    if ((address >> 28) == 0xE)
        return "a multicast address";
    return std::nullopt;
}

std::optional<std::string> RefusedHostForm(const std::string& host) {
    if (const std::optional<uint32_t> quad = DottedQuadAddress(host)) {
        if (std::optional<std::string> why = NoMachineAddress(*quad))
            return NotAMachine(host, *quad, *why);
        return std::nullopt;
    }
    // No name holds a colon: every IPv6 form (with brackets, a zone, an embedded IPv4 address).
    if (host.find(':') != std::string::npos)
        return host + ": Kelo speaks IPv4 only; give the machine's IPv4 address or name";
    if (std::optional<std::string> refusal = RefusedTrailingDot(host))
        return refusal;
    return RefusedNumericForm(host);
}

namespace {

std::optional<std::string> RefusedNumericForm(const std::string& host) {
    const std::vector<Field> fields = ReadFields(host);
    if (!fields.empty()) {
        const std::optional<uint32_t> address = AddressOf(fields);
        if (!address)
            return std::nullopt;  // no address to the C library either: a name that fails
        bool octal = false;
        bool hexadecimal = false;
        for (const Field& field : fields) {
            octal = octal || field.octal;
            hexadecimal = hexadecimal || field.hexadecimal;
        }
        const std::string reached = DottedQuad(*address);
        // Never suggest an address that no machine has.
        if (std::optional<std::string> why = NoMachineAddress(*address)) {
            return host + ": write IPv4 addresses as four decimal numbers (this one reaches " +
                   reached + ", " + *why + ", not a machine's)";
        }
        if (octal) {
            if (std::optional<std::string> meant = WithoutLeadingZeros(fields)) {
                return host + ": write IPv4 addresses without leading zeros (did you mean " +
                       *meant + "?)";
            }
            return host + ": write IPv4 addresses without leading zeros (this one reaches " +
                   reached + ")";
        }
        if (hexadecimal)
            return host + ": write IPv4 addresses in decimal (did you mean " + reached + "?)";
        return host + ": write IPv4 addresses as four numbers (did you mean " + reached + "?)";
    }
    // The C library also takes what follows white space after an address; such a host is
    // no name either.
    in_addr read{};
    if (inet_aton(host.c_str(), &read) != 0) {
        return host + ": write IPv4 addresses as four decimal numbers (this one reaches " +
               DottedQuad(ntohl(read.s_addr)) + ")";
    }
    return std::nullopt;
}

}  // namespace

}  // namespace kelo::platform
