// CKeloApp: the life of the program (message boxes installed, the main dialog run, the
// settings saved as it goes), and the registration of the report file type ".kel".
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace app {

// Where, and for which program file, the .kel type is registered.
struct FileTypeRegistration {
    std::string programPath;  // the full path of the program file
    std::string storeFolder;  // the key store's folder
    std::string dataHome;     // the desktop's data folder, for the .desktop entry and MIME type
    std::string iconPng;      // the icon for the desktop's icon folder; empty for none
    // The system's data folders ($XDG_DATA_DIRS), where an installed package keeps its desktop
    // entry and MIME package.
    std::vector<std::string> systemDataFolders;
    // Runs a desktop helper program (update-mime-database, update-desktop-database) and waits
    // for it; a system without the program simply does not run it.
    std::function<void(const std::vector<std::string>& command)> runTool;

    // This program, the user's key store and data folder, the system's folders and helpers.
    static FileTypeRegistration ForThisProgram();
};

enum class RegistrationResult {
    kCurrent,      // "AppPath" already held the command text: nothing was written
    kWritten,      // the values were written, and the desktop files unless a package has them
    kKeyFailed,    // the ".kel" key could not be created: message 122
    kValueFailed,  // the default value of ".kel" could not be set: message 123
};

// The keys and values of the registration, below the store's root.
inline constexpr char kClassesKey[] = "SOFTWARE\\CLASSES";
inline constexpr char kExtensionKey[] = "SOFTWARE\\CLASSES\\.kel";
inline constexpr char kOpenKey[] = "SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open";
inline constexpr char kCommandKey[] = "SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open\\Command";
inline constexpr char kFileTypeName[] = "KeloFile";
inline constexpr char kAppPathValue[] = "AppPath";
inline constexpr char kReportMimeType[] = "application/x-kelo-report";

// The desktop id of the installed package: the name of its desktop entry and MIME package.
extern const char kInstalledDesktopId[];

// The command text: the program's path, a space, then "%1" in double quotes.
std::string RegistrationCommand(const std::string& programPath);

// Registers .kel for the program: nothing happens when "AppPath" of ".kel" already holds the
// command text; otherwise the four values are written, then the desktop entry and the MIME
// package, whose failures never stop the start. Where a package has installed its own desktop
// entry and MIME package, those serve instead: the user's are not written, and any written
// before are removed, so that the type has one entry and one definition.
RegistrationResult RegisterFileType(const FileTypeRegistration& where);

// True when one of the folders holds the package's desktop entry and its MIME package.
bool PackageDesktopFilesInstalled(const std::vector<std::string>& systemDataFolders);

// The desktop entry that opens a .kel file with the program, and the shared-mime-info
// package that gives *.kel its type.
std::string DesktopEntry(const std::string& programPath);
std::string MimePackage();

// A path as one argument of a desktop entry's Exec line (quoted where it must be).
std::string DesktopExecArgument(const std::string& path);

class CKeloApp {
  public:
    // arguments: the command line after the program's name. The first one, when present, is
    // a report file to open once the main window is up; the others are ignored.
    explicit CKeloApp(std::vector<std::string> arguments);

    // Installs the message boxes, runs the main dialog until it ends, and returns the exit
    // status. The settings are saved as the dialog is destroyed.
    int Run();

  private:
    std::vector<std::string> arguments_;
};

}  // namespace app
