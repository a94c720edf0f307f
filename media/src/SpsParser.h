// Picture size from the sequence parameter set at the front of a key frame.
// The engine needs it before any decoder exists: a key frame that announces a
// new size makes the player rebuild its decoder and renderer first.
//
// Everything here reads only the bytes it is given; truncated, garbled or
// hostile input gives "not found", never a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rkmedia {

// Bits of an RBSP, most significant first. Reading past the end yields zero
// bits and sets a sticky flag, so a parse runs straight through its fields and
// checks Overrun() where a decision depends on them.
class CBitReader {
public:
    CBitReader(const uint8_t* data, size_t size) : m_pData(data), m_size(size) {}

    uint32_t ReadBits(int count);  // count 0..32
    bool ReadFlag() { return ReadBits(1) != 0; }
    void SkipBits(size_t count);
    // Exp-Golomb codes. A code longer than 32 bits cannot describe any field
    // we read; it counts as an overrun.
    uint32_t ReadUE();
    int32_t ReadSE();

    bool Overrun() const { return m_bOverrun; }
    size_t BitsLeft() const { return m_bitPos >= m_size * 8 ? 0 : m_size * 8 - m_bitPos; }

private:
    const uint8_t* m_pData;
    size_t m_size;
    size_t m_bitPos = 0;
    bool m_bOverrun = false;
};

// The bytes of a NAL unit after its header with every emulation prevention
// byte (the 0x03 of 0x00 0x00 0x03) taken out.
std::vector<uint8_t> NalPayloadToRbsp(const uint8_t* payload, size_t size);

// What a sequence parameter set says about the pictures.
struct CSpsInfo {
    uint32_t profileIdc = 0;
    uint32_t chromaFormatIdc = 1;  // 0 = monochrome, 1 = 4:2:0, 2 = 4:2:2, 3 = 4:4:4
    bool separateColourPlanes = false;
    uint32_t bitDepthLuma = 8;
    uint32_t bitDepthChroma = 8;
    bool scalingMatrixPresent = false;       // H.264 only
    bool frameMbsOnly = true;                // H.264 only: false for field-coded streams
    uint32_t pocType = 0;                    // H.264 only
    uint32_t maxSubLayers = 1;               // H.265 only
    uint32_t codedWidth = 0, codedHeight = 0;  // luma samples the decoder works on
    uint32_t width = 0, height = 0;            // after cropping: what is shown
};

// Parse one sequence parameter set NAL unit (header byte(s) included, still
// with its emulation prevention bytes). Empty when the unit is not a sequence
// parameter set of that codec or does not hold together.
std::optional<CSpsInfo> ParseH264Sps(const uint8_t* nal, size_t size);
std::optional<CSpsInfo> ParseH265Sps(const uint8_t* nal, size_t size);

// The sequence parameter set of a key frame (Annex B byte stream).
// videoType 0 = H.264, any other = H.265. The H.264 set is looked for among
// the units in front of the first coded slice, the first start code within
// the frame's first 64 bytes; the H.265 set anywhere in the frame.
std::optional<CSpsInfo> FindSps(int videoType, const uint8_t* data, size_t length);

// Find the sequence parameter set in a key frame (Annex B byte stream) and
// give the displayed picture size. videoType 0 = H.264, any other = H.265.
// Returns false, leaving width and height alone, when no usable one is found.
bool RKPLAY_GetResolutionBySPS(int videoType, const uint8_t* data, size_t length, uint16_t& width,
                               uint16_t& height);

}  // namespace rkmedia
