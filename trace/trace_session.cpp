#include "trace/trace_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_policy.h"
#include "platform/system.h"
#include "trace/pcapng_writer.h"
#include "trace/trace_text_writer.h"

namespace kelo::trace {

// One trace file. The first write that fails is reported; later writes are dropped, so a
// full disk costs the trace, never the operation.
class TraceSession::File {
  public:
    File(int fd, bool owned, std::string path, const Report& report)
        : fd_(fd), owned_(owned), path_(std::move(path)), report_(report) {}
    ~File() {
        if (owned_)
            ::close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void Write(const void* data, size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0 && !failed_) {
            const ssize_t n = ::write(fd_, bytes, size);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                failed_ = true;
                report_(platform::FileErrorText(path_, n < 0 ? errno : ENOSPC));
                return;
            }
            bytes += n;
            size -= static_cast<size_t>(n);
        }
    }

    TraceOutput Output() {
        return [this](const void* data, size_t size) { Write(data, size); };
    }

  private:
    int fd_;
    bool owned_;
    std::string path_;
    const Report& report_;
    bool failed_ = false;
};

// Hands every event to the text trace and the capture, whichever runs.
class TraceSession::FanOut : public TraceSink {
  public:
    explicit FanOut(TraceSession& session) : session_(session) {}

    void Connecting(const TraceChannel& channel) override {
        Each([&](TraceSink& sink) { sink.Connecting(channel); });
    }
    void Opened(const TraceChannel& channel, TraceOpenResult result,
                const std::string& detail) override {
        Each([&](TraceSink& sink) { sink.Opened(channel, result, detail); });
    }
    void Bytes(const TraceChannel& channel, const TraceBlock& block) override {
        Each([&](TraceSink& sink) { sink.Bytes(channel, block); });
    }
    void PeerClosed(const TraceChannel& channel) override {
        Each([&](TraceSink& sink) { sink.PeerClosed(channel); });
    }
    void Closed(const TraceChannel& channel) override {
        Each([&](TraceSink& sink) { sink.Closed(channel); });
    }
    void Note(const TraceChannel& channel, const std::string& text) override {
        Each([&](TraceSink& sink) { sink.Note(channel, text); });
    }
    void Wait(int milliseconds) override {
        Each([&](TraceSink& sink) { sink.Wait(milliseconds); });
    }
    void WaitCutShort(int milliseconds, long long lasted) override {
        Each([&](TraceSink& sink) { sink.WaitCutShort(milliseconds, lasted); });
    }
    void Cancel(const std::string& cause) override {
        Each([&](TraceSink& sink) { sink.Cancel(cause); });
    }
    void Message(const std::string& text) override {
        Each([&](TraceSink& sink) { sink.Message(text); });
    }

  private:
    template <typename Call>
    void Each(const Call& call) {
        if (session_.text_)
            call(*session_.text_);
        if (session_.capture_)
            call(*session_.capture_);
    }

    TraceSession& session_;
};

namespace {

// Opens a trace file for writing, private to the user; -1 with errno on failure. Only a
// regular file is written (a FIFO would hold the run until a reader came, a device is no
// trace): the open does not wait, and what it opened is looked at before anything is written.
int OpenTraceFile(const std::string& path, int mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | (mode & ~O_TRUNC),
                    0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 ||
        ((mode & O_TRUNC) != 0 && ::ftruncate(fd, 0) != 0)) {
        const int error = S_ISREG(info.st_mode) ? errno : EINVAL;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

TraceSession::TraceSession(Report report)
    : report_(std::move(report)), fanOut_(std::make_unique<FanOut>(*this)) {}

TraceSession::~TraceSession() {
    Uninstall();
}

void TraceSession::Install() {
    if (installed_)
        return;
    previous_ = platform::SetTraceSink(fanOut_.get());
    installed_ = true;
}

// With nothing to write the hooks go back to costing nothing.
void TraceSession::Uninstall() {
    if (!installed_)
        return;
    if (platform::ActiveTraceSink() == fanOut_.get())
        platform::SetTraceSink(previous_);
    installed_ = false;
}

bool TraceSession::StartText(const std::string& path) {
    StopText();
    const bool toStandardError = path == "-";
    if (std::optional<std::string> refusal = platform::RefusedOutputFile(path, "the trace");
        refusal && !toStandardError) {
        report_(*refusal);
        return false;
    }
    const int fd = toStandardError ? STDERR_FILENO : OpenTraceFile(path, O_APPEND);
    if (fd < 0) {
        report_(platform::FileErrorText(path, errno));
        return false;
    }
    textFile_ = std::make_unique<File>(fd, !toStandardError, path, report_);
    text_ = std::make_unique<TraceTextWriter>(textFile_->Output());
    Install();
    return true;
}

bool TraceSession::StartCapture(const std::string& path) {
    StopCapture();
    if (std::optional<std::string> refusal = platform::RefusedOutputFile(path, "the capture")) {
        report_(*refusal);
        return false;
    }
    const int fd = OpenTraceFile(path, O_TRUNC);
    if (fd < 0) {
        report_(platform::FileErrorText(path, errno));
        return false;
    }
    captureFile_ = std::make_unique<File>(fd, true, path, report_);
    capture_ = std::make_unique<PcapngTraceWriter>(captureFile_->Output());
    Install();
    return true;
}

void TraceSession::StopText() {
    text_.reset();
    textFile_.reset();
    if (!capture_)
        Uninstall();
}

void TraceSession::StopCapture() {
    capture_.reset();
    captureFile_.reset();
    if (!text_)
        Uninstall();
}

bool TraceSession::TextRunning() const {
    return text_ != nullptr;
}

}  // namespace kelo::trace
