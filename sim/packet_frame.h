// Packet frames of machine types 3 and 4 as the machine sees them: request frames coming in
// are checked byte for byte, reply frames going out are built (and spoiled on request).
//
// Request frame: 80, L high, L low, two command bytes, data, [data-sum], checksum.
//   L counts the command bytes, the data and the data-sum; the frame is L + 4 bytes.
//   The data-sum, (sum of the data + 1) mod 256, is absent only for the commands
//   00 01, 00 02, 00 03 and 00 07. The checksum makes the whole frame sum to 0xFF.
// Reply frame: 80, L high, L low, L body bytes, check byte; the frame sums to 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/faults.h"

namespace kelo::sim {

enum class FrameStatus {
    kComplete,        // one good frame starts the bytes
    kIncomplete,      // good so far; more bytes are needed
    kBadLead,         // the first byte is not 0x80
    kBadLength,       // L is below 2, too short for the command bytes
    kBadChecksum,     // the frame does not sum to 0xFF
    kUnexpectedData,  // 00 01, 00 02 or 00 03 with bytes after the command
    kMissingDataSum,  // a command that needs a data-sum has none
    kBadDataSum,      // the data-sum is not (sum of the data + 1) mod 256
};

const char* FrameStatusName(FrameStatus status);

struct PacketFrame {
    uint8_t command[2] = {0, 0};
    std::vector<uint8_t> data;  // without the data-sum
    bool hasDataSum = false;
};

struct FrameParse {
    FrameStatus status = FrameStatus::kIncomplete;
    size_t frameLength = 0;  // bytes the frame takes (kComplete only)
    PacketFrame frame;       // filled for kComplete only
};

// True unless the command is 00 01, 00 02, 00 03 or 00 07.
bool CarriesDataSum(uint8_t high, uint8_t low);

// Checks the frame at the start of the bytes received so far.
FrameParse ParsePacketFrame(const uint8_t* bytes, size_t size);

// A correct reply frame around the body (at most 65535 bytes).
std::vector<uint8_t> BuildReplyFrame(const std::vector<uint8_t>& body);

// What goes out for one reply once the reply faults are applied: the bytes to send and
// whether the connection is closed after them.
struct ReplyPlan {
    std::vector<uint8_t> bytes;
    bool closeAfter = false;
};

// Applies bad-checksum, bad-lead, length-65535, close-mid-header and close-mid-body.
ReplyPlan PlanReply(const std::vector<uint8_t>& body, const Faults& faults);

// Command frame of machine types 1 and 2 (the data file after "PIPE MONITOR"):
// length high, length low, the text, check byte = (sum of the preceding bytes + 1) mod 256.
// Returns nullptr and sets text for a good frame, else the reason it is not one.
const char* ParseCommandFrame(const std::vector<uint8_t>& frame, std::string& text);

}  // namespace kelo::sim
