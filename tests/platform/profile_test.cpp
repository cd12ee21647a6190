// The profile store keeps the Windows profile rules on a real file.
#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

class ProfileTest : public ::testing::Test {
  protected:
    void Write(const std::string& text) { testing_support::WriteFile(path_, text); }
    std::string Read() { return testing_support::ReadFileText(path_); }

    testing_support::TempDir dir_;
    const std::string path_ = dir_.File("kelo.INI");
};

TEST_F(ProfileTest, MissingFileGivesDefaults) {
    kelo::platform::ProfileStore profile(path_);
    EXPECT_EQ(profile.GetInt("Port", "Port", 1), 1);
    EXPECT_EQ(profile.GetString("Port", "Host0", "none"), "none");
}

TEST_F(ProfileTest, SectionAndKeyNamesIgnoreCase) {
    Write("[port]\nwin9x_extradelay=5000\n");
    kelo::platform::ProfileStore profile(path_);
    EXPECT_EQ(profile.GetInt("Port", "Win9X_ExtraDelay", 22000), 5000);
    profile.WriteInt("Port", "Win9x_ExtraDelay", 7);
    ASSERT_TRUE(profile.Save().ok);
    EXPECT_EQ(Read(), "[port]\nwin9x_extradelay=7\n");
}

TEST_F(ProfileTest, IntegersComeFromLeadingDigits) {
    Write("[Port]\nA=12abc\nB= -3\nC=abc\nD=\n");
    kelo::platform::ProfileStore profile(path_);
    EXPECT_EQ(profile.GetInt("Port", "A", 99), 12);
    EXPECT_EQ(profile.GetInt("Port", "B", 99), -3);
    EXPECT_EQ(profile.GetInt("Port", "C", 99), 0);
    EXPECT_EQ(profile.GetInt("Port", "D", 99), 0);
}

TEST_F(ProfileTest, OtherSectionsKeysAndLinesAreKept) {
    Write("; a comment\n[Other]\nx=1\n\n[Port]\nPort=0\nodd line\n\n[Last]\ny=2\n");
    kelo::platform::ProfileStore profile(path_);
    profile.WriteInt("Port", "Port", 2);
    profile.WriteString("Port", "Host0", "alpha");
    profile.WriteString("New", "k", "v");
    ASSERT_TRUE(profile.Save().ok);
    EXPECT_EQ(Read(),
              "; a comment\n[Other]\nx=1\n\n[Port]\nPort=2\nodd line\nHost0=alpha\n\n[Last]\ny=2\n"
              "[New]\nk=v\n");
}

TEST_F(ProfileTest, ValueWithALineBreakCannotAddKeys) {
    kelo::platform::ProfileStore profile(path_);
    profile.WriteString("Port", "Host0", "alpha\nNumHost=99\r\n[Evil]");
    ASSERT_TRUE(profile.Save().ok);
    EXPECT_EQ(Read(), "[Port]\nHost0=alpha\n");
}

TEST_F(ProfileTest, ReturnsAtLineEndsAreDroppedOnceNotAtEverySave) {
    Write("odd line\r\r\n[Port]\r\nPort=1\r\r\n\r");
    ASSERT_TRUE(kelo::platform::ProfileStore(path_).Save().ok);
    EXPECT_EQ(Read(), "odd line\n[Port]\nPort=1\n\n");
    kelo::platform::ProfileStore again(path_);
    EXPECT_EQ(again.GetInt("Port", "Port", 0), 1);
    ASSERT_TRUE(again.Save().ok);
    EXPECT_EQ(Read(), "odd line\n[Port]\nPort=1\n\n");
}

TEST_F(ProfileTest, SaveMakesTheMissingFoldersForThisUserOnly) {
    kelo::platform::ProfileStore profile(dir_.File("home/.config/kelo.INI"));
    profile.WriteInt("Port", "Port", 1);
    EXPECT_TRUE(profile.Save().ok);
    struct stat info {};
    ASSERT_EQ(stat(dir_.File("home").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u);
}

TEST_F(ProfileTest, FailedSaveLeavesNoTemporaryFileBehind) {
    // A folder where the profile should be makes the final rename fail.
    mkdir(path_.c_str(), 0700);
    kelo::platform::ProfileStore profile(path_);
    profile.WriteInt("Port", "Port", 1);
    EXPECT_FALSE(profile.Save().ok);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(
        std::system(("test -z \"$(ls -A " + dir_.Path() + " | grep -v '^kelo.INI$')\"").c_str()),
        0);
}

}  // namespace
