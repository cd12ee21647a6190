#include "app/operation_recorder.h"

#include "platform/profile.h"
#include "records/service_records.h"
#include "records/sha256.h"
#include "service/machine.h"
#include "service/recording.h"

namespace kelo::app {

std::optional<std::string> RecordsPathOf(const std::string& profilePath) {
    return kelo::service::RecordsPath(profilePath);
}

void OperationRecorder::Keep(kelo::records::OperationRecord record) {
    pending_.push_back(std::move(record));
}

OperationRecorder::~OperationRecorder() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (writer_.joinable())
        writer_.join();
}

void OperationRecorder::OperationEnds() {
    if (--running_ > 0)
        return;
    std::vector<kelo::records::OperationRecord> records = std::move(pending_);
    pending_.clear();
    const std::optional<std::string> path = Path();
    if (!path || records.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(Batch{*path, std::move(records)});
        if (!writer_.joinable())
            writer_ = std::thread([this] { WriteBatches(); });
    }
    wake_.notify_one();
}

void OperationRecorder::WriteBatches() {
    kelo::records::WaitOnThisThreadAlone();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        const Batch batch = std::move(queue_.front());
        queue_.pop_front();
        writing_ = true;
        lock.unlock();
        const std::string reason = Write(batch);
        lock.lock();
        writing_ = false;
        // The first reason stays: the status line tells it once, and later ones are mostly the
        // same.
        if (!reason.empty() && problem_.empty())
            problem_ = reason;
        if (queue_.empty())
            idle_.notify_all();
    }
}

std::string OperationRecorder::Write(const Batch& batch) {
    auto opened = kelo::records::ServiceRecords::Open(batch.path);
    if (opened.failure == kelo::records::OpenFailure::Busy) {
        // Kept beside the database until its next opening.
        for (const kelo::records::OperationRecord& record : batch.records) {
            const auto aside = kelo::records::ServiceRecords::SetAside(opened.checkedPath, record);
            if (!aside)
                return aside.reason;
        }
        return "";
    }
    if (!opened)
        return opened.reason;
    return (*opened.value)->RecordOperations(batch.records).reason;
}

void OperationRecorder::WaitForWrites() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

std::string OperationRecorder::TakeUnshownProblem() {
    WaitForWrites();
    std::lock_guard<std::mutex> lock(mutex_);
    if (problem_.empty() || problemShown_)
        return "";
    problemShown_ = true;
    return problem_;
}

RecordedOperation::RecordedOperation(OperationRecorder* recorder,
                                     kelo::records::Operation operation,
                                     kelo::records::Machine machine)
    : recorder_(recorder),
      previousSink_(platform::SetMessageSink(this)),
      record_(
          kelo::service::BeginRecord(std::move(machine), operation, kelo::records::Program::Kelo)) {
    if (recorder_ != nullptr)
        recorder_->OperationBegins();
}

RecordedOperation::~RecordedOperation() {
    Finish();
    if (recorder_ != nullptr)
        recorder_->OperationEnds();
}

void RecordedOperation::Finish() {
    if (finished_)
        return;
    finished_ = true;
    platform::SetMessageSink(previousSink_);
    if (recorder_ == nullptr || dropped_)
        return;
    kelo::service::EndRecord(record_, started_);
    recorder_->Keep(record_);
}

void RecordedOperation::Show(const platform::Message& message) {
    if (!finished_) {
        shown_ = true;
        record_.message = message.text;
    }
    if (previousSink_ != nullptr) {
        previousSink_->Show(message);
        return;
    }
    // Without a sink of its own the message goes where it would have gone: standard error.
    platform::MessageSink* current = platform::SetMessageSink(nullptr);
    if (message.id != 0)
        platform::ShowMessage(message.id);
    else
        platform::ShowText(message.text);
    platform::SetMessageSink(current);
}

void RecordedOperation::StartAgain() {
    started_ = std::chrono::steady_clock::now();
    record_.startedMs = kelo::records::WallClockMs();
    shown_ = false;
    record_.message.clear();
}

void RecordedOperation::SetContent(kelo::records::ContentKind kind, std::vector<uint8_t> plain) {
    record_.content = kelo::records::ReadContent{kind, std::move(plain)};
}

void RecordedOperation::AddFile(const std::string& role, const std::string& path) {
    if (std::optional<kelo::records::FileUse> file = kelo::records::DescribeFile(role, path))
        record_.files.push_back(std::move(*file));
}

void RecordedOperation::AddFile(const std::string& role, const std::string& path,
                                const std::vector<uint8_t>& bytes) {
    record_.files.push_back(kelo::records::DescribeBytes(role, path, bytes));
}

}  // namespace kelo::app
