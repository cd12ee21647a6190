#include "app/kelo_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <sstream>

#include "app/app_icon.h"
#include "app/kelo_dlg.h"
#include "app/message_box_sink.h"
#include "app/report_dlg.h"
#include "app/stop_signals.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/process_life.h"
#include "platform/registry_store.h"
#include "platform/system.h"

namespace app {
namespace {

constexpr char kDesktopFileName[] = "kelo.desktop";
constexpr char kMimePackageName[] = "kelo.xml";
constexpr char kIconName[] = "kelo";

// Writes one desktop file, making its folder; a failure leaves the start going on, the type
// merely not opening on a double click.
void WriteDesktopFile(const std::string& path, const std::string& content) {
    if (!platform::MakeFolders(path.substr(0, path.find_last_of('/')), 0755).ok)
        return;
    platform::WriteFileAtomically(path, content.data(), content.size());
}

void RunDesktopTool(const std::vector<std::string>& command) {
    platform::ChildProcess tool;
    if (tool.Start(command))
        tool.Wait();
}

// $XDG_DATA_HOME: the folder above the key store's own.
std::string DataHome() {
    std::string folder = platform::DataFolder();
    const size_t slash = folder.find_last_of('/');
    return slash == std::string::npos ? folder : folder.substr(0, slash);
}

// Characters that make an Exec argument need quotes, by the desktop entry rules.
bool NeedsQuotes(const std::string& text) {
    return text.empty() || text.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
}

// The user's own desktop files of the registration, below the desktop's data folder.
struct UserDesktopFiles {
    std::string applications;  // the folders the desktop's update helpers index
    std::string mime;
    std::string desktopEntry;
    std::string mimePackage;
    std::string icon;

