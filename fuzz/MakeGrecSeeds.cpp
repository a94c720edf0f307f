// Seeds of fuzz_grec: small grec files made by the grec writer, H.264 and
// H.265, with G.711 or G.726 sound and attached records, one streamed
// without duration or index.
#include <cstdio>
#include <filesystem>

#include "tests/support/GrecWriter.h"

using namespace velmor::fixtures;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_grec_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    struct Seed {
        const char* name;
        VideoCodec codec;
        int audio, rateCode;
        bool info, duration;
    } const seeds[] = {
        {"h264-ulaw-info.grec", VideoCodec::kH264, 7, 0, true, true},
        {"h265-g726.grec", VideoCodec::kH265, 3, 4, false, true},
        {"h264-alaw-streamed.grec", VideoCodec::kH264, 8, 0, true, false},
    };
    for (const auto& s : seeds) {
        GrecLayout recipe;
        recipe.codec = s.codec;
        recipe.width = 32;
        recipe.height = 32;
        recipe.originUs = 1765188000ull * 1000000;
        recipe.audioEncoding = s.audio;
        recipe.rateCode = s.rateCode;
        recipe.withInfoTrack = s.info;
        recipe.writeDuration = s.duration;
        recipe.terminal = "T1";
        recipe.vehicle = "V1";
        WriteGrecFile(dir / s.name, recipe, MakeGrecClipFrames(recipe, 2, 10));
    }
    return 0;
}
