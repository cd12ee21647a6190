#include "files/report_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "files/scramble.h"
#include "platform/message_recorder.h"
#include "tests/files/file_test_support.h"
#include "testsupport/file_bytes.h"
#include "testsupport/temp_dir.h"

namespace kelo {
namespace {

using filetest::Bytes;
using filetest::HexBytes;

constexpr char kIllegalFile[] = "Illegal File";
constexpr char kIllegalReport[] = "Illegal Report File.";
constexpr char kTooLarge[] = "Too Large File";

Bytes ScrambleTagged(Bytes plain) {
    return filetest::ScrambleWithoutLimit(std::move(plain), ModeEncodeTagged);
}

// The plain report block of a text with its check byte, plus an error added to that byte.
Bytes PlainBlock(const std::string& text, int checkError = 0) {
    Bytes plain(text.begin(), text.end());
    plain.push_back(static_cast<uint8_t>(ReportCheckByte(text) + checkError));
    return plain;
}

std::string RandomText(size_t length, uint32_t seed) {
    std::mt19937 generator(seed);
    std::string text(length, ' ');
    for (char& c : text)
        c = static_cast<char>(1 + generator() % 255);  // no zero byte
    return text;
}

class ReportFileTest : public ::testing::Test {
  protected:
    // Opens path and returns the messages shown; text receives the report.
    std::vector<std::string> Open(const std::string& path) {
        messages_.Clear();
        opened_ = OpenReportFile(path, text_);
        return messages_.Texts();
    }
    std::vector<std::string> Save(const std::string& path, const std::string& text) {
        messages_.Clear();
        saved_ = SaveReportText(path, text);
        return messages_.Texts();
    }

    testing_support::TempDir folder_;
    platform::MessageRecorder messages_;
    std::string text_;
    bool opened_ = false;
    bool saved_ = false;
};

using Messages = std::vector<std::string>;

TEST_F(ReportFileTest, SavedReportOpensWithTheSameText) {
    const std::string texts[] = {
        "",
        "Hello",
        "LINE 1\r\nLINE 2\r\n",
        std::string("\x82\xa0\x93\xfa\x96\x7b", 6),  // double-byte characters pass unchanged
        std::string(3000, ' ') + "end",
        std::string(131071, 'R'),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 20));
        const std::string path = folder_ / "x.kel";
        EXPECT_EQ(Save(path, text), Messages{});
        EXPECT_TRUE(saved_);
        const Bytes file = testing_support::ReadFileBytes(path);
        ASSERT_FALSE(file.empty());
        EXPECT_EQ(file.back(), 0x07);
        EXPECT_LE(file.size(), 131072u);
        EXPECT_EQ(Open(path), Messages{});
        EXPECT_TRUE(opened_);
        EXPECT_EQ(text_, text);
    }
}

TEST_F(ReportFileTest, EmptyTextMakesThreeByteReportAndEmptyTextFile) {
    EXPECT_EQ(Save(folder_ / "empty.kel", ""), Messages{});
    EXPECT_EQ(testing_support::ReadFileBytes(folder_ / "empty.kel").size(), 3u);
    EXPECT_EQ(Save(folder_ / "empty.txt", ""), Messages{});
    EXPECT_TRUE(filetest::Exists(folder_ / "empty.txt"));
    EXPECT_EQ(testing_support::ReadFileBytes(folder_ / "empty.txt"), Bytes{});
}

TEST_F(ReportFileTest, TextFileIsWrittenByteForByte) {
    const std::string text("first\r\nsecond\n\x00\xff last", 21);
    EXPECT_EQ(Save(folder_ / "notes.txt", text), Messages{});
    EXPECT_EQ(testing_support::ReadFileBytes(folder_ / "notes.txt"),
              Bytes(text.begin(), text.end()));
}

