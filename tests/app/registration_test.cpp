// The .kel registration through the desktop's MIME database: the user's desktop entry and MIME
// package on the first start, nothing on the next, everything again for a moved program, the
// package's files in place of the user's, and the end of the program when the user's data
// folder cannot be written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QWindow>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/kelo_app.h"
#include "app/kelo_dlg.h"
#include "platform/message_recorder.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_support::ReadFileText;
using testing_support::TempDir;
using testing_support::WriteFile;
using Command = std::vector<std::string>;

ino_t Inode(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class RegistrationTest : public ::testing::Test {
  protected:
    kelo::app::FileTypeRegistration Where(const std::string& programPath) {
        kelo::app::FileTypeRegistration where;
        where.programPath = programPath;
        where.dataHome = data_;
        where.iconPng = "\x89PNG icon";
        where.runTool = [this](const Command& command) { tools_.push_back(command); };
        return where;
    }

    TempDir folder_;
    const std::string data_ = folder_ / "data";
    const std::string desktopFile_ = data_ + "/applications/kelo.desktop";
    const std::string mimeFile_ = data_ + "/mime/packages/kelo.xml";
    const std::string iconFile_ = data_ + "/icons/hicolor/64x64/apps/kelo.png";
    std::vector<Command> tools_;
};

TEST_F(RegistrationTest, TheFirstStartWritesTheDesktopEntryAndTheMimePackage) {
    EXPECT_EQ(kelo::app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              kelo::app::RegistrationResult::kWritten);

    const std::string entry = ReadFileText(desktopFile_);
    EXPECT_THAT(entry, HasSubstr("[Desktop Entry]\n"));
    EXPECT_THAT(entry, HasSubstr("\nExec=/opt/kelo/bin/kelo %f\n"));
    EXPECT_THAT(entry, HasSubstr("\nMimeType=application/x-kelo-report;\n"));
    const std::string mime = ReadFileText(mimeFile_);
    EXPECT_THAT(mime, HasSubstr("<mime-type type=\"application/x-kelo-report\">"));
    EXPECT_THAT(mime, HasSubstr("<glob pattern=\"*.kel\"/>"));
    EXPECT_EQ(ReadFileText(iconFile_), "\x89PNG icon");
    EXPECT_THAT(tools_, ElementsAre(Command{"update-mime-database", data_ + "/mime"},
                                    Command{"update-desktop-database", data_ + "/applications"}));
}

TEST_F(RegistrationTest, TheNextStartWritesNothing) {
    ASSERT_EQ(kelo::app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              kelo::app::RegistrationResult::kWritten);
    // Every file is replaced through a rename when written, so a write shows as a new inode.
    const ino_t desktop = Inode(desktopFile_);
    const ino_t mime = Inode(mimeFile_);
    tools_.clear();

    EXPECT_EQ(kelo::app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              kelo::app::RegistrationResult::kCurrent);
    EXPECT_EQ(Inode(desktopFile_), desktop);
    EXPECT_EQ(Inode(mimeFile_), mime);
    EXPECT_TRUE(tools_.empty());
}

// A moved program, or a MIME package gone from beside a current entry, writes everything again.
TEST_F(RegistrationTest, AMovedProgramOrAMissingPieceIsRegisteredAgain) {
    struct Case {
        const char* label;
        std::string programPath;
        bool removeMimePackage;
    };
    const Case cases[] = {
        {"another folder", "/usr/local/bin/kelo", false},
        {"a path differing only in case", "/OPT/kelo/bin/kelo", false},
        {"the MIME package removed", "/opt/kelo/bin/kelo", true},
    };
    for (const Case& c : cases) {
        ASSERT_NE(kelo::app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
                  kelo::app::RegistrationResult::kFoldersFailed);
        if (c.removeMimePackage)
            std::filesystem::remove(mimeFile_);
        tools_.clear();
        EXPECT_EQ(kelo::app::RegisterFileType(Where(c.programPath)),
                  kelo::app::RegistrationResult::kWritten)
            << c.label;
        EXPECT_THAT(ReadFileText(desktopFile_), HasSubstr("\nExec=" + c.programPath + " %f\n"))
            << c.label;
        EXPECT_TRUE(std::filesystem::exists(mimeFile_)) << c.label;
        EXPECT_EQ(tools_.size(), 2u) << c.label;
    }
}

// An installed package's desktop entry and MIME package register the type: the user's files
// are not written, and those of an earlier run from a build folder go, even where the user's
// data folder could not be written. Only a package with both files counts.
TEST_F(RegistrationTest, APackagesDesktopFilesReplaceTheUsersOwn) {
    ASSERT_EQ(kelo::app::RegisterFileType(Where("/home/a/kelo/build/app/kelo")),
              kelo::app::RegistrationResult::kWritten);
    const std::string system = folder_ / "usr/share";
    const std::string id = kelo::app::kInstalledDesktopId;
    std::filesystem::create_directories(system + "/applications");
    std::filesystem::create_directories(system + "/mime/packages");
    WriteFile(system + "/applications/" + id + ".desktop", "[Desktop Entry]\n");
    EXPECT_FALSE(kelo::app::PackageDesktopFilesInstalled({system}));
    WriteFile(system + "/mime/packages/" + id + ".xml", "<mime-info/>\n");
    EXPECT_TRUE(kelo::app::PackageDesktopFilesInstalled({folder_ / "nowhere", system}));

    kelo::app::FileTypeRegistration where = Where("/usr/bin/kelo");
    where.systemDataFolders = {system};
    tools_.clear();
    EXPECT_EQ(kelo::app::RegisterFileType(where), kelo::app::RegistrationResult::kCurrent);
    for (const std::string& path : {desktopFile_, mimeFile_, iconFile_})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(tools_.size(), 2u);  // the desktop's indexes forget the removed files

    WriteFile(folder_ / "plain-file", "x");
    where.dataHome = folder_ / "plain-file/data";
    tools_.clear();
    EXPECT_EQ(kelo::app::RegisterFileType(where), kelo::app::RegistrationResult::kCurrent);
    EXPECT_TRUE(tools_.empty());
}

// The user's folders that cannot be made (a file stands in the way), and an entry that cannot
// be written (a folder stands in its place): a failure, and nothing else written or run.
TEST_F(RegistrationTest, AUserDataFolderThatCannotBeWrittenFailsTheRegistration) {
    WriteFile(folder_ / "plain-file", "x");
    kelo::app::FileTypeRegistration where = Where("/opt/kelo/bin/kelo");
    where.dataHome = folder_ / "plain-file/data";
    EXPECT_EQ(kelo::app::RegisterFileType(where), kelo::app::RegistrationResult::kFoldersFailed);

    std::filesystem::create_directories(desktopFile_);
    EXPECT_EQ(kelo::app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              kelo::app::RegistrationResult::kEntryFailed);
    EXPECT_FALSE(std::filesystem::exists(mimeFile_));
    EXPECT_FALSE(std::filesystem::exists(iconFile_));
    EXPECT_TRUE(tools_.empty());
}

TEST(DesktopExecArgument, QuotesAndEscapesAsTheDesktopEntryRulesAsk) {
    struct Case {
        std::string path;
        std::string written;  // as it stands in the .desktop file
    };
    const Case cases[] = {
        {"/opt/kelo/bin/kelo", "/opt/kelo/bin/kelo"},
        {"/home/a b/kelo", "\"/home/a b/kelo\""},
        {"/srv/100%/kelo", "/srv/100%%/kelo"},
        {"/srv/a\"b/kelo", "\"/srv/a\\\\\"b/kelo\""},
        {"/srv/$x/kelo", "\"/srv/\\\\$x/kelo\""},
        {"/srv/a\\b/kelo", "\"/srv/a\\\\\\\\b/kelo\""},
        {"/srv/it's/kelo", "\"/srv/it's/kelo\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(kelo::app::DesktopExecArgument(c.path), c.written) << c.path;
}

// What the main window registers at its start: a program in /opt, the user's data folder at
// FOLDER/data unless told otherwise.
kelo::app::FileTypeRegistration StartRegistration(const TempDir& folder,
                                                  const std::string& dataHome) {
    kelo::app::FileTypeRegistration where;
    where.programPath = "/opt/kelo/bin/kelo";
    where.dataHome = folder / dataHome;
    return where;
}

// The main window's part: message 122 for folders that cannot be made, 123 for an entry that
// cannot be written; the program ended with status 0 before the window appeared, and the
// settings left as they were.
TEST(RegistrationAtStart, AFailedRegistrationEndsTheProgramBeforeTheWindowShows) {
    struct Case {
        const char* label;
        std::string dataHome;
        std::string inTheWay;  // a folder made where the desktop entry goes
        int message;
    };
    const Case cases[] = {
        {"a file in place of the data folder", "plain-file/data", "", 122},
        {"a folder in place of the entry", "data", "data/applications/kelo.desktop", 123},
    };
    for (const Case& c : cases) {
        TempDir folder;
        WriteFile(folder / "plain-file", "x");
        if (!c.inTheWay.empty())
            std::filesystem::create_directories(folder / c.inTheWay);
        kelo::platform::MessageRecorder messages;
        std::optional<int> status;
        bool windowOnScreen = true;
        {
            kelo::app::MainDialog dialog("", folder / "kelo.INI");
            dialog.SetRegistration(StartRegistration(folder, c.dataHome));
            dialog.SetProgramExit([&](int code) {
                status = code;
                windowOnScreen =
                    dialog.windowHandle() != nullptr && dialog.windowHandle()->isVisible();
            });
            dialog.show();
        }
        ASSERT_TRUE(status.has_value()) << c.label;
        EXPECT_EQ(*status, 0) << c.label;
        EXPECT_FALSE(windowOnScreen) << c.label;
        ASSERT_EQ(messages.Messages().size(), 1u) << c.label;
        EXPECT_EQ(messages.Messages()[0].id, c.message) << c.label;
        EXPECT_FALSE(std::filesystem::exists(folder / "kelo.INI")) << c.label;
    }
}

TEST(RegistrationAtStart, AWritableDataFolderLetsTheWindowOpenAndKeepsTheSettings) {
    TempDir folder;
    kelo::platform::MessageRecorder messages;
    bool ended = false;
    {
        kelo::app::MainDialog dialog("", folder / "kelo.INI");
        dialog.SetRegistration(StartRegistration(folder, "data"));
        dialog.SetProgramExit([&](int) { ended = true; });
        dialog.show();
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_FALSE(ended);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "data/applications/kelo.desktop"));
    EXPECT_TRUE(std::filesystem::exists(folder / "kelo.INI"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
