// The per-user key store: values survive a reopen byte for byte, key paths compare as
// registry paths do, and a store that cannot be written says so.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/registry_store.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace {

class RegistryStoreTest : public ::testing::Test {
  protected:
    std::string ReadStoreFile() const {
        return testing_support::ReadFileText(folder_ + "/registry");
    }

    testing_support::TempDir root_;
    const std::string folder_ = root_.File("data/kelo");
};

struct ValueCase {
    const char* label;
    std::string name;
    std::string data;
};

TEST_F(RegistryStoreTest, ValuesSurviveAReopenByteForByte) {
    const ValueCase cases[] = {
        {"default value", "", "KeloFile"},
        {"quoted command", "AppPath", "/opt/kelo/bin/kelo \"%1\""},
        {"backslashes", "Path", "C:\\Program Files\\Browser\\b.exe"},
        {"line breaks and tab", "Multi", "one\ntwo\r\nthree\tfour"},
        {"control and high bytes", "Bytes", std::string("\x01\x1f\x7f\xe3\x81\x82", 6)},
        {"empty data", "Empty", ""},
        {"name with quote", "a\"b=c", "x"},
    };
    {
        platform::RegistryStore store(folder_);
        for (const ValueCase& c : cases) {
            ASSERT_TRUE(store.WriteValue("SOFTWARE\\CLASSES\\.kel", c.name, c.data)) << c.label;
        }
    }
    platform::RegistryStore reopened(folder_);
    for (const ValueCase& c : cases) {
        std::string value = "unchanged";
        EXPECT_TRUE(reopened.ReadValue("SOFTWARE\\CLASSES\\.kel", c.name, value)) << c.label;
        EXPECT_EQ(value, c.data) << c.label;
    }
}

TEST_F(RegistryStoreTest, KeyPathsCompareWithoutCaseAndCreateTheirParents) {
    platform::RegistryStore store(folder_);
    ASSERT_TRUE(store.CreateKey("SOFTWARE\\CLASSES\\KeloFile\\Shell\\Open\\Command"));
    EXPECT_TRUE(store.HasKey("software\\classes"));
    EXPECT_TRUE(store.HasKey("SOFTWARE\\Classes\\kelofile\\shell"));
    EXPECT_TRUE(store.HasKey("\\SOFTWARE\\\\CLASSES\\KeloFile\\"));
    EXPECT_FALSE(store.HasKey("SOFTWARE\\CLASSES\\.kel"));

    ASSERT_TRUE(
        store.WriteValue("Software\\Microsoft\\Windows\\CurrentVersion\\App "
                         "Paths\\IEXPLORE.EXE",
                         "", "/usr/bin/browser"));
    std::string value;
    EXPECT_TRUE(platform::RegistryStore(folder_).ReadValue(
        "SOFTWARE\\MICROSOFT\\Windows\\CurrentVersion\\App Paths\\iexplore.exe", "", value));
    EXPECT_EQ(value, "/usr/bin/browser");
}

TEST_F(RegistryStoreTest, MissingKeysAndValuesReadAsAbsent) {
    platform::RegistryStore store(folder_);
    std::string value = "unchanged";
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "AppPath", value));
    ASSERT_TRUE(store.CreateKey("SOFTWARE\\CLASSES\\.kel"));
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "AppPath", value));
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "", value));
    EXPECT_EQ(value, "unchanged");
    EXPECT_FALSE(store.CreateKey("\\\\"));
    EXPECT_FALSE(store.WriteValue("", "x", "y"));
}

TEST_F(RegistryStoreTest, WritingAValueAgainReplacesIt) {
    platform::RegistryStore store(folder_);
    ASSERT_TRUE(store.WriteValue("K", "AppPath", "old"));
    ASSERT_TRUE(store.WriteValue("k", "apppath", "new"));
    const std::string text = ReadStoreFile();
    EXPECT_EQ(text.find("old"), std::string::npos);
    std::string value;
    EXPECT_TRUE(platform::RegistryStore(folder_).ReadValue("K", "AppPath", value));
    EXPECT_EQ(value, "new");
}

