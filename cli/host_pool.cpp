#include "cli/host_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <list>
#include <optional>

#include "cli/host_table.h"
#include "cli/interrupt.h"
#include "cli/json_result.h"
#include "cli/rollout_limits.h"
#include "link/settings.h"
#include "net/target.h"
#include "platform/host_address.h"
#include "platform/messages.h"
#include "platform/process_life.h"

namespace kelo::cli {
namespace {

using Clock = std::chrono::steady_clock;

// Where a child writes its progress (--progress-fd).
constexpr int kProgressDescriptor = 3;
// A child's line longer than this is cut: its result line is a few hundred bytes, its
// messages one line each.
constexpr size_t kLongestLine = 65536;
// How long the hosts have to end after a signal was passed on to them, before they are
// killed: a stopped run ends within a few poll slices, so this only bounds one that hangs.
constexpr std::chrono::milliseconds kStopGrace{1000};

long long MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// One pipe from a child and what arrived on it that is not yet a whole line.
struct Stream {
    int fd = -1;
    std::string pending;

    bool IsOpen() const { return fd >= 0; }
    void Close() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    // Takes the next whole line (without its line end) from what arrived.
    std::optional<std::string> TakeLine() {
        const size_t end = pending.find('\n');
        if (end == std::string::npos) {
            if (pending.size() < kLongestLine)
                return std::nullopt;
            std::string cut = pending.substr(0, kLongestLine);
            pending.erase(0, kLongestLine);
            return cut;
        }
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        return line;
    }
};

// One host's child process while it runs.
struct HostRun {
    size_t index = 0;  // in the list
    std::string host;
    int typeIndex = 0;
    pid_t pid = -1;
    Stream out;
    Stream err;
    Stream progress;
    int signalSent = 0;  // the stop signal passed on to it; 0 while none was
    std::optional<std::string> lastMessage;
    Clock::time_point started;

    bool Ended() const { return !out.IsOpen() && !err.IsOpen() && !progress.IsOpen(); }
};

// The pipes from one child, each {read end, write end}; the progress pipe only for the table.
// Made with O_CLOEXEC and closed in every other child, so that each pipe ends with its child.
struct ChildPipes {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int progress[2] = {-1, -1};

    // 0 or an errno value.
    int Open(bool withProgress) {
        if (::pipe2(out, O_CLOEXEC) == 0 && ::pipe2(err, O_CLOEXEC) == 0 &&
            (!withProgress || ::pipe2(progress, O_CLOEXEC) == 0)) {
            return 0;
        }
        const int error = errno;
        CloseEnd(0);
        CloseEnd(1);
        return error;
    }
    // Closes the read ends (0) or the write ends (1) of all three.
    void CloseEnd(int end) {
        for (int* pipe : {out, err, progress}) {
            if (pipe[end] >= 0)
                ::close(pipe[end]);
            pipe[end] = -1;
        }
    }
};

// In the forked child: the pipes become its standard output, standard error and progress
// descriptor, standard input reads /dev/null, nothing else of the pool stays open, and the
// process group is its own. The stop signals act as in a new process (one ignored when the
// program started stays ignored) but stay blocked until the single run's handlers take them;
// the end of the list's process comes as SIGTERM, so a host whose list was killed stops as
// SIGTERM stops it, and records its host. A reader that went away is a failed write, as in
// kelo-cli's main, so that such a host gets as far as its record. Then the single run.
[[noreturn]] void RunHostInChild(const HostRunner& runHost, const Invocation& hostRun,
                                 const ChildPipes& pipes, pid_t parent) {
    ::setpgid(0, 0);
    platform::EndWithParent(parent, SIGTERM);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        if (!platform::IgnoredAtStart(signalNumber))
            ::signal(signalNumber, SIG_DFL);
    }
    ::signal(SIGPIPE, SIG_IGN);
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(nothing, STDIN_FILENO);
    ::dup2(pipes.out[1], STDOUT_FILENO);
    ::dup2(pipes.err[1], STDERR_FILENO);
    int firstToClose = kProgressDescriptor;
    if (pipes.progress[1] >= 0) {
        ::dup2(pipes.progress[1], kProgressDescriptor);
        firstToClose = kProgressDescriptor + 1;
    }
    ::closefrom(firstToClose);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    AddStopSignals(stopSignals);
    ::sigprocmask(SIG_SETMASK, &stopSignals, nullptr);
    ::_exit(runHost(hostRun));
}

// Starts the run of one host in a child process. The child is this program forked, not
// executed again: it runs the single run as a new process would, at a fraction of the cost of
// loading the program once more (this process has no threads, so a fork is safe). Returns 0
// or an errno value.
int Spawn(const HostRunner& runHost, const Invocation& hostRun, HostRun& run, bool withProgress) {
    ChildPipes pipes;
    if (const int error = pipes.Open(withProgress); error != 0)
        return error;
    // A signal must not run this process's handler in the child before the child reset it.
    sigset_t stopSignals;
    sigset_t previousMask;
    sigemptyset(&stopSignals);
    AddStopSignals(stopSignals);
    ::sigprocmask(SIG_BLOCK, &stopSignals, &previousMask);
    const pid_t parent = ::getpid();
    run.pid = ::fork();
    if (run.pid == 0)
        RunHostInChild(runHost, hostRun, pipes, parent);
    const int error = run.pid < 0 ? errno : 0;
    if (run.pid > 0)
        ::setpgid(run.pid, run.pid);  // either side may come first
    ::sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    pipes.CloseEnd(1);
    if (error != 0) {
        pipes.CloseEnd(0);
        return error;
    }
    run.out.fd = pipes.out[0];
    run.err.fd = pipes.err[0];
    run.progress.fd = pipes.progress[0];
    return 0;
}

// A child's exit status: its exit code, or 128 + the signal that ended it, as a shell has it.
int ExitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return platform::SignalExitStatus(WTERMSIG(waitStatus));
    return kExitFailed;
}

