#include "platform/profile.h"

#include <algorithm>
#include <climits>

#include "platform/ascii_case.h"
#include "platform/atomic_file.h"
#include "platform/system.h"
#include "platform/text_lines.h"

namespace kelo::platform {
namespace {

// White space as the C locale has it, whatever locale the program runs in: a profile reads the
// same everywhere.
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

// "[Name]" gives Name; anything else is not a section header.
bool SectionName(std::string_view line, std::string_view* name) {
    size_t open = 0;
    while (open < line.size() && IsSpace(line[open]))
        ++open;
    if (open == line.size() || line[open] != '[')
        return false;  // most lines: decided without looking further
    const size_t close = line.find(']', open + 1);
    if (close == std::string_view::npos)
        return false;
    *name = Trim(line.substr(open + 1, close - open - 1));
    return true;
}

// The key of a "key=value" line; empty for a line without '=' or without a key.
std::string_view KeyOf(std::string_view line) {
    const size_t equals = line.find('=');
    return equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
}

// "key=value" gives key and value; a line without '=' holds no key.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
    *key = KeyOf(line);
    if (key->empty())
        return false;
    *value = Trim(line.substr(line.find('=') + 1));
    return true;
}

// Leading white space, an optional sign, then digits; no digits give 0.
int LeadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = INT_MAX;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

}  // namespace

ProfileStore::ProfileStore(std::string path) : path_(std::move(path)) {
    const std::string text = SettingFileText(path_);
    ReadLines(text);
}

ProfileStore::ProfileStore(std::string path, std::string_view text) : path_(std::move(path)) {
    ReadLines(text);
}

void ProfileStore::ReadLines(std::string_view text) {
    const std::vector<std::string_view> lines = TextLines(text);
    lines_.assign(lines.begin(), lines.end());
}

int ProfileStore::FindSection(const std::string& section) const {
    std::string_view name;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], &name) && SameAsciiName(name, section))
            return static_cast<int>(i);
    }
    return -1;
}

int ProfileStore::FindKey(const std::string& section, const std::string& key) const {
    const int header = FindSection(section);
    if (header < 0)
        return -1;
    std::string_view name;
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], &name))
            break;
        const std::string_view k = KeyOf(lines_[i]);
        if (!k.empty() && SameAsciiName(k, key))
            return static_cast<int>(i);
    }
    return -1;
}

int ProfileStore::GetInt(const std::string& section, const std::string& key, int fallback) const {
    const int line = FindKey(section, key);
    if (line < 0)
        return fallback;
    std::string_view k, v;
    KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
    return LeadingInteger(v);
}

std::string ProfileStore::GetString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
    const int line = FindKey(section, key);
    if (line < 0)
        return fallback;
    std::string_view k, v;
    KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
    return std::string(v);
}

void ProfileStore::WriteInt(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void ProfileStore::WriteString(const std::string& section, const std::string& key,
                               const std::string& rawValue) {
    // A value is one line: a line break inside it would write further keys into the file.
    const std::string value = rawValue.substr(0, rawValue.find_first_of("\r\n"));
    const int line = FindKey(section, key);
    if (line >= 0) {
        // The stored key keeps its spelling: one entry, whatever case it was written in.
        std::string_view k, v;
        KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
        lines_[static_cast<size_t>(line)] = std::string(k) + "=" + value;
        return;
    }
    int header = FindSection(section);
    if (header < 0) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(key + "=" + value);
        return;
    }
    // Insert after the section's last key, before any blank lines that end it.
    size_t end = static_cast<size_t>(header) + 1;
    std::string_view name;
    while (end < lines_.size() && !SectionName(lines_[end], &name))
        ++end;
    while (end > static_cast<size_t>(header) + 1 && Trim(lines_[end - 1]).empty())
        --end;
    lines_.insert(lines_.begin() + static_cast<long>(end), key + "=" + value);
}

std::string ProfileStore::Text() const {
    size_t room = 0;
    for (const std::string& line : lines_)
        room += line.size() + 1;
    std::string text;
    text.reserve(room);
    for (const std::string& line : lines_)
        text.append(line).push_back('\n');
    return text;
}

FileResult ProfileStore::Save() const {
    const std::string text = Text();
    return WriteFileMakingFolders(path_, text.data(), text.size());
}

std::string ProfileStore::DefaultPath() {
    return ConfigFolder() + "/kelo.INI";
}

}  // namespace kelo::platform
