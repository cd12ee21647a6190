// The trace's mask for channels that carry the access lines of machine types 1 and 2 (LPD data
// files, USB, the parallel port).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/trace.h"

namespace kelo {

// Masks the access code that follows each "OPEN CODE=" in the bytes going to the machine:
// each of the 500 bytes after a marker becomes '*'. Markers are looked for everywhere, also
// inside bytes already hidden, so a stray marker shortly before a real access line cannot
// leave the end of the real code visible. Markers and codes may be split over blocks.
class AccessCodeMask : public platform::TraceMask {
  public:
    // The ranges of this block that are masked, in order; when there is any, masked holds
    // the block with them masked.
    std::vector<platform::TraceHiddenRange> Apply(const uint8_t* data, size_t size,
                                                  std::vector<uint8_t>& masked) override;

  private:
    // Where a marker that began in the earlier blocks ends in this one; 0 when none does.
    size_t BoundaryMarkerEnd(const uint8_t* data, size_t size) const;
    void KeepTail(const uint8_t* data, size_t size);

    size_t hiddenLeft_ = 0;  // bytes still to hide at the start of the next block
    std::string tail_;       // the stream's last bytes, where a marker may have begun
};

// The access-code mask of a new channel, for TraceChannel::SetMask.
std::unique_ptr<platform::TraceMask> MakeAccessCodeMask();

}  // namespace kelo
