// A program started by a test, with its standard output and error collected on a thread.
// Every wait is bounded, and the child is killed when the test ends or dies.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kelo::test {

class ChildProcess {
  public:
    // Starts argv[0] (a full path) with the test's environment plus extra "NAME=value"
    // entries. Running() tells whether it started.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
        std::vector<std::string> env(extraEnv);
        for (char** e = environ; *e != nullptr; ++e)
            env.emplace_back(*e);
        std::vector<char*> args = Pointers(argv);
        std::vector<char*> envp = Pointers(env);
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec.
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(126);
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::dup2(pipeFds[1], STDERR_FILENO);
            ::execve(args[0], args.data(), envp.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        if (pid_ < 0) {
            ::close(pipeFds[0]);
            return;
        }
        reader_ = std::thread([this, fd = pipeFds[0]] { Collect(fd); });
    }

    ~ChildProcess() { Stop(SIGKILL); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Running() const { return pid_ > 0 && !exited_; }

    // Waits until the output holds the text; false after the limit or when the output ended.
    bool WaitForOutput(const std::string& text, int limitMilliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(limitMilliseconds), [&] {
            return output_.find(text) != std::string::npos || outputEnded_;
        }) && output_.find(text) != std::string::npos;
    }

    std::string Output() {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }

    // Waits for the child to end by itself; kills it after the limit. Returns its exit
    // status, or -1 when it had to be killed or did not start.
    int Wait(int limitMilliseconds) {
        if (pid_ <= 0 || exited_)
            return status_;
        // A process descriptor becomes readable when the child ends.
        const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        if (pidFd >= 0) {
            pollfd entry{pidFd, POLLIN, 0};
            while (::poll(&entry, 1, limitMilliseconds) < 0 && errno == EINTR) {
            }
            ::close(pidFd);
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            Reap(status);
            return status_;
        }
        Stop(SIGKILL);
        return -1;
    }

    // Asks the child to end with the signal, waits up to two seconds, then kills it.
    void Stop(int signal = SIGTERM) {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, signal);
            if (signal != SIGKILL)
                Wait(2000);
            if (!exited_) {
                int status = 0;
                ::kill(pid_, SIGKILL);
                if (::waitpid(pid_, &status, 0) == pid_)
                    Reap(status);
                exited_ = true;
            }
        }
        if (reader_.joinable())
            reader_.join();
    }

  private:
    static std::vector<char*> Pointers(const std::vector<std::string>& strings) {
        std::vector<char*> pointers;
        for (const std::string& s : strings)
            pointers.push_back(const_cast<char*>(s.c_str()));
        pointers.push_back(nullptr);
        return pointers;
    }

    void Reap(int status) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (reader_.joinable())
            reader_.join();
    }

    void Collect(int fd) {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            output_.append(buffer, static_cast<size_t>(n));
            changed_.notify_all();
        }
        ::close(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        outputEnded_ = true;
        changed_.notify_all();
    }

    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string output_;
    bool outputEnded_ = false;
};

}  // namespace kelo::test
