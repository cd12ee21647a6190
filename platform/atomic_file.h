// Writing a whole file so that a failure never leaves a half-written file where a good one
// stood: the content goes to a temporary file in the same folder, which replaces the target
// only once it was written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::platform {

struct FileResult {
    bool ok = true;
    int error = 0;       // errno of the failing step
    std::string reason;  // instead of the errno's text: "a FIFO, not a regular file"
    std::string ErrorText(const std::string& path) const;
    // Whether the step went; when it failed, its ErrorText is shown through the message sink.
    bool OkElseShow(const std::string& path) const;
};

// A symbolic link at path stays: the file at its end is written. A new file gets 0666 less the
// umask, a replaced one the old file's permission bits (never setuid, setgid or sticky). Only a
// regular file is replaced: a device, FIFO, socket or folder at the end of path is refused.
// Writes all length bytes to fd, again after a signal; false (errno set) when a write fails or
// takes nothing.
bool WriteWhole(int fd, const void* data, size_t length);
inline bool WriteWhole(int fd, std::string_view bytes) {
    return WriteWhole(fd, bytes.data(), bytes.size());
}

FileResult WriteFileAtomically(const std::string& path, const void* data, size_t length);

// Writes a file only this user can read (0600), created afresh where a shared folder may hold
// things other users planted: an old regular file of this user at path is removed first;
// anything else there (a symbolic link, another user's file) is never followed or written,
// and the write fails with EEXIST. A failed write leaves no file.
FileResult WriteNewPrivateFile(const std::string& path, const void* data, size_t length);

// Whether WriteFileAtomically could write path, asked before there is anything to write: the
// folder it would write in (that of the file at the end of a symbolic link) exists and this
// user may create files there. Fails with the errno a save would meet (ENOENT, ENOTDIR, EACCES,
// EROFS, EISDIR for a folder at path, ELOOP for links that loop).
FileResult CheckCanCreateFileAt(const std::string& path);

// Makes the folder and every missing folder above it with the mode (less the umask), as
// `mkdir -p` does; folders that exist are left as they are. Fails with the errno of the step
// that failed, or ENOTDIR when something other than a folder stands at the path.
FileResult MakeFolders(const std::string& folder, unsigned mode = 0700);

// Writes a file as WriteFileAtomically does after making its missing folders (0700), for the
// settings files whose folders ($XDG_CONFIG_HOME, $XDG_DATA_HOME) a new account may not have.
FileResult WriteFileMakingFolders(const std::string& path, const void* data, size_t length);

// Reads at most maxBytes of a regular file, opened once (a FIFO, a device or a folder is
// refused without waiting for a writer or reading anything). tooLarge is set, and nothing is
// read, when the file holds more than maxBytes.
FileResult ReadFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out,
                         bool* tooLarge = nullptr);

}  // namespace kelo::platform
