#include "platform/profile.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/system.h"

namespace platform {
namespace {

std::string Trim(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// "[Name]" gives Name; anything else is not a section header.
bool SectionName(const std::string& line, std::string* name) {
    const std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[')
        return false;
    const size_t close = trimmed.find(']');
    if (close == std::string::npos)
        return false;
    *name = Trim(trimmed.substr(1, close - 1));
    return true;
}

// "key=value" gives key and value; a line without '=' holds no key.
bool KeyValue(const std::string& line, std::string* key, std::string* value) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
        return false;
    *key = Trim(line.substr(0, equals));
    *value = Trim(line.substr(equals + 1));
    return !key->empty();
}

// Leading white space, an optional sign, then digits; no digits give 0.
int LeadingInteger(const std::string& text) {
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
    std::ifstream in(path_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines_.push_back(line);
    }
}

int ProfileStore::FindSection(const std::string& section) const {
    std::string name;
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
    std::string name, k, v;
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
    std::string k, v;
    KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
    return LeadingInteger(v);
}

std::string ProfileStore::GetString(const std::string& section, const std::string& key,
                                    const std::string& fallback) const {
    const int line = FindKey(section, key);
    if (line < 0)
        return fallback;
    std::string k, v;
    KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
    return v;
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
        std::string k, v;
        KeyValue(lines_[static_cast<size_t>(line)], &k, &v);
        lines_[static_cast<size_t>(line)] = k + "=" + value;
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
    std::string name;
    while (end < lines_.size() && !SectionName(lines_[end], &name))
        ++end;
    while (end > static_cast<size_t>(header) + 1 && Trim(lines_[end - 1]).empty())
        --end;
    lines_.insert(lines_.begin() + static_cast<long>(end), key + "=" + value);
}

FileResult ProfileStore::Save() const {
    std::ostringstream out;
    for (const std::string& line : lines_)
        out << line << "\n";
    const std::string text = out.str();
    return WriteFileMakingFolders(path_, text.data(), text.size());
}

std::string ProfileStore::DefaultPath() {
    return ConfigFolder() + "/kelo.INI";
}

}  // namespace platform
