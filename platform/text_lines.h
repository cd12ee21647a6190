// Reading the program's own setting files and splitting their text into lines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/atomic_file.h"

namespace kelo::platform {

// The whole text of a setting file; a file that is missing or cannot be read gives none.
inline std::string SettingFileText(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, SIZE_MAX, bytes).ok)
        return {};
    return std::string(bytes.begin(), bytes.end());
}

// Each line of the text: lines end at a line feed or at the end of the text, and carriage
// returns at a line's end are dropped with it. The files are written back with line feeds
// alone, so a return kept at a line's end would be taken for part of a CR LF on the next read
// and the file would change at every save.
inline std::vector<std::string_view> TextLines(std::string_view text) {
    std::vector<std::string_view> lines;
    lines.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return lines;
}

}  // namespace kelo::platform
