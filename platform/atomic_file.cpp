#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/system.h"

namespace platform {
namespace {

FileResult Failure(int error) {
    return FileResult{false, error};
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool WriteAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

// New files get the usual 0666 less the umask, as a plain creat() would give them.
mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string FileResult::ErrorText(const std::string& path) const {
    return FileErrorText(path, error);
}

FileResult WriteFileAtomically(const std::string& path, const void* data, size_t length) {
    std::string temp = FolderOf(path) + "/.kelo-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Failure(errno);

    struct stat existing {};
    const mode_t mode =
        (::stat(path.c_str(), &existing) == 0) ? (existing.st_mode & 07777) : NewFileMode();
    const bool written = ::fchmod(fd, mode) == 0 &&
                         WriteAll(fd, static_cast<const uint8_t*>(data), length) &&
                         ::fsync(fd) == 0;
    const int writeError = errno;
    if (::close(fd) != 0 && written) {
        const int closeError = errno;
        ::unlink(temp.c_str());
        return Failure(closeError);
    }
    if (!written) {
        ::unlink(temp.c_str());
        return Failure(writeError);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temp.c_str());
        return Failure(renameError);
    }
    return FileResult{};
}

FileResult ReadFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out,
                         bool* tooLarge) {
    out.clear();
    if (tooLarge != nullptr)
        *tooLarge = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Failure(errno);
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Failure(EISDIR);
    }
    uint8_t chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            return Failure(error);
        }
        if (n == 0)
            break;
        const size_t room = maxBytes - out.size();
        const size_t take = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        out.insert(out.end(), chunk, chunk + take);
        if (take < static_cast<size_t>(n)) {
            if (tooLarge != nullptr)
                *tooLarge = true;
            break;
        }
    }
    ::close(fd);
    return FileResult{};
}

}  // namespace platform
