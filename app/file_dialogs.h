// The standard open and save dialogs of the program. Every operation asks for its paths
// through ChooseFile, so tests can install dialogs of their own that cancel or answer at once.
#pragma once

#include <QStringList>
#include <string>

#include "files/file_filters.h"

class QWidget;

namespace kelo::app {

// One file dialog as an operation asks for it.
struct FileDialogRequest {
    enum class Kind { kOpen, kSave };
    Kind kind = Kind::kOpen;
    std::string filter;            // "description|pattern|" entries; empty offers every file
    std::string defaultExtension;  // ".kel", or one per filter entry as ".kel|.txt"; may be empty
    bool mustExist = false;
    bool askBeforeReplace = false;
};

// The dialogs of each operation.
FileDialogRequest OpenReportDialog();  // Open Report: report filter, ".kel", must exist
FileDialogRequest SaveReportDialog();  // the viewer's Save: save filter, ".kel|.txt", no question
FileDialogRequest SaveParameterDialog();  // Get Parameters: no filter, asks before replacing
FileDialogRequest LoadParameterDialog();  // Put Parameters: no filter
FileDialogRequest LoadFirmwareDialog();   // Firmware Upgrade: firmware filter, must exist
FileDialogRequest
TraceFileDialog();  // Protocol Trace: trace filter, ".txt", appended to: no question

class FileDialogs {
  public:
    virtual ~FileDialogs() = default;
    // Shows the dialog owned by owner and puts the chosen path in path; false when cancelled.
    virtual bool Choose(QWidget* owner, const FileDialogRequest& request, std::string& path) = 0;
};

// Installs the process-wide dialogs and returns the previous ones; nullptr restores Qt's.
FileDialogs* SetFileDialogs(FileDialogs* dialogs);

bool ChooseFile(QWidget* owner, const FileDialogRequest& request, std::string& path);

// A chooser for the file layer's operations, asking through ChooseFile.
kelo::PathChooser MakePathChooser(QWidget* owner, const FileDialogRequest& request);

// Qt's name filters for a "description|pattern|" filter. "*.*" means every file, as it does
// on Windows, and becomes "*"; several patterns separated by ";" become a space-separated
// list. A description that already ends with its pattern in brackets is kept as it stands.
QStringList NameFilters(const std::string& filter);

// The default suffix (without its dot) for the name filter at index: the extension string's
// entry at that index, else its first entry.
QString DefaultSuffix(const std::string& defaultExtension, int filterIndex);

}  // namespace kelo::app
