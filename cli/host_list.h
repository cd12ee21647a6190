// The host list of `kelo-cli --hosts FILE`: one host a line, optionally followed by its machine
// type; blank lines and lines starting with '#' are skipped.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "net/target.h"

namespace kelo::cli {

// The field of the -o template that stands for each host.
inline constexpr char kHostField[] = "{host}";

struct HostEntry {
    std::string host;
    std::optional<int> machineTypeIndex;  // 0 to 3 when the line names a type
    int line = 0;                         // from 1
    std::optional<uint32_t> address;      // what the host reached when the list was checked
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

// What a host reaches (net/target.h): only the name service is asked, no machine.
using HostResolver = std::function<Target(const std::string& host)>;

// Resolves every host of the list once, as its run then reaches it, and notes the address in
// its entry. Two hosts that reach one machine would race for it, as a host listed twice does;
// a host that reaches no one machine's address is refused too: the message naming the line
// (and the other host's), or nullopt. A host that resolves to nothing fails in its own run.
// name is how the messages name the list: its file, or the run it resumes.
std::optional<std::string> ResolveListTargets(std::vector<HostEntry>& hosts,
                                              const std::string& name,
                                              const HostResolver& resolve = ResolveTarget);

// The name the messages give a list read from path.
std::string HostListName(const std::string& path);

// The template with every {host} replaced by the host.
std::string ExpandHostTemplate(const std::string& pattern, const std::string& host);

}  // namespace kelo::cli
