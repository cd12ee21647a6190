// The trace files of one run of kelo or kelo-cli: the text trace and the capture file, and
// the sink that feeds both, installed while either runs. Writing a trace never fails an
// operation: a file that cannot be written is reported once and left alone from then on.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/trace.h"

namespace kelo::trace {

using platform::TraceSink;

class TraceSession {
  public:
    // report gets the file's error, such as "/tmp/t.txt: No space left on device".
    using Report = std::function<void(const std::string& problem)>;

    explicit TraceSession(Report report);
    // Stops what runs and puts back the sink that was installed before.
    ~TraceSession();
    TraceSession(const TraceSession&) = delete;
    TraceSession& operator=(const TraceSession&) = delete;

    // Appends the text trace to the file; "-" is standard error. False, after the report,
    // when the file cannot be opened.
    bool StartText(const std::string& path);
    // Writes the capture file afresh. False, after the report, when it cannot be opened.
    bool StartCapture(const std::string& path);
    void StopText();
    void StopCapture();
    bool TextRunning() const;

  private:
    class File;
    class FanOut;
    void Install();
    void Uninstall();

    Report report_;
    std::unique_ptr<File> textFile_;
    std::unique_ptr<File> captureFile_;
    std::unique_ptr<TraceSink> text_;
    std::unique_ptr<TraceSink> capture_;
    std::unique_ptr<FanOut> fanOut_;
    TraceSink* previous_ = nullptr;
    bool installed_ = false;
};

}  // namespace kelo::trace
