// How the decode fuzzer reads its input, shared with the regression tests of
// what it found: the first byte picks the codec (bit 0: H.265), the rest is
// cut into access units at 0xFF 0xFE 0xFD markers, each marked key or not by
// bit 0 of the byte after the marker; the first unit is a key unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmor::fuzz {

// Calls unit(begin, length, key) for every unit; returns the video type
// (0 H.264, 1 H.265), or -1 for an input too short to hold a unit.
template <typename F>
int ForEachDecodeUnit(const uint8_t* data, size_t size, F&& unit)
{
    if (size < 2) return -1;
    size_t begin = 1;
    bool key = true;
    for (size_t i = 1; i + 3 < size; ++i) {
        if (data[i] == 0xFF && data[i + 1] == 0xFE && data[i + 2] == 0xFD) {
            if (i > begin) unit(data + begin, i - begin, key);
            key = data[i + 3] & 1;
            begin = i + 4;
            i += 3;
        }
    }
    if (begin < size) unit(data + begin, size - begin, key);
    return data[0] & 1;
}

}  // namespace velmor::fuzz
