// The scrambling routine of report and parameter files, and the byte sum of their check bytes.
//
// Scrambling packs runs of equal bytes, adds the file key stream and spreads the bits of every
// byte over the whole block; unscrambling runs the same steps backwards. The routine works on
// blocks in memory only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelo {

// Bit 0 of a mode is the direction (1 scrambles), bit 4 says the block carries no stage byte.
constexpr uint8_t ModeDecodeTagged = 0x00;    // unscramble a block whose last byte is a stage byte
constexpr uint8_t ModeEncodeTagged = 0x01;    // scramble and append a stage byte
constexpr uint8_t ModeDecodeUntagged = 0x10;  // unscramble a block without stage byte
constexpr uint8_t ModeEncodeUntagged = 0x11;  // scramble without stage byte

// Scrambles or unscrambles sourceLength bytes of source into target, which holds
// targetCapacity bytes. Returns the number of bytes placed in the target, or -1 on any failure
// (target too small, a packed stream that is cut short, a negative count, an unknown mode).
// Unscrambling rewrites the source block in place; an unknown mode touches neither block.
int ScrambleFileData(uint8_t* source, int sourceLength, uint8_t* target, int targetCapacity,
                     uint8_t mode);

// Unscrambling gives at most this many bytes for each byte of its source: the most a packed
// stream holds is a two-byte repeat chunk standing for 128 bytes.
constexpr int kMaxUnscrambleExpansion = 64;

// Unscrambles a whole file block in a decode mode into plain, sized to exactly the bytes the
// block holds; at most capacity. Fails, leaving plain empty, where ScrambleFileData with a
// target of capacity bytes returns -1. Rewrites the source block in place, as that does.
bool UnscrambleFileBlock(uint8_t* source, int sourceLength, int capacity, uint8_t mode,
                         std::vector<uint8_t>& plain);

// The room a target needs to scramble sourceLength bytes, at most capacity: packing adds one
// header byte for each literal chunk, and a literal shorter than 128 bytes is followed by a
// repeat of two bytes or more unless it ends the input, so it adds at most one byte for every
// three and one at the end; tagging adds the stage byte. A target of this size gives the same
// result as one of the full capacity.
int ScrambleRoom(size_t sourceLength, int capacity);

// The sum of length bytes, modulo 256; 0 for a length of 0 or less.
uint8_t SumBytes(const uint8_t* data, int length);

}  // namespace kelo
