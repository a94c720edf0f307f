// Real H.264 and H.265 access units for test recordings, made through
// libavcodec (libx264 / libx265) from generated pictures with fixed seeds,
// and a reference decoder to check what a reader hands back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmor::fixtures {

enum class VideoCodec { kH264, kH265 };

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> yuv;  // I420, planes without padding
    bool operator==(const Picture&) const = default;
};

struct VideoSpec {
    VideoCodec codec = VideoCodec::kH264;
    int width = 64;
    int height = 48;
    int frames = 25;
    int gop = 10;       // an IDR picture every gop frames, no B frames
    int fps = 25;
    uint32_t seed = 1;
    bool lossless = true;  // decoded pictures equal the source pictures exactly
    int crf = 28;          // quality when not lossless
    std::string label;     // drawn on every picture when set ("CH1"...)
    uint32_t clockStart = 0;  // when set, the recorder time is drawn too
    // Any planar YUV or gray format of libavutil ("yuv444p", "yuv420p10le",
    // "gray"...); pictures other than 4:2:0 8-bit are converted from the
    // generated ones, which stay in `pictures` as they were made.
    std::string pixelFormat = "yuv420p";
    std::string encoderParams;  // appended to the x264 / x265 parameters ("interlaced=1", "cqm=jvt")
};

struct AccessUnit {
    std::vector<uint8_t> data;  // Annex B, parameter sets in front of every key picture
    bool key = false;
};

struct EncodedVideo {
    std::vector<AccessUnit> units;  // one per picture, in display order
    std::vector<Picture> pictures;  // what was encoded
};

Picture MakeTestPicture(int width, int height, int index, uint32_t seed);
// Draws text in a 5x7 block font (digits, capitals, ':', '-', '.', '/', ' ')
// at (x, y), scaled by `scale`, white on the picture's luma.
void DrawText(Picture& picture, int x, int y, const std::string& text, int scale);

EncodedVideo EncodeVideo(const VideoSpec& recipe);

// Decodes a sequence of access units and returns every picture in output order.
std::vector<Picture> DecodeVideo(VideoCodec codec, const std::vector<std::vector<uint8_t>>& units);

}  // namespace velmor::fixtures
