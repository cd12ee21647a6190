#include "testsupport/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

extern char** environ;

namespace kelo::test {
namespace {

std::vector<char*> Pointers(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// In the forked child: only async-signal-safe calls until exec.
[[noreturn]] void RunChild(pid_t parent, const char* standardOutput, int out, int err,
                           char* const* argv, char* const* envp) {
    // A test that dies takes its machines and agents with it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(126);
    if (standardOutput != nullptr)
        out = ::open(standardOutput, O_WRONLY | O_CLOEXEC);
    if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
        ::_exit(127);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& extraEnv,
                           const std::string& standardOutput) {
    std::vector<std::string> env(extraEnv);
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    const std::vector<char*> args = Pointers(argv);
    const std::vector<char*> envp = Pointers(env);
    int out[2] = {-1, -1};
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0)
        return;
    if (standardOutput.empty() && ::pipe2(out, O_CLOEXEC) != 0) {
        ::close(err[0]);
        ::close(err[1]);
        return;
    }
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0)
        RunChild(parent, standardOutput.empty() ? nullptr : standardOutput.c_str(), out[1], err[1],
                 args.data(), envp.data());
    for (int fd : {out[1], err[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (out[0] >= 0) {
        out_.ended = false;
        out_.reader = std::thread([this, fd = out[0]] { Collect(fd, out_); });
    }
    err_.ended = false;
    err_.reader = std::thread([this, fd = err[0]] { Collect(fd, err_); });
}

ChildProcess::~ChildProcess() {
    Stop(SIGKILL);
    JoinReaders();
}

void ChildProcess::Collect(int fd, Stream& stream) {
    char buffer[65536];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        stream.text.append(buffer, static_cast<size_t>(got));
        both_.append(buffer, static_cast<size_t>(got));
        changed_.notify_all();
    }
    ::close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    stream.ended = true;
    changed_.notify_all();
}

void ChildProcess::Signal(int signalNumber) {
    if (Running())
        ::kill(pid_, signalNumber);
}

bool ChildProcess::WaitForStandardOutput(const std::function<bool(const std::string&)>& holds,
                                         int limitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                      [&] { return holds(out_.text) || (out_.ended && err_.ended); });
    return holds(out_.text);
}

bool ChildProcess::WaitForOutput(const std::string& text, int limitMs) {
    const auto holds = [&] { return both_.find(text) != std::string::npos; };
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                      [&] { return holds() || (out_.ended && err_.ended); });
    return holds();
}

int ChildProcess::Wait(int limitMs) {
    if (pid_ <= 0 || reaped_)
        return status_;
    // A process descriptor becomes readable when the child ends.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd >= 0) {
        pollfd entry{pidFd, POLLIN, 0};
        while (::poll(&entry, 1, limitMs) < 0 && errno == EINTR) {
        }
        ::close(pidFd);
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        Reap(status);
        return status_;
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    Reap(-1);
    return -1;
}

int ChildProcess::Stop(int signalNumber, int limitMs) {
    Signal(signalNumber);
    return Wait(limitMs);
}

void ChildProcess::Reap(int status) {
    reaped_ = true;
    status_ = status < 0 ? -1 : ExitCodeOf(status);
    JoinReaders();
}

void ChildProcess::JoinReaders() {
    for (Stream* stream : {&out_, &err_}) {
        if (stream->reader.joinable())
            stream->reader.join();
    }
}

std::string ChildProcess::Out() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return out_.text;
}

std::string ChildProcess::Err() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return err_.text;
}

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return both_;
}

}  // namespace kelo::test
