// The machine a run reaches. A host is looked up once in a run: the first lookup of each host
// fixes its address for the rest of the run, and every connection and datagram of the run
// goes there. A resolver that answers a name with two addresses in turn would otherwise split
// one exchange between two machines, half a parameter set into each. Socket::ResolveIPv4,
// which every connection of the client asks, goes through here.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kelo {

// What a host reaches: its IPv4 address (host byte order), or none. A refusal says why the
// host is no machine to service (a refused numeric form, a name that resolves to the broadcast
// address); a host that merely resolves to nothing has neither.
struct Target {
    std::optional<uint32_t> address;
    std::optional<std::string> refusal;
};

// Asks the name service for a name's IPv4 address; nullopt when it gives none. Tests replace it
// (ReplaceNameService) to answer as a hostile resolver would.
using NameService = std::function<std::optional<uint32_t>(const std::string& name)>;

// Installs service for every later lookup and returns the one it replaces; an empty function
// brings back the system's resolver (getaddrinfo).
NameService ReplaceNameService(NameService service);

// One run: while a scope lives, each host resolves once and keeps that answer (an address, or
// none). Scopes nest; the outermost keeps the answers, and they are forgotten when it ends.
class TargetScope {
  public:
    TargetScope();
    ~TargetScope();
    TargetScope(const TargetScope&) = delete;
    TargetScope& operator=(const TargetScope&) = delete;

  private:
    bool outermost_;
};

// Fixes the address of host for the current scope, without asking the name service: a host
// list's run goes to the address its list was checked with. No effect outside a scope.
void FixTarget(const std::string& host, uint32_t address);

// What host reaches: a dotted quad as written, else the name service's answer, which within a
// scope is asked once. Refused numeric forms and addresses that are no one machine's reach
// nothing, with the reason.
Target ResolveTarget(const std::string& host);

// "printer-a (10.0.0.7)" for a name, the address alone for a dotted quad: how a host is shown
// where the address it reached matters.
std::string HostWithAddress(const std::string& host, uint32_t address);

}  // namespace kelo
