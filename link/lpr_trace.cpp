#include "link/lpr_trace.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "link/command_trace.h"
#include "link/status_text.h"

namespace kelo {
namespace {

using platform::ByteCount;
using platform::QuotedPreview;
using platform::TraceDirection;

constexpr uint8_t kReceiveJob = 0x02;
constexpr uint8_t kReceiveDataFile = 0x03;

class LpdDecoder : public platform::TraceDecoder {
  public:
    std::string Decode(TraceDirection direction, const uint8_t* data, size_t size) override {
        if (direction == TraceDirection::kFromMachine)
            return Acknowledgement(data, size);
        if (fileLeft_ > 0)
            return DataFile(data, size);
        if (awaitingEndByte_ && size == 1 && data[0] == 0x00) {
            awaitingEndByte_ = false;
            return "LPD end of data file";
        }
        awaitingEndByte_ = false;
        return Command(data, size);
    }

  private:
    static std::string Acknowledgement(const uint8_t* data, size_t size) {
        if (size == 0)
            return "";
        char text[64];
        std::snprintf(text, sizeof text, "LPD acknowledgement: %s (0x%02X)",
                      data[0] == 0x00 ? "positive" : "negative", data[0]);
        return size == 1 ? text : std::string(text) + ", " + ByteCount(size);
    }

    // A command line: its code, then operands up to the line feed.
    std::string Command(const uint8_t* data, size_t size) {
        const size_t lineEnd = size > 0 && data[size - 1] == '\n' ? size - 1 : size;
        const std::string operands(reinterpret_cast<const char*>(data) + 1,
                                   lineEnd > 0 ? lineEnd - 1 : 0);
        if (size > 0 && data[0] == kReceiveJob) {
            return "LPD receive a printer job, queue " +
                   QuotedPreview(reinterpret_cast<const uint8_t*>(operands.data()),
                                 operands.size());
        }
        if (size > 0 && data[0] == kReceiveDataFile) {
            size_t end = 0;
            const int count = LeadingDecimal(operands, 0, &end);
            const std::string name = end < operands.size() ? operands.substr(end + 1) : "";
            fileLeft_ = count > 0 ? static_cast<size_t>(count) : 0;
            awaitingEndByte_ = fileLeft_ == 0;
            return "LPD receive data file, " + ByteCount(fileLeft_) + ", name " +
                   QuotedPreview(reinterpret_cast<const uint8_t*>(name.data()), name.size());
        }
        return "LPD command " + QuotedPreview(data, size);
    }

    std::string DataFile(const uint8_t* data, size_t size) {
        const size_t taken = std::min(size, fileLeft_);
        fileLeft_ -= taken;
        awaitingEndByte_ = fileLeft_ == 0;
        return "LPD data file: " + commands_.Describe(data, taken);
    }

    CommandReader commands_;
    size_t fileLeft_ = 0;
    bool awaitingEndByte_ = false;
};

}  // namespace

std::unique_ptr<platform::TraceDecoder> MakeLpdDecoder() {
    return std::make_unique<LpdDecoder>();
}

}  // namespace kelo
