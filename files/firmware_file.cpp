#include "files/firmware_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "files/path_names.h"
#include "platform/atomic_file.h"
#include "platform/messages.h"
#include "platform/system.h"

namespace kelo {
namespace {

// The errno of opening the file for reading, or 0 when it opens.
int OpenError(const std::string& path) {
    // Not blocking: a FIFO would otherwise hold the open until a writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    return 0;
}

bool ShowFileError(const std::string& path, int error) {
    platform::ShowText(platform::FileErrorText(path, error));
    return false;
}

}  // namespace

bool LoadFirmwareFile(const PathChooser& choosePath, std::vector<uint8_t>& image) {
    image.clear();
    std::string path;
    if (!choosePath(path))
        return false;

    // The file is opened before its name is tested, so a missing file reports why.
    if (const int error = OpenError(path); error != 0)
        return ShowFileError(path, error);
    if (!EndsWithLetters(path, "rfw")) {
        platform::ShowMessage(platform::MessageId::kIllegalFile);
        return false;
    }

    bool tooLarge = false;
    const platform::FileResult read =
        platform::ReadFileBytes(path, kMaxFirmwareFileBytes, image, &tooLarge);
    if (!read.ok) {
        platform::ShowText(read.ErrorText(path));
        return false;
    }
    if (tooLarge) {
        image.clear();
        image.shrink_to_fit();
        return ShowFileError(path, EFBIG);
    }
    return true;
}

}  // namespace kelo
