#include "common/ParamSetRecord.h"

namespace velmor {
namespace {

bool AnnexB(const uint8_t* d, size_t n)
{
    return (n >= 3 && d[0] == 0 && d[1] == 0 && d[2] == 1) ||
           (n >= 4 && d[0] == 0 && d[1] == 0 && d[2] == 0 && d[3] == 1);
}

// Walks `count` length-prefixed units from `pos`; false when one runs past the end.
bool Units(const uint8_t* d, size_t n, size_t& pos, unsigned count)
{
    for (unsigned i = 0; i < count; ++i) {
        if (n - pos < 2) return false;
        const size_t length = size_t(d[pos]) << 8 | d[pos + 1];
        pos += 2;
        if (n - pos < length) return false;
        pos += length;
    }
    return true;
}

}  // namespace

bool ParamSetRecordFits(bool hevc, const uint8_t* data, size_t size)
{
    if (!data || size == 0 || AnnexB(data, size)) return true;
    size_t pos = 0;
    if (hevc) {
        // 22 bytes of profile and layout, then the count of unit arrays;
        // each array: a type byte, a 16-bit unit count, the units.
        if (size < 23) return true;  // no arrays: the filter reads none
        const unsigned arrays = data[22];
        pos = 23;
        for (unsigned a = 0; a < arrays; ++a) {
            if (size - pos < 3) return false;
            const unsigned count = unsigned(data[pos + 1]) << 8 | data[pos + 2];
            pos += 3;
            if (!Units(data, size, pos, count)) return false;
        }
        return true;
    }
    // Five bytes of profile and length size, the sequence sets' count in the
    // low five bits of the sixth, then the picture sets behind their count.
    if (size < 6) return true;  // too short for any set: the filter refuses it itself
    pos = 6;
    if (!Units(data, size, pos, data[5] & 0x1F)) return false;
    if (pos == size) return true;  // no picture sets declared
    const unsigned pictureSets = data[pos++];
    return Units(data, size, pos, pictureSets);
}

}  // namespace velmor
