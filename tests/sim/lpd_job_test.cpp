#include "sim/lpd_job.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/test_bytes.h"

namespace kelo::sim {
namespace {

using testing_support::HexText;

// Writes down what the parser reports, one entry per call.
class RecordingHandler : public LpdJobParser::Handler {
  public:
    uint8_t OnJob(std::string_view queue) override {
        calls.push_back("job " + std::string(queue));
        return jobAck;
    }
    void OnSubcommand(uint8_t code, size_t count, std::string_view name) override {
        calls.push_back("sub " + std::to_string(code) + " " + std::to_string(count) + " " +
                        std::string(name));
    }
    void OnFile(uint8_t code, std::vector<uint8_t> content) override {
        calls.push_back("file " + std::to_string(code) + " [" + HexText(content) + "]");
    }

    uint8_t jobAck = 0x00;
    std::vector<std::string> calls;
};

std::string Job(const std::string& queue) {
    return "\x02" + queue + "\n";
}
std::string DataFile(const std::string& content) {
    return "\x03" + std::to_string(content.size()) + " x\n" + content + std::string(1, '\0');
}

bool Feed(LpdJobParser& parser, const std::string& bytes, std::string& acks) {
    return parser.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), acks);
}

TEST(LpdJobTest, AcknowledgesEveryElementOfAJob) {
    RecordingHandler handler;
    LpdJobParser parser(handler);
    std::string acks;
    ASSERT_TRUE(Feed(parser, Job("lp1") + DataFile("Hello") + DataFile(""), acks));
    // Job command; subcommand and end byte of each of the two files.
    EXPECT_EQ(acks, std::string(5, '\0'));
    EXPECT_EQ(handler.calls,
              (std::vector<std::string>{"job lp1", "sub 3 5 x", "file 3 [48 65 6C 6C 6F]",
                                        "sub 3 0 x", "file 3 []"}));
}

TEST(LpdJobTest, BytesArrivingOneAtATimeGiveTheSameFiles) {
    RecordingHandler handler;
    LpdJobParser parser(handler);
    const std::string stream =
        Job("lp1") + DataFile(std::string("\0\x01\n\x02", 4)) + DataFile("AB");
    std::string acks;
    for (char c : stream)
        ASSERT_TRUE(Feed(parser, std::string(1, c), acks));
    EXPECT_EQ(acks, std::string(5, '\0'));
    EXPECT_EQ(handler.calls[2], "file 3 [00 01 0A 02]");
    EXPECT_EQ(handler.calls[4], "file 3 [41 42]");
}

TEST(LpdJobTest, ARefusedJobIsAnsweredAndEnds) {
    RecordingHandler handler;
    handler.jobAck = 0x01;
    LpdJobParser parser(handler);
    std::string acks;
    EXPECT_FALSE(Feed(parser, Job("lp1") + DataFile("A"), acks));
    EXPECT_EQ(HexText(std::vector<uint8_t>(acks.begin(), acks.end())), "01");
    EXPECT_EQ(parser.Error(), "job-refused");
    EXPECT_EQ(handler.calls.size(), 1u);
}

struct BrokenCase {
    const char* name;
    std::string stream;
    const char* error;
    size_t acks;  // acknowledgements sent before the break
};

class BrokenJobTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenJobTest, StopsWithTheReason) {
    RecordingHandler handler;
    LpdJobParser parser(handler);
    std::string acks;
    EXPECT_FALSE(Feed(parser, GetParam().stream, acks));
    EXPECT_EQ(parser.Error(), GetParam().error);
    EXPECT_EQ(acks.size(), GetParam().acks);
    // Once broken, nothing more is taken.
    EXPECT_FALSE(Feed(parser, DataFile("A"), acks));
}

INSTANTIATE_TEST_SUITE_P(
    Broken, BrokenJobTest,
    ::testing::Values(BrokenCase{"QueueStateQuery", "\x03lp1\n", "unsupported-job-command", 0},
                      BrokenCase{"EmptyJobLine", "\n", "unsupported-job-command", 0},
                      BrokenCase{"EndByteNotZero",
                                 Job("lp1") + "\x03"
                                              "1 x\nA\x01",
                                 "bad-end-byte", 2},
                      BrokenCase{"CountNotDecimal",
                                 Job("lp1") + "\x03"
                                              "1a x\n",
                                 "bad-count", 1},
                      BrokenCase{"CountMissing", Job("lp1") + "\x03 x\n", "bad-subcommand", 1},
                      BrokenCase{"NoName",
                                 Job("lp1") + "\x03"
                                              "12\n",
                                 "bad-subcommand", 1},
                      BrokenCase{"HugeCount",
                                 Job("lp1") + "\x03"
                                              "99999999999999999999999 x\n",
                                 "bad-count", 1},
                      BrokenCase{"FileTooLarge",
                                 Job("lp1") + "\x03"
                                              "16777217 x\n",
                                 "file-too-large", 1},
                      BrokenCase{"UnknownSubcommand",
                                 Job("lp1") + "\x05"
                                              "1 x\n",
                                 "unsupported-subcommand", 1},
                      BrokenCase{"LineWithoutEnd", std::string(2000, 'A'), "line-too-long", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LpdJobTest, AControlFileIsAcknowledgedAndReportedByItsCode) {
    RecordingHandler handler;
    LpdJobParser parser(handler);
    std::string acks;
    ASSERT_TRUE(Feed(parser,
                     Job("lp1") +
                         "\x02"
                         "3 cfA\nH1\n" +
                         std::string(1, '\0'),
                     acks));
    EXPECT_EQ(acks.size(), 3u);
    EXPECT_EQ(handler.calls.back(), "file 2 [48 31 0A]");
}

TEST(LpdJobTest, TellsHowMuchOfAFileIsMissing) {
    RecordingHandler handler;
    LpdJobParser parser(handler);
    std::string acks;
    ASSERT_TRUE(Feed(parser,
                     Job("lp1") + "\x03"
                                  "10 x\nABC",
                     acks));
    EXPECT_EQ(parser.PendingFileBytes(), 7u);
}

}  // namespace
}  // namespace kelo::sim
