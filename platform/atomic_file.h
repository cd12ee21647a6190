// Writing a whole file so that a failure never leaves a half-written file where a good one
// stood: the content goes to a temporary file in the same folder, which replaces the target
// only once it was written whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct FileResult {
    bool ok = true;
    int error = 0;  // errno of the failing step
    std::string ErrorText(const std::string& path) const;
};

// A symbolic link at path stays: the file at its end is written. A new file gets 0666 less the
// umask, a replaced one the old file's permission bits (never setuid, setgid or sticky).
FileResult WriteFileAtomically(const std::string& path, const void* data, size_t length);

// Writes a file only this user can read (0600), created afresh where a shared folder may hold
// things other users planted: an old regular file of this user at path is removed first;
// anything else there (a symbolic link, another user's file) is never followed or written,
// and the write fails with EEXIST. A failed write leaves no file.
FileResult WriteNewPrivateFile(const std::string& path, const void* data, size_t length);

// Reads at most maxBytes of a file. tooLarge is set when the file holds more than maxBytes.
FileResult ReadFileBytes(const std::string& path, size_t maxBytes, std::vector<uint8_t>& out,
                         bool* tooLarge = nullptr);

}  // namespace platform
