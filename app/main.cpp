// kelo: the service utility's window. "kelo [report.kel]" opens the report once the window is
// up; further arguments are ignored. "kelo --help" and "kelo --version" answer without one.
#include <QApplication>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/kelo_app.h"
#include "platform/process_life.h"
#include "platform/system.h"

namespace {

// --help and --version, answered on standard output before any window or display is needed.
// Only as the first argument, the report file's place: a report named so opens as ./--help.
std::optional<std::string> Answer(int argc, char** argv) {
    if (argc < 2)
        return std::nullopt;
    const std::string first = argv[1];
    if (first == "--version")
        return "kelo " + kelo::platform::ProgramVersion() + "\n";
    if (first != "--help" && first != "-h")
        return std::nullopt;
    return "Usage: kelo [FILE]\n"
           "\n"
           "Kelo's service window: select the port and machine type, read the service\n"
           "report, read and write the parameters, upgrade the firmware, restart a\n"
           "machine's network interface. FILE, a report file (.kel), opens in the report\n"
           "viewer once the window is up.\n"
           "\n"
           "  --help     show this text\n"
           "  --version  show the version\n"
           "\n"
           "kelo-cli runs the same operations from a terminal.\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (!kelo::platform::StartProcessLife())
        return 1;
    if (const std::optional<std::string> answer = Answer(argc, argv)) {
        std::fputs(answer->c_str(), stdout);
        return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
    }
    QApplication application(argc, argv);
    kelo::platform::SetProgramName(argv[0]);
    kelo::app::KeloApp kelo(std::vector<std::string>(argv + 1, argv + argc));
    return kelo.Run();
}
