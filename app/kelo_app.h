// KeloApp: the life of the program (message boxes installed, the main dialog run, the
// settings saved as it goes), and the registration of the report file type ".kel".
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelo::app {

// Where, and for which program file, the .kel type is registered.
struct FileTypeRegistration {
    std::string programPath;  // the full path of the program file
    std::string dataHome;     // the user's data folder, for the desktop entry and MIME package
    std::string iconPng;      // the icon for the desktop's icon folder; empty for none
    // The system's data folders ($XDG_DATA_DIRS), where an installed package keeps its desktop
    // entry and MIME package.
    std::vector<std::string> systemDataFolders;
    // Runs a desktop helper program (update-mime-database, update-desktop-database) and waits
    // for it; a system without the program simply does not run it.
    std::function<void(const std::vector<std::string>& command)> runTool;

    // This program, the user's data folder, the system's folders and helpers.
    static FileTypeRegistration ForThisProgram();
};

enum class RegistrationResult {
    kCurrent,        // the package's files, or the user's as they would be written: none written
    kWritten,        // the user's desktop entry and what goes with it were written
    kFoldersFailed,  // the user's applications or MIME folder could not be made: message 122
    kEntryFailed,    // the user's desktop entry could not be written: message 123
};

inline constexpr char kReportMimeType[] = "application/x-kelo-report";

// The desktop id of the installed package: the name of its desktop entry and MIME package.
extern const char kInstalledDesktopId[];

// Registers .kel for the program through the freedesktop MIME database. Where a package has
// installed its desktop entry and MIME package, those serve: nothing is written, and the
// user's own files of an earlier registration are removed, so that the type has one entry and
// one definition. Otherwise the user's desktop entry and MIME package are left alone when they
// already hold what would be written (the entry's Exec names this program); when they do not,
// the entry is written, then the MIME package and the icon, whose failures never stop the
// start, and the desktop's indexes are brought up to date.
RegistrationResult RegisterFileType(const FileTypeRegistration& where);

// True when one of the folders holds the package's desktop entry and its MIME package.
bool PackageDesktopFilesInstalled(const std::vector<std::string>& systemDataFolders);

// The desktop entry that opens a .kel file with the program, and the shared-mime-info
// package that gives *.kel its type.
std::string DesktopEntry(const std::string& programPath);
std::string MimePackage();

// A path as one argument of a desktop entry's Exec line (quoted where it must be).
std::string DesktopExecArgument(const std::string& path);

class KeloApp {
  public:
    // arguments: the command line after the program's name. The first one, when present, is
    // a report file to open once the main window is up; the others are ignored.
    explicit KeloApp(std::vector<std::string> arguments);

    // Installs the message boxes, runs the main dialog until it ends, and returns the exit
    // status. The settings are saved as the dialog is destroyed.
    int Run();

  private:
    std::vector<std::string> arguments_;
};

}  // namespace kelo::app
