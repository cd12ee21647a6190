#include "files/report_page.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "files/file_filters.h"
#include "platform/message_recorder.h"
#include "tests/files/file_test_support.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace kelo {
namespace {

TEST(BuildReportPage, TrimsAndEscapes) {
    struct Case {
        std::string text;
        std::string body;
    };
    const Case cases[] = {
        {"", ""},
        {" \t\r\n\v\f", ""},
        {" \t\r\n\v\fREPORT\r\n \t", "REPORT"},
        {"A\r\n  B\tC", "A\r\n  B\tC"},
        {"a<b> & c", "a&lt;b&gt; &amp; c"},
        {"&lt;", "&amp;lt;"},
        {"\"quoted\" 'single'", "\"quoted\" 'single'"},
        {std::string("\x82\xa0\x00z\xff", 5), std::string("\x82\xa0\x00z\xff", 5)},
        {"\xa0x\xa0", "\xa0x\xa0"},  // only ASCII white space is trimmed
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildReportPage(c.text), "<HTML><BODY><PRE>" + c.body + "</PRE></BODY></HTML>")
            << c.text;
    }
}

TEST(WriteReportPage, WritesThePageOrNamesThePath) {
    testing_support::TempDir folder;
    platform::MessageRecorder messages;
    const std::string path = folder / "Kelo.html";
    testing_support::WriteFile(path, "an old page of this user");
    ::chmod(path.c_str(), 0644);
    ASSERT_TRUE(WriteReportPage(path, "  x < y\n"));
    const std::string page = "<HTML><BODY><PRE>x &lt; y</PRE></BODY></HTML>";
    EXPECT_EQ(testing_support::ReadFileBytes(path), filetest::Bytes(page.begin(), page.end()));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const std::string missing = folder / "gone/Kelo.html";
    EXPECT_FALSE(WriteReportPage(missing, "x"));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{missing + ": No such file or directory"});
}

// A shared temporary folder may hold a page name that someone else planted: a link to a file
// of this user, or (seen only as root, who can give a file away) another user's file.
TEST(WriteReportPage, NeverWritesThroughALinkOrIntoAnotherUsersFile) {
    testing_support::TempDir folder;
    platform::MessageRecorder messages;
    const std::string victim = folder / "profile.INI";
    testing_support::WriteFile(victim, "[Port]\n");
    const std::string link = folder / "Kelo.html";
    std::filesystem::create_symlink(victim, link);
    EXPECT_FALSE(WriteReportPage(link, "REPORT"));
    EXPECT_EQ(testing_support::ReadFileText(victim), "[Port]\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{link + ": File exists"});

    if (::geteuid() != 0)
        return;
    const std::string planted = folder / "other/Kelo.html";
    std::filesystem::create_directories(folder / "other");
    testing_support::WriteFile(planted, "planted");
    ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(WriteReportPage(planted, "REPORT"));
    EXPECT_EQ(testing_support::ReadFileText(planted), "planted");
}

TEST(ParseFileFilter, SplitsDescriptionsAndPatterns) {
    using Filters = std::vector<FileFilter>;
    struct Case {
        std::string filter;
        Filters entries;
    };
    const Case cases[] = {
        {kFirmwareFilter, {{"Firmware Files (*.rfw)", "*.rfw"}, {"All Files (*.*)", "*.*"}}},
        {kReportFilter, {{"Kelo Report File(*.kel)", "*.kel"}}},
        {kSaveFilter,
         {{"Kelo Report File(*.kel)", "*.kel"},
          {"Text File (*.txt)", "*.txt"},
          {"All Files (*.*)", "*.*"}}},
        {"", {}},
        {"||", {}},
        {"Only a description|", {}},
        {"A|*.a|B", {{"A", "*.a"}}},
        {"A|*.a", {{"A", "*.a"}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseFileFilter(c.filter), c.entries) << c.filter;
    }
}

}  // namespace
}  // namespace kelo
