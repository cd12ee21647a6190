// Keeping each operation of the main window in the service records. Recording is an addition
// around the operations: a record that cannot be written shows no message box and changes
// nothing in the operation's flow; its reason waits for the History window's status line.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/messages.h"
#include "records/record.h"

namespace kelo::app {

// The records database of the profile at profilePath: $KELO_RECORDS, else the default path;
// nullopt when the profile's [Records] Enabled=0 turns recording off.
std::optional<std::string> RecordsPathOf(const std::string& profilePath);

// Writes records to the database the profile names at the moment of each write, and keeps the
// first reason one could not be written for the rest of the session. The writes run on a thread
// of their own, so that a database another program holds locked never holds up the window.
class OperationRecorder {
  public:
    using PathSource = std::function<std::optional<std::string>()>;

    explicit OperationRecorder(PathSource path) : path_(std::move(path)) {}
    // Writes what was handed over before it goes.
    ~OperationRecorder();
    OperationRecorder(const OperationRecorder&) = delete;
    OperationRecorder& operator=(const OperationRecorder&) = delete;

    // The database records go to now; nullopt while recording is off.
    std::optional<std::string> Path() const { return path_(); }
    bool Enabled() const { return Path().has_value(); }

    // Takes the record of an operation that ended. It is written once no operation runs any
    // more, so that a slow or locked database never delays what an operation shows next (the
    // write after a backup, the report viewer); a failure only notes its reason.
    void Keep(kelo::records::OperationRecord record);
    // Kept by each RecordedOperation while it lives; the last to end writes the records.
    void OperationBegins() { ++running_; }
    void OperationEnds();

    // Waits until every record handed over is written (or set aside beside a locked
    // database), at most the records' busy time-out for each operation still being written.
    void WaitForWrites();

    // The reason a record of this session could not be written, given once: "" afterwards,
    // and "" when every record was written. Waits for the writes under way first.
    std::string TakeUnshownProblem();

  private:
    // The records of the operations that ended together, for one database.
    struct Batch {
        std::string path;
        std::vector<kelo::records::OperationRecord> records;
    };
    void WriteBatches();
    static std::string Write(const Batch& batch);

    PathSource path_;
    int running_ = 0;
    std::vector<kelo::records::OperationRecord> pending_;
    std::mutex mutex_;  // guards what follows, shared with the writing thread
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Batch> queue_;
    bool writing_ = false;
    bool stopping_ = false;
    std::string problem_;
    bool problemShown_ = false;
    std::thread writer_;
};

// One operation on its way into the records: started when built, ended and handed to the
// recorder when destroyed (or at Finish), so every return path of the operation is kept. While it
// lives it watches the messages shown (they still go where they went before) to keep the last one.
class RecordedOperation : public platform::MessageSink {
  public:
    // Nothing is written for a null recorder or while recording is off.
    RecordedOperation(OperationRecorder* recorder, kelo::records::Operation operation,
                      kelo::records::Machine machine);
    ~RecordedOperation() override;
    RecordedOperation(const RecordedOperation&) = delete;
    RecordedOperation& operator=(const RecordedOperation&) = delete;

    void Show(const platform::Message& message) override;

    void SetResult(kelo::records::Result result) { record_.result = result; }
    void SetBackup() { record_.backup = true; }
    void SetContent(kelo::records::ContentKind kind, std::vector<uint8_t> plain);
    // A file the operation used, described by reading it (a file it wrote).
    void AddFile(const std::string& role, const std::string& path);
    // A file described by the bytes the operation read from it, never by reading the name again.
    void AddFile(const std::string& role, const std::string& path,
                 const std::vector<uint8_t>& bytes);
    void SetMessage(std::string text) { record_.message = std::move(text); }
    // Begins the operation's time and messages afresh: what ran inside it until now (the backup
    // before a write) is an operation of its own, kept in its own record.
    void StartAgain();
    // Nothing is written: the operation never began (a file dialog was cancelled).
    void Drop() { dropped_ = true; }
    // Ends the operation now, so that what follows (the report viewer) does not count into its
    // time; the record is still written only when the object goes.
    void Finish();

    bool MessageShown() const { return shown_; }

  private:
    OperationRecorder* recorder_;
    platform::MessageSink* previousSink_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    kelo::records::OperationRecord record_;
    bool shown_ = false;
    bool dropped_ = false;
    bool finished_ = false;
};

}  // namespace kelo::app
