// The application profile: an INI file with the rules of the Windows profile calls. Section
// and key names are compared without case, a missing key gives the default, integers are read
// from their leading digits, and every other section, key and line is kept as it stands.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace kelo::platform {

class ProfileStore {
  public:
    // Reads the file now; a missing or unreadable file is an empty profile.
    explicit ProfileStore(std::string path);
    // A profile read from the text of a profile file, to be saved to path.
    ProfileStore(std::string path, std::string_view text);

    const std::string& Path() const { return path_; }

    int GetInt(const std::string& section, const std::string& key, int fallback) const;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& fallback) const;

    void WriteInt(const std::string& section, const std::string& key, int value);
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    // The text of the profile file: every line followed by a line feed.
    std::string Text() const;

    // Writes the profile back atomically, making its missing folders (0700) first.
    FileResult Save() const;

    // The profile file of the program: <config folder>/kelo.INI.
    static std::string DefaultPath();

  private:
    void ReadLines(std::string_view text);
    // Index of the line holding the key in the section, or -1.
    int FindKey(const std::string& section, const std::string& key) const;
    // Index of the section's header line, or -1.
    int FindSection(const std::string& section) const;

    std::string path_;
    std::vector<std::string> lines_;
};

}  // namespace kelo::platform