TEST_F(ReportFileTest, SaveChoosesTheFormatByTheLastThreeCharacters) {
    struct Case {
        const char* name;
        enum { Text, Report, Refused } kind;
    };
    const Case cases[] = {
        {"a.txt", Case::Text},    {"atxt", Case::Text},      {"reportkel", Case::Report},
        {"b.kel", Case::Report},  {"a.TXT", Case::Refused},  {"X.KEL", Case::Refused},
        {"b.Kel", Case::Refused}, {"b.kel.", Case::Refused}, {"b.html", Case::Refused},
        {"kl", Case::Refused},    {"b.txt ", Case::Refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder_ / c.name;
        const Messages shown = Save(path, "REPORT");
        if (c.kind == Case::Refused) {
            EXPECT_EQ(shown, Messages{kIllegalFile});
            EXPECT_FALSE(filetest::Exists(path));
            continue;
        }
        EXPECT_EQ(shown, Messages{});
        const Bytes file = testing_support::ReadFileBytes(path);
        if (c.kind == Case::Text) {
            EXPECT_EQ(file, Bytes({'R', 'E', 'P', 'O', 'R', 'T'}));
        } else {
            std::string text;
            EXPECT_EQ(DecodeReportBlock(file, text), std::nullopt);
            EXPECT_EQ(text, "REPORT");
        }
    }
    EXPECT_EQ(folder_.Entries().size(), 4u);  // only the four accepted names
}

TEST_F(ReportFileTest, UpperCaseReportOpensButCannotBeSavedOver) {
    const std::string path = folder_ / "X.KEL";
    Bytes file;
    ASSERT_TRUE(EncodeReportBlock("OLD REPORT", file));
    testing_support::WriteFile(path, file);
    EXPECT_EQ(Open(path), Messages{});
    EXPECT_EQ(text_, "OLD REPORT");

    EXPECT_EQ(Save(path, "NEW REPORT"), Messages{kIllegalFile});
    EXPECT_EQ(testing_support::ReadFileBytes(path), file);
}

// A report file is taken by its dotted extension, ignoring case, and then by its content;
// a refused one leaves no text.
TEST_F(ReportFileTest, OpenJudgesTheDottedExtensionThenTheContent) {
    Bytes valid;
    ASSERT_TRUE(EncodeReportBlock("STATUS OK", valid));
    const Messages opens{}, wrongName{kIllegalFile}, badContent{kIllegalReport};
    struct Case {
        const char* name;
        Bytes file;
        Messages shown;
    };
    const Case cases[] = {
        {"a.kel", valid, opens},
        {"b.KEL", valid, opens},
        {"c.kEl", valid, opens},
        {"reportkel", valid, wrongName},
        {"d.txt", valid, wrongName},
        {"e.kel.bak", valid, wrongName},
        {"f.kelx", valid, wrongName},
        {"noextension", valid, wrongName},
        {"zero-bytes.kel", {}, badContent},
        {"one-byte.kel", HexBytes("07"), badContent},
        {"check-byte-one-too-high.kel", ScrambleTagged(PlainBlock("STATUS OK", +1)), badContent},
        {"check-byte-one-too-low.kel", ScrambleTagged(PlainBlock("STATUS OK", -1)), badContent},
        {"stage-byte-cut-off.kel", Bytes(valid.begin(), valid.end() - 1), badContent},
        {"packed-stream-cut-short.kel", Bytes(valid.begin() + 1, valid.end()), badContent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::WriteFile(folder_ / c.name, c.file);
        EXPECT_EQ(Open(folder_ / c.name), c.shown);
        EXPECT_EQ(opened_, c.shown.empty());
        EXPECT_EQ(text_, c.shown.empty() ? "STATUS OK" : "");
    }
    // Only the last path component has an extension.
    EXPECT_FALSE(HasReportExtension("/home/u/reports.kel/report"));
    EXPECT_TRUE(HasReportExtension("/home/u/v1.2/report.kel"));
}

TEST_F(ReportFileTest, ChangedStageByteStillOpens) {
    Bytes file;
    ASSERT_TRUE(EncodeReportBlock("STATUS OK", file));
    for (const int stage : {0x00, 0x01, 0x7F, 0xFF}) {
        file.back() = static_cast<uint8_t>(stage);
        testing_support::WriteFile(folder_ / "r.kel", file);
        EXPECT_EQ(Open(folder_ / "r.kel"), Messages{}) << stage;
        EXPECT_EQ(text_, "STATUS OK");
    }
}

TEST_F(ReportFileTest, TextEndsAtItsFirstZero) {
    testing_support::WriteFile(folder_ / "z.kel",
                               ScrambleTagged(PlainBlock(std::string("AB\0CD", 5))));
    EXPECT_EQ(Open(folder_ / "z.kel"), Messages{});
    EXPECT_EQ(text_, "AB");
}

TEST_F(ReportFileTest, PlainBlockOfAtMost262144BytesOpens) {
    const std::string longest(262143, 'L');
    testing_support::WriteFile(folder_ / "max.kel", ScrambleTagged(PlainBlock(longest)));
    EXPECT_EQ(Open(folder_ / "max.kel"), Messages{});
    EXPECT_EQ(text_.size(), 262143u);

    testing_support::WriteFile(folder_ / "over.kel", ScrambleTagged(PlainBlock(longest + "L")));
    EXPECT_EQ(Open(folder_ / "over.kel"), Messages{kIllegalReport});
}

TEST_F(ReportFileTest, HugeFileIsRefusedUnread) {
    const std::string path = folder_ / "huge.kel";
    testing_support::WriteFile(path, Bytes{});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kMaxReportFileBytes + 1)), 0);
    EXPECT_EQ(Open(path), Messages{kIllegalReport});
}

