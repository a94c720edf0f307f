// Arbitrary bytes as a key frame of either codec, and as the body of a
// sequence parameter set of either codec, so that mutations reach the deep
// fields without first having to find a start code and a header.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "media/src/SpsParser.h"

namespace {

// What every answer must satisfy, whatever the input: a picture that exists
// and is no larger than what is coded.
void Check(const std::optional<rkmedia::CSpsInfo>& sps)
{
    if (!sps) return;
    if (sps->width == 0 || sps->height == 0 || sps->width > sps->codedWidth || sps->height > sps->codedHeight ||
        sps->codedWidth > 0xFFFF || sps->codedHeight > 0xFFFF)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (int videoType : {0, 1}) {
        Check(rkmedia::FindSps(videoType, data, size));
        uint16_t width = 0, height = 0;
        if (rkmedia::RKPLAY_GetResolutionBySPS(videoType, data, size, width, height) && (width == 0 || height == 0))
            __builtin_trap();
    }
    std::vector<uint8_t> h264 = {0x67};
    h264.insert(h264.end(), data, data + size);
    Check(rkmedia::ParseH264Sps(h264.data(), h264.size()));
    std::vector<uint8_t> h265 = {0x42, 0x01};
    h265.insert(h265.end(), data, data + size);
    Check(rkmedia::ParseH265Sps(h265.data(), h265.size()));
    return 0;
}
