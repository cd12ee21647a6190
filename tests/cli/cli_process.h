// Runs the kelo-cli program itself as a child process, with its standard output and standard
// error collected apart, so a test sees exactly what a shell would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace cli_testing {

class CliProcess {
  public:
    // Starts kelo-cli with the arguments and this process's environment; its standard output
    // goes to the file standardOutput names (such as /dev/full) when one is given.
    explicit CliProcess(const std::vector<std::string>& arguments,
                        const std::string& standardOutput = "") {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (standardOutput.empty())
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        else
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, standardOutput.c_str(),
                                             O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<std::string> argv{KELO_CLI_PATH};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> pointers;
        for (std::string& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        if (posix_spawn(&pid_, KELO_CLI_PATH, &actions, nullptr, pointers.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        outReader_ = std::thread([this, fd = out[0]] { Collect(fd, out_); });
        errReader_ = std::thread([this, fd = err[0]] { Collect(fd, err_); });
    }

    ~CliProcess() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (outReader_.joinable())
            outReader_.join();
        if (errReader_.joinable())
            errReader_.join();
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void Signal(int signalNumber) {
        if (pid_ > 0 && !ended_)
            ::kill(pid_, signalNumber);
    }

    // Waits up to limitMs for the end; the exit status, 128 + signal for a signal, or -1 when
    // it had to be killed.
    int Wait(int limitMs = 10000) {
        if (pid_ <= 0)
            return -1;
        const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidFd >= 0) {
            pollfd entry{pidFd, POLLIN, 0};
            while (::poll(&entry, 1, limitMs) < 0 && errno == EINTR) {
            }
            ::close(pidFd);
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) != pid_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            ended_ = true;
            return -1;
        }
        ended_ = true;
        if (outReader_.joinable())
            outReader_.join();
        if (errReader_.joinable())
            errReader_.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Complete once Wait has returned.
    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }

  private:
    static void Collect(int fd, std::string& into) {
        char buffer[65536];
        ssize_t got;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0)
                into.append(buffer, static_cast<size_t>(got));
        }
        ::close(fd);
    }

    pid_t pid_ = -1;
    bool ended_ = false;
    std::string out_;
    std::string err_;
    std::thread outReader_;
    std::thread errReader_;
};

}  // namespace cli_testing
