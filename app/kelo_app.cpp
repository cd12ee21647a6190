#include "app/kelo_app.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cstdint>
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
#include "platform/system.h"

namespace kelo::app {
namespace {

constexpr char kDesktopFileName[] = "kelo.desktop";
constexpr char kMimePackageName[] = "kelo.xml";
constexpr char kIconName[] = "kelo";

// Writes one desktop file whole, making its folder.
bool WriteDesktopFile(const std::string& path, const std::string& content) {
    return platform::MakeFolders(path.substr(0, path.find_last_of('/')), 0755).ok &&
           platform::WriteFileAtomically(path, content.data(), content.size()).ok;
}

// True when the file holds exactly the content; a larger file is not read.
bool FileHolds(const std::string& path, const std::string& content) {
    std::vector<uint8_t> bytes;
    bool tooLarge = false;
    return platform::ReadFileBytes(path, content.size(), bytes, &tooLarge).ok && !tooLarge &&
           std::string(bytes.begin(), bytes.end()) == content;
}

void RunDesktopTool(const std::vector<std::string>& command) {
    platform::ChildProcess tool;
    if (tool.Start(command))
        tool.Wait();
}

// Characters that make an Exec argument need quotes, by the desktop entry rules.
bool NeedsQuotes(const std::string& text) {
    return text.empty() || text.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
}

// The user's own desktop files of the registration, below the desktop's data folder.
struct UserDesktopFiles {
    std::string applications;  // the folders the desktop's update helpers index
    std::string mime;
    std::string mimePackages;
    std::string desktopEntry;
    std::string mimePackage;
    std::string icon;

    explicit UserDesktopFiles(const std::string& dataHome)
        : applications(dataHome + "/applications"),
          mime(dataHome + "/mime"),
          mimePackages(mime + "/packages"),
          desktopEntry(applications + "/" + kDesktopFileName),
          mimePackage(mimePackages + "/" + kMimePackageName),
          icon(dataHome + "/icons/hicolor/64x64/apps/" + kIconName + ".png") {}
};

void UpdateDesktopIndexes(const FileTypeRegistration& where, const UserDesktopFiles& files) {
    if (where.runTool) {
        where.runTool({"update-mime-database", files.mime});
        where.runTool({"update-desktop-database", files.applications});
    }
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
    where.dataHome = platform::DataHome();
    const QByteArray icon = AppIconPng(64);
    where.iconPng.assign(icon.constData(), static_cast<size_t>(icon.size()));
    where.systemDataFolders = SystemDataFolders();
    where.runTool = RunDesktopTool;
    return where;
}

RegistrationResult RegisterFileType(const FileTypeRegistration& where) {
    const UserDesktopFiles files(where.dataHome);
    if (PackageDesktopFilesInstalled(where.systemDataFolders)) {
        RemoveDesktopPieces(where);
        return RegistrationResult::kCurrent;
    }

    // Folders that cannot be made mean the user's data folder is not writable: nothing can be
    // registered.
    if (!platform::MakeFolders(files.applications, 0755).ok ||
        !platform::MakeFolders(files.mimePackages, 0755).ok)
        return RegistrationResult::kFoldersFailed;

    // The entry and the MIME package as this program writes them, byte for byte, mark a current
    // registration; an entry whose Exec names another program, or no entry, is written again.
    const std::string entry = DesktopEntry(where.programPath);
    const std::string mimePackage = MimePackage();
    if (FileHolds(files.desktopEntry, entry) && FileHolds(files.mimePackage, mimePackage))
        return RegistrationResult::kCurrent;

    if (!WriteDesktopFile(files.desktopEntry, entry))
        return RegistrationResult::kEntryFailed;
    // The rest is written as far as it goes: a failure only leaves the type without its glob or
    // icon, and the next start writes them again.
    WriteDesktopFile(files.mimePackage, mimePackage);
    if (!where.iconPng.empty())
        WriteDesktopFile(files.icon, where.iconPng);
    UpdateDesktopIndexes(where, files);
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

KeloApp::KeloApp(std::vector<std::string> arguments) : arguments_(std::move(arguments)) {}

int KeloApp::Run() {
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
        MainDialog dialog(arguments_.empty() ? std::string() : arguments_.front());
        if (const char* tracePath = std::getenv("KELO_TRACE"); tracePath != nullptr && *tracePath)
            dialog.StartTrace(tracePath);
        dialog.exec();
    }
    // A browser page that cannot be removed is told as the user closes the program; a signal
    // ends it without asking anything more.
    if (!ReportDialog::RemovePagesLeftForExit() && status == 0)
        platform::ShowMessage(platform::MessageId::kFailedRemove);
    platform::SetMessageSink(previous);
    return status;
}

}  // namespace kelo::app
