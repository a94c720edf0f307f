// Real H.264 and H.265 recordings read back through the reader decode to
// exactly the pictures that were encoded (the fixtures encode losslessly).
#include <gtest/gtest.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

struct DecodeCase {
    const char* name;
    VideoCodec codec;
    int width, height;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class ContainerDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ContainerDecode, PayloadsOfOneChannelDecodeToTheEncodedPictures)
{
    const DecodeCase& c = GetParam();
    VideoSpec recipe;
    recipe.codec = c.codec;
    recipe.width = c.width;
    recipe.height = c.height;
    recipe.frames = 30;
    recipe.gop = 10;
    recipe.seed = 42;
    EncodedVideo video = EncodeVideo(recipe);
    ASSERT_EQ(video.units.size(), 30u);
    ASSERT_TRUE(video.units[0].key);

    CTempDir dir;
    CContainerFileImage image(dir / "fc00001.rpo", 1);
    RecordingParams params = Channel(2);
    params.encode.vEnc = c.codec == VideoCodec::kH265 ? 2 : 1;
    CRecordWriter w(image, params);
    // A second channel writes between the frames, and audio filler pushes
    // some access units across block ends: one with a split head, one with a
    // split payload.
    CRecordWriter other(image, Channel(3));
    const uint64_t t0 = uint64_t(kT0) * 1000000;
    for (size_t i = 0; i < video.units.size(); ++i) {
        const uint64_t pts = t0 + i * 40000;
        if (i == 8) w.FillBlockLeaving(7, kFrameAudio, pts, 500);
        if (i == 19) w.FillBlockLeaving(16 + 9, kFrameAudio, pts, 600);
        const auto& au = video.units[i];
        ASSERT_EQ(w.WriteFrame(au.key ? kFrameI : kFrameP, pts, au.data.data(), uint32_t(au.data.size())),
                  WriteResult::kWritten);
        auto p = MakePayload(i, 3000);
        ASSERT_EQ(other.WriteFrame(i == 0 ? kFrameI : kFrameP, pts, p.data(), 3000), WriteResult::kWritten);
    }
    w.Close();
    other.Close();
    EXPECT_EQ(w.HeadSplits(), 1u);
    EXPECT_GE(w.PayloadSplits(), 1u);
    EXPECT_EQ(w.Blocks().size(), 3u);

    ReadResult r = ReadChannel(image.Path(), 2, {}, true);
    ASSERT_EQ(r.lastResult, -4);
    std::vector<std::vector<uint8_t>> units;
    for (size_t i = 0; i < r.frames.size(); ++i)
        if (IsVideoType(r.frames[i].type)) units.push_back(r.payloads[i]);
    ASSERT_EQ(units.size(), video.units.size());
    std::vector<Picture> decoded = DecodeVideo(c.codec, units);
    ASSERT_EQ(decoded.size(), video.pictures.size());
    for (size_t i = 0; i < decoded.size(); ++i) EXPECT_TRUE(decoded[i] == video.pictures[i]) << "picture " << i;
}

INSTANTIATE_TEST_SUITE_P(Codecs, ContainerDecode,
                         ::testing::Values(DecodeCase{"H264", VideoCodec::kH264, 96, 64},
                                           DecodeCase{"H265", VideoCodec::kH265, 64, 64}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor::fixtures
