#include "app/file_dialogs.h"

#include <QFile>
#include <QFileDialog>

namespace kelo::app {
namespace {

class QtFileDialogs : public FileDialogs {
  public:
    bool Choose(QWidget* owner, const FileDialogRequest& request, std::string& path) override {
        QFileDialog dialog(owner);
        const bool save = request.kind == FileDialogRequest::Kind::kSave;
        dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.askBeforeReplace);
        const QStringList filters = NameFilters(request.filter);
        if (!filters.isEmpty())
            dialog.setNameFilters(filters);
        dialog.setDefaultSuffix(DefaultSuffix(request.defaultExtension, 0));
        // The suffix follows the chosen file type, so "Text File" saves a .txt.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, &request, filters](const QString& filter) {
                             dialog.setDefaultSuffix(
                                 DefaultSuffix(request.defaultExtension, filters.indexOf(filter)));
                         });
        if (dialog.exec() != QDialog::Accepted)
            return false;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty())
            return false;
        path = QFile::encodeName(chosen.first()).toStdString();
        return true;
    }
};

QtFileDialogs g_qtDialogs;
FileDialogs* g_dialogs = &g_qtDialogs;

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos)
        return "";
    return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

// "*.kel;*.KEL" becomes "*.kel *.KEL"; "*.*" becomes "*".
QString TranslatePatterns(const std::string& pattern) {
    QStringList patterns;
    for (const QString& one : QString::fromStdString(pattern).split(';', Qt::SkipEmptyParts)) {
        const QString trimmed = one.trimmed();
        patterns << (trimmed == "*.*" ? QString("*") : trimmed);
    }
    return patterns.join(' ');
}

}  // namespace

FileDialogRequest OpenReportDialog() {
    return {FileDialogRequest::Kind::kOpen, kelo::kReportFilter, kelo::kReportDefaultExtension,
            true, false};
}

FileDialogRequest SaveReportDialog() {
    return {FileDialogRequest::Kind::kSave, kelo::kSaveFilter, kelo::kSaveDefaultExtension, false,
            false};
}

FileDialogRequest SaveParameterDialog() {
    return {FileDialogRequest::Kind::kSave, "", "", false, true};
}

FileDialogRequest LoadParameterDialog() {
    return {FileDialogRequest::Kind::kOpen, "", "", false, false};
}

FileDialogRequest TraceFileDialog() {
    return {FileDialogRequest::Kind::kSave, kelo::kTraceFilter, kelo::kTraceDefaultExtension, false,
            false};
}

FileDialogRequest LoadFirmwareDialog() {
    return {FileDialogRequest::Kind::kOpen, kelo::kFirmwareFilter, "", true, false};
}

FileDialogs* SetFileDialogs(FileDialogs* dialogs) {
    FileDialogs* previous = g_dialogs == &g_qtDialogs ? nullptr : g_dialogs;
    g_dialogs = dialogs != nullptr ? dialogs : &g_qtDialogs;
    return previous;
}

bool ChooseFile(QWidget* owner, const FileDialogRequest& request, std::string& path) {
    return g_dialogs->Choose(owner, request, path);
}

kelo::PathChooser MakePathChooser(QWidget* owner, const FileDialogRequest& request) {
    return [owner, request](std::string& path) { return ChooseFile(owner, request, path); };
}

QStringList NameFilters(const std::string& filter) {
    QStringList names;
    for (const kelo::FileFilter& entry : kelo::ParseFileFilter(filter)) {
        const QString patterns = TranslatePatterns(entry.pattern);
        if (patterns.isEmpty())
            continue;
        std::string description = Trimmed(entry.description);
        if (description.size() > entry.pattern.size() + 2 &&
            description.compare(description.size() - entry.pattern.size() - 2, std::string::npos,
                                "(" + entry.pattern + ")") == 0) {
            if (patterns == QString::fromStdString(entry.pattern)) {
                names << QString::fromStdString(description);
                continue;
            }
            description = Trimmed(description.substr(0, description.rfind('(')));
        }
        names << QString::fromStdString(description) + " (" + patterns + ")";
    }
    return names;
}

QString DefaultSuffix(const std::string& defaultExtension, int filterIndex) {
    QStringList suffixes;
    for (QString one : QString::fromStdString(defaultExtension).split('|')) {
        one = one.trimmed();
        if (one.startsWith('.'))
            one.remove(0, 1);
        suffixes << one;
    }
    if (filterIndex >= 0 && filterIndex < suffixes.size() && !suffixes[filterIndex].isEmpty())
        return suffixes[filterIndex];
    return suffixes.value(0);
}

}  // namespace kelo::app
