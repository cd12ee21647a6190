// What a simulated machine serves when it is given no files: a service report as a
// machine prints it and a parameter set of 65,536 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelo::sim {

constexpr size_t kParameterSetSize = 65536;

// Several KB of report lines ending in CR LF: counters, firmware versions, an error log;
// a few bytes above 0x7F, never a 0 byte.
std::vector<uint8_t> BuiltInReport(int machineType);

// 65,536 bytes of varied values, runs of zeros among them; the same on every run.
std::vector<uint8_t> BuiltInParameters();

}  // namespace kelo::sim
