#include "files/scramble.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

#include "files/scramble_detail.h"
#include "platform/access_codes.h"
#include "platform/messages.h"

namespace kelo {
namespace detail {
namespace {

// A chunk covers at most 128 input bytes: headers 0x00..0x7F are literals of 1 to 128 bytes,
// 0x81..0xFF repeats of 128 down to 2 bytes. 0x80 is never written.
constexpr int kMaxChunk = 128;
// The largest expansion is a repeat chunk: a header and one byte standing for kMaxChunk bytes.
static_assert(kMaxUnscrambleExpansion * 2 == kMaxChunk);

// The literal run starting at a: it stops just before the next pair of equal bytes, at the
// end of the input, or after kMaxChunk bytes.
int LiteralLength(const uint8_t* input, int length, int a) {
    const int limit = std::min(length - a, kMaxChunk);
    int k = 1;
    while (k < limit && !(a + k + 1 < length && input[a + k] == input[a + k + 1])) {
        ++k;
    }
    return k;
}

// The number of bytes equal to input[a] starting at a, at most kMaxChunk.
int RepeatLength(const uint8_t* input, int length, int a) {
    const int limit = std::min(length - a, kMaxChunk);
    int r = 1;
    while (r < limit && input[a + r] == input[a]) {
        ++r;
    }
    return r;
}

uint64_t LoadWord(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Bit k of every byte of a word.
constexpr uint64_t BitOfEachByte(int k) {
    return 0x0101010101010101ULL << k;
}

// Where bit k of output byte i comes from, for one stretch of outputs in which no source
// position wraps round the end of the block: from[i + shift[k]]. Eight outputs are gathered at
// once from eight-byte words, since each bit stays in its place within its byte.
void GatherStretch(const uint8_t* __restrict from, uint8_t* __restrict to, ptrdiff_t begin,
                   ptrdiff_t end, const ptrdiff_t (&shift)[8]) {
    ptrdiff_t i = begin;
    const auto bits = [&](int k) { return LoadWord(from + i + shift[k]) & BitOfEachByte(k); };
    for (; end - i >= 8; i += 8) {
        const uint64_t word =
            bits(0) | bits(1) | bits(2) | bits(3) | bits(4) | bits(5) | bits(6) | bits(7);
        std::memcpy(to + i, &word, sizeof word);
    }
    for (; i < end; ++i) {
        uint8_t byte = 0;
        for (int k = 0; k < 8; ++k)
            byte |= static_cast<uint8_t>(from[i + shift[k]] & (1u << k));
        to[i] = byte;
    }
}

// to[i] takes bit k-1 from from[(i + offset[k-1]) mod n]. The outputs are walked in at most
// nine stretches, split where one of the eight source positions wraps, so the inner loop
// needs no modulo.
void GatherBits(const uint8_t* from, uint8_t* to, int n, const ptrdiff_t (&offset)[8]) {
    ptrdiff_t bounds[10];
    bounds[0] = 0;
    bounds[9] = n;
    for (int k = 0; k < 8; ++k) {
        bounds[k + 1] = n - offset[k];
    }
    std::sort(bounds, bounds + 10);
    for (int b = 0; b < 9; ++b) {
        const ptrdiff_t begin = bounds[b];
        const ptrdiff_t end = bounds[b + 1];
        if (begin >= end)
            continue;
        ptrdiff_t shift[8];
        for (int k = 0; k < 8; ++k) {
            shift[k] = begin < n - offset[k] ? offset[k] : offset[k] - n;
        }
        GatherStretch(from, to, begin, end, shift);
    }
}

}  // namespace

int PackRuns(const uint8_t* input, int length, uint8_t* output, int capacity) {
    if (length < 0 || capacity < 0)
        return -1;
    int a = 0;
    int w = 0;
    while (a < length) {
        if (a == length - 1 || input[a] != input[a + 1]) {
            // A literal chunk; a single byte at the very end is the literal 0x00, byte.
            const int k = LiteralLength(input, length, a);
            if (w > capacity - 1 - k)
                return -1;
            output[w++] = static_cast<uint8_t>(k - 1);
            std::memcpy(output + w, input + a, static_cast<size_t>(k));
            w += k;
            a += k;
        } else {
            const int r = RepeatLength(input, length, a);
            if (w > capacity - 2)
                return -1;
            output[w++] = static_cast<uint8_t>(1 - r);
            output[w++] = input[a];
            a += r;
        }
    }
    return w;
}

namespace {

// Walks a packed stream as unpacking does, writing the bytes only when output is given.
int WalkRuns(const uint8_t* input, int length, uint8_t* output, int capacity) {
    if (length < 0 || capacity < 0)
        return -1;
    int r = 0;
    int w = 0;
    int remaining = length;
    while (remaining > 1) {
        const uint8_t header = input[r++];
        --remaining;
        if (header < 0x80) {
            const int count = header + 1;
            if (count > capacity - w)
                return -1;
            if (count > remaining)
                return -1;  // the literal is cut short
            if (output != nullptr)
                std::memcpy(output + w, input + r, static_cast<size_t>(count));
            r += count;
            remaining -= count;
            w += count;
        } else if (header > 0x80) {
            const int count = 257 - header;
            if (count > capacity - w)
                return -1;
            if (output != nullptr)
                std::memset(output + w, input[r], static_cast<size_t>(count));
            ++r;
            --remaining;
            w += count;
        }
    }
    // A single byte left over is a header without its data.
    return remaining == 0 ? w : -1;
}

}  // namespace

int UnpackRuns(const uint8_t* input, int length, uint8_t* output, int capacity) {
    return WalkRuns(input, length, output, capacity);
}

int UnpackedLength(const uint8_t* input, int length, int capacity) {
    return WalkRuns(input, length, nullptr, capacity);
}

void ApplyKeyStream(uint8_t* block, int length, bool add) {
    // The key's terminating zero is part of the stream, so it repeats every 501 bytes.
    const uint8_t* key = reinterpret_cast<const uint8_t*>(platform::kAccessCodeA);
    for (int start = 0; start < length; start += kKeyStreamPeriod) {
        const int count = std::min(kKeyStreamPeriod, length - start);
        uint8_t* part = block + start;
        if (add) {
            for (int i = 0; i < count; ++i)
                part[i] = static_cast<uint8_t>(part[i] + key[i]);
        } else {
            for (int i = 0; i < count; ++i)
                part[i] = static_cast<uint8_t>(part[i] - key[i]);
        }
    }
}

bool SpreadBits(uint8_t* block, int length, bool forward) {
    if (length <= 1)
        return true;  // every offset is 0: nothing moves
    std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    if (!copy)
        return false;
    std::memcpy(copy.get(), block, static_cast<size_t>(length));

    ptrdiff_t offset[8];
    for (int k = 1; k <= 8; ++k) {
        const ptrdiff_t o = static_cast<ptrdiff_t>(static_cast<int64_t>(length) * k / 9);
        offset[k - 1] = forward ? o : (length - o) % length;
    }
    GatherBits(copy.get(), block, length, offset);
    return true;
}

}  // namespace detail

namespace {

bool IsKnownMode(uint8_t mode) {
    return mode == ModeDecodeTagged || mode == ModeEncodeTagged || mode == ModeDecodeUntagged ||
           mode == ModeEncodeUntagged;
}

void ReportOutOfMemory() {
    platform::ShowText(std::strerror(ENOMEM));
}

int Scramble(const uint8_t* source, int length, uint8_t* target, int capacity, bool tagged) {
    uint8_t stage = 0;
    const int packed = detail::PackRuns(source, length, target, capacity);
    if (packed < 0)
        return -1;
    stage |= detail::kStageRunsPacked;
    detail::ApplyKeyStream(target, packed, true);
    stage |= detail::kStageKeyAdded;
    if (!detail::SpreadBits(target, packed, true)) {
        ReportOutOfMemory();
        return -1;
    }
    stage |= detail::kStageBitsSpread;
    if (!tagged)
        return packed;
    if (packed >= capacity)
        return -1;  // no room for the stage byte
    target[packed] = stage;
    return packed + 1;
}

// Undoes the bit spreading and the key stream in place and returns the length of the packed
// stream that is left (the stage byte dropped), or -1.
int UndoSpreadAndKey(uint8_t* source, int length, bool tagged) {
    if (tagged) {
        // The stage byte is taken off the end and never tested: any value unscrambles alike.
        if (length == 0)
            return -1;
        --length;
    }
    if (!detail::SpreadBits(source, length, false)) {
        ReportOutOfMemory();
        return -1;
    }
    detail::ApplyKeyStream(source, length, false);
    return length;
}

int Unscramble(uint8_t* source, int length, uint8_t* target, int capacity, bool tagged) {
    const int packed = UndoSpreadAndKey(source, length, tagged);
    return packed < 0 ? -1 : detail::UnpackRuns(source, packed, target, capacity);
}

bool IsTagged(uint8_t mode) {
    return (mode & 0x10) == 0;
}

bool Scrambles(uint8_t mode) {
    return (mode & 0x01) != 0;
}

}  // namespace

int ScrambleFileData(uint8_t* source, int sourceLength, uint8_t* target, int targetCapacity,
                     uint8_t mode) {
    if (!IsKnownMode(mode))
        return -1;
    if (sourceLength < 0 || targetCapacity < 0)
        return -1;
    if ((source == nullptr && sourceLength > 0) || (target == nullptr && targetCapacity > 0)) {
        return -1;
    }
    const bool tagged = IsTagged(mode);
    if (Scrambles(mode))
        return Scramble(source, sourceLength, target, targetCapacity, tagged);
    return Unscramble(source, sourceLength, target, targetCapacity, tagged);
}

bool UnscrambleFileBlock(uint8_t* source, int sourceLength, int capacity, uint8_t mode,
                         std::vector<uint8_t>& plain) {
    plain.clear();
    if (!IsKnownMode(mode) || Scrambles(mode) || sourceLength < 0 || capacity < 0)
        return false;
    if (source == nullptr && sourceLength > 0)
        return false;
    const int packed = UndoSpreadAndKey(source, sourceLength, IsTagged(mode));
    if (packed < 0)
        return false;
    const int length = detail::UnpackedLength(source, packed, capacity);
    if (length < 0)
        return false;
    plain.resize(static_cast<size_t>(length));
    detail::UnpackRuns(source, packed, plain.data(), length);
    return true;
}

int ScrambleRoom(size_t sourceLength, int capacity) {
    if (capacity <= 0)
        return 0;
    if (sourceLength >= static_cast<size_t>(capacity))
        return capacity;
    const size_t most = sourceLength + sourceLength / 3 + 2;
    return most >= static_cast<size_t>(capacity) ? capacity : static_cast<int>(most);
}

uint8_t SumBytes(const uint8_t* data, int length) {
    uint8_t sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<uint8_t>(sum + data[i]);
    return sum;
}

}  // namespace kelo
