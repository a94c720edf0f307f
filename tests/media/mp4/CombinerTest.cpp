// The multi-channel combiner: its filter graph texts, the settings calls,
// and real runs over clips written by the MP4 writer, read back to check
// the picture size, every cell's place and content, and the mixed sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "media/src/combine/CombineMp4.h"
#include "tests/media/mp4/Mp4TestUtil.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace velmor::fixtures;
using namespace velmor::fixtures::mp4;
using rkmedia::CCombineMp4;

namespace {

RKPLAYER_COMBINE_INPUT Input(const std::string& path, int position, int effect = 0)
{
    RKPLAYER_COMBINE_INPUT r{};
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
    r.position = position;
    r.effect = effect;
    return r;
}

TEST(CombineGraph, TwoByTwoMosaicText)
{
    std::vector<RKPLAYER_COMBINE_INPUT> in;
    for (int k = 0; k < 4; ++k) in.push_back(Input("x", k));
    EXPECT_EQ(CCombineMp4::VideoGraph(640, 480, 4, in),
              "color=c=black@1:s=640x480[x0];"
              "[in0]null[ine0];[ine0]scale=w=320:h=240[inn0];[x0][inn0]overlay=640*0/2:480*0/2[x1];"
              "[in1]null[ine1];[ine1]scale=w=320:h=240[inn1];[x1][inn1]overlay=640*1/2:480*0/2[x2];"
              "[in2]null[ine2];[ine2]scale=w=320:h=240[inn2];[x2][inn2]overlay=640*0/2:480*1/2[x3];"
              "[in3]null[ine3];[ine3]scale=w=320:h=240[inn3];[x3][inn3]overlay=640*1/2:480*1/2[x4];"
              "[x4]null[out]");
}

TEST(CombineGraph, EffectsOneCellAndSound)
{
    std::vector<RKPLAYER_COMBINE_INPUT> in{Input("a", 4, 1), Input("b", 0, 2)};
    EXPECT_EQ(CCombineMp4::VideoGraph(352, 288, 9, in),
              "color=c=black@1:s=352x288[x0];"
              "[in0]edgedetect[ine0];[ine0]scale=w=117:h=96[inn0];[x0][inn0]overlay=352*1/3:288*1/3[x1];"
              "[in1]negate[ine1];[ine1]scale=w=117:h=96[inn1];[x1][inn1]overlay=352*0/3:288*0/3[x2];"
              "[x2]null[out]");
    EXPECT_EQ(CCombineMp4::VideoGraph(352, 288, 1, in), "null");
    in[1].effect = 3;  // has no step of its own: no graph
    EXPECT_EQ(CCombineMp4::VideoGraph(352, 288, 9, in), "");
    EXPECT_EQ(CCombineMp4::AudioGraph(1), "anull");
    EXPECT_EQ(CCombineMp4::AudioGraph(3), "[in0][in1][in2]amix=inputs=3[out]");
    EXPECT_EQ(CCombineMp4::GridSide(4), 2);
    EXPECT_EQ(CCombineMp4::GridSide(5), 2);
    EXPECT_EQ(CCombineMp4::GridSide(9), 3);
    EXPECT_EQ(CCombineMp4::GridSide(16), 4);
    EXPECT_EQ(CCombineMp4::GridSide(15), 3);
}

TEST(CombineExports, SettingsSlotsAndEffects)
{
    RKPLAYER_HANDLE slot = nullptr;
    EXPECT_EQ(RKPLAYER_EndCombin(&slot), -1);
    EXPECT_EQ(RKPLAYER_EndCombin(nullptr), -1);
    EXPECT_EQ(RKPLAYER_StartCombin(&slot), -1);
    EXPECT_EQ(RKPLAYER_InitOutputAviParam(nullptr, "o.mp4", 640, 480, 0, {}, RKPLAYER_COMBINE_COUNTS(4, 4)), -1);
    ASSERT_EQ(RKPLAYER_InitOutputAviParam(&slot, "o.mp4", 640, 480, 1, {}, RKPLAYER_COMBINE_COUNTS(3, 9)), 0);
    auto* c = static_cast<CCombineMp4*>(slot);
    EXPECT_EQ(c->Output().path, "o.mp4");
    EXPECT_EQ(c->Output().videoType, 1);
    EXPECT_EQ(c->Output().inputs, 3);
    EXPECT_EQ(c->Output().cells, 9);
    EXPECT_EQ(c->Output().bitRate, 400000);

    RKPLAYER_COMBINE_INPUT in[2] = {Input("a.mp4", 5, 2), Input("b.mp4", 7, 1)};
    in[0].reserved = 77;
    EXPECT_EQ(RKPLAYER_InitInputAvisParam(&slot, in, 17), -1);
    EXPECT_EQ(RKPLAYER_InitInputAvisParam(&slot, nullptr, 2), -1);
    ASSERT_EQ(RKPLAYER_InitInputAvisParam(&slot, in, 2), 0);
    EXPECT_STREQ(c->Input(0).path, "a.mp4");
    EXPECT_EQ(c->Input(0).position, 5);
    EXPECT_EQ(c->Input(0).effect, 0);  // effects only through their own call
    EXPECT_EQ(c->Input(0).reserved, 0);
    EXPECT_EQ(c->Input(1).position, 7);

    EXPECT_EQ(RKPLAYER_SetCombinEffect(&slot, 1, 2), 0);
    EXPECT_EQ(c->Input(1).effect, 2);
    EXPECT_EQ(RKPLAYER_SetCombinEffect(&slot, 1, 3), -1);
    EXPECT_EQ(RKPLAYER_SetCombinEffect(&slot, 1, -1), -1);
    EXPECT_EQ(RKPLAYER_SetCombinEffect(&slot, 16, 0), -1);
    EXPECT_EQ(c->Input(1).effect, 2);

    // Released unrun: the slot stays filled and is refused from then on.
    EXPECT_EQ(RKPLAYER_EndCombin(&slot), 0);
    EXPECT_NE(slot, nullptr);
    EXPECT_EQ(RKPLAYER_EndCombin(&slot), 0);
    EXPECT_EQ(RKPLAYER_StartCombin(&slot), -1);
    EXPECT_EQ(RKPLAYER_InitInputAvisParam(&slot, in, 2), -1);
    // A new combiner may take the slot again.
    ASSERT_EQ(RKPLAYER_InitOutputAviParam(&slot, "p.mp4", 64, 64, 0, {}, RKPLAYER_COMBINE_COUNTS(1, 1)), 0);
    EXPECT_EQ(RKPLAYER_EndCombin(&slot), 0);
}

struct Channels {
    std::vector<std::string> paths;
    std::vector<EncodedVideo> video;
};

Channels WriteChannels(const CTempDir& dir, int count, int frames, const std::vector<double>& tones,
                       VideoCodec codec = VideoCodec::kH264, int width = 96, int height = 64)
{
    Channels c;
    for (int k = 0; k < count; ++k) {
        ClipRecipe r;
        r.video.codec = codec;
        r.video.width = width;
        r.video.height = height;
        r.video.frames = frames;
        r.video.seed = uint32_t(11 + 7 * k);
        r.video.label = "CH" + std::to_string(k + 1);
        r.audio = size_t(k) < tones.size() && tones[size_t(k)] > 0;
        r.toneHz = r.audio ? tones[size_t(k)] : 0;
        const std::string path = (dir / ("ch" + std::to_string(k) + ".mp4")).string();
        EncodedVideo enc;
        EXPECT_EQ(WriteClip(path, r, &enc), 0);
        c.paths.push_back(path);
        c.video.push_back(std::move(enc));
    }
    return c;
}

int Combine(const std::string& out, int width, int height, int videoType, int cells,
            const std::vector<RKPLAYER_COMBINE_INPUT>& inputs, const std::vector<int>& effects = {},
            const std::vector<int64_t>& startsMs = {}, int64_t spanMs = 0)
{
    RKPLAYER_HANDLE slot = nullptr;
    EXPECT_EQ(RKPLAYER_InitOutputAviParam(&slot, out.c_str(), width, height, videoType, {},
                                          RKPLAYER_COMBINE_COUNTS(int(inputs.size()), cells)),
              0);
    EXPECT_EQ(RKPLAYER_InitInputAvisParam(&slot, inputs.data(), int(inputs.size())), 0);
    for (size_t k = 0; k < effects.size(); ++k) EXPECT_EQ(RKPLAYER_SetCombinEffect(&slot, int(k), effects[k]), 0);
    for (size_t k = 0; k < startsMs.size(); ++k) EXPECT_EQ(RKPLAYER_SetCombinStart(&slot, int(k), startsMs[k]), 0);
    if (spanMs) {
        EXPECT_EQ(RKPLAYER_SetCombinSpan(&slot, spanMs), 0);
    }
    const int ret = RKPLAYER_StartCombin(&slot);
    EXPECT_EQ(RKPLAYER_EndCombin(&slot), 0);
    EXPECT_EQ(RKPLAYER_StartCombin(&slot), -1);  // the run freed it
    return ret;
}

// The source picture scaled to one cell, as the graph's "scale" does.
Picture Scaled(const Picture& p, int w, int h)
{
    Picture out;
    out.width = w;
    out.height = h;
    out.yuv.resize(size_t(w) * h * 3 / 2);
    const uint8_t* src[4] = {p.yuv.data(), p.yuv.data() + size_t(p.width) * p.height,
                             p.yuv.data() + size_t(p.width) * p.height * 5 / 4, nullptr};
    const int srcLines[4] = {p.width, p.width / 2, p.width / 2, 0};
    uint8_t* dst[4] = {out.yuv.data(), out.yuv.data() + size_t(w) * h, out.yuv.data() + size_t(w) * h * 5 / 4, nullptr};
    const int dstLines[4] = {w, w / 2, w / 2, 0};
    SwsContext* sws = sws_getContext(p.width, p.height, AV_PIX_FMT_YUV420P, w, h, AV_PIX_FMT_YUV420P, SWS_BICUBIC,
                                     nullptr, nullptr, nullptr);
    sws_scale(sws, src, srcLines, 0, p.height, dst, dstLines);
    sws_freeContext(sws);
    return out;
}

// Mean absolute luma difference between a cell of the picture and a cell-sized picture.
double CellDifference(const Picture& mosaic, int x0, int y0, const Picture& cell)
{
    double sum = 0;
    for (int y = 0; y < cell.height; ++y)
        for (int x = 0; x < cell.width; ++x)
            sum += std::abs(int(mosaic.yuv[size_t(y0 + y) * mosaic.width + size_t(x0 + x)]) -
                            int(cell.yuv[size_t(y) * cell.width + size_t(x)]));
    return sum / (double(cell.width) * cell.height);
}

TEST(Combiner, TwoByTwoMosaicPlacesEveryChannelAndMixesTheSound)
{
    CTempDir dir("combine");
    const Channels ch = WriteChannels(dir, 4, 25, {500.0, 0, 0, 1500.0});
    // Position 3 goes top left, position 0 bottom right, and so on.
    const int positions[4] = {3, 2, 1, 0};
    std::vector<RKPLAYER_COMBINE_INPUT> in;
    for (int k = 0; k < 4; ++k) in.push_back(Input(ch.paths[size_t(k)], positions[k]));
    const std::string out = (dir / "combined.mp4").string();
    // The encoders' lines never reach standard error, at the level a host
    // leaves FFmpeg at by default: the library does not print.
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_INFO);
    testing::internal::CaptureStderr();
    const int rc = Combine(out, 320, 240, 0, 4, in);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    av_log_set_level(level);
    ASSERT_EQ(rc, 0);
    EXPECT_FALSE(fs::exists(out + ".part"));

