#include "platform/process_life.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace kelo::platform {
namespace {

// A bit for each signal number below 64 that was ignored at start.
uint64_t g_ignoredAtStart = 0;
// The parent a forked child ends with; 0 in a process that follows none.
std::atomic<pid_t> g_parent{0};
static_assert(std::atomic<pid_t>::is_always_lock_free);

bool IsClosed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// Opens /dev/null as descriptor fd, which is closed, as are none below it: read-only for an
// output, write-only for standard input, so that a use of the stream still fails with EBADF.
bool OpenNothingAt(int fd) {
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (opened < 0)
        return false;
    if (opened == fd)
        return true;
    const bool moved = ::dup2(opened, fd) == fd;
    ::close(opened);
    return moved;
}

}  // namespace

bool StartProcessLife() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (IsClosed(fd) && !OpenNothingAt(fd))
            return false;
    }
    g_ignoredAtStart = 0;
    for (int signalNumber = 1; signalNumber < 64 && signalNumber < NSIG; ++signalNumber) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
            g_ignoredAtStart |= uint64_t{1} << signalNumber;
    }
    return true;
}

bool IgnoredAtStart(int signalNumber) {
    return signalNumber > 0 && signalNumber < 64 &&
           (g_ignoredAtStart & (uint64_t{1} << signalNumber)) != 0;
}

void EndWithParent(pid_t parent, int signalNumber) {
    g_parent.store(parent);
    ::prctl(PR_SET_PDEATHSIG, signalNumber);
    if (::getppid() != parent)
        ::kill(::getpid(), signalNumber);
}

bool ParentGone() {
    const pid_t parent = g_parent.load();
    return parent != 0 && ::getppid() != parent;
}

}  // namespace kelo::platform
