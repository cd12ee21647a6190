#include "sim/packet_frame.h"

#include <algorithm>
#include <iterator>

namespace kelo::sim {
namespace {

constexpr uint8_t kLead = 0x80;
constexpr uint8_t kBadLeadByte = 0x7F;
constexpr size_t kMaxBody = 0xFFFF;

uint8_t SumOf(const uint8_t* bytes, size_t size) {
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += bytes[i];
    return static_cast<uint8_t>(sum);
}

// 00 01 to 00 03 ask for something and carry nothing after the command.
bool TakesNoData(uint8_t high, uint8_t low) {
    return high == 0x00 && low >= 0x01 && low <= 0x03;
}

// Frames the body with the given lead byte; the check byte makes the frame sum to 0xFF.
std::vector<uint8_t> Frame(uint8_t lead, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> frame;
    frame.reserve(body.size() + 4);
    frame.push_back(lead);
    frame.push_back(static_cast<uint8_t>(body.size() >> 8));
    frame.push_back(static_cast<uint8_t>(body.size() & 0xFF));
    frame.insert(frame.end(), body.begin(), body.end());
    frame.push_back(static_cast<uint8_t>(0xFF - SumOf(frame.data(), frame.size())));
    return frame;
}

// A parse that ends at a fault of the frame.
FrameParse Refused(FrameStatus status) {
    FrameParse result;
    result.status = status;
    return result;
}

}  // namespace

const char* FrameStatusName(FrameStatus status) {
    // In the order of FrameStatus.
    static constexpr const char* kNames[] = {
        "complete",     "incomplete",      "bad-lead",         "bad-length",
        "bad-checksum", "unexpected-data", "missing-data-sum", "bad-data-sum",
    };
    const auto index = static_cast<size_t>(status);
    return index < std::size(kNames) ? kNames[index] : "unknown";
}

bool CarriesDataSum(uint8_t high, uint8_t low) {
    return !(high == 0x00 && (low == 0x01 || low == 0x02 || low == 0x03 || low == 0x07));
}

FrameParse ParsePacketFrame(const uint8_t* bytes, size_t size) {
    FrameParse result;
    if (size == 0)
        return result;
    if (bytes[0] != kLead)
        return Refused(FrameStatus::kBadLead);
    if (size < 3)
        return result;
    const size_t length = (static_cast<size_t>(bytes[1]) << 8) | bytes[2];
    if (length < 2)
        return Refused(FrameStatus::kBadLength);
    const size_t frameLength = length + 4;
    if (size < frameLength)
        return result;

    if (SumOf(bytes, frameLength) != 0xFF)
        return Refused(FrameStatus::kBadChecksum);
    const uint8_t high = bytes[3];
    const uint8_t low = bytes[4];
    const uint8_t* data = bytes + 5;
    size_t dataLength = length - 2;
    const bool hasDataSum = CarriesDataSum(high, low);
    if (hasDataSum) {
        if (dataLength == 0)
            return Refused(FrameStatus::kMissingDataSum);
        --dataLength;
        if (data[dataLength] != static_cast<uint8_t>(SumOf(data, dataLength) + 1))
            return Refused(FrameStatus::kBadDataSum);
    } else if (TakesNoData(high, low) && dataLength != 0) {
        return Refused(FrameStatus::kUnexpectedData);
    }

    result.status = FrameStatus::kComplete;
    result.frameLength = frameLength;
    result.frame.command[0] = high;
    result.frame.command[1] = low;
    result.frame.data.assign(data, data + dataLength);
    result.frame.hasDataSum = hasDataSum;
    return result;
}

std::vector<uint8_t> BuildReplyFrame(const std::vector<uint8_t>& body) {
    if (body.size() > kMaxBody) {
        return Frame(kLead, std::vector<uint8_t>(body.begin(), body.begin() + kMaxBody));
    }
    return Frame(kLead, body);
}

ReplyPlan PlanReply(const std::vector<uint8_t>& body, const Faults& faults) {
    std::vector<uint8_t> sent = body;
    if (faults.length65535)
        sent.resize(kMaxBody, ' ');  // padded or cut to 65535 bytes
    if (sent.size() > kMaxBody)
        sent.resize(kMaxBody);

    // A bad lead byte still gets a matching check byte, so that only the lead is wrong.
    ReplyPlan plan;
    plan.bytes = Frame(faults.badLead ? kBadLeadByte : kLead, sent);
    if (faults.badChecksum)
        plan.bytes.back() = static_cast<uint8_t>(plan.bytes.back() + 1);
    if (faults.closeMidHeader) {
        plan.bytes.resize(2);
        plan.closeAfter = true;
    } else if (faults.closeMidBody) {
        plan.bytes.resize(3 + sent.size() / 2);
        plan.closeAfter = true;
    }
    return plan;
}

const char* ParseCommandFrame(const std::vector<uint8_t>& frame, std::string& text) {
    if (frame.size() < 3)
        return "too-short";
    const size_t length = (static_cast<size_t>(frame[0]) << 8) | frame[1];
    if (frame.size() != length + 3)
        return "bad-length";
    const uint8_t check = static_cast<uint8_t>(SumOf(frame.data(), frame.size() - 1) + 1);
    if (frame.back() != check)
        return "bad-check-byte";
    text.assign(frame.begin() + 2, frame.end() - 1);
    return nullptr;
}

}  // namespace kelo::sim