    const FileInfo info = ReadBack(out);
    ASSERT_TRUE(info.opened);
    const StreamInfo* v = info.Find(AVMEDIA_TYPE_VIDEO);
    const StreamInfo* a = info.Find(AVMEDIA_TYPE_AUDIO);
    ASSERT_TRUE(v && a);
    EXPECT_EQ(v->codec, AV_CODEC_ID_H264);
    EXPECT_EQ(v->width, 320);
    EXPECT_EQ(v->height, 240);
    EXPECT_EQ(a->codec, AV_CODEC_ID_AAC);
    EXPECT_EQ(info.decodeErrors, 0);
    ASSERT_GE(info.pictures.size(), 20u);
    EXPECT_LE(info.pictures.size(), 26u);
    // 25 pictures a second, each time once (B-frames come out of order).
    std::vector<double> pts = v->pts;
    std::sort(pts.begin(), pts.end());
    for (size_t i = 0; i < pts.size(); ++i) EXPECT_NEAR(pts[i], 0.04 * double(i), 1e-6) << i;

    for (int frame : {5, 15}) {
        const Picture& mosaic = info.pictures[size_t(frame)];
        ASSERT_EQ(mosaic.width, 320);
        for (int k = 0; k < 4; ++k) {
            const int x0 = 320 * (positions[k] % 2) / 2;
            const int y0 = 240 * (positions[k] / 2) / 2;
            const double own = CellDifference(mosaic, x0, y0, Scaled(ch.video[size_t(k)].pictures[size_t(frame)], 160, 120));
            EXPECT_LT(own, 12.0) << "channel " << k << " frame " << frame;
            // And not any other channel's picture.
            for (int j = 0; j < 4; ++j) {
                if (j == k) continue;
                const double other =
                    CellDifference(mosaic, x0, y0, Scaled(ch.video[size_t(j)].pictures[size_t(frame)], 160, 120));
                EXPECT_GT(other, own + 5.0) << "channel " << k << " vs " << j;
            }
        }
    }

