// The whole-file save on file systems that refuse permission changes (exFAT, FAT without
// "quiet", as USB sticks are mounted), through symbolic links, and over files with special
// mode bits.
#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

// While set, every permission change of this process fails with EPERM, as on such a stick.
bool g_refusePermissionChanges = false;
int g_refusedChanges = 0;

bool Refused() {
    if (!g_refusePermissionChanges)
        return false;
    ++g_refusedChanges;
    errno = EPERM;
    return true;
}

}  // namespace

// Link-time shim: the program's own fchmod stands in for the C library's, also for the calls
// made from the platform library linked into it.
extern "C" int fchmod(int fd, mode_t mode) noexcept {
    return Refused() ? -1 : static_cast<int>(::syscall(SYS_fchmod, fd, mode));
}

namespace {

using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFile;

class AtomicFileTest : public ::testing::Test {
  protected:
    AtomicFileTest() : savedMask_(::umask(022)) {}
    ~AtomicFileTest() override {
        ::umask(savedMask_);
        g_refusePermissionChanges = false;
    }

    static bool Save(const std::string& path, const std::string& text) {
        return kelo::platform::WriteFileAtomically(path, text.data(), text.size()).ok;
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }

    TempDir folder_;
    mode_t savedMask_;
};

TEST_F(AtomicFileTest, AFileSystemThatRefusesModeChangesStillGetsTheWholeFile) {
    const std::string text(100000, 'K');
    const std::string replaced = folder_ / "old.kel";
    WriteFile(replaced, "OLD");
    ASSERT_EQ(::chmod(replaced.c_str(), 0666), 0);  // the umask alone cannot give it back

    g_refusePermissionChanges = true;
    g_refusedChanges = 0;
    EXPECT_TRUE(Save(folder_ / "new.kel", text));
    EXPECT_TRUE(Save(replaced, text));
    EXPECT_GT(g_refusedChanges, 0);  // the refusal was met, not stepped round
    g_refusePermissionChanges = false;

    EXPECT_EQ(ReadFileText(folder_ / "new.kel"), text);
    EXPECT_EQ(ReadFileText(replaced), text);
    EXPECT_EQ(folder_.Entries().size(), 2u);  // no temporary file left behind
}

// The new file's mode: 0666 less the umask for a new file, the old file's permission bits
// when one is replaced, never its setuid, setgid or sticky bit.
TEST_F(AtomicFileTest, ModeComesFromTheUmaskOrTheOldFileWithoutSpecialBits) {
    struct Case {
        const char* label;
        std::optional<mode_t> oldMode;
        mode_t mask;
        mode_t expected;
    };
    const Case cases[] = {
        {"new file", std::nullopt, 027, 0640},
        {"old file wider than the umask", 0604, 077, 0604},
        {"setuid, setgid and sticky", 07755, 022, 0755},
    };
    for (const Case& c : cases) {
        const std::string path = folder_ / c.label;
        if (c.oldMode) {
            WriteFile(path, "OLD");
            ASSERT_EQ(::chmod(path.c_str(), *c.oldMode), 0);
            ASSERT_EQ(ModeOf(path) & 04000, *c.oldMode & 04000) << c.label;
        }
        ::umask(c.mask);
        EXPECT_TRUE(Save(path, "NEW")) << c.label;
        EXPECT_EQ(ModeOf(path), c.expected) << c.label;
    }
}

// As editors do: the link stays and its target gets the content, also through a chain of
// relative links into another folder, and a dangling link makes its target. Links that loop
// fail the save.
TEST_F(AtomicFileTest, SavingThroughASymbolicLinkWritesItsTargetAndKeepsTheLink) {
    std::filesystem::create_directories(folder_ / "stick");
    WriteFile(folder_ / "stick/report.kel", "OLD");
    std::filesystem::create_symlink("stick/report.kel", folder_ / "middle.kel");
    std::filesystem::create_symlink("middle.kel", folder_ / "link.kel");
    std::filesystem::create_symlink("stick/made.kel", folder_ / "dangling.kel");

    EXPECT_TRUE(Save(folder_ / "link.kel", "NEW"));
    EXPECT_TRUE(Save(folder_ / "dangling.kel", "MADE"));

    std::error_code notALink;
    EXPECT_EQ(std::filesystem::read_symlink(folder_ / "link.kel", notALink), "middle.kel");
    EXPECT_EQ(std::filesystem::read_symlink(folder_ / "middle.kel", notALink), "stick/report.kel");
    EXPECT_EQ(std::filesystem::read_symlink(folder_ / "dangling.kel", notALink), "stick/made.kel");
    EXPECT_EQ(ReadFileText(folder_ / "stick/report.kel"), "NEW");
    EXPECT_EQ(ReadFileText(folder_ / "stick/made.kel"), "MADE");
    EXPECT_EQ(folder_.Entries().size(), 4u);

    std::filesystem::create_symlink("loop.kel", folder_ / "loop.kel");
    const kelo::platform::FileResult looped =
        kelo::platform::WriteFileAtomically(folder_ / "loop.kel", "x", 1);
    EXPECT_EQ(looped.error, ELOOP);
    EXPECT_TRUE(std::filesystem::is_symlink(folder_ / "loop.kel"));
}

}  // namespace

namespace {

// A save never renames a file over a FIFO or a device, and a read never waits on a FIFO or
// reads a device without end: both refuse what is no regular file, through links too.
TEST_F(AtomicFileTest, OnlyRegularFilesAreSavedOverOrRead) {
    const std::string fifo = folder_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink(fifo.c_str(), folder_.File("link").c_str()), 0);
    for (const std::string& path : {fifo, folder_.File("link")}) {
        const kelo::platform::FileResult saved = kelo::platform::WriteFileAtomically(path, "x", 1);
        EXPECT_FALSE(saved.ok);
        EXPECT_EQ(saved.ErrorText(path), path + ": a FIFO, not a regular file");
        struct stat info {};
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_TRUE(S_ISFIFO(info.st_mode)) << path;
    }
    std::vector<uint8_t> bytes;
    EXPECT_EQ(kelo::platform::ReadFileBytes(fifo, 100, bytes).ErrorText(fifo),
              fifo + ": a FIFO, not a regular file");
    EXPECT_FALSE(kelo::platform::ReadFileBytes("/dev/zero", 100, bytes).ok);
    WriteFile(folder_.File("big"), std::string(101, 'b'));
    bool tooLarge = false;
    EXPECT_TRUE(kelo::platform::ReadFileBytes(folder_.File("big"), 100, bytes, &tooLarge).ok);
    EXPECT_TRUE(tooLarge);
    EXPECT_TRUE(bytes.empty()) << "refused by its size before anything is read";
}

}  // namespace
