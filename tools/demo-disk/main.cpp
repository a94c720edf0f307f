// velmor-demo-disk: writes a realistic recorder corpus into a folder, from
// the same fixture writers the tests use, for `make demo` and benchmarks.
//
//   velmor-demo-disk DIR
//
// DIR/container/fc00000.rpo  a 128 MiB container file (sparse) with four
//                            camera channels of one minute: three H.264,
//                            one H.265, each picture labelled with its
//                            channel and the recorder's clock.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/CodePage.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/VideoCodec.h"

namespace fs = std::filesystem;
using namespace velmor::fixtures;

namespace {

constexpr uint32_t kDemoStart = 1796119200;  // 2026-12-01 10:00:00 on the recorder clock
constexpr int kSeconds = 60;
constexpr int kFps = 25;

struct DemoChannel {
    uint8_t channel;
    VideoCodec codec;
};

void WriteContainerFile(const fs::path& dir)
{
    fs::create_directories(dir);
    const std::vector<DemoChannel> channels = {
        {0, VideoCodec::kH264}, {1, VideoCodec::kH264}, {2, VideoCodec::kH265}, {3, VideoCodec::kH264}};

    std::vector<EncodedVideo> videos;
    for (const auto& ch : channels) {
        VideoSpec recipe;
        recipe.codec = ch.codec;
        recipe.width = 352;  // resolution code 0 in the 576/288-line system
        recipe.height = 288;
        recipe.frames = kSeconds * kFps;
        recipe.gop = 2 * kFps;
        recipe.fps = kFps;
        recipe.seed = 100u + ch.channel;
        recipe.lossless = false;
        recipe.crf = 26;
        recipe.label = "CH" + std::to_string(ch.channel + 1);
        recipe.clockStart = kDemoStart;
        std::fprintf(stderr, "velmor-demo-disk: encoding channel %d (%s)\n", ch.channel + 1,
                     ch.codec == VideoCodec::kH265 ? "H.265" : "H.264");
        videos.push_back(EncodeVideo(recipe));
    }

    CContainerFileImage image(dir / CContainerFileImage::FileName(0), 0);
    std::vector<std::unique_ptr<CRecordWriter>> writers;
    for (const auto& ch : channels) {
        RecordingParams params;
        params.channel = ch.channel;
        params.encode = {0, 0, uint8_t(ch.codec == VideoCodec::kH265 ? 2 : 1), 0, kFps};
        params.carNumber = velmor::Utf8ToGbk("\xE7\xB2\xA4" "B12345");  // a Guangdong plate
        params.reason = 1;
        writers.push_back(std::make_unique<CRecordWriter>(image, params));
    }
    for (int i = 0; i < kSeconds * kFps; ++i) {
        const uint64_t pts = uint64_t(kDemoStart) * 1000000 + uint64_t(i) * 1000000 / kFps;
        for (size_t c = 0; c < channels.size(); ++c) {
            const AccessUnit& au = videos[c].units[size_t(i)];
            writers[c]->WriteFrame(au.key ? 1 : 2, pts, au.data.data(), uint32_t(au.data.size()));
        }
    }
    for (auto& w : writers) w->Close();
    std::fprintf(stderr, "velmor-demo-disk: wrote %s\n", image.Path().c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: velmor-demo-disk DIR\n");
        return argc == 2 ? 0 : 2;
    }
    try {
        const fs::path out = argv[1];
        WriteContainerFile(out / "container");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmor-demo-disk: %s\n", e.what());
        return 1;
    }
}
