#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/clock.h"

extern char** environ;

namespace kelo::platform {
namespace {

// Closes every descriptor above standard error in the child, so the started program holds
// none of ours (sockets, the page file, Qt's pipes).
void CloseInheritedDescriptors(posix_spawn_file_actions_t& actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#else
    (void)actions;
#endif
}

}  // namespace

bool ChildProcess::Start(const std::vector<std::string>& words) {
    if (words.empty() || words[0].empty()) {
        error_ = ENOENT;
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& w : words)
        argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    CloseInheritedDescriptors(actions);

    // The child starts with no signals blocked and the default broken-pipe action.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        error_ = result;
        return false;
    }
    pid_ = pid;
    ended_ = false;
    error_ = 0;
    return true;
}

bool ChildProcess::HasEnded() {
    if (pid_ <= 0 || ended_)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return false;
    // Ended, or no longer ours to wait for (ECHILD): either way nothing is left to wait on.
    ended_ = true;
    status_ = result == pid_ ? status : 0;
    return true;
}

void ChildProcess::Wait() {
    if (pid_ <= 0 || ended_)
        return;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(pid_, &status, 0);
    } while (result < 0 && errno == EINTR);
    ended_ = true;
    status_ = result == pid_ ? status : 0;
}

void ChildProcess::WaitPolling(int pollMilliseconds) {
    do {
        Sleep(pollMilliseconds);
    } while (!HasEnded());
}

}  // namespace kelo::platform
