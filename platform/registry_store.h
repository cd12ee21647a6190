// The program's key store: a per-user file of keys named by their path (parts separated by
// "\", compared without case, as registry keys are) holding named string values. It stands in
// for the local-machine registry: the .kel registration lives here, and it is where the
// browser's path is looked up. A store that cannot be created or written is what the
// registration reports as missing administrator rights.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ascii_case.h"

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
    // Keys form a tree: each holds its own part of the path and where its parent stands, so
    // reading and finding a path take time in proportion to its length, however deep it is.
    static constexpr size_t kTop = static_cast<size_t>(-1);
    struct Key {
        size_t parent;     // index in keys_, kTop for a key at the top
        std::string name;  // the last part of the key's path
        std::vector<Value> values;
    };
    // A key as its parent and its own name; names compare without case.
    struct Child {
        size_t parent;
        std::string name;
    };
    struct ChildView {
        size_t parent;
        std::string_view name;
    };
    struct ChildHash {
        using is_transparent = void;
        template <typename C>
        size_t operator()(const C& child) const {
            return HashOf(child.parent, child.name);
        }
        static size_t HashOf(size_t parent, std::string_view name);
    };
    struct ChildEqual {
        using is_transparent = void;
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            return a.parent == b.parent && SameAsciiName(a.name, b.name);
        }
    };

    // Adds a normalised, non-empty path and the keys above it that are missing; returns the key.
    Key* AddNormalisedKey(std::string_view path, bool& added);
    Key* FindNormalisedKey(std::string_view path);
    Key* FindKey(const std::string& keyPath);
    const Key* FindKey(const std::string& keyPath) const;
    // Appends the whole path of keys_[index].
    void AppendPath(std::string& text, size_t index) const;
    // A key without values that is followed by its child is made again, in its place, by the
    // child's header when the text is read, so the text leaves it out.
    bool MadeByNextKey(size_t index) const;

    std::vector<Key> keys_;  // each after its parent, in the order they were made
    std::unordered_map<Child, size_t, ChildHash, ChildEqual> children_;  // index in keys_
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
