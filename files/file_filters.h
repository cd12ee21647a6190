// What the file dialogs of the program offer: filter strings in "description|pattern|" form,
// default extensions, and the chooser through which an operation asks for a path.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelo {

// Entries are "description|pattern|"; an empty description ("||") ends the list.
inline constexpr char kFirmwareFilter[] = "Firmware Files (*.rfw)|*.rfw|All Files (*.*)|*.*||";
inline constexpr char kReportFilter[] = "Kelo Report File(*.kel)|*.kel|";
inline constexpr char kSaveFilter[] =
    "Kelo Report File(*.kel)|*.kel|Text File (*.txt)|*.txt|All Files (*.*)|*.*||";

// The protocol trace's file (a text file the trace is appended to).
inline constexpr char kTraceFilter[] = "Trace Files (*.txt)|*.txt|";
inline constexpr char kTraceDefaultExtension[] = ".txt";

// Default extension of the Open Report dialog, and the string given to the viewer's save dialog.
inline constexpr char kReportDefaultExtension[] = ".kel";
inline constexpr char kSaveDefaultExtension[] = ".kel|.txt";

struct FileFilter {
    std::string description;
    std::string pattern;
    bool operator==(const FileFilter&) const = default;
};

// Splits a filter string into its (description, pattern) entries, in order. Parsing stops at
// an empty description; a description without a pattern is dropped.
std::vector<FileFilter> ParseFileFilter(const std::string& filter);

// Shows a file dialog and puts the chosen path in path; false when the user cancelled.
using PathChooser = std::function<bool(std::string& path)>;

}  // namespace kelo