TEST_F(RegistryStoreTest, OpeningAnExistingKeyWritesNothing) {
    platform::RegistryStore store(folder_);
    ASSERT_TRUE(store.WriteValue("SOFTWARE\\CLASSES\\.kel", "", "KeloFile"));
    struct stat before {};
    ASSERT_EQ(stat(store.FilePath().c_str(), &before), 0);

    platform::RegistryStore again(folder_);
    EXPECT_TRUE(again.CreateKey("SOFTWARE\\CLASSES\\.kel"));
    struct stat after {};
    ASSERT_EQ(stat(again.FilePath().c_str(), &after), 0);
    // The store is replaced through a rename when written, so a write shows as a new inode.
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(RegistryStoreTest, AStoreThatCannotBeWrittenRefusesKeysAndKeepsNothing) {
    // A folder below a plain file cannot be made, whoever runs the test.
    const std::string blocker = root_.File("blocker");
    testing_support::WriteFile(blocker, "x");
    platform::RegistryStore store(blocker + "/kelo");
    EXPECT_FALSE(store.CreateKey("SOFTWARE\\CLASSES\\.kel"));
    EXPECT_FALSE(store.WriteValue("SOFTWARE\\CLASSES\\.kel", "", "KeloFile"));
    EXPECT_FALSE(store.HasKey("SOFTWARE\\CLASSES\\.kel"));
    std::string value;
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "", value));
}

TEST_F(RegistryStoreTest, DamagedLinesAreDroppedAndTheRestIsKept) {
    ASSERT_EQ(std::system(("mkdir -p '" + folder_ + "'").c_str()), 0);
    testing_support::WriteFile(folder_ + "/registry",
                               "garbage before any key\n"
                               "[SOFTWARE\\CLASSES\\.kel]\r\n"
                               "@=\"KeloFile\"\r\n"
                               "\"AppPath\"=\"unterminated\n"
                               "\"Bad\"=\"\\q\"\n"
                               "\"Trailing\"=\"x\" junk\n"
                               "\"Good\"=\"\\x41\\\\\"\n");
    platform::RegistryStore store(folder_);
    std::string value;
    EXPECT_TRUE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "", value));
    EXPECT_EQ(value, "KeloFile");
    EXPECT_TRUE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "Good", value));
    EXPECT_EQ(value, "A\\");
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "AppPath", value));
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "Bad", value));
    EXPECT_FALSE(store.ReadValue("SOFTWARE\\CLASSES\\.kel", "Trailing", value));
    EXPECT_TRUE(store.HasKey("SOFTWARE"));
}

TEST_F(RegistryStoreTest, AKeyPathWithALineFeedIsRefusedAndTheStoreStaysSound) {
    // Written as it stands, this header would end at the line feed and file the value under
    // the registration's key.
    const std::string injected = "X]\n[SOFTWARE\\CLASSES\\.kel";
    {
        platform::RegistryStore store(folder_);
        ASSERT_TRUE(store.WriteValue("SOFTWARE\\CLASSES\\.kel", "", "KeloFile"));
        EXPECT_FALSE(store.WriteValue(injected, "AppPath", "evil"));
        EXPECT_FALSE(store.CreateKey("A\n"));
        EXPECT_FALSE(store.HasKey("X]"));
        // A carriage return cannot end the header line, which ends in "]": it is kept.
        EXPECT_TRUE(store.WriteValue("Odd\rKey", "v", "kept"));
    }
    platform::RegistryStore reopened(folder_);
    std::string value;
    EXPECT_FALSE(reopened.ReadValue("SOFTWARE\\CLASSES\\.kel", "AppPath", value));
    EXPECT_FALSE(reopened.HasKey("X]"));
    EXPECT_TRUE(reopened.ReadValue("Odd\rKey", "v", value));
    EXPECT_EQ(value, "kept");
}

// A key above another is written only where reading could not make it again in its place: a
// deep path is one header line, not one for each key above it, and reads back the same.
TEST(KeyStoreContentTest, KeysMadeByTheirChildAreNotWrittenAgain) {
    using platform::KeyStoreContent;
    KeyStoreContent content;
    ASSERT_TRUE(content.AddKey("A\\B\\C"));
    ASSERT_TRUE(content.AddKey("a\\x"));
    ASSERT_TRUE(content.SetValue("A\\B", "v", "1"));
    const std::string text = content.Text();
    EXPECT_EQ(text.substr(text.find('\n')), "\n\n[A\\B]\n\"v\"=\"1\"\n\n[A\\B\\C]\n\n[A\\x]\n");
    EXPECT_EQ(KeyStoreContent::FromText(text).Text(), text);

    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "\\k" + std::to_string(i);
    const std::string file = "[" + deep + "]\n@=\"x\"\n";
    const KeyStoreContent read = KeyStoreContent::FromText(file);
    std::string value;
    EXPECT_TRUE(read.ReadValue(deep, "", value));
    EXPECT_TRUE(read.HasKey("K0\\k1"));
    EXPECT_LT(read.Text().size(), 2 * file.size());
}

}  // namespace
