#include "records/records_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/system.h"

namespace kelo::records {
namespace {

// Closes a descriptor when it goes out of scope.
struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool OthersMayWrite(const struct stat& info) {
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Why a file of the records is not the user's alone, or "" when it is.
std::string NotPrivate(const struct stat& info) {
    if (info.st_uid != ::geteuid())
        return "belongs to another user";
    if (OthersMayWrite(info))
        return "may be written by other users";
    return "";
}

// Each folder from the root down to folder (already free of links) must be root's or the
// user's and writable by nobody else, except that others may write a sticky folder (/tmp),
// where they cannot rename or remove what is not theirs. So nobody else can swap a folder
// on the way between this look and SQLite's own opening of the path. The group may write a
// folder above when it is the user's own group (the user's private group, as systems with a
// umask of 002 give ~/.local); the records' own folder and file are held to no group write.
std::string FolderChainProblem(const std::string& folder) {
    std::vector<std::string> chain = {"/"};
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1))
        chain.push_back(folder.substr(0, slash));
    if (folder != "/")
        chain.push_back(folder);
    for (const std::string& step : chain) {
        struct stat info {};
        if (::lstat(step.c_str(), &info) != 0)
            return platform::FileErrorText(step, errno);
        if (!S_ISDIR(info.st_mode))
            return step + ": not a folder";
        if (info.st_uid != 0 && info.st_uid != ::geteuid())
            return step + ": the folder belongs to another user";
        const bool othersWrite = (info.st_mode & S_IWOTH) != 0 ||
                                 ((info.st_mode & S_IWGRP) != 0 && info.st_gid != ::getegid());
        if (othersWrite && (info.st_mode & S_ISVTX) == 0)
            return step + ": the folder may be written by other users";
    }
    return "";
}

// A companion file of SQLite's (-wal, -shm) in the folder, when there is one, must be the
// user's own plain file too.
std::string CompanionProblem(int folder, const std::string& name) {
    struct stat info {};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return "";
    if (!S_ISREG(info.st_mode))
        return name + " is not a plain file";
    const std::string problem = NotPrivate(info);
    return problem.empty() ? "" : name + " " + problem;
}

int32_t BigEndian32(const unsigned char* bytes) {
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) << 24 |
                                static_cast<uint32_t>(bytes[1]) << 16 |
                                static_cast<uint32_t>(bytes[2]) << 8 | bytes[3]);
}

}  // namespace

FileVerdict CheckRecordsFile(const std::string& path, bool make, CheckedFile& checked,
                             std::string& reason) {
    const auto refuse = [&](const std::string& why) {
        reason = path + ": " + why + "; not used, and left as it is";
        return FileVerdict::Refused;
    };
    const std::string folder = FolderOf(path);
    const std::string name = NameOf(path);
    if (name.empty() || name == "." || name == "..")
        return refuse("not a file name");
    if (make) {
        const platform::FileResult made = platform::MakeFolders(folder, 0700);
        if (!made.ok) {
            reason = made.ErrorText(folder);
            return FileVerdict::Failed;
        }
    }
    // The user's own links on the way (a home folder elsewhere) are resolved once, here; the
    // path SQLite gets has none left, and SQLite is told to refuse any it would meet.
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr) {
        if (errno == ENOENT || errno == ENOTDIR)
            return FileVerdict::Missing;
        reason = platform::FileErrorText(folder, errno);
        return FileVerdict::Failed;
    }
    const std::string realFolder = resolved;
    if (const std::string problem = FolderChainProblem(realFolder); !problem.empty())
        return refuse(problem);
    Descriptor dir{::open(realFolder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    struct stat folderInfo {};
    if (dir.fd < 0 || ::fstat(dir.fd, &folderInfo) != 0) {
        reason = platform::FileErrorText(realFolder, errno);
        return FileVerdict::Failed;
    }
    if (const std::string problem = NotPrivate(folderInfo); !problem.empty())
        return refuse("its folder " + problem);

    // O_NOFOLLOW: a link at the records path is never followed; O_NONBLOCK: a FIFO there
    // cannot hold the opening up. The descriptor is the file the checks below are about.
    constexpr int kLook = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    Descriptor file{::openat(dir.fd, name.c_str(), kLook)};
    if (file.fd < 0 && errno == ENOENT && make) {
        file.fd = ::openat(dir.fd, name.c_str(), kLook | O_CREAT | O_EXCL, 0600);
        if (file.fd < 0 && errno == EEXIST)  // another program made it meanwhile
            file.fd = ::openat(dir.fd, name.c_str(), kLook);
    }
    if (file.fd < 0) {
        if (errno == ELOOP)
            return refuse("a symbolic link");
        if (errno == ENOENT)
            return FileVerdict::Missing;
        reason = platform::FileErrorText(path, errno);
        return FileVerdict::Failed;
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) {
        reason = platform::FileErrorText(path, errno);
        return FileVerdict::Failed;
    }
    if (!S_ISREG(info.st_mode))
        return refuse("not a plain file");
    if (const std::string problem = NotPrivate(info); !problem.empty())
        return refuse(problem);
    for (const char* suffix : {"-wal", "-shm"}) {
        if (const std::string problem = CompanionProblem(dir.fd, name + suffix); !problem.empty())
            return refuse(problem);
    }
    checked = CheckedFile{};
    checked.path = (realFolder == "/" ? "" : realFolder) + "/" + name;
    checked.device = info.st_dev;
    checked.inode = info.st_ino;
    if (info.st_size == 0) {
        // Records go into an empty file only when nobody else could read them there either.
        if ((info.st_mode & 077) != 0)
            return refuse("an empty file other users may read");
        checked.empty = true;
        return FileVerdict::Usable;
    }
    unsigned char header[100];
    const ssize_t got = ::pread(file.fd, header, sizeof header, 0);
    if (got != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "SQLite format 3", 16) != 0)
        return refuse("not a Kelo records database");
    checked.rollbackHeader = header[18] == 1 && header[19] == 1;
    checked.userVersion = BigEndian32(header + 60);
    checked.applicationId = BigEndian32(header + 68);
    return FileVerdict::Usable;
}

bool StillTheCheckedFile(const CheckedFile& checked) {
    struct stat info {};
    return ::lstat(checked.path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_dev == checked.device && info.st_ino == checked.inode;
}

int OpenPrivateFolder(const std::string& path, bool make, std::string& reason) {
    constexpr int kFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.c_str(), kFolder);
    if (fd < 0 && errno == ENOENT) {
        if (!make)
            return -1;
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = platform::FileErrorText(path, errno);
            return -1;
        }
        fd = ::open(path.c_str(), kFolder);
    }
    if (fd < 0) {
        reason = errno == ELOOP || errno == ENOTDIR ? path + ": not a folder of Kelo's"
                                                    : platform::FileErrorText(path, errno);
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        ::close(fd);
        reason = path + ": the folder is not the user's alone; not used";
        return -1;
    }
    return fd;
}

}  // namespace kelo::records
