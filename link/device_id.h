// The IEEE 1284 device ID as the parallel port and the USB printer interface deliver it: a
// 16-bit length that counts itself, then the KEY:value; text. The machine's status text is
// that text.
#pragma once

#include <cstdint>
#include <string>

namespace kelo {

// Copies the text of a device ID that arrived with its two length bytes in front (arrived
// bytes at raw) into text, ends it with a zero byte and returns the text length.
//
// The length is read as the kernel and CUPS read it: big-endian first, little-endian when the
// big-endian value is impossible (below 2 or more than arrived), then clamped to what arrived.
// The text stops at its first zero byte and at capacity - 1. A device ID too short to hold
// its length, or whose length is below 2 either way, gives an empty text. Nothing is read
// past arrived nor written past capacity; a capacity below 1 writes nothing and gives 0.
int DeviceIdText(const uint8_t* raw, int arrived, uint8_t* text, int capacity);

// For the protocol trace: the text of a device ID as it arrived (with its length bytes),
// and what its "REPORT:" or "READ_PARAM:" field carries.
std::string DescribeDeviceId(const uint8_t* raw, int arrived);

}  // namespace kelo
