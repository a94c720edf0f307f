// Seeds of fuzz_decode: short real H.264 and H.265 streams (one with a size
// change at a key frame) in the target's marker layout.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/VideoCodec.h"

using namespace velmor::fixtures;

namespace {

void Append(std::vector<uint8_t>& out, const EncodedVideo& video)
{
    for (const auto& au : video.units) {
        out.insert(out.end(), {0xFF, 0xFE, 0xFD, uint8_t(au.key ? 1 : 0)});
        out.insert(out.end(), au.data.begin(), au.data.end());
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_decode_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int n = 0;
    for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265}) {
        VideoSpec a;
        a.codec = codec;
        a.width = 64;
        a.height = 48;
        a.frames = 6;
        a.gop = 3;
        a.lossless = false;
        VideoSpec b = a;
        b.width = 96;
        b.height = 64;
        std::vector<uint8_t> seed = {uint8_t(codec == VideoCodec::kH265 ? 1 : 0)};
        Append(seed, EncodeVideo(a));
        Append(seed, EncodeVideo(b));
        std::ofstream(dir / ("seed" + std::to_string(n++)), std::ios::binary)
            .write(reinterpret_cast<const char*>(seed.data()), std::streamsize(seed.size()));
    }
    return 0;
}
