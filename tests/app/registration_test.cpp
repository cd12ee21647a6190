// The .kel registration: the four values and the desktop files on the first start, nothing on
// the next, everything again for a moved program, and the end of the program when the key
// store cannot be written.
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
#include "platform/registry_store.h"
#include "platform/system.h"
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
    app::FileTypeRegistration Where(const std::string& programPath) {
        app::FileTypeRegistration where;
        where.programPath = programPath;
        where.storeFolder = data_ + "/kelo";
        where.dataHome = data_;
        where.iconPng = "\x89PNG icon";
        where.runTool = [this](const Command& command) { tools_.push_back(command); };
        return where;
    }

    std::string Value(const std::string& key, const std::string& name) {
        std::string value = "<absent>";
        platform::RegistryStore(data_ + "/kelo").ReadValue(key, name, value);
        return value;
    }

    TempDir folder_;
    const std::string data_ = folder_ / "data";
    const std::string desktopFile_ = data_ + "/applications/kelo.desktop";
    const std::string mimeFile_ = data_ + "/mime/packages/kelo.xml";
    std::vector<Command> tools_;
};

TEST_F(RegistrationTest, TheFirstStartWritesTheFourValuesAndTheDesktopFiles) {
    EXPECT_EQ(app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              app::RegistrationResult::kWritten);

    EXPECT_EQ(Value("SOFTWARE\\CLASSES\\.kel", ""), "KeloFile");
    EXPECT_EQ(Value("SOFTWARE\\CLASSES\\.kel", "AppPath"), "/opt/kelo/bin/kelo \"%1\"");
    EXPECT_EQ(Value("SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open", ""), "Open");
    EXPECT_EQ(Value("SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open\\Command", ""),
              "/opt/kelo/bin/kelo \"%1\"");

    const std::string entry = ReadFileText(desktopFile_);
    EXPECT_THAT(entry, HasSubstr("[Desktop Entry]\n"));
    EXPECT_THAT(entry, HasSubstr("\nExec=/opt/kelo/bin/kelo %f\n"));
    EXPECT_THAT(entry, HasSubstr("\nMimeType=application/x-kelo-report;\n"));
    const std::string mime = ReadFileText(mimeFile_);
    EXPECT_THAT(mime, HasSubstr("<mime-type type=\"application/x-kelo-report\">"));
    EXPECT_THAT(mime, HasSubstr("<glob pattern=\"*.kel\"/>"));
    EXPECT_EQ(ReadFileText(data_ + "/icons/hicolor/64x64/apps/kelo.png"), "\x89PNG icon");
    EXPECT_THAT(tools_, ElementsAre(Command{"update-mime-database", data_ + "/mime"},
                                    Command{"update-desktop-database", data_ + "/applications"}));
}

TEST_F(RegistrationTest, TheNextStartWritesNothing) {
    ASSERT_EQ(app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              app::RegistrationResult::kWritten);
    // Every file is replaced through a rename when written, so a write shows as a new inode.
    const ino_t store = Inode(data_ + "/kelo/registry");
    const ino_t desktop = Inode(desktopFile_);
    tools_.clear();

    EXPECT_EQ(app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
              app::RegistrationResult::kCurrent);
    EXPECT_EQ(Inode(data_ + "/kelo/registry"), store);
    EXPECT_EQ(Inode(desktopFile_), desktop);
    EXPECT_TRUE(tools_.empty());
}

TEST_F(RegistrationTest, AMovedProgramIsRegisteredAgain) {
    struct Case {
        const char* label;
        std::string movedTo;
    };
    const Case cases[] = {
        {"another folder", "/usr/local/bin/kelo"},
        {"a path differing only in case", "/OPT/kelo/bin/kelo"},
    };
    for (const Case& c : cases) {
        ASSERT_NE(app::RegisterFileType(Where("/opt/kelo/bin/kelo")),
                  app::RegistrationResult::kKeyFailed);
        tools_.clear();
        EXPECT_EQ(app::RegisterFileType(Where(c.movedTo)), app::RegistrationResult::kWritten)
            << c.label;
        EXPECT_EQ(Value("SOFTWARE\\CLASSES\\.kel", "AppPath"), c.movedTo + " \"%1\"") << c.label;
        EXPECT_EQ(Value("SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open\\Command", ""),
                  c.movedTo + " \"%1\"")
            << c.label;
        EXPECT_THAT(ReadFileText(desktopFile_), HasSubstr("\nExec=" + c.movedTo + " %f\n"))
            << c.label;
        EXPECT_EQ(tools_.size(), 2u) << c.label;
    }
}

