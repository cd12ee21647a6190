// kelo: the service utility's window. "kelo [report.kel]" opens the report once the window is
// up; further arguments are ignored.
#include <QApplication>
#include <string>
#include <vector>

#include "app/kelo_app.h"
#include "platform/system.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    platform::SetProgramName(argv[0]);
    app::CKeloApp kelo(std::vector<std::string>(argv + 1, argv + argc));
    return kelo.Run();
}
