// Writes seed inputs for fuzz_mp4_writer: short H.264 and H.265 clips with
// G.726 and G.711 voice frames, in the record form the fuzzer reads.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "media/include/rkvoice.h"
#include "tests/support/VideoCodec.h"

using namespace velmor::fixtures;

namespace {

void Record(std::vector<uint8_t>& seed, uint8_t kind, const uint8_t* p, size_t n)
{
    seed.push_back(uint8_t(n));
    seed.push_back(uint8_t(n >> 8));
    seed.push_back(kind);
    seed.insert(seed.end(), p, p + n);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_mp4_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int written = 0;
    for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265}) {
        VideoSpec videoRecipe;
        videoRecipe.codec = codec;
        videoRecipe.frames = 6;
        videoRecipe.gop = 3;
        videoRecipe.lossless = false;
        const auto video = EncodeVideo(videoRecipe);
        for (auto [compress, mode] : {std::pair{3, uint16_t(VOICE_MODE_G726_32_MSB)}, std::pair{11, uint16_t(VOICE_MODE_G711A)}}) {
            std::vector<uint8_t> seed = {uint8_t(compress), uint8_t(codec == VideoCodec::kH265 ? 1 : 0)};
            std::vector<uint8_t> state(VOICE_STATE_SIZE);
            VOICE_EncReset(state.data(), mode);
            std::vector<int16_t> pcm(320);
            size_t t = 0;
            for (const auto& u : video.units) {
                Record(seed, u.key ? 0 : 1, u.data.data(), u.data.size());
                for (auto& s : pcm) s = int16_t(std::lround(8000.0 * std::sin(0.3 * double(t++))));
                uint8_t frame[VOICE_MAX_FRAME_BYTES];
                VOICE_EncodeFrame(state.data(), pcm.data(), frame, 320);
                Record(seed, 2, frame, 4 + 2 * size_t(frame[2]));
            }
            const auto file = dir / ("clip" + std::to_string(written));
            std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(seed.data()), long(seed.size()));
            ++written;
        }
    }
    std::printf("%d seeds\n", written);
    return 0;
}
