// The three steps of the scrambling routine, each one linear pass over a block. Exposed so that
// each step can be tested on its own; everything else goes through ScrambleFileData.
#pragma once

#include <cstdint>

namespace kelo::detail {

// Bits of the stage byte: each step records here that it has run.
constexpr uint8_t kStageRunsPacked = 0x01;
constexpr uint8_t kStageKeyAdded = 0x02;
constexpr uint8_t kStageBitsSpread = 0x04;

// The key stream repeats every 501 bytes: the 500 characters of the file key and its zero byte.
constexpr int kKeyStreamPeriod = 501;

// Packs input into output: repeat chunks (header 1 - r, byte) for 2 to 128 equal bytes and
// literal chunks (header k - 1, k bytes) for 1 to 128 others. Returns the packed length, or -1
// when a chunk would not fit in capacity.
int PackRuns(const uint8_t* input, int length, uint8_t* output, int capacity);

// Unpacks a stream written by PackRuns (a header 0x80 stands for nothing). Returns the unpacked
// length, or -1 when the output would exceed capacity or the stream is cut short.
int UnpackRuns(const uint8_t* input, int length, uint8_t* output, int capacity);

// The length UnpackRuns gives for the stream with that capacity, without writing it.
int UnpackedLength(const uint8_t* input, int length, int capacity);

// Adds (or subtracts) the key stream to the block, starting at its first byte.
void ApplyKeyStream(uint8_t* block, int length, bool add);

// Spreads bit k-1 of every byte to the byte floor(n*k/9) places back, wrapping round the block,
// for k = 1..8; the inverse direction gathers them again. Returns false when the temporary
// copy of the block cannot be allocated.
bool SpreadBits(uint8_t* block, int length, bool forward);

}  // namespace kelo::detail
