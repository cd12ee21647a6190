#include "link/frame_trace.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "link/wire_format.h"

namespace kelo {
namespace {

using platform::ByteCount;
using platform::QuotedPreview;
using platform::TraceDirection;
using wire::RequestName;

constexpr size_t kHeaderSize = wire::kFrameHeaderSize;
// The first bytes after the header are kept to describe the frame once it is complete.
constexpr size_t kKeptBytes = 64;

std::string Hex2(uint8_t first, uint8_t second) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X %02X", first, second);
    return text;
}

// Follows the frames of one direction: lead byte 0x80, L (two bytes, big-endian), L bytes,
// one check byte that makes the whole frame sum to 0xFF.
class FrameReader {
  public:
    explicit FrameReader(bool packets) : packets_(packets) {}

    // What the block held: frames begun, continued and completed, in order.
    std::string Read(const uint8_t* data, size_t size) {
        std::vector<std::string> parts;
        bool begunHere = false;
        size_t i = 0;
        while (i < size) {
            if (lost_) {
                parts.push_back(ByteCount(size - i) + " after a frame that went wrong");
                break;
            }
            if (headerGot_ == 0)
                begunHere = true;
            if (headerGot_ < kHeaderSize) {
                i += TakeHeader(data + i, size - i, parts);
                continue;
            }
            i += TakeRest(data + i, size - i);
            if (restGot_ == Length() + 1) {
                parts.push_back((begunHere ? "" : "end of ") + Describe());
                headerGot_ = 0;
                begunHere = false;
            }
        }
        if (!lost_ && headerGot_ > 0)
            parts.push_back(Progress(begunHere));
        std::string text;
        for (const std::string& part : parts)
            text += (text.empty() ? "" : "; ") + part;
        return text;
    }

  private:
    const char* Kind() const { return packets_ ? "packet frame" : "reply frame"; }
    size_t Length() const { return static_cast<size_t>(header_[1]) * 256 + header_[2]; }

    size_t TakeHeader(const uint8_t* data, size_t size, std::vector<std::string>& parts) {
        const size_t count = std::min(kHeaderSize - headerGot_, size);
        for (size_t k = 0; k < count; ++k)
            header_[headerGot_++] = data[k];
        if (header_[0] != wire::kLeadByte) {
            char text[48];
            std::snprintf(text, sizeof text, "not a %s: lead byte 0x%02X", Kind(), header_[0]);
            parts.push_back(text);
            lost_ = true;
        } else if (headerGot_ == kHeaderSize) {
            sum_ = header_[0] + header_[1] + header_[2];
            bodySum_ = 0;
            restGot_ = 0;
            kept_.clear();
        }
        return count;
    }

    // The L bytes and the check byte after the header.
    size_t TakeRest(const uint8_t* data, size_t size) {
        const size_t count = std::min(Length() + 1 - restGot_, size);
        for (size_t k = 0; k < count; ++k, ++restGot_) {
            const uint8_t byte = data[k];
            sum_ += byte;
            if (restGot_ < Length()) {
                bodySum_ += byte;
                lastBodyByte_ = byte;
                if (kept_.size() < kKeptBytes)
                    kept_.push_back(byte);
            }
        }
        return count;
    }

    // Where a frame that the block did not complete stands.
    std::string Progress(bool begunHere) const {
        const std::string kind = Kind();
        if (headerGot_ < kHeaderSize)
            return kind + " begins: " + std::to_string(headerGot_) + " of 3 header bytes";
        const std::string length = "L " + std::to_string(Length());
        const std::string rest = ByteCount(Length() + 1);
        if (restGot_ == 0)
            return kind + " header: " + length + ", " + rest + " to follow";
        const std::string got = std::to_string(restGot_) + " of " + rest + " after the header";
        return begunHere ? kind + " begins: " + length + ", " + got : kind + " continues: " + got;
    }

    std::string Describe() const {
        const std::string check = wire::FrameSumsRight(sum_) ? "check byte good" : "check byte bad";
        const std::string length = "L " + std::to_string(Length());
        if (!packets_) {
            return std::string("reply frame: ") + length + ", body " +
                   QuotedPreview(kept_.data(), std::min(kept_.size(), Length())) + ", " + check;
        }
        return "packet frame: " + Command() + ", " + length + ", " + check;
    }

    // The command and data of a complete packet frame.
    std::string Command() const {
        if (Length() < 2)
            return "no command";
        const uint8_t code[2] = {kept_[0], kept_[1]};
        std::string text = "command " + Hex2(code[0], code[1]);
        if (code[0] == 0x00 && *RequestName(code[1]) != '\0')
            text += std::string(" (") + RequestName(code[1]) + ")";
        const bool withDataSum = wire::CarriesDataSum(code[0], code[1]);
        if (withDataSum && Length() < 3)
            return text + ", data-sum missing";
        const size_t dataLength = Length() - 2 - (withDataSum ? 1 : 0);
        if (code[0] == 0x00 && code[1] == wire::kRequestTextCommand) {
            text += " " + QuotedPreview(kept_.data() + 2, std::min(dataLength, kept_.size() - 2));
        } else if (dataLength > 0) {
            text += ", " + ByteCount(dataLength) + " of data";
        }
        if (withDataSum) {
            // The data-sum covers the data alone: the body less the command and itself.
            const unsigned dataSum = bodySum_ - code[0] - code[1] - lastBodyByte_ + 1;
            text += (dataSum & 0xFF) == lastBodyByte_ ? ", data-sum good" : ", data-sum bad";
        }
        return text;
    }

    const bool packets_;
    bool lost_ = false;
    uint8_t header_[kHeaderSize] = {};
    size_t headerGot_ = 0;
    size_t restGot_ = 0;
    unsigned sum_ = 0;
    unsigned bodySum_ = 0;
    uint8_t lastBodyByte_ = 0;
    std::vector<uint8_t> kept_;
};

class PacketLinkDecoder : public platform::TraceDecoder {
  public:
    std::string Decode(TraceDirection direction, const uint8_t* data, size_t size) override {
        return direction == TraceDirection::kToMachine ? packets_.Read(data, size)
                                                       : replies_.Read(data, size);
    }

  private:
    FrameReader packets_{true};
    FrameReader replies_{false};
};

class RawDataDecoder : public platform::TraceDecoder {
  public:
    std::string Decode(TraceDirection, const uint8_t*, size_t) override { return "raw data"; }
};

}  // namespace

std::unique_ptr<platform::TraceDecoder> MakePacketLinkDecoder() {
    return std::make_unique<PacketLinkDecoder>();
}

std::unique_ptr<platform::TraceDecoder> MakeRawDataDecoder() {
    return std::make_unique<RawDataDecoder>();
}

}  // namespace kelo
