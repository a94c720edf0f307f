// The picture-size probe: the first key frame at or after a timestamp, read
// through the video-only read, parsed by the media engine's parameter-set
// reader.
#include <gtest/gtest.h>

#include "tests/formats/IfvTestUtil.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

struct SizeCase {
    const char* name;
    VideoCodec codec;
    int width, height;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class IfvVideoSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(IfvVideoSize, ProbeFindsTheSizeOfTheKeyFramesSequenceParameterSet)
{
    const SizeCase& c = GetParam();
    VideoSpec recipe;
    recipe.codec = c.codec;
    recipe.width = c.width;
    recipe.height = c.height;
    recipe.frames = 20;
    recipe.gop = 10;
    EncodedVideo video = EncodeVideo(recipe);
    ASSERT_EQ(video.units.size(), 20u);

    CTempDir dir("velmor-ifv");
    const auto path = dir / "probe.ifv";
    Handle w = OpenWrite(path);
    ASSERT_TRUE(w);
    const int h265 = c.codec == VideoCodec::kH265 ? 1 : 0;
    // The stored size is the default one on purpose: the probe must read it
    // from the stream.
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 352, 288, 25.0f, h265), 0);
    for (size_t i = 0; i < video.units.size(); ++i) {
        const auto& au = video.units[i];
        ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), au.data.data(), uint32_t(au.data.size()), uint32_t(i * 40),
                                         au.key ? 5 : 1, i, nullptr),
                  int(au.data.size()));
    }
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    Handle r = OpenRead(path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetWidth(r.get()), 352);
    uint16_t width = 0, height = 0;
    // From 100 ms the first key frame is the second one (400 ms).
    ASSERT_EQ(RK_FileGetVideoSizeByIFrame(r.get(), 100, h265, &width, &height), 1);
    EXPECT_EQ(width, c.width);
    EXPECT_EQ(height, c.height);
    // The reader stands on that key frame now.
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    uint32_t ts = 0;
    uint8_t key = 0, kind = 9;
    ASSERT_GT(RK_FileReadOneMediaFrame2(r.get(), buf.data(), &ts, nullptr, nullptr, &key, &kind), 0);
    EXPECT_EQ(ts, 400u);
    EXPECT_EQ(key, 5);
    // No key frame after the last one: nothing found.
    EXPECT_EQ(RK_FileGetVideoSizeByIFrame(r.get(), 500, h265, &width, &height), 0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, IfvVideoSize,
                         ::testing::Values(SizeCase{"H264", VideoCodec::kH264, 96, 64},
                                           SizeCase{"H265", VideoCodec::kH265, 64, 48}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor::fixtures
