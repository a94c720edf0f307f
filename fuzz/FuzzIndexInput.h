// The input form of fuzz_index: a 16-byte control block, then the bytes of an
// index file. The control block chooses the filter and how the file is laid
// down, and can mend the file's length and checksum so that most inputs get
// past the header checks into the walk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"

namespace velmor::fuzz {

enum IndexInputFlags : uint8_t {
    kFixLength = 0x01,    // pad or cut the file to 512 + 8208 * N
    kFixChecksum = 0x02,  // store the header's own checksum
    kAsBackup = 0x04,     // the bytes are the backup; the main index is damaged
    kNamesFile = 0x08,    // a "file.bin" names the pair
};

// Files of more entries are made smaller, to keep each run fast.
constexpr uint32_t kMaxFuzzEntries = 16;
constexpr size_t kIndexControlSize = 16;

struct IndexInput {
    uint8_t flags = 0;
    uint8_t classFilter = 2;
    uint16_t chnMask = 0xFFFF;
    uint8_t typeMask = 0x10;
    uint32_t startTime = 0;
    uint32_t endTime = 0xFFFFFFFF;
    uint16_t capacity = 0;  // records room in the fetch; 0: count + 1
    std::vector<uint8_t> file;
};

inline IndexInput ParseIndexInput(const uint8_t* data, size_t size)
{
    IndexInput in;
    uint8_t c[kIndexControlSize] = {};
    std::memcpy(c, data, size < sizeof c ? size : sizeof c);
    in.flags = c[0];
    in.classFilter = c[1];
    in.chnMask = LoadLE16(c + 2);
    in.typeMask = c[4];
    in.startTime = LoadLE32(c + 5);
    in.endTime = LoadLE32(c + 9);
    in.capacity = LoadLE16(c + 13);
    if (size > sizeof c) in.file.assign(data + sizeof c, data + size);
    return in;
}

inline std::vector<uint8_t> EncodeIndexInput(const IndexInput& in)
{
    std::vector<uint8_t> out(kIndexControlSize);
    out[0] = in.flags;
    out[1] = in.classFilter;
    StoreLE16(out.data() + 2, in.chnMask);
    out[4] = in.typeMask;
    StoreLE32(out.data() + 5, in.startTime);
    StoreLE32(out.data() + 9, in.endTime);
    StoreLE16(out.data() + 13, in.capacity);
    out.insert(out.end(), in.file.begin(), in.file.end());
    return out;
}

}  // namespace velmor::fuzz
