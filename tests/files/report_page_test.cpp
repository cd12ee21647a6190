#include "files/report_page.h"

#include <gtest/gtest.h>

#include "files/file_filters.h"
#include "platform/message_recorder.h"
#include "tests/files/file_test_support.h"
#include "tests/support/file_bytes.h"
#include "tests/support/temp_dir.h"

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
    ASSERT_TRUE(WriteReportPage(path, "  x < y\n"));
    const std::string page = "<HTML><BODY><PRE>x &lt; y</PRE></BODY></HTML>";
    EXPECT_EQ(testing_support::ReadFileBytes(path), filetest::Bytes(page.begin(), page.end()));

    const std::string missing = folder / "gone/Kelo.html";
    EXPECT_FALSE(WriteReportPage(missing, "x"));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{missing + ": No such file or directory"});
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
