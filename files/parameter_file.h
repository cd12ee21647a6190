// Parameter files: the parameter set read from a machine, stored so it can be written back.
//
// The file is the plain parameter block scrambled with ModeEncodeUntagged: the parameter data,
// then a check byte of (byte sum of the data + 1) mod 256. Failures are shown through the
// platform's message sink.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/block_capacity.h"
#include "files/file_filters.h"

namespace kelo {

// Parameter data, check byte included, and the scrambled file are at most this long.
constexpr int kParameterFileCapacity = kBlockCapacity;

// The check byte of parameter data: (byte sum + 1) mod 256.
uint8_t ParameterCheckByte(const uint8_t* data, int count);

// Builds the file content for count bytes of parameter data. False when count is not
// 1 to 131,071 or the scrambled form would not fit in 131,072 bytes.
bool EncodeParameterBlock(const uint8_t* data, int count, std::vector<uint8_t>& file);

// Unscrambles file content and checks it. On success plainBlock holds the parameter data
// followed by its check byte.
bool DecodeParameterBlock(std::vector<uint8_t> file, std::vector<uint8_t>& plainBlock);

// Stores count bytes of parameter data as a parameter file. Data that is empty, too long or
// does not fit once scrambled is not saved and shows nothing. Otherwise asks choosePath for
// the file (cancel writes nothing) and replaces it only once written whole; a write failure
// shows the OS reason naming the file.
bool SaveParameterFile(const uint8_t* data, int count, const PathChooser& choosePath);

// Asks choosePath for a parameter file, reads and checks it. On success plainBlock holds the
// parameter data and its check byte. A file that cannot be read shows the OS reason; one that
// is longer than 131,072 bytes, fails unscrambling, is empty or has a wrong check byte shows
// "Illegal Parameter File.". fileBytes, when given, receives the file as it was read, so that
// the records describe the bytes used rather than whatever the name holds later.
bool LoadParameterFile(const PathChooser& choosePath, std::vector<uint8_t>& plainBlock,
                       std::vector<uint8_t>* fileBytes = nullptr);

}  // namespace kelo