    // Both tones are in the mix.
    ASSERT_GT(info.sound.size(), 4000u);
    auto power = [&](double hz) {
        double re = 0, im = 0;
        const size_t n0 = 1000, n = 4000;
        for (size_t i = n0; i < n0 + n; ++i) {
            const double t = 2 * std::numbers::pi * hz * double(i) / double(a->sampleRate);
            re += info.sound[i] * std::cos(t);
            im += info.sound[i] * std::sin(t);
        }
        return std::sqrt(re * re + im * im) / double(n);
    };
    EXPECT_GT(power(500.0), 0.02);
    EXPECT_GT(power(1500.0), 0.02);
    EXPECT_LT(power(1000.0), 0.005);
}

TEST(Combiner, OneCellPassesTheChannelThroughAtItsOwnSize)
{
    CTempDir dir("combine");
    const Channels ch = WriteChannels(dir, 1, 10, {800.0}, VideoCodec::kH265, 64, 48);
    const std::string out = (dir / "one.mp4").string();
    ASSERT_EQ(Combine(out, 320, 240, 1, 1, {Input(ch.paths[0], 0)}), 0);
    const FileInfo info = ReadBack(out);
    const StreamInfo* v = info.Find(AVMEDIA_TYPE_VIDEO);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->codec, AV_CODEC_ID_HEVC);
    EXPECT_EQ(v->width, 64);
    EXPECT_EQ(v->height, 48);
    EXPECT_EQ(v->pts.size(), 10u);
    ASSERT_EQ(info.pictures.size(), 10u);
    EXPECT_LT(CellDifference(info.pictures[5], 0, 0, ch.video[0].pictures[5]), 12.0);
    EXPECT_TRUE(info.Find(AVMEDIA_TYPE_AUDIO));
}