class HostPool {
  public:
    HostPool(const Invocation& invocation, const std::vector<HostEntry>& hosts,
             int defaultTypeIndex, const Console& console, HostRunner runHost, UntoldResult untold)
        : invocation_(invocation),
          hosts_(hosts),
          defaultTypeIndex_(defaultTypeIndex),
          console_(console),
          runHost_(std::move(runHost)),
          untold_(std::move(untold)),
          live_(console.errIsTerminal && invocation.showProgress),
          table_(console.writeErr, live_, StandardErrorSize),
          gate_(invocation.rollout, hosts.size()) {}

    int Run() {
        const Clock::time_point started = Clock::now();
        const size_t jobs = static_cast<size_t>(invocation_.jobs.value_or(kDefaultJobs));
        size_t next = 0;
        for (;;) {
            while (!Interrupted() && !stopReason_ && running_.size() < jobs &&
                   next < hosts_.size()) {
                const RolloutGate::Step step = gate_.Next(next);
                if (step == RolloutGate::Step::kStop)
                    stopReason_ = gate_.StopReason();
                if (step != RolloutGate::Step::kStart)
                    break;
                Start(next++);
            }
            if (running_.empty())
                break;
            WaitForEvents();
            if (Interrupted())
                PassOnStop();
            if (stopDeadline_ && Clock::now() >= *stopDeadline_)
                KillRemaining();
            for (auto run = running_.begin(); run != running_.end();) {
                if (run->Ended()) {
                    Finish(*run);
                    run = running_.erase(run);
                } else {
                    ++run;
                }
            }
            table_.RedrawIfDue();
        }
        // The hosts that did not run are listed as skipped when the list stopped for its
        // failures, else (after Ctrl-C) as cancelled.
        const size_t skipped = stopReason_ ? hosts_.size() - next : 0;
        for (; next < hosts_.size(); ++next)
            Report(NotRun(hosts_[next]), next);
        summary_.ms = MillisecondsSince(started);
        summary_.runId = invocation_.runId;
        table_.Summary(summary_);
        if (invocation_.json)
            console_.writeOut(SummaryLine(summary_));
        if (skipped > 0)
            TellError(console_, StoppedListLine(*stopReason_, skipped, invocation_.runId));
        if (Interrupted())
            return platform::SignalExitStatus(StopSignal());
        return summary_.ok + summary_.unchanged == summary_.hosts ? kExitSuccess : kExitFailed;
    }

  private:
    static std::optional<std::string> AddressOf(const HostEntry& entry) {
        if (!entry.address)
            return std::nullopt;
        return platform::DottedQuad(*entry.address);
    }

    int TypeIndexOf(const HostEntry& entry) const {
        return entry.machineTypeIndex.value_or(defaultTypeIndex_);
    }

    void Start(size_t index) {
        const HostEntry& entry = hosts_[index];
        HostRun run;
        run.index = index;
        run.host = entry.host;
        run.typeIndex = TypeIndexOf(entry);
        run.started = Clock::now();
        Invocation hostRun = HostRunInvocation(invocation_, entry.host, run.typeIndex, live_);
        hostRun.targetAddress = entry.address;
        if (Spawn(runHost_, hostRun, run, live_) != 0) {
            // The system's own message for a program that cannot be started.
            HostResult failed = Unfinished(run, RunResult::kFailed);
            failed.message = platform::LoadString(platform::MessageId::kFailedCreateProcess);
            table_.Message(run.host, *failed.message);
            Report(failed, index);
            return;
        }
        HostListInterruptGuard::Track(run.pid);
        table_.Started(index,
                       entry.address ? HostWithAddress(entry.host, *entry.address) : run.host);
        running_.push_back(std::move(run));
    }

