// Runs kelo-cli's command line inside the test process: standard output and standard error
// are collected, the profile lives in a temporary folder, and every fixed wait goes to a fake
// clock.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "cli/run.h"
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

// A test folder that is also the config folder, so the profile is <folder>/kelo.INI.
class CliEnvironment {
  public:
    CliEnvironment() {
        if (const char* previous = ::getenv("XDG_CONFIG_HOME"))
            previous_ = previous;
        ::setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
    }
    ~CliEnvironment() {
        if (previous_)
            ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    CliEnvironment(const CliEnvironment&) = delete;
    CliEnvironment& operator=(const CliEnvironment&) = delete;

    std::string File(const std::string& name) const { return dir_.File(name); }
    std::string ProfilePath() const { return dir_.File("kelo.INI"); }
    std::string Profile() const { return ReadFileText(ProfilePath()); }
    void SetProfile(const std::string& text) const { WriteFile(ProfilePath(), text); }

    platform::FakeClock& Clock() { return clock_; }

  private:
    testing_support::TempDir dir_;
    std::optional<std::string> previous_;
    platform::FakeClock clock_;
};

}  // namespace cli_testing