TEST(Combiner, EffectsChangeTheirCellOnly)
{
    CTempDir dir("combine");
    const Channels ch = WriteChannels(dir, 2, 6, {});
    const std::string out = (dir / "fx.mp4").string();
    ASSERT_EQ(Combine(out, 192, 128, 0, 4, {Input(ch.paths[0], 0), Input(ch.paths[1], 1)}, {0, 2}), 0);
    const FileInfo info = ReadBack(out);
    ASSERT_GE(info.pictures.size(), 4u);
    const Picture& m = info.pictures[3];
    const Picture plain = Scaled(ch.video[0].pictures[3], 96, 64);
    Picture negative = Scaled(ch.video[1].pictures[3], 96, 64);
    for (auto& b : negative.yuv) b = uint8_t(255 - b);
    EXPECT_LT(CellDifference(m, 0, 0, plain), 12.0);
    EXPECT_LT(CellDifference(m, 96, 0, negative), 12.0);
    // The lower row stays black.
    Picture black{96, 64, std::vector<uint8_t>(96 * 64 * 3 / 2, 16)};
    EXPECT_LT(CellDifference(m, 0, 64, black), 3.0);
}

TEST(Combiner, FailuresLeaveNoOutput)
{
    CTempDir dir("combine");
    const Channels ch = WriteChannels(dir, 2, 5, {600.0, 700.0});
    const std::string out = (dir / "bad.mp4").string();
    auto nothing = [&] { return !fs::exists(out) && !fs::exists(out + ".part"); };

    // A channel that is not there.
    EXPECT_LT(Combine(out, 128, 96, 0, 4, {Input(ch.paths[0], 0), Input((dir / "nope.mp4").string(), 1)}), 0);
    EXPECT_TRUE(nothing());
    // A channel that is no media file.
    {
        std::ofstream junk(dir / "junk.mp4", std::ios::binary);
        junk << std::string(4096, 'j');
    }
    EXPECT_LT(Combine(out, 128, 96, 0, 4, {Input(ch.paths[0], 0), Input((dir / "junk.mp4").string(), 1)}), 0);
    EXPECT_TRUE(nothing());
    // A folder that does not exist.
    const std::string lost = (dir / "no" / "out.mp4").string();
    EXPECT_LT(Combine(lost, 128, 96, 0, 4, {Input(ch.paths[0], 0), Input(ch.paths[1], 1)}), 0);
    EXPECT_FALSE(fs::exists(dir / "no"));
    // Two channels in one cell: the graph leaves one without a place.
    EXPECT_LT(Combine(out, 128, 96, 0, 1, {Input(ch.paths[0], 0), Input(ch.paths[1], 0)}), 0);
    EXPECT_TRUE(nothing());
    // Settings that cannot be met.
    EXPECT_LT(Combine(out, 0, 96, 0, 4, {Input(ch.paths[0], 0)}), 0);
    EXPECT_LT(Combine(out, 128, 96, 0, 0, {Input(ch.paths[0], 0)}), 0);
    EXPECT_TRUE(nothing());

    // More inputs announced than were given.
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitOutputAviParam(&slot, out.c_str(), 128, 96, 0, {}, RKPLAYER_COMBINE_COUNTS(3, 4)), 0);
    const RKPLAYER_COMBINE_INPUT one = Input(ch.paths[0], 0);
    ASSERT_EQ(RKPLAYER_InitInputAvisParam(&slot, &one, 1), 0);
    EXPECT_LT(RKPLAYER_StartCombin(&slot), 0);
    EXPECT_TRUE(nothing());
}

