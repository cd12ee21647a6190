#include "app/kelo_app.h"

#include <sys/stat.h>

#include <QApplication>
#include <cerrno>
#include <sstream>

#include "app/app_icon.h"
#include "app/kelo_dlg.h"
#include "app/message_box_sink.h"
#include "app/report_dlg.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/system.h"

namespace app {
namespace {

constexpr char kDesktopFileName[] = "kelo.desktop";
constexpr char kMimePackageName[] = "kelo.xml";
constexpr char kIconName[] = "kelo";

bool MakeFolders(const std::string& folder) {
    std::string path = folder.size() > 0 && folder[0] == '/' ? "/" : "";
    std::istringstream parts(folder);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty())
            continue;
        path += part;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        path += '/';
    }
    return true;
}

// Writes one desktop file; a failure leaves the start going on, the type merely not opening
// on a double click.
void WriteDesktopFile(const std::string& folder, const std::string& name,
                      const std::string& content) {
    if (!MakeFolders(folder))
        return;
    platform::WriteFileAtomically(folder + "/" + name, content.data(), content.size());
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

void WriteDesktopPieces(const FileTypeRegistration& where) {
    const std::string applications = where.dataHome + "/applications";
    const std::string mime = where.dataHome + "/mime";
    WriteDesktopFile(applications, kDesktopFileName, DesktopEntry(where.programPath));
    WriteDesktopFile(mime + "/packages", kMimePackageName, MimePackage());
    if (!where.iconPng.empty()) {
        WriteDesktopFile(where.dataHome + "/icons/hicolor/64x64/apps",
                         std::string(kIconName) + ".png", where.iconPng);
    }
    if (where.runTool) {
        where.runTool({"update-mime-database", mime});
        where.runTool({"update-desktop-database", applications});
    }
}

}  // namespace

FileTypeRegistration FileTypeRegistration::ForThisProgram() {
    FileTypeRegistration where;
    where.programPath = platform::ProgramPath();
    where.storeFolder = platform::DataFolder();
    where.dataHome = DataHome();
    const QByteArray icon = AppIconPng(64);
    where.iconPng.assign(icon.constData(), static_cast<size_t>(icon.size()));
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

    WriteDesktopPieces(where);
    return RegistrationResult::kWritten;
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
    QGuiApplication::setDesktopFileName("kelo");  // ties the windows to the registered entry
    {
        // The connection loads the settings here and saves them as the dialog goes.
        CKeloDlg dialog(arguments_.empty() ? std::string() : arguments_.front());
        dialog.exec();
    }
    CReportDlg::RemovePagesLeftForExit();
    platform::SetMessageSink(previous);
    return 0;
}

}  // namespace app
