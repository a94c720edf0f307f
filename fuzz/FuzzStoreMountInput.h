// How a fuzz input describes a mounted partition for fuzz_store_mount: a few
// choices, then pieces of bytes placed anywhere in its 55 container files
// (sparse 128 MiB files behind a device image of the smallest size a
// recorder accepts). Index block heads, the head set, block heads, necks and
// frames are all just bytes at their places.
//
//   byte 0      bit 0: mount with the device image (else the folder alone,
//               whose geometry then comes from the index block head)
//               bit 1: coverable; bits 2-7: which record file to read most
//   then pieces: [file u8][offset u32 LE][length u16 LE][length bytes]
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmor::fuzz {

constexpr uint32_t kMountFuzzFiles = 55;
constexpr uint64_t kMountFuzzFileSize = 0x8000000;

struct MountPiece {
    uint32_t file;
    uint32_t offset;
    std::vector<uint8_t> bytes;
};

struct MountInput {
    uint8_t flags = 0;
    std::vector<MountPiece> pieces;
};

inline MountInput ParseMountInput(const uint8_t* data, size_t size)
{
    MountInput in;
    if (size == 0) return in;
    in.flags = data[0];
    size_t at = 1;
    while (at + 7 <= size && in.pieces.size() < 4096) {
        MountPiece p;
        p.file = data[at] % kMountFuzzFiles;
        p.offset = uint32_t(data[at + 1] | data[at + 2] << 8 | data[at + 3] << 16 | uint32_t(data[at + 4]) << 24);
        const size_t len = size_t(data[at + 5] | data[at + 6] << 8);
        at += 7;
        const size_t n = len < size - at ? len : size - at;
        p.offset %= uint32_t(kMountFuzzFileSize);
        const size_t room = size_t(kMountFuzzFileSize - p.offset);
        p.bytes.assign(data + at, data + at + (n < room ? n : room));
        at += n;
        in.pieces.push_back(std::move(p));
    }
    return in;
}

inline std::vector<uint8_t> SerializeMountInput(const MountInput& in)
{
    std::vector<uint8_t> out{in.flags};
    for (const MountPiece& p : in.pieces) {
        for (size_t from = 0; from < p.bytes.size(); from += 0xFFFF) {
            const size_t n = p.bytes.size() - from < 0xFFFF ? p.bytes.size() - from : 0xFFFF;
            const uint32_t off = p.offset + uint32_t(from);
            out.push_back(uint8_t(p.file));
            for (int i = 0; i < 4; ++i) out.push_back(uint8_t(off >> (8 * i)));
            out.push_back(uint8_t(n));
            out.push_back(uint8_t(n >> 8));
            out.insert(out.end(), p.bytes.begin() + long(from), p.bytes.begin() + long(from + n));
        }
    }
    return out;
}

}  // namespace velmor::fuzz
