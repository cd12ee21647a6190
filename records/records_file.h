// The one way to a records file: every program and command that opens the service records comes
// through here first. A file is used only when nobody but the user can have put it there or
// changed it, and only when Kelo made it; anything else is refused and left as it was.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kelo::records {

// PRAGMA application_id of every records database Kelo makes ("KELO").
constexpr int32_t kApplicationId = 0x4B454C4F;

// What the look at a records file found.
enum class FileVerdict {
    Usable,   // the user's own file, safe to hand to SQLite
    Missing,  // no file (and none was to be made)
    Refused,  // someone else's file, a link, a folder others may write, not Kelo's database
    Failed,   // the file could not be looked at (the system's reason)
};

// A records file that passed the look, with what its header says.
struct CheckedFile {
    // The path to hand SQLite: the file in its folder with every link of the folder resolved.
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool empty = false;           // 0 bytes: Kelo may make its database in it
    bool rollbackHeader = false;  // the header's file format bytes say rollback journal (1 1)
    int32_t applicationId = 0;    // from the file's header, as last written to the file itself
    int32_t userVersion = 0;
};

// Looks at the records file at path without changing it: its folder and the folders above must
// be the user's or root's and writable by nobody else (a folder with the sticky bit excepted),
// the file and its folder the user's own and writable by nobody else, none of them a symbolic
// link at the file, and its companion -wal/-shm files the same. With make set, missing folders
// (0700) and an empty file (0600) are made. The reason names the path.
FileVerdict CheckRecordsFile(const std::string& path, bool make, CheckedFile& checked,
                             std::string& reason);

// True when the file at path is still the one that was checked (not replaced meanwhile).
bool StillTheCheckedFile(const CheckedFile& checked);

// Checks a folder of the records' own (the records set aside beside the database): a folder,
// not a link, the user's own, open to nobody else. Made (0700) when missing and make is set.
// Gives its descriptor, or -1 with the reason (empty when it is missing and not to be made).
int OpenPrivateFolder(const std::string& path, bool make, std::string& reason);

}  // namespace kelo::records
