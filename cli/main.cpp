// kelo-cli: every service operation of Kelo from a terminal.
#include <csignal>
#include <string>
#include <vector>

#include "cli/run.h"
#include "platform/process_life.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    if (!platform::StartProcessLife())
        return 2;
    platform::SetProgramName(argc > 0 ? argv[0] : "kelo-cli");
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // A reader that went away is a failed write, told and counted, not a silent end.
    ::signal(SIGPIPE, SIG_IGN);
    return kelo::cli::FinishStandardOutput(
        kelo::cli::RunCommandLine(arguments, kelo::cli::SystemConsole()));
}
