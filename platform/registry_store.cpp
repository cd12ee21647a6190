#include "platform/registry_store.h"

#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/hex.h"
#include "platform/system.h"

namespace platform {
namespace {

// The store's text form: a "[key path]" line opens each key, followed by its values as
// "name"="data" lines, the default value as @="data". Inside quotes \\, \", \n, \r, \t and
// \xNN stand for their bytes. Lines of neither form are dropped when the store is read.
constexpr const char* kStoreFileName = "registry";
constexpr const char* kHeader = "; Kelo key store\n";

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// "A\\B\" and "\A\B" name the same key as "A\B": empty parts are dropped.
std::string NormaliseKeyPath(const std::string& keyPath) {
    std::string result;
    std::string part;
    std::istringstream parts(keyPath);
    while (std::getline(parts, part, '\\')) {
        if (part.empty())
            continue;
        if (!result.empty())
            result += '\\';
        result += part;
    }
    return result;
}

std::string Quote(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
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
    return out + "\"";
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool Unquote(const std::string& line, size_t& pos, std::string& text) {
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
bool ParseValueLine(const std::string& line, std::string& name, std::string& data) {
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

RegistryStore::RegistryStore(std::string folder)
    : folder_(std::move(folder)), filePath_(folder_ + "/" + kStoreFileName) {
    Load();
}

RegistryStore RegistryStore::OpenDefault() {
    return RegistryStore(DataFolder());
}

bool RegistryStore::HasKey(const std::string& keyPath) const {
    return FindKey(keyPath) != nullptr;
}

bool RegistryStore::CreateKey(const std::string& keyPath) {
    if (NormaliseKeyPath(keyPath).empty())
        return false;
    if (!AddKeyWithParents(keyPath))
        return CanWrite();
    if (Save())
        return true;
    Load();
    return false;
}

bool RegistryStore::ReadValue(const std::string& keyPath, const std::string& name,
                              std::string& value) const {
    const Key* key = FindKey(keyPath);
    if (key == nullptr)
        return false;
    for (const Value& v : key->values) {
        if (SameName(v.name, name)) {
            value = v.data;
            return true;
        }
    }
    return false;
}

bool RegistryStore::WriteValue(const std::string& keyPath, const std::string& name,
                               const std::string& value) {
    AddKeyWithParents(keyPath);
    Key* key = FindKey(keyPath);
    if (key == nullptr)
        return false;  // an empty path names no key
    bool found = false;
    for (Value& v : key->values) {
        if (SameName(v.name, name)) {
            v.data = value;
            found = true;
            break;
        }
    }
    if (!found)
        key->values.push_back(Value{name, value});
    if (Save())
        return true;
    Load();
    return false;
}

void RegistryStore::Load() {
    keys_.clear();
    std::ifstream file(filePath_, std::ios::binary);
    std::string line;
    Key* current = nullptr;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string path = NormaliseKeyPath(line.substr(1, line.size() - 2));
            AddKeyWithParents(path);
            current = FindKey(path);
            continue;
        }
        std::string name;
        std::string data;
        if (current != nullptr && ParseValueLine(line, name, data)) {
            current->values.push_back(Value{name, data});
        }
    }
}

bool RegistryStore::Save() const {
    if (!MakeFolders(folder_).ok)
        return false;
    std::string text = kHeader;
    for (const Key& key : keys_) {
        text += "\n[" + key.path + "]\n";
        for (const Value& value : key.values) {
            text += (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" +
                    Quote(value.data) + "\n";
        }
    }
    return WriteFileAtomically(filePath_, text.data(), text.size()).ok;
}

// An existing key is opened for writing only where the store could be written.
bool RegistryStore::CanWrite() const {
    if (::access(folder_.c_str(), W_OK | X_OK) != 0)
        return false;
    return ::access(filePath_.c_str(), F_OK) != 0 || ::access(filePath_.c_str(), W_OK) == 0;
}

RegistryStore::Key* RegistryStore::FindKey(const std::string& keyPath) {
    const std::string path = NormaliseKeyPath(keyPath);
    for (Key& key : keys_) {
        if (SameName(key.path, path))
            return &key;
    }
    return nullptr;
}

const RegistryStore::Key* RegistryStore::FindKey(const std::string& keyPath) const {
    return const_cast<RegistryStore*>(this)->FindKey(keyPath);
}

bool RegistryStore::AddKeyWithParents(const std::string& keyPath) {
    const std::string path = NormaliseKeyPath(keyPath);
    bool added = false;
    size_t end = 0;
    while (end != std::string::npos) {
        end = path.find('\\', end + 1);
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && FindKey(prefix) == nullptr) {
            keys_.push_back(Key{prefix, {}});
            added = true;
        }
    }
    return added;
}

}  // namespace platform
