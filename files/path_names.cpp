#include "files/path_names.h"

namespace kelo {

std::string DottedExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return "";
    return path.substr(dot);
}

bool EndsWithLetters(const std::string& path, const std::string& letters) {
    return path.size() >= letters.size() &&
           path.compare(path.size() - letters.size(), letters.size(), letters) == 0;
}

}  // namespace kelo
