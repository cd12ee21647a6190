// The progress line and the message lines of kelo-cli on standard error.
#include <gtest/gtest.h>

#include "cli/terminal.h"
#include "platform/messages.h"

namespace kelo::cli {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct Rendered {
    int range;
    int position;
    std::string line;
};

class ProgressRender : public ::testing::TestWithParam<Rendered> {};

TEST_P(ProgressRender, ShowsBarPositionAndRange) {
    const Rendered& expected = GetParam();
    EXPECT_EQ(ProgressLine::Render("Get Report", expected.range, expected.position), expected.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressRender,
    ::testing::Values(Rendered{100, 0, "Get Report [                              ] 0/100"},
                      Rendered{100, 50, "Get Report [###############               ] 50/100"},
                      Rendered{4760, 4760, "Get Report [##############################] 4760/4760"},
                      // Get Parameters runs one past its range; the bar stops full.
                      Rendered{65536, 65537,
                               "Get Report [##############################] 65537/65536"},
                      Rendered{100, -5, "Get Report [                              ] -5/100"},
                      // A position near the largest int must not overflow the bar's arithmetic.
                      Rendered{2147483647, 2147483647,
                               "Get Report [##############################] 2147483647/2147483647"},
                      Rendered{0, 3, "Get Report 3/0"}));

class ProgressLineTest : public ::testing::Test {
  protected:
    ProgressLine MakeLine() {
        ProgressLine line([this](const std::string& bytes) { written += bytes; },
                          [this] { return now; });
        line.SetLabel("Restart");
        return line;
    }

    std::string written;
    steady_clock::time_point now = steady_clock::time_point{} + std::chrono::hours(1);
};

TEST_F(ProgressLineTest, RedrawsInPlaceAtMostEveryHundredMilliseconds) {
    ProgressLine line = MakeLine();
    line.Update(100, 10);
    EXPECT_EQ(written, "\r" + ProgressLine::Render("Restart", 100, 10));
    written.clear();

    now += milliseconds(99);
    line.Update(100, 20);
    EXPECT_EQ(written, "") << "too soon after the last redraw";

    now += milliseconds(1);
    line.Update(100, 30);
    EXPECT_EQ(written, "\r" + ProgressLine::Render("Restart", 100, 30));
    written.clear();

    // Reaching the end is drawn at once.
    now += milliseconds(1);
    line.Update(100, 100);
    EXPECT_EQ(written, "\r" + ProgressLine::Render("Restart", 100, 100));
}

TEST_F(ProgressLineTest, CoversWhatALongerLineLeftAndClearsTheWholeLine) {
    ProgressLine line = MakeLine();
    line.Update(100000, 100000);
    const size_t longLength = ProgressLine::Render("Restart", 100000, 100000).size();
    written.clear();
    now += milliseconds(200);
    line.Update(10, 1);
    const std::string shortLine = ProgressLine::Render("Restart", 10, 1);
    const size_t cover = longLength - shortLine.size();
    EXPECT_EQ(written, "\r" + shortLine + std::string(cover, ' ') + std::string(cover, '\b'));
    written.clear();

    line.Clear();
    EXPECT_EQ(written, "\r" + std::string(shortLine.size(), ' ') + "\r");
    written.clear();
    line.Clear();
    EXPECT_EQ(written, "") << "nothing left to clear";
}

TEST(TerminalSink, WritesEachMessageOnItsOwnLineAfterClearingTheProgressLine) {
    std::string written;
    ProgressLine line([&](const std::string& bytes) { written += bytes; });
    line.SetLabel("Put Parameters");
    TerminalSink sink([&](const std::string& bytes) { written += bytes; }, &line);
    platform::MessageSink* previous = platform::SetMessageSink(&sink);

    line.Update(100, 50);
    const std::string drawn = ProgressLine::Render("Put Parameters", 100, 50);
    written.clear();
    platform::ShowMessage(platform::MessageId::kSetUpPort);
    EXPECT_EQ(written, "\r" + std::string(drawn.size(), ' ') +
                           "\rkelo-cli: Set up \"SELECT PORT\"\n" +
                           "kelo-cli: hint: kelo-cli config add-host HOST (and config type N)\n");

    written.clear();
    platform::ShowMessage(platform::MessageId::kDone);
    platform::ShowText("p.prm: Permission denied");
    EXPECT_EQ(written, "kelo-cli: Done.\nkelo-cli: p.prm: Permission denied\n");
    EXPECT_EQ(sink.ShownIds(),
              (std::vector<int>{platform::MessageId::kSetUpPort, platform::MessageId::kDone, 0}));

    platform::SetMessageSink(previous);
}

}  // namespace
}  // namespace kelo::cli
