// Firmware files (*.rfw): any length, handed to the machine byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/file_filters.h"

namespace kelo {

// A firmware file longer than this is refused rather than read into memory.
constexpr size_t kMaxFirmwareFileBytes = size_t{1} << 30;

// Asks choosePath for a firmware file and reads it whole into image. A file that cannot be
// opened or read, or is larger than 1 GiB, shows the OS reason naming the file; a path whose
// last three characters are not exactly "rfw" shows "Illegal File".
bool LoadFirmwareFile(const PathChooser& choosePath, std::vector<uint8_t>& image);

}  // namespace kelo
