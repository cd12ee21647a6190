// The bound every block Kelo keeps is held to: a parameter file or a saved report, the buffer
// Get Parameters reads into and the longest report the viewer takes are each at most this long.
#pragma once

namespace kelo {

constexpr int kBlockCapacity = 131072;

}  // namespace kelo
