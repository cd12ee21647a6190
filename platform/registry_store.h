// The program's key store: a per-user file of keys named by their path (parts separated by
// "\", compared without case, as registry keys are) holding named string values. It stands in
// for the local-machine registry: the .kel registration lives here, and it is where the
// browser's path is looked up. A store that cannot be created or written is what the
// registration reports as missing administrator rights.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The keys of a key store and their values, in memory, and the text of the store file.
class KeyStoreContent {
  public:
    // The content a store file's text holds; lines that are neither a key nor a value of one
    // are dropped.
    static KeyStoreContent FromText(std::string_view text);

    // The text of the store file, which FromText reads back to the same content.
    std::string Text() const;

    // True when the path names a key that can be stored: at least one part, no line feed.
    static bool IsStorableKeyPath(const std::string& keyPath);

    bool HasKey(const std::string& keyPath) const;
    bool ReadValue(const std::string& keyPath, const std::string& name, std::string& value) const;

    // Adds the key and the keys above it that are missing; returns whether one was added. A
    // path that is not storable adds nothing.
    bool AddKey(const std::string& keyPath);

    // Sets a value, adding the key when needed. False, changing nothing, when the path is not
    // storable.
    bool SetValue(const std::string& keyPath, const std::string& name, const std::string& value);

  private:
    struct Value {
        std::string name;
        std::string data;
    };
    struct Key {
        std::string path;
        std::vector<Value> values;
    };

    Key* FindNormalisedKey(std::string_view path);
    Key* FindKey(const std::string& keyPath);
    const Key* FindKey(const std::string& keyPath) const;

    std::vector<Key> keys_;
};

class RegistryStore {
  public:
    // The store file in folder; a missing or unreadable file is an empty store.
    explicit RegistryStore(std::string folder);

    // The store of the user: <data folder>/registry.
    static RegistryStore OpenDefault();

    const std::string& FilePath() const { return filePath_; }

    bool HasKey(const std::string& keyPath) const;

    // Creates the key and every key above it, or opens an existing one for writing. False
    // when the path names no storable key, when the key is missing and cannot be written, or
    // when the store cannot be written.
    bool CreateKey(const std::string& keyPath);

    // The value of an existing key; the empty name is the key's default value.
    bool ReadValue(const std::string& keyPath, const std::string& name, std::string& value) const;

    // Sets a value, creating the key when needed, and writes the store. False when the path
    // names no storable key or the store could not be written (the value is then not kept).
    bool WriteValue(const std::string& keyPath, const std::string& name, const std::string& value);

  private:
    void Load();
    bool Save() const;
    bool CanWrite() const;

    std::string folder_;
    std::string filePath_;
    KeyStoreContent content_;
};

}  // namespace platform
