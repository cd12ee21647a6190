// The receiving side of an LPD print job (RFC 1179) as the machine sees it:
//   job command  02 queue 0A              -> one acknowledgement byte
//   subcommand   03 count 20 name 0A      -> 00 (02 for a control file is taken alike)
//   data         exactly count bytes, then 00 -> 00
// The parser is fed the bytes as they arrive and hands each finished file to its handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelo::sim {

class LpdJobParser {
  public:
    class Handler {
      public:
        virtual ~Handler() = default;
        // The job command arrived; returns the acknowledgement byte (0x00 accepts the job).
        virtual uint8_t OnJob(std::string_view queue) = 0;
        // A subcommand announcing a file arrived (code 0x03 data file, 0x02 control file).
        virtual void OnSubcommand(uint8_t code, size_t count, std::string_view name) = 0;
        // A file ended with its 0x00 byte; its acknowledgement goes out after this returns.
        virtual void OnFile(uint8_t code, std::vector<uint8_t> content) = 0;
    };

    // Longest command line taken, and largest file announced, before the job is refused.
    static constexpr size_t kMaxLine = 1024;
    static constexpr size_t kMaxFile = 16u << 20;

    explicit LpdJobParser(Handler& handler) : handler_(handler) {}

    // Takes received bytes and appends the acknowledgements to send. Returns false when the
    // stream breaks the protocol or the job was refused; Error() says why, and the
    // connection is to be closed once the acknowledgements are out.
    bool Feed(const uint8_t* bytes, size_t size, std::string& acks);

    const std::string& Error() const { return error_; }
    // Bytes of the current file still expected (0 outside a file).
    size_t PendingFileBytes() const { return state_ == State::kData ? remaining_ : 0; }

  private:
    enum class State { kJobLine, kSubcommandLine, kData, kEndByte, kFailed };

    bool TakeJobLine(std::string& acks);
    bool TakeSubcommandLine(std::string& acks);
    bool Fail(std::string reason);

    Handler& handler_;
    State state_ = State::kJobLine;
    std::string line_;
    uint8_t fileCode_ = 0;
    size_t remaining_ = 0;
    std::vector<uint8_t> file_;
    std::string error_;
};

}  // namespace kelo::sim
