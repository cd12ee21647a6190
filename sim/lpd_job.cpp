#include "sim/lpd_job.h"

#include <algorithm>
#include <charconv>

namespace kelo::sim {
namespace {

constexpr uint8_t kReceiveJob = 0x02;
constexpr uint8_t kAbortJob = 0x01;
constexpr uint8_t kControlFile = 0x02;
constexpr uint8_t kDataFile = 0x03;

}  // namespace

bool LpdJobParser::Fail(std::string reason) {
    state_ = State::kFailed;
    error_ = std::move(reason);
    return false;
}

bool LpdJobParser::Feed(const uint8_t* bytes, size_t size, std::string& acks) {
    size_t at = 0;
    while (at < size) {
        switch (state_) {
            case State::kFailed:
                return false;
            case State::kJobLine:
            case State::kSubcommandLine: {
                const uint8_t c = bytes[at++];
                if (c != '\n') {
                    if (line_.size() >= kMaxLine)
                        return Fail("line-too-long");
                    line_ += static_cast<char>(c);
                    break;
                }
                const bool taken =
                    state_ == State::kJobLine ? TakeJobLine(acks) : TakeSubcommandLine(acks);
                line_.clear();
                if (!taken)
                    return false;
                break;
            }
            case State::kData: {
                const size_t take = std::min(remaining_, size - at);
                file_.insert(file_.end(), bytes + at, bytes + at + take);
                at += take;
                remaining_ -= take;
                if (remaining_ == 0)
                    state_ = State::kEndByte;
                break;
            }
            case State::kEndByte: {
                if (bytes[at++] != 0x00)
                    return Fail("bad-end-byte");
                state_ = State::kSubcommandLine;
                std::vector<uint8_t> content;
                content.swap(file_);
                handler_.OnFile(fileCode_, std::move(content));
                acks += '\0';
                break;
            }
        }
    }
    return state_ != State::kFailed;
}

bool LpdJobParser::TakeJobLine(std::string& acks) {
    if (line_.empty() || static_cast<uint8_t>(line_[0]) != kReceiveJob) {
        return Fail("unsupported-job-command");
    }
    const uint8_t ack = handler_.OnJob(std::string_view(line_).substr(1));
    acks += static_cast<char>(ack);
    if (ack != 0x00)
        return Fail("job-refused");
    state_ = State::kSubcommandLine;
    return true;
}

bool LpdJobParser::TakeSubcommandLine(std::string& acks) {
    if (line_.empty())
        return Fail("empty-subcommand");
    const uint8_t code = static_cast<uint8_t>(line_[0]);
    if (code == kAbortJob) {
        acks += '\0';
        return true;
    }
    if (code != kDataFile && code != kControlFile)
        return Fail("unsupported-subcommand");

    // "<count> <name>": the count is plain decimal digits and a space ends it.
    const std::string_view rest = std::string_view(line_).substr(1);
    const size_t space = rest.find(' ');
    if (space == std::string_view::npos || space == 0)
        return Fail("bad-subcommand");
    size_t count = 0;
    const char* begin = rest.data();
    const auto [stop, error] = std::from_chars(begin, begin + space, count);
    if (error != std::errc() || stop != begin + space)
        return Fail("bad-count");
    if (count > kMaxFile)
        return Fail("file-too-large");

    handler_.OnSubcommand(code, count, rest.substr(space + 1));
    acks += '\0';
    fileCode_ = code;
    remaining_ = count;
    file_.clear();
    file_.reserve(std::min<size_t>(count, 1u << 20));  // grows as bytes really arrive
    state_ = count == 0 ? State::kEndByte : State::kData;
    return true;
}

}  // namespace kelo::sim
