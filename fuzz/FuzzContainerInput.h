// How a fuzz input describes a container file: a few choices, then pieces
// of bytes placed into the head areas and data areas of its 32 blocks. The
// file itself stays a sparse 128 MiB file, so inputs are small.
//
//   byte 0      bit 0: file number 128 (position 0 is an index block) or 1
//               bits 1-4: the channel to read; bit 5: seek first
//               bits 6-7: the stream chosen (0 default, 1 main, 2 sub, 3 a
//               value the reader must refuse)
//   bytes 1-4   the seek second (little-endian)
//   then pieces: [position][kind][length u16 LE][length bytes]
//               kind 0: the head area; 1: the start of the data;
//               2: the end of the data area (frames split across blocks)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmor::fuzz {

constexpr uint32_t kFuzzBlockSize = 0x400000;

struct Piece {
    uint32_t position;
    uint8_t kind;
    std::vector<uint8_t> bytes;
};

struct ContainerInput {
    bool indexFile = false;
    int channel = 0;
    bool seek = false;
    int stream = 0;
    uint32_t seekTime = 0;
    std::vector<Piece> pieces;
};

ContainerInput ParseContainerInput(const uint8_t* data, size_t size);
std::vector<uint8_t> SerializeContainerInput(const ContainerInput& input);
// File offset of a piece in a 128 MiB container file.
uint64_t PieceOffset(const Piece& piece);

}  // namespace velmor::fuzz
