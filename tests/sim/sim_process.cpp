#include "tests/sim/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>

extern char** environ;

namespace sim_testing {
namespace {

std::string EventNameOf(const std::string& line) {
    return EventField(line, "event");
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

const char* SimPath() {
    return KELO_SIM_PATH;
}

SimProcess::SimProcess(const std::vector<std::string>& arguments, int limitMs) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> argv{SimPath()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    if (posix_spawn(&pid_, SimPath(), &actions, nullptr, pointers.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outputReader_ = std::thread([this, fd = out[0]] { ReadOutput(fd); });
    errorReader_ = std::thread([this, fd = err[0]] { ReadErrors(fd); });
    if (pid_ > 0)
        WaitForEvent("listening", 1, limitMs);
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !reaped_)
        Stop();
    if (outputReader_.joinable())
        outputReader_.join();
    if (errorReader_.joinable())
        errorReader_.join();
}

void SimProcess::ReadOutput(int fd) {
    std::string partial;
    char buffer[65536];
    while (true) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        partial.append(buffer, static_cast<size_t>(got));
        size_t end;
        std::lock_guard<std::mutex> lock(mutex_);
        while ((end = partial.find('\n')) != std::string::npos) {
            events_.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    outputEnded_ = true;
    changed_.notify_all();
}

void SimProcess::ReadErrors(int fd) {
    char buffer[4096];
    while (true) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    errorsEnded_ = true;
    changed_.notify_all();
}

bool SimProcess::Listening() const {
    return !EventsNamed("listening").empty();
}

std::vector<std::string> SimProcess::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<std::string> SimProcess::EventsNamed(const std::string& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> named;
    for (const std::string& line : events_) {
        if (EventNameOf(line) == name)
            named.push_back(line);
    }
    return named;
}

std::string SimProcess::WaitForEvent(const std::string& name, int count, int limitMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    std::string found;
    auto enough = [&] {
        int seen = 0;
        for (const std::string& line : events_) {
            if (EventNameOf(line) == name && ++seen == count) {
                found = line;
                return true;
            }
        }
        return outputEnded_;
    };
    changed_.wait_for(lock, std::chrono::milliseconds(limitMs), enough);
    return found;
}

std::string SimProcess::StandardError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

int SimProcess::Reap(int limitMs) {
    // Both output streams end when the machine exits; only then is waitpid called, and by
    // then everything it wrote has been collected.
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ended = changed_.wait_for(lock, std::chrono::milliseconds(limitMs),
                                         [&] { return outputEnded_ && errorsEnded_; });
    lock.unlock();
    if (!ended)
        kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    exitCode_ = ended ? ExitCodeOf(status) : -1;
    return exitCode_;
}

int SimProcess::Stop(int signalNumber, int limitMs) {
    if (pid_ <= 0)
        return -1;
    if (reaped_)
        return exitCode_;
    kill(pid_, signalNumber);
    return Reap(limitMs);
}

SimRun RunSimToEnd(const std::vector<std::string>& arguments, int limitMs) {
    SimRun run;
    SimProcess process(arguments, limitMs);
    // Without a "listening" event the process has ended (or is stuck): collect it.
    run.exitCode = process.Listening() ? process.Stop(SIGTERM, limitMs) : process.Stop(0, limitMs);
    for (const std::string& line : process.Events())
        run.standardOutput += line + "\n";
    run.standardError = process.StandardError();
    return run;
}

std::string EventField(const std::string& line, const std::string& key) {
    const nlohmann::json object = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (!object.is_object() || !object.contains(key))
        return "";
    const nlohmann::json& value = object[key];
    if (!value.is_string())
        return value.dump();
    // Each code point of the string stands for the byte of the same value.
    std::string bytes;
    const std::string& text = value.get_ref<const std::string&>();
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead >= 0xC0 && i + 1 < text.size()) {
            bytes += static_cast<char>(((lead & 0x1F) << 6) | (text[++i] & 0x3F));
        } else {
            bytes += static_cast<char>(lead);
        }
    }
    return bytes;
}

}  // namespace sim_testing
