// kelo-cli: every service operation of Kelo from a terminal.
#include <csignal>
#include <string>
#include <vector>

#include "cli/dispatch.h"
#include "platform/process_life.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    if (!kelo::platform::StartProcessLife())
        return 2;
    kelo::platform::SetProgramName(argc > 0 ? argv[0] : "kelo-cli");
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // A reader that went away is a failed write, told and counted, not a silent end.
    ::signal(SIGPIPE, SIG_IGN);
    kelo::cli::StandardOutput standardOutput;
    return standardOutput.Finish(
        kelo::cli::RunCommandLine(arguments, standardOutput.MakeConsole()));
}
