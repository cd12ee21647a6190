// Starting a program and waiting for it in fixed pauses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "testsupport/temp_dir.h"

namespace {

// Blocks until some child has ended, without collecting it, so the next poll sees the end.
void WaitForAChildToEnd() {
    siginfo_t info{};
    waitid(P_ALL, 0, &info, WEXITED | WNOWAIT);
}

TEST(ChildProcess, WaitPollsInFixedPausesUntilTheProgramEnds) {
    testing_support::TempDir folder;
    const std::string fifo = folder.File("gate");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    kelo::platform::FakeClock clock;
    // The child waits at the gate until the second pause opens it, so one poll sees it running.
    clock.onSleep = [&](int) {
        if (clock.Waits().size() == 2) {
            close(open(fifo.c_str(), O_WRONLY));
            WaitForAChildToEnd();
        }
    };
    kelo::platform::ChildProcess child;
    ASSERT_TRUE(child.Start({"/bin/sh", "-c", "read line < '" + fifo + "'; exit 3"}));
    EXPECT_FALSE(child.HasEnded());
    child.WaitPolling(500);
    EXPECT_EQ(clock.Waits(), (std::vector<int>{500, 500}));
    ASSERT_TRUE(WIFEXITED(child.RawStatus()));
    EXPECT_EQ(WEXITSTATUS(child.RawStatus()), 3);
}

TEST(ChildProcess, AProgramThatCannotStartIsReported) {
    kelo::platform::ChildProcess child;
    EXPECT_FALSE(child.Start({"/nonexistent/browser", "/tmp/Kelo.html"}));
    EXPECT_NE(child.Error(), 0);
    kelo::platform::ChildProcess empty;
    EXPECT_FALSE(empty.Start({}));
}

TEST(ChildProcess, FindsProgramsInPathAndPassesNoDescriptorsOfOurs) {
    kelo::platform::FakeClock clock;
    clock.onSleep = [](int) { WaitForAChildToEnd(); };
    const int fd = open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
    ASSERT_GE(fd, 3);
    kelo::platform::ChildProcess child;
    ASSERT_TRUE(child.Start({"sh", "-c", "test ! -e /proc/self/fd/" + std::to_string(fd)}));
    child.WaitPolling(500);
    close(fd);
    EXPECT_EQ(clock.Waits(), (std::vector<int>{500}));
    ASSERT_TRUE(WIFEXITED(child.RawStatus()));
    EXPECT_EQ(WEXITSTATUS(child.RawStatus()), 0);
}

}  // namespace
