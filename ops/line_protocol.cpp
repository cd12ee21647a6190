// The line protocol through which machine types 1 and 2 answer: a count payload, then
// numbered lines of up to 128 bytes as hexadecimal pairs, each in one status text.
#include <cctype>

#include <vector>

#include "link/status_text.h"
#include "ops/steps.h"
#include "platform/clock.h"
#include "platform/hex.h"

namespace kelo::ops::detail {
namespace {

constexpr int kLineSize = 128;
// More lines than this could not hold a report or a parameter set.
constexpr int kMaxLineCount = 2048;
constexpr int kPayloadWait = 5;

// Two characters read as a base-16 number: leading white space and a sign accepted, reading
// stops at the first non-digit, the byte is the low 8 bits.
uint8_t PairValue(char first, char second) {
    const char pair[2] = {first, second};
    int i = 0;
    while (i < 2 && std::isspace(static_cast<unsigned char>(pair[i])))
        ++i;
    bool negative = false;
    if (i < 2 && (pair[i] == '+' || pair[i] == '-'))
        negative = pair[i++] == '-';
    int value = 0;
    for (; i < 2 && platform::HexDigitValue(pair[i]) >= 0; ++i)
        value = value * 16 + platform::HexDigitValue(pair[i]);
    return static_cast<uint8_t>(negative ? -value : value);
}

// Decodes the pairs from start into the slot; a slot takes at most 128 bytes and the rest of
// an overlong line is dropped. Returns the count written.
int DecodeLine(const std::string& payload, size_t start, uint8_t* slot) {
    int count = 0;
    for (size_t i = start; i + 1 < payload.size() && count < kLineSize; i += 2) {
        slot[count++] = PairValue(payload[i], payload[i + 1]);
    }
    return count;
}

// A payload of the line protocol and the number it starts with.
struct NumberedPayload {
    std::string text;
    int number = 0;
    size_t numberEnd = 0;  // where the number's digits end in text
};

// Reads rounds of the status loops until one carries the key's payload, then takes its leading
// number. Each round lets a Cancel through (the loops have no time limit), reads the status and
// keeps the key's payload; an empty payload waits first where the protocol asks for it. False
// when a status read failed.
bool ReadNumberedPayload(Transport& transport, const char* key, bool waitOnEmptyPayload,
                         NumberedPayload& payload) {
    do {
        transport.Dialog().PumpMessages(false);
        if (!transport.ReadStatus(payload.text))
            return false;
        payload.text = FieldPayload(payload.text, key);
        if (payload.text.empty() && waitOnEmptyPayload)
            platform::Sleep(kPayloadWait);
    } while (payload.text.empty());
    payload.number = LeadingDecimal(payload.text, 0, &payload.numberEnd);
    platform::Sleep(kPayloadWait);
    return true;
}

// The count of lines to come: 0 when a status read failed or the count is past any report or
// parameter set.
int ReadLineCount(Transport& transport, const char* key, bool waitOnEmptyPayload) {
    int expected = 0;
    while (expected == 0) {
        NumberedPayload payload;
        if (!ReadNumberedPayload(transport, key, waitOnEmptyPayload, payload))
            return 0;
        if (payload.number != 0)
            continue;  // a line payload before the count
        const size_t countStart = payload.numberEnd + 1;
        const int count = countStart <= payload.text.size()
                              ? LeadingDecimal(payload.text, countStart, nullptr)
                              : 0;
        if (count > kMaxLineCount)
            return 0;
        if (count > 0)
            expected = count;  // a count below 1 is ignored
    }
    transport.Dialog().SetRange(expected);
    return expected;
}

bool ReadNumberedLines(Transport& transport, const char* key, int count,
                       std::vector<uint8_t>& slots, int& lastLineLength) {
    std::vector<bool> receivedLine(static_cast<size_t>(count) + 1, false);
    int received = 0;
    lastLineLength = 0;
    while (received < count) {
        NumberedPayload payload;
        if (!ReadNumberedPayload(transport, key, false, payload))
            return false;
        const int n = payload.number;
        if (n < 1 || n > count || receivedLine[static_cast<size_t>(n)])
            continue;
        receivedLine[static_cast<size_t>(n)] = true;
        ++received;
        transport.Dialog().SetPos(received);
        uint8_t* slot = slots.data() + static_cast<size_t>(n - 1) * kLineSize;
        const int decoded = DecodeLine(payload.text, payload.numberEnd + 1, slot);
        if (n == count)
            lastLineLength = decoded;
    }
    return true;
}

}  // namespace

bool ReadReportLines(Transport& transport, std::string& report) {
    const int count = ReadLineCount(transport, "REPORT:", true);
    if (count == 0)
        return false;
    // One more byte than the slots, so the zero after a full last line stays inside.
    std::vector<uint8_t> slots(static_cast<size_t>(count) * kLineSize + 1, 0);
    int lastLineLength = 0;
    if (!ReadNumberedLines(transport, "REPORT:", count, slots, lastLineLength))
        return false;
    // Slots start zeroed, so the zero after the last line is already in place.
    report = reinterpret_cast<const char*>(slots.data());
    return true;
}

int ReadParamLines(Transport& transport, uint8_t* buffer, int capacity) {
    const int count = ReadLineCount(transport, "READ_PARAM:", false);
    if (count == 0)
        return -1;
    std::vector<uint8_t> slots(static_cast<size_t>(count) * kLineSize, 0);
    int lastLineLength = 0;
    if (!ReadNumberedLines(transport, "READ_PARAM:", count, slots, lastLineLength))
        return -1;
    long long length = static_cast<long long>(count - 1) * kLineSize + lastLineLength;
    if (length > capacity)
        length = capacity;
    if (length < 0)
        length = 0;
    std::copy(slots.begin(), slots.begin() + length, buffer);
    return static_cast<int>(length);
}

}  // namespace kelo::ops::detail