    // Waits until a child writes or ends, Ctrl-C is pressed, or the table is due a redraw.
    void WaitForEvents() {
        std::vector<pollfd> watched;
        std::vector<std::pair<HostRun*, Reader>> readers;
        if (interrupt_.WakeDescriptor() >= 0) {
            watched.push_back({interrupt_.WakeDescriptor(), POLLIN, 0});
            readers.emplace_back(nullptr, nullptr);
        }
        for (HostRun& run : running_) {
            for (const auto& [stream, reader] :
                 {std::pair{&run.out, &HostPool::ReadResult},
                  std::pair{&run.err, &HostPool::ReadMessages},
                  std::pair{&run.progress, &HostPool::ReadProgress}}) {
                if (stream->IsOpen()) {
                    watched.push_back({stream->fd, POLLIN, 0});
                    readers.emplace_back(&run, reader);
                }
            }
        }
        std::optional<std::chrono::milliseconds> until = table_.UntilRedraw();
        if (stopDeadline_ && !killSent_) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*stopDeadline_ - Clock::now());
            until = std::max(std::chrono::milliseconds(0), until ? std::min(*until, left) : left);
        }
        const int timeout = until ? static_cast<int>(until->count()) : -1;
        if (::poll(watched.data(), watched.size(), timeout) <= 0)
            return;  // a timeout, or a signal: the caller looks again
        for (size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents == 0)
                continue;
            const auto& [run, reader] = readers[i];
            if (run == nullptr)
                interrupt_.Drain();
            else
                (this->*reader)(*run);
        }
    }

    // Takes what a child wrote on one of its pipes, each pipe through its own reader.
    using Reader = void (HostPool::*)(HostRun& run);

    // Reads what arrived on a pipe into its stream while fewer than limit bytes are pending;
    // false once the pipe ended, which closes it.
    static bool ReadPipe(Stream& stream, size_t limit = std::string::npos) {
        char buffer[65536];
        const ssize_t n = ::read(stream.fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (n <= 0) {
            stream.Close();
            return false;
        }
        if (stream.pending.size() < limit)
            stream.pending.append(buffer, static_cast<size_t>(n));
        return true;
    }

    // Standard output: the result line, kept until the host ends.
    void ReadResult(HostRun& run) { ReadPipe(run.out, kLongestLine); }

    // Standard error: each message line, shown with the host in front.
    void ReadMessages(HostRun& run) {
        if (!ReadPipe(run.err) && !run.err.pending.empty())
            run.err.pending += '\n';  // a last message without its line end
        while (std::optional<std::string> line = run.err.TakeLine())
            ShowMessage(run, *line);
    }

    // The progress descriptor: a percentage a line.
    void ReadProgress(HostRun& run) {
        ReadPipe(run.progress);
        while (std::optional<std::string> line = run.progress.TakeLine()) {
            int percent = 0;
            const auto [end, error] =
                std::from_chars(line->data(), line->data() + line->size(), percent);
            if (error == std::errc())
                table_.Progress(run.index, percent);
        }
    }

    // A line of the child's standard error: its message, shown with the host in front.
    void ShowMessage(HostRun& run, std::string line) {
        if (line.starts_with(kMessagePrefix))
            line.erase(0, sizeof kMessagePrefix - 1);
        table_.Message(run.host, line);
        run.lastMessage = line;
    }

    // The first signal goes on to each running host once, to its process group; each ends as
    // its own run does. Hosts that have not ended when the grace is over are killed.
    void PassOnStop() {
        if (!stopDeadline_)
            stopDeadline_ = Clock::now() + kStopGrace;
        for (HostRun& run : running_) {
            if (run.signalSent == 0)
                SignalHost(run, StopSignal());
            run.signalSent = StopSignal();
        }
    }

    void KillRemaining() {
        if (killSent_)
            return;
        killSent_ = true;
        for (HostRun& run : running_)
            SignalHost(run, SIGKILL);
    }

    static void SignalHost(const HostRun& run, int signalNumber) {
        if (::kill(-run.pid, signalNumber) != 0)
            ::kill(run.pid, signalNumber);  // its own group may not be made yet
    }

    // Collects a child whose pipes have all ended and reports its result: the line it wrote,
    // or one made from its exit status when it wrote none (it was killed).
    void Finish(HostRun& run) {
        HostListInterruptGuard::Untrack(run.pid);
        int waitStatus = 0;
        while (::waitpid(run.pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
        const size_t end = run.out.pending.find('\n');
        const std::string line = run.out.pending.substr(0, end);
        if (const std::optional<RunResult> result = ResultOfLine(line)) {
            Pass(line + "\n", *result, run.index);
            return;
        }
        HostResult made = Unfinished(run, ResultOfStatus(ExitStatusOf(waitStatus)));
        if (run.signalSent != 0) {
            // This pool stopped it: cancelled, by the signal that stopped the list.
            made.result = RunResult::kCancelled;
            if (std::optional<std::string> stopped = StoppedBy(run.signalSent))
                made.message = stopped;
        } else if (WIFSIGNALED(waitStatus)) {
            made.message = "killed by " + SignalText(WTERMSIG(waitStatus));
            table_.Message(run.host, *made.message);
        }
        Report(made, run.index);
    }

    // What a host's result says of the signal that stopped the list; Ctrl-C is the user's own.
    static std::optional<std::string> StoppedBy(int signalNumber) {
        if (signalNumber == SIGINT)
            return std::nullopt;
        return "stopped by " + SignalText(signalNumber);
    }

    // The result of a run that told none itself.
    HostResult Unfinished(const HostRun& run, RunResult result) const {
        HostResult made;
        made.host = run.host;
        made.address = AddressOf(hosts_[run.index]);
        made.type = run.typeIndex + 1;
        made.command = CommandWord(invocation_.command);
        made.result = result;
        made.message = run.lastMessage;
        made.ms = MillisecondsSince(run.started);
        return made;
    }

    HostResult NotRun(const HostEntry& entry) const {
        HostResult made;
        made.host = entry.host;
        made.address = AddressOf(entry);
        made.type = TypeIndexOf(entry) + 1;
        made.command = CommandWord(invocation_.command);
        if (stopReason_) {
            made.result = RunResult::kSkipped;
            made.message = "not started: " + *stopReason_;
        } else {
            made.result = RunResult::kCancelled;
            made.message = StoppedBy(StopSignal());
        }
        return made;
    }

    void Report(const HostResult& result, size_t index) {
        if (untold_)
            untold_(result);
        Pass(ResultLine(result), result.result, index);
    }

    // Counts a host's result, shows it and, with --json, writes its line.
    void Pass(const std::string& line, RunResult result, size_t index) {
        summary_.Count(result);
        gate_.Ended(index, result);
        table_.Ended(index, hosts_[index].host, result);
        if (invocation_.json)
            console_.writeOut(line);
    }

    const Invocation& invocation_;
    const std::vector<HostEntry>& hosts_;
    const int defaultTypeIndex_;
    const Console& console_;
    const HostRunner runHost_;
    const UntoldResult untold_;
    const bool live_;
    HostTable table_;
    HostListInterruptGuard interrupt_;
    std::list<HostRun> running_;
    HostListSummary summary_;
    RolloutGate gate_;
    // Why the list started no further host (--canary, --max-fail); nullopt while it goes on.
    std::optional<std::string> stopReason_;
    // Set once a signal was passed on: when the hosts still running are killed.
    std::optional<Clock::time_point> stopDeadline_;
    bool killSent_ = false;
};

}  // namespace

Invocation HostRunInvocation(const Invocation& invocation, const std::string& host, int typeIndex,
                             bool withProgress) {
    Invocation run = invocation;
    run.hostList.reset();
    run.jobs.reset();
    run.rollout = {};
    run.overrides.host = host;
    run.overrides.machineTypeIndex = typeIndex;
    run.overrides.portKind = kPortNetwork;
    run.showProgress = false;
    run.json = true;
    run.progressFd = withProgress ? kProgressDescriptor : -1;
    run.timeoutSeconds = invocation.timeoutSeconds.value_or(kDefaultHostTimeout);
    if (!invocation.output.empty())
        run.output = ExpandHostTemplate(invocation.output, host);
    // Each host its own capture; a text trace without {host} is shared, block by whole block.
    run.captureFile = ExpandHostTemplate(invocation.captureFile, host);
    run.traceFile = ExpandHostTemplate(invocation.traceFile, host);
    return run;
}

int RunHostList(const Invocation& invocation, const std::vector<HostEntry>& hosts,
                int defaultTypeIndex, const Console& console, HostRunner runHost,
                UntoldResult untold) {
    HostPool pool(invocation, hosts, defaultTypeIndex, console, std::move(runHost),
                  std::move(untold));
    return pool.Run();
}

}  // namespace kelo::cli
