// The decoder configuration record that MP4 and Matroska keep beside an
// H.264 or H.265 track (the parameter sets, each behind a 16-bit length).
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmor {

// False only when the record declares a parameter set that runs past its
// `size` bytes; Annex B bytes (a start code first), empty records and
// records too short to declare any are left to the filter. A record that declares units past its end is refused before it
// reaches FFmpeg's Annex B filter, which takes each missing unit as an empty
// one and grows its output four bytes at a time: up to 255 x 65535 times,
// seconds of copying and gigabytes for a record of a few bytes.
bool ParamSetRecordFits(bool hevc, const uint8_t* data, size_t size);

}  // namespace velmor