    explicit UserDesktopFiles(const std::string& dataHome)
        : applications(dataHome + "/applications"),
          mime(dataHome + "/mime"),
          desktopEntry(applications + "/" + kDesktopFileName),
          mimePackage(mime + "/packages/" + kMimePackageName),
          icon(dataHome + "/icons/hicolor/64x64/apps/" + kIconName + ".png") {}
};

void UpdateDesktopIndexes(const FileTypeRegistration& where, const UserDesktopFiles& files) {
    if (where.runTool) {
        where.runTool({"update-mime-database", files.mime});
        where.runTool({"update-desktop-database", files.applications});
    }
}

void WriteDesktopPieces(const FileTypeRegistration& where) {
    const UserDesktopFiles files(where.dataHome);
    WriteDesktopFile(files.desktopEntry, DesktopEntry(where.programPath));
    WriteDesktopFile(files.mimePackage, MimePackage());
    if (!where.iconPng.empty())
        WriteDesktopFile(files.icon, where.iconPng);
    UpdateDesktopIndexes(where, files);
}

// Removes the user's desktop files of an earlier registration, which would otherwise stand
// beside the package's (or before them, opening .kel files with a program that has moved).
void RemoveDesktopPieces(const FileTypeRegistration& where) {
    const UserDesktopFiles files(where.dataHome);
    bool removed = false;
    for (const std::string& path : {files.desktopEntry, files.mimePackage, files.icon})
        removed |= ::unlink(path.c_str()) == 0;
    if (removed)
        UpdateDesktopIndexes(where, files);
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// $XDG_DATA_DIRS as a list of folders; relative entries do not count, as the base directory
// rules say.
std::vector<std::string> SystemDataFolders() {
    const char* value = std::getenv("XDG_DATA_DIRS");
    std::istringstream list(value != nullptr && *value != '\0' ? value
                                                               : "/usr/local/share/:/usr/share/");
    std::vector<std::string> folders;
    std::string folder;
    while (std::getline(list, folder, ':')) {
        if (!folder.empty() && folder[0] == '/')
            folders.push_back(folder);
    }
    return folders;
}

}  // namespace

const char kInstalledDesktopId[] = KELO_APP_ID;

FileTypeRegistration FileTypeRegistration::ForThisProgram() {
    FileTypeRegistration where;
    where.programPath = platform::ProgramPath();
    where.storeFolder = platform::DataFolder();
    where.dataHome = DataHome();
    const QByteArray icon = AppIconPng(64);
    where.iconPng.assign(icon.constData(), static_cast<size_t>(icon.size()));
    where.systemDataFolders = SystemDataFolders();
    where.runTool = RunDesktopTool;
    return where;
}

std::string RegistrationCommand(const std::string& programPath) {
    return programPath + " \"%1\"";
}

RegistrationResult RegisterFileType(const FileTypeRegistration& where) {
    const std::string command = RegistrationCommand(where.programPath);
    platform::RegistryStore store(where.storeFolder);
    if (!store.CreateKey(kExtensionKey))
        return RegistrationResult::kKeyFailed;

    // "AppPath" equal to the command text, case counting, marks a current registration.
    std::string appPath;
    if (store.ReadValue(kExtensionKey, kAppPathValue, appPath) && appPath == command)
        return RegistrationResult::kCurrent;

    if (!store.WriteValue(kExtensionKey, "", kFileTypeName))
        return RegistrationResult::kValueFailed;
    // The rest is written as far as it goes; the type is registered once the default is set.
    store.WriteValue(kExtensionKey, kAppPathValue, command);
    store.WriteValue(kOpenKey, "", "Open");
    store.WriteValue(kCommandKey, "", command);

    if (PackageDesktopFilesInstalled(where.systemDataFolders))
        RemoveDesktopPieces(where);
    else
        WriteDesktopPieces(where);
    return RegistrationResult::kWritten;
}

bool PackageDesktopFilesInstalled(const std::vector<std::string>& systemDataFolders) {
    const std::string id = kInstalledDesktopId;
    for (const std::string& folder : systemDataFolders) {
        if (IsRegularFile(folder + "/applications/" + id + ".desktop") &&
            IsRegularFile(folder + "/mime/packages/" + id + ".xml"))
            return true;
    }
    return false;
}

std::string DesktopExecArgument(const std::string& path) {
    std::string argument;
    if (NeedsQuotes(path)) {
        argument = "\"";
        for (const char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\')
                argument += '\\';
            argument += c;
        }
        argument += '"';
    } else {
        argument = path;
    }
    // Field codes start with "%", so a literal one is doubled; then the value escapes of a
    // desktop file apply to the whole line.
    std::string value;
    for (const char c : argument) {
        switch (c) {
            case '%':
                value += "%%";
                break;
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string DesktopEntry(const std::string& programPath) {
    return std::string(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Kelo\n"
               "Comment=Service utility for the maker's printers\n"
               "Exec=") +
           DesktopExecArgument(programPath) +
           " %f\n"
           "Icon=" +
           kIconName +
           "\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "MimeType=" +
           kReportMimeType + ";\n";
}

std::string MimePackage() {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kReportMimeType +
           "\">\n"
           "    <comment>Kelo report</comment>\n"
           "    <glob pattern=\"*.kel\"/>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

CKeloApp::CKeloApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

int CKeloApp::Run() {
    MessageBoxSink messageBoxes;
    platform::MessageSink* previous = platform::SetMessageSink(&messageBoxes);
    QApplication::setWindowIcon(AppIcon());
    // Ties the windows to the desktop entry that opens report files: the package's or the user's.
    QGuiApplication::setDesktopFileName(
        PackageDesktopFilesInstalled(SystemDataFolders()) ? kInstalledDesktopId : "kelo");
    int status = 0;
    {
        // SIGTERM and SIGHUP end every window's loop, modal ones included, and any opened later
        // returns at once; a running exchange sees the signal at its next pump and cancels.
        StopSignals stopSignals([&status](int signalNumber) {
            status = platform::SignalExitStatus(signalNumber);
            QCoreApplication::exit(status);
        });
        // The dialog loads the settings here and saves them as it goes.
        CKeloDlg dialog(arguments_.empty() ? std::string() : arguments_.front());
        if (const char* tracePath = std::getenv("KELO_TRACE"); tracePath != nullptr && *tracePath)
            dialog.StartTrace(tracePath);
        dialog.exec();
    }
    CReportDlg::RemovePagesLeftForExit();
    platform::SetMessageSink(previous);
    return status;
}

}  // namespace app
