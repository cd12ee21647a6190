// The host list of `kelo-cli --hosts FILE`: one host a line, optionally followed by its machine
// type; blank lines and lines starting with '#' are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelo::cli {

// The field of the -o template that stands for each host.
inline constexpr char kHostField[] = "{host}";

struct HostEntry {
    std::string host;
    std::optional<int> machineTypeIndex;  // 0 to 3 when the line names a type
    int line = 0;                         // from 1
};

struct HostListParse {
    bool ok = false;
    std::string error;  // "hosts.txt:3: ..." when not ok
    std::vector<HostEntry> hosts;
};

// Reads the whole list: the file at path, or standard input for "-". Returns the OS error
// naming the file (or "standard input") when it cannot be read, nullopt when it was.
std::optional<std::string> ReadHostList(const std::string& path, std::string& text);

// Parses the text of a list; name is the file's name as the messages show it. A list without
// hosts, a host twice, or a host in a numeric form other than a dotted quad is refused.
HostListParse ParseHostList(const std::string& text, const std::string& name);

// The IPv4 address (host byte order) a host reaches; nullopt when it resolves to none.
using HostResolver = std::function<std::optional<uint32_t>(const std::string& host)>;

// The address a host's run connects to, resolved as its connection resolves it: only the name
// service is asked, no machine.
std::optional<uint32_t> ResolveHost(const std::string& host);

// Two hosts of the list that reach one machine would race for it, as a host listed twice
// does: the message naming both lines, or nullopt when every host reaches its own address.
std::optional<std::string> SharedMachine(const std::vector<HostEntry>& hosts,
                                         const std::string& name,
                                         const HostResolver& resolve = ResolveHost);

// The name the messages give a list read from path.
std::string HostListName(const std::string& path);

// The template with every {host} replaced by the host.
std::string ExpandHostTemplate(const std::string& pattern, const std::string& host);

}  // namespace kelo::cli
