// Runs kelo-cli's command line inside the test process: standard output and standard error
// are collected, the profile lives in a temporary folder, and every fixed wait goes to a fake
// clock.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/dispatch.h"
#include "files/parameter_file.h"
#include "platform/clock.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace cli_testing {

using testing_support::ReadFileText;
using testing_support::WriteFile;

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs one command line; terminal says whether standard error is to count as a terminal.
inline CliResult RunCli(const std::vector<std::string>& arguments, bool terminal = false) {
    CliResult result;
    kelo::cli::Console console;
    console.writeOut = [&result](const std::string& bytes) {
        result.out += bytes;
        return true;
    };
    console.writeErr = [&result](const std::string& bytes) { result.err += bytes; };
    console.errIsTerminal = terminal;
    result.status = kelo::cli::RunCommandLine(arguments, console);
    return result;
}

// A test folder that is also the config and data folder, so the profile is
// <folder>/kelo.INI and the service records <folder>/kelo/records.sqlite3.
class CliEnvironment {
  public:
    CliEnvironment() {
        for (const char* name : kFolderVariables) {
            if (const char* previous = ::getenv(name))
                previous_.emplace_back(name, previous);
            ::setenv(name, dir_.Path().c_str(), 1);
        }
    }
    ~CliEnvironment() {
        for (const char* name : kFolderVariables)
            ::unsetenv(name);
        for (const auto& [name, value] : previous_)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    CliEnvironment(const CliEnvironment&) = delete;
    CliEnvironment& operator=(const CliEnvironment&) = delete;

    std::string File(const std::string& name) const { return dir_.File(name); }
    std::string ProfilePath() const { return dir_.File("kelo.INI"); }
    std::string RecordsPath() const { return dir_.File("kelo/records.sqlite3"); }
    std::string Profile() const { return ReadFileText(ProfilePath()); }
    void SetProfile(const std::string& text) const { WriteFile(ProfilePath(), text); }

    kelo::platform::FakeClock& Clock() { return clock_; }

  private:
    static constexpr const char* kFolderVariables[] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME"};
    testing_support::TempDir dir_;
    std::vector<std::pair<std::string, std::string>> previous_;
    kelo::platform::FakeClock clock_;
};

// Saves the bytes as a parameter file at path, as get-params would; whether it was saved.
inline bool SaveAsParameterFile(const std::string& set, const std::string& path) {
    return kelo::SaveParameterFile(reinterpret_cast<const uint8_t*>(set.data()),
                                   static_cast<int>(set.size()), [&path](std::string& chosen) {
                                       chosen = path;
                                       return true;
                                   });
}

}  // namespace cli_testing
