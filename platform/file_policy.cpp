#include "platform/file_policy.h"

#include <sys/stat.h>
#include <unistd.h>
#include <climits>

#include <cerrno>
#include <filesystem>

namespace kelo::platform {
namespace {

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinksFollowed = 40;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::string> KindOf(mode_t mode) {
    if (S_ISREG(mode))
        return std::nullopt;
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a regular file";
}

// The absolute path with "." and ".." and the links of its existing folders resolved.
std::string Normalised(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : resolved.string();
}

}  // namespace

std::optional<std::string> NonRegularKind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return KindOf(info.st_mode);
}

std::optional<std::string> RefusedOutputFile(const std::string& path, const std::string& writer) {
    const std::optional<std::string> kind = NonRegularKind(path);
    if (!kind)
        return std::nullopt;
    return path + " is " + *kind + "; " + writer + " writes regular files";
}

std::optional<std::string> RefusedInputFile(const std::string& path, const std::string& reader) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;  // the reader says why it cannot open it, as it always did
    const std::optional<std::string> kind = KindOf(info.st_mode);
    if (!kind)
        return std::nullopt;
    return path + " is " + *kind + "; " + reader + " reads regular files";
}

bool FollowLinks(const std::string& path, std::string& target, int& error) {
    target = path;
    for (int followed = 0; followed <= kMaxLinksFollowed; ++followed) {
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return true;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
        if (length <= 0 || static_cast<size_t>(length) == link.size()) {
            error = length < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        link.resize(static_cast<size_t>(length));
        target = link.front() == '/' ? link : FolderOf(target) + "/" + link;
    }
    error = ELOOP;
    return false;
}

std::string FinalTarget(const std::string& path) {
    std::string target;
    int error = 0;
    FollowLinks(path, target, error);
    return target;
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    const bool firstExists = ::stat(a.c_str(), &first) == 0;
    const bool secondExists = ::stat(b.c_str(), &second) == 0;
    if (firstExists && secondExists)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    if (firstExists != secondExists)
        return false;
    return Normalised(FinalTarget(a)) == Normalised(FinalTarget(b));
}

}  // namespace kelo::platform
