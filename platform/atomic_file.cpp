#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "platform/file_policy.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace kelo::platform {
namespace {

// Names tried for the temporary file before the save gives up.
constexpr int kTemporaryNameTries = 100;

FileResult Failure(int error) {
    return FileResult{false, error, {}};
}

// A file that is not a regular one: never replaced, never read.
FileResult NotRegular(const std::string& kind) {
    return FileResult{false, EINVAL, kind + ", not a regular file"};
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// A name in folder that no other save uses: the process id and a count keep this process's
// saves apart, the random part those of processes that ended and left a file behind.
std::string TemporaryName(const std::string& folder) {
    static std::atomic<unsigned> count{0};
    uint32_t random = 0;
    if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
        random = 0;
    char name[64];
    std::snprintf(name, sizeof name, "/.kelo-%d-%u-%08x", static_cast<int>(::getpid()), ++count,
                  random);
    return folder + name;
}

// Creates the temporary file in folder with mode as the creation mode: the kernel takes the
// umask off, and no later permission change is needed.
int CreateTemporary(const std::string& folder, mode_t mode, std::string& temp) {
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        temp = TemporaryName(folder);
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Writes the whole content to the file just created at path, puts it on the disk and closes
// it; on any failure the file is removed.
FileResult WriteAndClose(int fd, const std::string& path, const void* data, size_t length) {
    const bool written = WriteWhole(fd, data, length) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    const int closeError = errno;
    if (written && closed)
        return FileResult{};
    ::unlink(path.c_str());
    return Failure(written ? closeError : writeError);
}

// Reads what the file holds, at most maxBytes (a file may grow while it is read).
FileResult ReadAtMost(int fd, size_t maxBytes, std::vector<uint8_t>& out, bool* tooLarge) {
    uint8_t chunk[65536];
    while (true) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Failure(errno);
        }
        if (n == 0)
            return FileResult{};
        const size_t room = maxBytes - out.size();
        const size_t take = static_cast<size_t>(n) < room ? static_cast<size_t>(n) : room;
        out.insert(out.end(), chunk, chunk + take);
        if (take < static_cast<size_t>(n)) {
            if (tooLarge != nullptr)
                *tooLarge = true;
            return FileResult{};
        }
    }
}

}  // namespace

bool WriteWhole(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

FileResult CheckCanCreateFileAt(const std::string& path) {
    std::string target;
    int error = 0;
    if (!FollowLinks(path, target, error))
        return Failure(error);
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return Failure(EISDIR);  // no file can replace a folder
    const std::string folder = FolderOf(target);
    if (::stat(folder.c_str(), &info) != 0)
        return Failure(errno);
    if (!S_ISDIR(info.st_mode))
        return Failure(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return Failure(errno);
    return FileResult{};
}

FileResult MakeFolders(const std::string& folder, unsigned mode) {
    std::string path = !folder.empty() && folder[0] == '/' ? "/" : "";
    size_t start = 0;
    while (start <= folder.size()) {
        const size_t slash = std::min(folder.find('/', start), folder.size());
        if (slash > start) {
            path += folder.substr(start, slash - start);
            if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0 && errno != EEXIST)
                return Failure(errno);
            path += '/';
        }
        start = slash + 1;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return Failure(errno);
    return S_ISDIR(info.st_mode) ? FileResult{} : Failure(ENOTDIR);
}

FileResult WriteFileMakingFolders(const std::string& path, const void* data, size_t length) {
    const FileResult folders = MakeFolders(FolderOf(path));
    return folders.ok ? WriteFileAtomically(path, data, length) : folders;
}

std::string FileResult::ErrorText(const std::string& path) const {
    return reason.empty() ? FileErrorText(path, error) : path + ": " + reason;
}

bool FileResult::OkElseShow(const std::string& path) const {
    if (!ok)
        ShowText(ErrorText(path));
    return ok;
}

FileResult WriteFileAtomically(const std::string& path, const void* data, size_t length) {
    // 1. The file to write: the target of a symbolic link, the link itself staying.
    std::string target;
    int error = 0;
    if (!FollowLinks(path, target, error))
        return Failure(error);

    // 2. Only a regular file is replaced: renamed over, /dev/null would become a file.
    if (std::optional<std::string> kind = NonRegularKind(target); kind && *kind != "a folder")
        return NotRegular(*kind);

    // 3. A new file gets 0666 less the umask; a replaced one keeps its permission bits, but
    // never its setuid, setgid or sticky bit.
    struct stat existing {};
    const bool replacing = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    const mode_t mode = replacing ? (existing.st_mode & 0777) : 0666;

    std::string temp;
    const int fd = CreateTemporary(FolderOf(target), mode, temp);
    if (fd < 0)
        return Failure(errno);

    // 4. The umask may have taken bits the old file had; giving them back is worth a try, but
    // a file system that refuses permission changes (exFAT, FAT) still gets the file.
    struct stat created {};
    if (replacing && ::fstat(fd, &created) == 0 && (created.st_mode & 0777) != mode)
        (void)::fchmod(fd, mode);

    // 5. The content, whole and on the disk, then the rename over the target.
    const FileResult written = WriteAndClose(fd, temp, data, length);
    if (!written.ok)
        return written;
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temp.c_str());
        return Failure(renameError);
    }
    return FileResult{};
}

FileResult WriteNewPrivateFile(const std::string& path, const void* data, size_t length) {
    // An old file of this user goes; what another user put there, or a link, stays and makes
    // the creation fail.
    struct stat old {};
    if (::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) && old.st_uid == ::geteuid())
        ::unlink(path.c_str());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Failure(errno);
    return WriteAndClose(fd, path, data, length);
}

FileResult ReadFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out,
                         bool* tooLarge) {
    out.clear();
    if (tooLarge != nullptr)
        *tooLarge = false;
    // Not blocking: opening a FIFO would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Failure(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        return Failure(error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        return Failure(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return NotRegular(NonRegularKind(path).value_or("not a regular file"));
    }
    if (static_cast<uint64_t>(info.st_size) > maxBytes) {
        ::close(fd);
        if (tooLarge != nullptr)
            *tooLarge = true;
        return FileResult{};
    }
    const FileResult read = ReadAtMost(fd, maxBytes, out, tooLarge);
    ::close(fd);
    return read;
}

}  // namespace kelo::platform