TEST_F(ReportFileTest, MissingFileShowsTheReasonAndPath) {
    const std::string path = folder_ / "gone.kel";
    EXPECT_EQ(Open(path), Messages{path + ": No such file or directory"});
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_EQ(messages_.Messages()[0].id, 0);
    EXPECT_EQ(Open(folder_.Path() + "/"), Messages{kIllegalFile});
}

TEST_F(ReportFileTest, TooLargeForAReportFile) {
    const std::string path = folder_ / "big.kel";
    const std::string texts[] = {
        std::string(131072, 'T'),  // longer than 131,071 bytes
        RandomText(131071, 9),     // fits, but its packed form does not
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(Save(path, text), Messages{kTooLarge});
        EXPECT_FALSE(saved_);
        EXPECT_FALSE(filetest::Exists(path));
        // The same text still goes into a text file.
        EXPECT_EQ(Save(folder_ / "big.txt", text), Messages{});
        EXPECT_EQ(testing_support::ReadFileBytes(folder_ / "big.txt").size(), text.size());
    }
}

TEST_F(ReportFileTest, SaveOntoAFolderKeepsItAndNamesThePath) {
    const std::string path = folder_ / "folder.kel";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
    EXPECT_EQ(Save(path, "REPORT"), Messages{path + ": Is a directory"});
    EXPECT_FALSE(saved_);
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(folder_.Entries(), std::vector<std::string>{"folder.kel"});

    const std::string missing = folder_ / "no/such/x.txt";
    EXPECT_EQ(Save(missing, "T"), Messages{missing + ": No such file or directory"});
}

// Limits the size of files this process may write, the way a full disk stops a write.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(ReportFileTest, FailedWriteKeepsTheOldFile) {
    const std::string textPath = folder_ / "old.txt";
    const std::string reportPath = folder_ / "old.kel";
    ASSERT_EQ(Save(textPath, "OLD"), Messages{});
    ASSERT_EQ(Save(reportPath, "OLD"), Messages{});
    const Bytes oldReport = testing_support::ReadFileBytes(reportPath);

    const std::string longer = RandomText(5000, 4);
    {
        FileSizeLimit limit(100);
        EXPECT_EQ(Save(textPath, longer), Messages{textPath + ": File too large"});
        EXPECT_EQ(Save(reportPath, longer), Messages{reportPath + ": File too large"});
    }
    EXPECT_EQ(testing_support::ReadFileBytes(textPath), Bytes({'O', 'L', 'D'}));
    EXPECT_EQ(testing_support::ReadFileBytes(reportPath), oldReport);
    EXPECT_EQ(folder_.Entries().size(), 2u);  // no temporary file left behind
}

TEST_F(ReportFileTest, ReadOnlyFolderKeepsTheOldFile) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    const std::string path = folder_ / "keep.txt";
    ASSERT_EQ(Save(path, "OLD"), Messages{});
    ASSERT_EQ(::chmod(folder_.Path().c_str(), 0555), 0);
    EXPECT_EQ(Save(path, "NEW"), Messages{path + ": Permission denied"});
    ::chmod(folder_.Path().c_str(), 0755);
    EXPECT_EQ(testing_support::ReadFileBytes(path), Bytes({'O', 'L', 'D'}));
}

}  // namespace
}  // namespace kelo
