#include "cli/host_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "platform/atomic_file.h"
#include "platform/host_address.h"
#include "platform/shown_text.h"
#include "platform/system.h"

namespace kelo::cli {
namespace {

// A list larger than this is no list of machines; refusing it keeps a stream such as
// `yes | kelo-cli --hosts -` from filling the memory.
constexpr size_t kLargestHostList = 16u << 20;
constexpr size_t kLongestHostName = 253;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The words of a line, split at blanks.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}

// A host name or a dotted (or IPv6) address. The host becomes part of a file name through
// {host} and an argument of the host's run, so no '/' and no leading '-' can get through.
bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > kLongestHostName || host[0] == '-')
        return false;
    return std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_' || c == ':';
    });
}

// Host names are compared without case, as the name service compares them.
std::string Folded(std::string host) {
    std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return host;
}

// Reads a descriptor to its end, up to the limit; an errno value on failure.
int ReadAll(int fd, std::string& text) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (text.size() + static_cast<size_t>(n) > kLargestHostList)
            return EFBIG;
        text.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

std::string HostListName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

std::optional<std::string> ReadHostList(const std::string& path, std::string& text) {
    text.clear();
    int error = 0;
    if (path == "-") {
        error = ReadAll(STDIN_FILENO, text);
    } else {
        // A regular file, opened once and never read past the limit.
        std::vector<uint8_t> bytes;
        bool tooLarge = false;
        const platform::FileResult read =
            platform::ReadFileBytes(path, kLargestHostList, bytes, &tooLarge);
        if (!read.ok)
            return read.ErrorText(path);
        error = tooLarge ? EFBIG : 0;
        text.assign(bytes.begin(), bytes.end());
    }
    if (error != 0)
        return platform::FileErrorText(HostListName(path), error);
    return std::nullopt;
}

HostListParse ParseHostList(const std::string& text, const std::string& listName) {
    HostListParse parse;
    // The list's words reach the terminal in messages: shown as a machine's texts are.
    const std::string name = platform::ShownText(listName);
    std::map<std::string, int> seen;  // folded host, its line
    size_t start = 0;
    for (int number = 1; start < text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // a list saved with CR LF line ends
        const std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        if (words.size() > 2) {
            parse.error = where + "a line holds a host and at most its type";
            return parse;
        }
        if (!IsHostName(words[0])) {
            parse.error =
                where + "'" + platform::ShownText(words[0]) + "' is not a host name or address";
            return parse;
        }
        if (std::optional<std::string> refusal = platform::RefusedHostForm(words[0])) {
            parse.error = where + *refusal;
            return parse;
        }
        if (const auto [first, added] = seen.emplace(Folded(words[0]), number); !added) {
            parse.error = where + words[0] + " is listed twice (first on line " +
                          std::to_string(first->second) + ")";
            return parse;
        }
        HostEntry entry{words[0], std::nullopt, number, std::nullopt};
        if (words.size() == 2) {
            const std::string& type = words[1];
            if (type.size() != 1 || type[0] < '1' || type[0] > '4') {
                parse.error = where + "the type must be 1, 2, 3 or 4";
                return parse;
            }
            entry.machineTypeIndex = type[0] - '1';
        }
        parse.hosts.push_back(entry);
    }
    if (parse.hosts.empty()) {
        parse.error = name + " names no hosts";
        return parse;
    }
    parse.ok = true;
    return parse;
}

std::optional<std::string> ResolveListTargets(std::vector<HostEntry>& hosts,
                                              const std::string& listName,
                                              const HostResolver& resolve) {
    const std::string name = platform::ShownText(listName);
    std::map<uint32_t, const HostEntry*> reached;
    for (HostEntry& entry : hosts) {
        const Target target = resolve(entry.host);
        const std::string where = name + ":" + std::to_string(entry.line) + ": ";
        if (target.refusal)
            return where + platform::ShownText(*target.refusal);
        entry.address = target.address;
        if (!target.address)
            continue;
        const auto [first, added] = reached.emplace(*target.address, &entry);
        if (!added) {
            return where + entry.host + " reaches " + platform::DottedQuad(*target.address) +
                   ", as " + first->second->host + " on line " +
                   std::to_string(first->second->line) + " does";
        }
    }
    return std::nullopt;
}

std::string ExpandHostTemplate(const std::string& pattern, const std::string& host) {
    const std::string field = kHostField;
    std::string path;
    size_t start = 0;
    for (size_t found; (found = pattern.find(field, start)) != std::string::npos;) {
        path.append(pattern, start, found - start);
        path += host;
        start = found + field.size();
    }
    path.append(pattern, start, std::string::npos);
    return path;
}

}  // namespace kelo::cli
