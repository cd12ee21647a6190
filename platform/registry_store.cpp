#include "platform/registry_store.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <sstream>

#include "platform/ascii_case.h"
#include "platform/atomic_file.h"
#include "platform/hex.h"
#include "platform/system.h"
#include "platform/text_lines.h"

namespace platform {
namespace {

// The store's text form: a "[key path]" line opens each key, followed by its values as
// "name"="data" lines, the default value as @="data". Inside quotes \\, \", \n, \r, \t and
// \xNN stand for their bytes. Lines of neither form are dropped when the store is read.
constexpr const char* kStoreFileName = "registry";
constexpr const char* kHeader = "; Kelo key store\n";

// Calls visit(part) for each part of a normalised path, from the top, while it returns true.
template <typename Visit>
void ForEachPart(std::string_view path, Visit visit) {
    while (!path.empty()) {
        const size_t end = std::min(path.find('\\'), path.size());
        if (!visit(path.substr(0, end)))
            return;
        path.remove_prefix(std::min(end + 1, path.size()));
    }
}

// "A\\B\" and "\A\B" name the same key as "A\B": empty parts are dropped.
std::string NormaliseKeyPath(std::string_view keyPath) {
    std::string result;
    result.reserve(keyPath.size());
    while (!keyPath.empty()) {
        const size_t end = std::min(keyPath.find('\\'), keyPath.size());
        if (end > 0) {
            if (!result.empty())
                result += '\\';
            result.append(keyPath.substr(0, end));
        }
        keyPath.remove_prefix(std::min(end + 1, keyPath.size()));
    }
    return result;
}

void AppendQuoted(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const uint8_t byte = static_cast<uint8_t>(c);
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool Unquote(std::string_view line, size_t& pos, std::string& text) {
    if (pos >= line.size() || line[pos] != '"')
        return false;
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            text += c;
            continue;
        }
        if (++pos >= line.size())
            return false;
        switch (line[pos]) {
            case '\\':
                text += '\\';
                break;
            case '"':
                text += '"';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'x': {
                if (pos + 2 >= line.size())
                    return false;
                const int high = HexDigitValue(line[pos + 1]);
                const int low = HexDigitValue(line[pos + 2]);
                if (high < 0 || low < 0)
                    return false;
                text += static_cast<char>(high * 16 + low);
                pos += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

// One value line: @="data" or "name"="data", nothing after it.
bool ParseValueLine(std::string_view line, std::string& name, std::string& data) {
    size_t pos = 0;
    if (line.compare(0, 2, "@=") == 0) {
        name.clear();
        pos = 1;
    } else if (!Unquote(line, pos, name) || pos >= line.size() || line[pos] != '=') {
        return false;
    }
    ++pos;
    return Unquote(line, pos, data) && pos == line.size();
}

}  // namespace

KeyStoreContent KeyStoreContent::FromText(std::string_view text) {
    KeyStoreContent content;
    Key* current = nullptr;
    for (const std::string_view line : TextLines(text)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string path = NormaliseKeyPath(line.substr(1, line.size() - 2));
            bool added = false;
            current = path.empty() ? nullptr : content.AddNormalisedKey(path, added);
            continue;
        }
        std::string name;
        std::string data;
        if (current != nullptr && ParseValueLine(line, name, data)) {
            current->values.push_back(Value{std::move(name), std::move(data)});
        }
    }
    return content;
}

std::string KeyStoreContent::Text() const {
    std::string text = kHeader;
    for (size_t i = 0; i < keys_.size(); ++i) {
        if (MadeByNextKey(i))
            continue;
        text += "\n[";
        AppendPath(text, i);
        text += "]\n";
        for (const Value& value : keys_[i].values) {
            if (value.name.empty())
                text += '@';
            else
                AppendQuoted(text, value.name);
            text += '=';
            AppendQuoted(text, value.data);
            text += '\n';
        }
    }
    return text;
}

bool KeyStoreContent::MadeByNextKey(size_t index) const {
    return keys_[index].values.empty() && index + 1 < keys_.size() &&
           keys_[index + 1].parent == index;
}

void KeyStoreContent::AppendPath(std::string& text, size_t index) const {
    std::vector<size_t> line;  // the key and those above it, from the key up
    for (size_t at = index; at != kTop; at = keys_[at].parent)
        line.push_back(at);
    for (auto at = line.rbegin(); at != line.rend(); ++at) {
        if (at != line.rbegin())
            text += '\\';
        text += keys_[*at].name;
    }
}

// A key's header line holds its path as it stands, so a line feed in it would end the header
// and turn the rest into lines of their own.
bool KeyStoreContent::IsStorableKeyPath(const std::string& keyPath) {
    return !NormaliseKeyPath(keyPath).empty() && keyPath.find('\n') == std::string::npos;
}

bool KeyStoreContent::HasKey(const std::string& keyPath) const {
    return FindKey(keyPath) != nullptr;
}

bool KeyStoreContent::ReadValue(const std::string& keyPath, const std::string& name,
                                std::string& value) const {
    const Key* key = FindKey(keyPath);
    if (key == nullptr)
        return false;
    for (const Value& v : key->values) {
        if (SameAsciiName(v.name, name)) {
            value = v.data;
            return true;
        }
    }
    return false;
}

bool KeyStoreContent::AddKey(const std::string& keyPath) {
    if (!IsStorableKeyPath(keyPath))
        return false;
    bool added = false;
    AddNormalisedKey(NormaliseKeyPath(keyPath), added);
    return added;
}

KeyStoreContent::Key* KeyStoreContent::AddNormalisedKey(std::string_view path, bool& added) {
    added = false;
    size_t at = kTop;
    ForEachPart(path, [&](std::string_view part) {
        // Below a key just made there is none yet.
        const auto found = added ? children_.end() : children_.find(ChildView{at, part});
        if (found != children_.end()) {
            at = found->second;
            return true;
        }
        keys_.push_back(Key{at, std::string(part), {}});
        children_.emplace(Child{at, std::string(part)}, keys_.size() - 1);
        at = keys_.size() - 1;
        added = true;
        return true;
    });
    return &keys_[at];
}

bool KeyStoreContent::SetValue(const std::string& keyPath, const std::string& name,
                               const std::string& value) {
    if (!IsStorableKeyPath(keyPath))
        return false;
    bool added = false;
    Key* key = AddNormalisedKey(NormaliseKeyPath(keyPath), added);
    for (Value& v : key->values) {
        if (SameAsciiName(v.name, name)) {
            v.data = value;
            return true;
        }
    }
    key->values.push_back(Value{name, value});
    return true;
}

KeyStoreContent::Key* KeyStoreContent::FindNormalisedKey(std::string_view path) {
    size_t at = kTop;
    bool found = !path.empty();
    ForEachPart(path, [&](std::string_view part) {
        const auto child = children_.find(ChildView{at, part});
        found = child != children_.end();
        if (found)
            at = child->second;
        return found;
    });
    return found ? &keys_[at] : nullptr;
}

// FNV-1a over the parent's index and the lower-case bytes of the name, so that names equal
// without case hash alike.
size_t KeyStoreContent::ChildHash::HashOf(size_t parent, std::string_view name) {
    uint64_t hash = 14695981039346656037ULL ^ parent;
    for (const char c : name) {
        hash ^= AsciiLower(c);
        hash *= 1099511628211ULL;
    }
    return static_cast<size_t>(hash);
}

KeyStoreContent::Key* KeyStoreContent::FindKey(const std::string& keyPath) {
    return FindNormalisedKey(NormaliseKeyPath(keyPath));
}

const KeyStoreContent::Key* KeyStoreContent::FindKey(const std::string& keyPath) const {
    return const_cast<KeyStoreContent*>(this)->FindKey(keyPath);
}

RegistryStore::RegistryStore(std::string folder)
    : folder_(std::move(folder)), filePath_(folder_ + "/" + kStoreFileName) {
    Load();
}

RegistryStore RegistryStore::OpenDefault() {
    return RegistryStore(DataFolder());
}

bool RegistryStore::HasKey(const std::string& keyPath) const {
    return content_.HasKey(keyPath);
}

bool RegistryStore::CreateKey(const std::string& keyPath) {
    if (!KeyStoreContent::IsStorableKeyPath(keyPath))
        return false;
    if (!content_.AddKey(keyPath))
        return CanWrite();
    if (Save())
        return true;
    Load();
    return false;
}

bool RegistryStore::ReadValue(const std::string& keyPath, const std::string& name,
                              std::string& value) const {
    return content_.ReadValue(keyPath, name, value);
}

bool RegistryStore::WriteValue(const std::string& keyPath, const std::string& name,
                               const std::string& value) {
    if (!content_.SetValue(keyPath, name, value))
        return false;
    if (Save())
        return true;
    Load();
    return false;
}

void RegistryStore::Load() {
    const std::string text = SettingFileText(filePath_);
    content_ = KeyStoreContent::FromText(text);
}

bool RegistryStore::Save() const {
    if (!MakeFolders(folder_).ok)
        return false;
    const std::string text = content_.Text();
    return WriteFileAtomically(filePath_, text.data(), text.size()).ok;
}

// An existing key is opened for writing only where the store could be written.
bool RegistryStore::CanWrite() const {
    if (::access(folder_.c_str(), W_OK | X_OK) != 0)
        return false;
    return ::access(filePath_.c_str(), F_OK) != 0 || ::access(filePath_.c_str(), W_OK) == 0;
}

}  // namespace platform
