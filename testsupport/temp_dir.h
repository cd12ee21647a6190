// A temporary folder removed with everything in it at the end of a test.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

class TempDir {
  public:
    // Made under $TMPDIR (or /tmp); a folder that cannot be made fails the test at once
    // rather than leaving the test to write into the root folder.
    TempDir() {
        std::string pattern = Base() + "kelo-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder from " + pattern);
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

    // Names of the entries in the folder, to see that nothing was left behind.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        return names;
    }

  private:
    static std::string Base() {
        const char* tmpdir = std::getenv("TMPDIR");
        std::string base = (tmpdir != nullptr && *tmpdir != '\0') ? tmpdir : "/tmp";
        if (base.back() != '/')
            base += '/';
        return base;
    }

    std::string path_;
};

}  // namespace testing_support
