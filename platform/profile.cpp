#include "platform/profile.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "platform/atomic_file.h"
#include "platform/system.h"
#include "platform/text_lines.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compare byte for byte, ASCII letters without case.
bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

// "[Name]" gives Name; anything else is not a section header.
bool SectionName(std::string_view line, std::string_view* name) {
    const std::string_view trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[')
        return false;
    const size_t close = trimmed.find(']');
    if (close == std::string_view::npos)
        return false;
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// "key=value" gives key and value; a line without '=' holds no key.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos)
        return false;
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    return !key->empty();
}

// Leading white space, an optional sign, then digits; no digits give 0.
int LeadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
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
        if (SectionName(lines_[i], &name) && SameName(name, section))
            return static_cast<int>(i);
    }
    return -1;
}

int ProfileStore::FindKey(const std::string& section, const std::string& key) const {
    const int header = FindSection(section);
    if (header < 0)
        return -1;
    std::string_view name, k, v;
    for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], &name))
            break;
        if (KeyValue(lines_[i], &k, &v) && SameName(k, key))
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

}  // namespace platform
