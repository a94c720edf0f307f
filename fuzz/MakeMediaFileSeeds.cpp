// Writes seed inputs for fuzz_media_file: short H.264 and H.265 clips in MP4
// through the media engine's writer, the files themselves being the inputs.
#include <cstdio>
#include <filesystem>
#include <string>

#include "media/include/rkmedia.h"
#include "tests/support/VideoCodec.h"

using namespace velmor::fixtures;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_media_file_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    int written = 0;
    for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265}) {
        VideoSpec recipe;
        recipe.codec = codec;
        recipe.width = 32;
        recipe.height = 16;
        recipe.frames = 8;
        recipe.gop = 4;
        recipe.lossless = false;
        const EncodedVideo video = EncodeVideo(recipe);
        const std::string path = (dir / (codec == VideoCodec::kH264 ? "h264.mp4" : "h265.mp4")).string();
        RKPLAYER_HANDLE writer = nullptr;
        if (RKPLAYER_CreateMp4FileInit(&writer, recipe.width, recipe.height, codec == VideoCodec::kH265 ? 1 : 0, 25,
                                       path.c_str()) != 0) {
            if (writer) RKPLAYER_CloseMp4File(&writer);
            continue;
        }
        for (size_t i = 0; i < video.units.size(); ++i) {
            const AccessUnit& u = video.units[i];
            RKPLAYER_WriteMp4VideoData(&writer, u.data.data(), int(u.data.size()), u.key ? 3 : 0, i * 40000);
        }
        if (RKPLAYER_CloseMp4File(&writer) == 0) ++written;
    }
    std::printf("%d seeds\n", written);
    return written == 2 ? 0 : 1;
}