// Mean luma of a cell: the black canvas is 16.
double CellLuma(const Picture& p, int x0, int y0, int w, int h)
{
    double sum = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x) sum += p.yuv[size_t(y) * p.width + size_t(x)];
    return sum / (double(w) * h);
}

TEST(Combiner, ChannelsKeepTheirTimesOnTheSpansClock)
{
    // A: two seconds from the span's start, with sound; B: one second from
    // 1.0 s, silent. The span lasts three seconds.
    CTempDir dir("combine");
    const Channels a = WriteChannels(dir, 1, 50, {500.0});
    CTempDir dir2("combine");
    const Channels b = WriteChannels(dir2, 1, 25, {});
    const std::string out = (dir / "clock.mp4").string();
    ASSERT_EQ(Combine(out, 128, 96, 0, 4, {Input(a.paths[0], 0), Input(b.paths[0], 3)}, {}, {0, 1000}, 3000), 0);
    const FileInfo info = ReadBack(out);
    ASSERT_TRUE(info.opened);
    ASSERT_EQ(info.pictures.size(), 75u) << "25 pictures a second for the whole span";
    EXPECT_TRUE(info.Find(AVMEDIA_TYPE_AUDIO));
    struct Moment {
        int frame;      // of the mosaic (25 a second)
        int aPicture;   // -1: A's cell (top left) is black
        int bPicture;   // -1: B's cell (bottom right) is black
    };
    for (const Moment m : {Moment{0, 0, -1}, Moment{5, 5, -1}, Moment{24, 24, -1}, Moment{26, 26, 1},
                           Moment{35, 35, 10}, Moment{48, 48, 23}, Moment{55, -1, -1}, Moment{74, -1, -1}}) {
        const Picture& mosaic = info.pictures[size_t(m.frame)];
        const std::pair<int, int> cells[2] = {{0, 0}, {64, 48}};
        const int want[2] = {m.aPicture, m.bPicture};
        const Channels* source[2] = {&a, &b};
        for (int c = 0; c < 2; ++c) {
            const auto [x0, y0] = cells[c];
            if (want[c] < 0) {
                EXPECT_NEAR(CellLuma(mosaic, x0, y0, 64, 48), 16.0, 2.0) << "cell " << c << " at frame " << m.frame;
            } else {
                const Picture cell = Scaled(source[c]->video[0].pictures[size_t(want[c])], 64, 48);
                EXPECT_LT(CellDifference(mosaic, x0, y0, cell), 12.0) << "cell " << c << " at frame " << m.frame;
            }
        }
    }
}

TEST(Combiner, WithoutASpanTheLongestChannelSetsTheLength)
{
    CTempDir dir("combine");
    const Channels a = WriteChannels(dir, 1, 20, {500.0});
    CTempDir dir2("combine");
    const Channels b = WriteChannels(dir2, 1, 8, {});  // no sound
    const std::string out = (dir / "uneven.mp4").string();
    ASSERT_EQ(Combine(out, 128, 96, 0, 4, {Input(a.paths[0], 0), Input(b.paths[0], 3)}), 0);
    const FileInfo info = ReadBack(out);
    ASSERT_TRUE(info.opened);
    ASSERT_EQ(info.pictures.size(), 20u);
    EXPECT_NEAR(CellLuma(info.pictures[15], 64, 48, 64, 48), 16.0, 2.0) << "the short channel's cell after its end";
    EXPECT_TRUE(info.Find(AVMEDIA_TYPE_AUDIO));
}

}  // namespace
