#include "fuzz/FuzzContainerInput.h"

namespace velmor::fuzz {

ContainerInput ParseContainerInput(const uint8_t* data, size_t size)
{
    ContainerInput in;
    if (size < 5) return in;
    in.indexFile = data[0] & 1;
    in.channel = (data[0] >> 1) & 15;
    in.seek = data[0] & 0x20;
    in.stream = data[0] >> 6;
    in.seekTime = uint32_t(data[1]) | uint32_t(data[2]) << 8 | uint32_t(data[3]) << 16 | uint32_t(data[4]) << 24;
    size_t i = 5;
    while (i + 4 <= size && in.pieces.size() < 64) {
        Piece p;
        p.position = data[i] & 31;
        p.kind = data[i + 1] % 3;
        size_t len = size_t(data[i + 2]) | size_t(data[i + 3]) << 8;
        i += 4;
        if (p.kind == 0 && len > 4096) len = 4096;
        if (len > size - i) len = size - i;
        p.bytes.assign(data + i, data + i + len);
        i += len;
        in.pieces.push_back(std::move(p));
    }
    return in;
}

std::vector<uint8_t> SerializeContainerInput(const ContainerInput& in)
{
    std::vector<uint8_t> out;
    out.push_back(uint8_t((in.indexFile ? 1 : 0) | (in.channel & 15) << 1 | (in.seek ? 0x20 : 0) | (in.stream & 3) << 6));
    for (int s = 0; s < 4; ++s) out.push_back(uint8_t(in.seekTime >> (8 * s)));
    for (const Piece& p : in.pieces) {
        out.push_back(uint8_t(p.position));
        out.push_back(p.kind);
        out.push_back(uint8_t(p.bytes.size()));
        out.push_back(uint8_t(p.bytes.size() >> 8));
        out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }
    return out;
}

uint64_t PieceOffset(const Piece& p)
{
    const uint64_t block = uint64_t(p.position) * kFuzzBlockSize;
    switch (p.kind) {
        case 0: return block + kFuzzBlockSize - 4096;
        case 1: return block;
        default: return block + kFuzzBlockSize - 4096 - p.bytes.size();
    }
}

}  // namespace velmor::fuzz