// An installed package's desktop entry and MIME package stand for the user's own: the values
// are still written, the user's files are not, and those of an earlier run from a build
// folder go. Only a package with both files counts.
TEST_F(RegistrationTest, APackagesDesktopFilesReplaceTheUsersOwn) {
    ASSERT_EQ(app::RegisterFileType(Where("/home/a/kelo/build/app/kelo")),
              app::RegistrationResult::kWritten);
    const std::string system = folder_ / "usr/share";
    const std::string id = app::kInstalledDesktopId;
    std::filesystem::create_directories(system + "/applications");
    std::filesystem::create_directories(system + "/mime/packages");
    WriteFile(system + "/applications/" + id + ".desktop", "[Desktop Entry]\n");
    EXPECT_FALSE(app::PackageDesktopFilesInstalled({system}));
    WriteFile(system + "/mime/packages/" + id + ".xml", "<mime-info/>\n");
    EXPECT_TRUE(app::PackageDesktopFilesInstalled({folder_ / "nowhere", system}));

    app::FileTypeRegistration where = Where("/usr/bin/kelo");
    where.systemDataFolders = {system};
    tools_.clear();
    EXPECT_EQ(app::RegisterFileType(where), app::RegistrationResult::kWritten);
    EXPECT_EQ(Value("SOFTWARE\\CLASSES\\.kel", "AppPath"), "/usr/bin/kelo \"%1\"");
    for (const std::string& path :
         {desktopFile_, mimeFile_, data_ + "/icons/hicolor/64x64/apps/kelo.png"})
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(tools_.size(), 2u);  // the desktop's indexes forget the removed files
}

TEST_F(RegistrationTest, AStoreThatCannotBeCreatedWritesNothingAtAll) {
    WriteFile(folder_ / "plain-file", "x");
    app::FileTypeRegistration where = Where("/opt/kelo/bin/kelo");
    where.storeFolder = folder_ / "plain-file/kelo";
    EXPECT_EQ(app::RegisterFileType(where), app::RegistrationResult::kKeyFailed);
    EXPECT_FALSE(std::filesystem::exists(desktopFile_));
    EXPECT_FALSE(std::filesystem::exists(mimeFile_));
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
        EXPECT_EQ(app::DesktopExecArgument(c.path), c.written) << c.path;
}

// What the main window registers at its start: a program in /opt, its data in FOLDER/data and
// its store at FOLDER/store.
app::FileTypeRegistration StartRegistration(const TempDir& folder, const std::string& store) {
    app::FileTypeRegistration where;
    where.programPath = "/opt/kelo/bin/kelo";
    where.storeFolder = folder / store;
    where.dataHome = folder / "data";
    return where;
}

// The main window's part: message 122, the program ended with status 0 before the window
// appeared, and the settings left as they were.
TEST(RegistrationAtStart, AStoreThatCannotBeCreatedEndsTheProgramBeforeTheWindowShows) {
    TempDir folder;
    WriteFile(folder / "plain-file", "x");
    platform::MessageRecorder messages;
    std::optional<int> status;
    bool windowOnScreen = true;
    {
        app::CKeloDlg dialog("", folder / "kelo.INI");
        dialog.SetRegistration(StartRegistration(folder, "plain-file/kelo"));
        dialog.SetProgramExit([&](int code) {
            status = code;
            windowOnScreen = dialog.windowHandle() != nullptr && dialog.windowHandle()->isVisible();
        });
        dialog.show();
    }
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_FALSE(windowOnScreen);
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_EQ(messages.Messages()[0].id, 122);
    EXPECT_FALSE(std::filesystem::exists(folder / "kelo.INI"));
    EXPECT_FALSE(std::filesystem::exists(folder / "data"));
}

TEST(RegistrationAtStart, AWritableStoreLetsTheWindowOpenAndKeepsTheSettings) {
    TempDir folder;
    platform::MessageRecorder messages;
    bool ended = false;
    {
        app::CKeloDlg dialog("", folder / "kelo.INI");
        dialog.SetRegistration(StartRegistration(folder, "data/kelo"));
        dialog.SetProgramExit([&](int) { ended = true; });
        dialog.show();
        EXPECT_TRUE(dialog.isVisible());
    }
    EXPECT_FALSE(ended);
    EXPECT_TRUE(messages.Messages().empty());
    EXPECT_TRUE(std::filesystem::exists(folder / "data/kelo/registry"));
    EXPECT_TRUE(std::filesystem::exists(folder / "kelo.INI"));
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
