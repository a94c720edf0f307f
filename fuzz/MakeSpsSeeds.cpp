// Writes seed inputs for fuzz_sps: the front of real key frames of both
// codecs in several sizes and profiles (their parameter sets included), and
// the bodies of their sequence parameter sets alone.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/VideoCodec.h"

using namespace velmor::fixtures;

// The fuzz build instruments this program too, and the H.265 encoder library
// keeps some allocations past encoder close; they are not ours to chase.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libx265.so";
}

namespace {

void Save(const std::filesystem::path& file, const uint8_t* data, size_t size)
{
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));
}

// The bytes of the first NAL unit of the given type behind a start code,
// without its header, up to the next start code.
std::vector<uint8_t> SetBody(const std::vector<uint8_t>& unit, bool hevc)
{
    for (size_t i = 0; i + 3 < unit.size(); ++i) {
        if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) continue;
        const size_t nal = i + 3;
        const bool sps = hevc ? ((unit[nal] >> 1) & 0x3F) == 33 : (unit[nal] & 0x1F) == 7;
        if (!sps) continue;
        const size_t body = nal + (hevc ? 2 : 1);
        size_t end = body;
        while (end + 2 < unit.size() && !(unit[end] == 0 && unit[end + 1] == 0 && unit[end + 2] <= 1)) ++end;
        return {unit.begin() + long(body), unit.begin() + long(end)};
    }
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sps_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    struct Kind {
        VideoCodec codec;
        int width, height;
        const char* pixelFormat;
        const char* params;
    };
    const Kind kinds[] = {
        {VideoCodec::kH264, 350, 286, "yuv420p", ""},
        {VideoCodec::kH264, 1920, 1080, "yuv420p", "interlaced=1"},
        {VideoCodec::kH264, 351, 287, "yuv444p", ""},
        {VideoCodec::kH264, 642, 362, "yuv420p10le", ""},
        {VideoCodec::kH264, 64, 48, "gray", ""},
        {VideoCodec::kH265, 1278, 718, "yuv420p", ""},
        {VideoCodec::kH265, 642, 362, "yuv420p", "bframes=2:temporal-layers=1"},
        {VideoCodec::kH265, 351, 287, "yuv444p", ""},
        {VideoCodec::kH265, 350, 286, "yuv422p10le", ""},
    };
    int n = 0;
    for (const Kind& k : kinds) {
        VideoSpec recipe;
        recipe.codec = k.codec;
        recipe.width = k.width;
        recipe.height = k.height;
        recipe.frames = 3;
        recipe.gop = 3;
        recipe.lossless = false;
        recipe.pixelFormat = k.pixelFormat;
        recipe.encoderParams = k.params;
        const std::vector<uint8_t> key = EncodeVideo(recipe).units.at(0).data;
        const size_t front = std::min<size_t>(key.size(), 256);
        Save(out / ("frame-" + std::to_string(n)), key.data(), front);
        const std::vector<uint8_t> body = SetBody(key, k.codec == VideoCodec::kH265);
        Save(out / ("set-" + std::to_string(n)), body.data(), body.size());
        ++n;
    }
    std::fprintf(stderr, "make_sps_seeds: %d seeds in %s\n", 2 * n, out.c_str());
    return 0;
}
