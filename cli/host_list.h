// The host list of `kelo-cli --hosts FILE`: one host a line, optionally followed by its machine
// type; blank lines and lines starting with '#' are skipped.
#pragma once

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

// Parses the text of a list; name is the file's name as the messages show it.
HostListParse ParseHostList(const std::string& text, const std::string& name);

// The name the messages give a list read from path.
std::string HostListName(const std::string& path);

// The template with every {host} replaced by the host.
std::string ExpandHostTemplate(const std::string& pattern, const std::string& host);

}  // namespace kelo::cli
