// kelo: the service utility's window. "kelo [report.kel]" opens the report once the window is
// up. "kelo --screenshot FOLDER" renders the program's windows into PNG files and ends.
#include <QApplication>
#include <string>
#include <vector>

#include "app/kelo_app.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    platform::SetProgramName(argv[0]);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == "--screenshot")
        return app::CKeloApp::RenderScreenshots(arguments[1]);
    app::CKeloApp kelo(arguments);
    return kelo.Run();
}
