// What a run may do to the files it names. Every file a run writes (a save, -o, a trace, a
// capture) must not exist or be a regular file once its symbolic links are followed: renaming a
// save over /dev/null would break it for the whole system, and a FIFO would hold its writer or
// reader for ever. Every file a run reads as input must be a regular file, opened once and
// never read past its format's limit. The saves (atomic_file), the trace files and kelo-cli's
// checks before any traffic all ask here.
#pragma once

#include <optional>
#include <string>

namespace kelo::platform {

// What stands at path when it is not a regular file, followed through its links: "a character
// device", "a block device", "a FIFO", "a socket", "a folder"; nullopt for a regular file and
// for nothing at all.
std::optional<std::string> NonRegularKind(const std::string& path);

// Refuses a file to write that is something other than a regular file:
// "/dev/null is a character device; -o writes regular files". writer names what writes it.
std::optional<std::string> RefusedOutputFile(const std::string& path, const std::string& writer);

// Refuses an input that is not a regular file, or cannot be looked at:
// "/dev/zero is a character device; put-params reads regular files".
std::optional<std::string> RefusedInputFile(const std::string& path, const std::string& reader);

// The file path leads to once its symbolic links are followed, whether or not it exists (a
// dangling link leads to the name it holds); path itself when it is no link. Relative links
// are taken from the folder of the link. False, with the errno value in error, when a link
// cannot be read or the links loop (ELOOP); target is then the last name reached.
bool FollowLinks(const std::string& path, std::string& target, int& error);

// FollowLinks' target, whatever stopped it.
std::string FinalTarget(const std::string& path);

// True when both paths lead to one file: the same device and inode where both exist, else the
// same absolute path once links are followed (also dangling ones) and "." and ".." resolved.
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace kelo::platform
