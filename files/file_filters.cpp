#include "files/file_filters.h"

namespace kelo {

std::vector<FileFilter> ParseFileFilter(const std::string& filter) {
    std::vector<FileFilter> entries;
    size_t at = 0;
    while (at < filter.size()) {
        const size_t bar = filter.find('|', at);
        if (bar == std::string::npos || bar == at)
            break;  // no pattern follows, or the "||" end
        const size_t end = filter.find('|', bar + 1);
        const size_t patternEnd = end == std::string::npos ? filter.size() : end;
        if (patternEnd == bar + 1)
            break;  // a description without a pattern
        entries.push_back(
            {filter.substr(at, bar - at), filter.substr(bar + 1, patternEnd - bar - 1)});
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return entries;
}

}  // namespace kelo
