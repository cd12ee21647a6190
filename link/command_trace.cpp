#include "link/command_trace.h"

#include <algorithm>
#include <cstring>

#include "link/device_id.h"
#include "link/wire_format.h"
#include "platform/access_codes.h"

namespace kelo {
namespace {

using platform::ByteCount;
using platform::QuotedPreview;

// Bare commands are short texts of printable characters.
constexpr size_t kLongestCommand = 64;

bool IsCommandText(const uint8_t* data, size_t size) {
    return size > 0 && size <= kLongestCommand &&
           std::all_of(data, data + size, [](uint8_t c) { return c >= 0x20 && c < 0x7F; });
}

bool StartsWith(const uint8_t* data, size_t size, const char* prefix, size_t length) {
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

// A command frame: length high, length low, the text, a check byte of (sum of all before + 1).
bool IsCommandFrame(const uint8_t* data, size_t size) {
    return size >= wire::kCommandFrameOverhead &&
           static_cast<size_t>(data[0]) * 256 + data[1] == size - wire::kCommandFrameOverhead;
}

class LocalPortDecoder : public platform::TraceDecoder {
  public:
    std::string Decode(platform::TraceDirection direction, const uint8_t* data,
                       size_t size) override {
        if (direction == platform::TraceDirection::kToMachine)
            return commands_.Describe(data, size);
        return DescribeDeviceId(data, static_cast<int>(size));
    }

  private:
    CommandReader commands_;
};

}  // namespace

std::string CommandReader::Describe(const uint8_t* data, size_t size) {
    if (StartsWith(data, size, platform::kAccessLinePrefix, platform::kAccessLinePrefixLength)) {
        expect_ = Expect::kCommand;
        const size_t code =
            std::min<size_t>(size - platform::kAccessLinePrefixLength, platform::kAccessCodeLength);
        const size_t rest = size - platform::kAccessLinePrefixLength - code;
        return std::string("access line \"") + platform::kAccessLinePrefix + "\" <access code, " +
               std::to_string(code) + " characters, not shown>" +
               (rest > 0 ? ", then " + ByteCount(rest) : "");
    }
    switch (expect_) {
        case Expect::kFirmware:
            return "firmware image, " + ByteCount(size);
        case Expect::kParameterSet:
            expect_ = Expect::kCommand;
            return "parameter set, " + ByteCount(size);
        case Expect::kCommandFrame:
            if (IsCommandFrame(data, size))
                return DescribeFrame(data, size);
            expect_ = Expect::kCommand;
            break;
        case Expect::kCommand:
            break;
    }
    if (size == 1 && data[0] == wire::kEndOfExchange)
        return "end-of-exchange byte";
    if (IsCommandText(data, size))
        return DescribeText(std::string(reinterpret_cast<const char*>(data), size));
    if (IsCommandFrame(data, size))
        return DescribeFrame(data, size);
    // Machine types 3 and 4 take request payloads on the local ports.
    if (size >= 2 && data[0] == 0x00 && *wire::RequestName(data[1]) != '\0') {
        std::string text = std::string("request payload: ") + wire::RequestName(data[1]);
        if (data[1] == wire::kRequestTextCommand)
            return text + " " + QuotedPreview(data + 2, size - 2);
        return size > 2 ? text + ", " + ByteCount(size - 2) + " of data" : text;
    }
    return "data, " + ByteCount(size);
}

std::string CommandReader::DescribeText(const std::string& text) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (text == wire::kMonitorLine) {
        expect_ = Expect::kCommandFrame;
        return "monitor line " + QuotedPreview(bytes, text.size());
    }
    if (text == wire::kPutParamsCommand || text == wire::kPutAllParamsCommand) {
        expect_ = Expect::kParameterSet;
        return "command " + QuotedPreview(bytes, text.size()) + ", the parameter set follows";
    }
    return "command " + QuotedPreview(bytes, text.size());
}

std::string CommandReader::DescribeFrame(const uint8_t* data, size_t size) {
    const uint8_t check = wire::PlusOneSum(data, size - 1);
    const size_t length = size - wire::kCommandFrameOverhead;
    const std::string text(reinterpret_cast<const char*>(data) + 2, length);
    expect_ = text == wire::kUpdateCommand ? Expect::kFirmware : Expect::kCommand;
    return "command frame " + QuotedPreview(data + 2, length) + ", length " +
           std::to_string(length) +
           (check == data[size - 1] ? ", check byte good" : ", check byte bad");
}

std::unique_ptr<platform::TraceDecoder> MakeLocalPortDecoder() {
    return std::make_unique<LocalPortDecoder>();
}

}  // namespace kelo
