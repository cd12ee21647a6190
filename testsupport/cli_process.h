// Runs the kelo-cli program itself as a child process, so a test sees its streams and exit
// status exactly as a shell would. Its user defines KELO_CLI_PATH, the program of its build.
#pragma once

#include <string>
#include <vector>

#include "testsupport/child_process.h"

namespace cli_testing {

class CliProcess : public kelo::test::ChildProcess {
  public:
    // Starts kelo-cli with the arguments; its standard output goes to the file
    // standardOutput names (such as /dev/full) when one is given.
    explicit CliProcess(const std::vector<std::string>& arguments,
                        const std::string& standardOutput = "")
        : ChildProcess(WithProgram(arguments), {}, standardOutput) {}

  private:
    static std::vector<std::string> WithProgram(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{KELO_CLI_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
    }
};

}  // namespace cli_testing
