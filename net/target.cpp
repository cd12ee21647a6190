#include "net/target.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <map>
#include <utility>

#include "platform/ascii_case.h"
#include "platform/host_address.h"

namespace kelo {
namespace {

std::optional<uint32_t> SystemNameService(const std::string& name) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 ||
        result == nullptr) {
        return std::nullopt;
    }
    const uint32_t address =
        ntohl(reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(result);
    return address;
}

NameService& InstalledNameService() {
    static NameService service = SystemNameService;
    return service;
}

// The answers of the outermost scope, by host compared without case as DNS compares names;
// null while no scope lives. The core is single-threaded, as every run is.
std::map<std::string, Target>* g_answers = nullptr;

std::string Key(const std::string& host) {
    std::string key = host;
    for (char& c : key)
        c = static_cast<char>(platform::AsciiLower(c));
    return key;
}

// Asks the name service, and refuses an answer that is no one machine's address.
Target LookUp(const std::string& host) {
    in_addr quad{};
    if (::inet_pton(AF_INET, host.c_str(), &quad) == 1)
        return Target{ntohl(quad.s_addr), std::nullopt};
    const std::optional<uint32_t> address = InstalledNameService()(host);
    if (!address)
        return Target{};
    if (std::optional<std::string> why = platform::NoMachineAddress(*address)) {
        return Target{std::nullopt, host + " resolves to " + platform::DottedQuad(*address) + ", " +
                                        *why + ", not a machine's"};
    }
    return Target{address, std::nullopt};
}

}  // namespace

NameService ReplaceNameService(NameService service) {
    NameService previous = std::move(InstalledNameService());
    InstalledNameService() = service ? std::move(service) : NameService(SystemNameService);
    return previous;
}

TargetScope::TargetScope() : outermost_(g_answers == nullptr) {
    if (outermost_)
        g_answers = new std::map<std::string, Target>();
}

TargetScope::~TargetScope() {
    if (!outermost_)
        return;
    delete g_answers;
    g_answers = nullptr;
}

void FixTarget(const std::string& host, uint32_t address) {
    if (g_answers != nullptr)
        (*g_answers)[Key(host)] = Target{address, std::nullopt};
}

Target ResolveTarget(const std::string& host) {
    if (std::optional<std::string> refusal = platform::RefusedHostForm(host))
        return Target{std::nullopt, std::move(refusal)};
    if (g_answers == nullptr)
        return LookUp(host);
    const std::string key = Key(host);
    if (const auto known = g_answers->find(key); known != g_answers->end())
        return known->second;
    return g_answers->emplace(key, LookUp(host)).first->second;
}

std::string HostWithAddress(const std::string& host, uint32_t address) {
    const std::string quad = platform::DottedQuad(address);
    return host == quad ? quad : host + " (" + quad + ")";
}

}  // namespace kelo
