// What the client puts on the wire and expects back, in one place: the request codes and
// framing bytes of machine types 3 and 4, the bare commands and framing bytes of types 1 and 2,
// and every sum and check byte. The link, the operations and the trace decoders all read
// these; kelo-sim keeps its own on purpose, so that each side checks the other.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelo::wire {

// The TCP ports of the packet link: machine type 3 listens on the first, type 4 on the second.
constexpr int kType3Port = 9101;
constexpr int kType4Port = 9500;

// The LPD queue every job of types 1 and 2 goes to; the other senders are opened with it too.
constexpr const char* kQueue = "lp1";

// Request codes of machine types 3 and 4: the second byte of a packet's command (the first is
// 0x00).
enum RequestCode : uint8_t {
    kRequestReport = 1,
    kRequestParamsFirstHalf = 2,
    kRequestParamsSecondHalf = 3,
    kRequestPutFirstHalf = 4,
    kRequestPutSecondHalf = 5,
    kRequestTextCommand = 6,
};

// The name of a request code as the trace shows it; empty for a code Kelo never sends.
const char* RequestName(uint8_t code);

// Packet and reply frames (types 3 and 4):
//   80 | L (2 bytes, big-endian) | L bytes | checksum
// The checksum makes the whole frame sum to 0xFF. In a packet the L bytes are the command (2),
// the data and, for most commands, a data-sum of (sum of the data + 1) mod 256.
constexpr uint8_t kLeadByte = 0x80;
constexpr size_t kFrameHeaderSize = 3;

// Commands 1, 2, 3 and 7 go without a data-sum, every other command with one. Each command
// byte is read as a signed byte, as the machines' firmware does.
bool CarriesDataSum(uint8_t first, uint8_t second);

// Bare commands of types 1 and 2, each written as a data file of its own after the access line.
constexpr const char* kGetReportCommand = "GET REPORT";
constexpr const char* kGetParamsCommand = "GET PARAM";
constexpr const char* kPutParamsCommand = "PUT PARAM";
constexpr const char* kPutAllParamsCommand = "PUT ALL PARAM";
// The line that opens a command frame on types 1 and 2.
constexpr const char* kMonitorLine = "PIPE MONITOR";
// The byte that ends an exchange of types 1 and 2.
constexpr uint8_t kEndOfExchange = 0x00;
// The command frame's text that restarts a machine (sent as a text command on types 3 and 4).
constexpr const char* kRestartCommand = "rs\n";
// The command that makes a machine of any type wait for a firmware image.
constexpr const char* kUpdateCommand = "BOOT_UpdateMain 0\n";

// Command frame (types 1 and 2): length high, length low, the text, then a check byte.
constexpr size_t kCommandFrameOverhead = 3;

// The 8-bit sum of count bytes added to start.
inline unsigned ByteSum(const uint8_t* data, size_t count, unsigned start = 0) {
    for (size_t i = 0; i < count; ++i)
        start += data[i];
    return start;
}

// The check byte of a command frame and the data-sum of a packet: (sum + 1) mod 256.
inline uint8_t PlusOneSum(const uint8_t* data, size_t count) {
    return static_cast<uint8_t>(ByteSum(data, count, 1));
}

// The checksum that makes a frame whose other bytes sum to sum come to 0xFF.
inline uint8_t FrameChecksum(unsigned sum) {
    return static_cast<uint8_t>(0xFF - (sum & 0xFF));
}

// True when the whole frame, checksum included, sums to 0xFF.
inline bool FrameSumsRight(unsigned sumOfWholeFrame) {
    return (sumOfWholeFrame & 0xFF) == 0xFF;
}

}  // namespace kelo::wire
