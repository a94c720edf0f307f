// Players bound to real X windows: what the screen shows after decoding,
// rebuilds, scale modes, on-screen text, snapshots and media files.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <tuple>

#include "media/include/rkmedia.h"
#include "media/src/video/Snapshot.h"
#include "tests/media/video/DisplayTestUtil.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

bool Bt709(int w, int h) { return SDL_GetYUVConversionModeForResolution(w, h) == SDL_YUV_CONVERSION_BT709; }

// Until the window has drawn or passed over every picture handed to it:
// drawing happens on the window's own thread, at most once per refresh.
RKPLAYER_SHOW_STAT WaitShown(RKPLAYER_HANDLE* slot)
{
    RKPLAYER_SHOW_STAT stat{};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (RKPLAYER_GetShowStat(slot, &stat) == 0 && stat.shown + stat.passedOver < stat.handed &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return stat;
}

class CPlayer {
public:
    CPlayer(CXWindow& window, int w, int h, VideoCodec codec, int scale = 0)
    {
        EXPECT_EQ(RKPLAYER_InitVideoDecoder(&m_slot, w, h, codec == VideoCodec::kH265 ? 1 : 0, 25, 1), 0);
        EXPECT_EQ(RKPLAYER_SetShowWnd(&m_slot, window.Handle(), 1), 0);
        RKPLAYER_SetVideoDisplayScale(&m_slot, scale);
    }
    ~CPlayer() { RKPLAYER_Uninitgpu(&m_slot); }
    int Decode(const AccessUnit& au, int* w = nullptr, int* h = nullptr)
    {
        int bytes = 0;
        const int rc =
            RKPLAYER_DecodeFrame(&m_slot, au.data.data(), int(au.data.size()), au.key ? 3 : 0, nullptr, &bytes, w, h);
        WaitShown(&m_slot);
        return rc;
    }
    RKPLAYER_HANDLE* Slot() { return &m_slot; }

private:
    RKPLAYER_HANDLE m_slot = nullptr;
};

EncodedVideo Stream(VideoCodec codec, int w, int h, int frames = 8, uint32_t seed = 1)
{
    VideoSpec recipe;
    recipe.codec = codec;
    recipe.width = w;
    recipe.height = h;
    recipe.frames = frames;
    recipe.gop = 4;
    recipe.seed = seed;
    return EncodeVideo(recipe);
}

struct Size {
    VideoCodec codec;
    int w, h;
};

class ShownPictures : public ::testing::TestWithParam<Size> {};

TEST_P(ShownPictures, TheWindowShowsEveryDecodedPicture)
{
    const Size s = GetParam();
    EncodedVideo video = Stream(s.codec, s.w, s.h);
    CXWindow window(s.w, s.h);
    CPlayer player(window, s.w, s.h, s.codec);
    for (size_t i = 0; i < video.units.size(); ++i) {
        int w = 0, h = 0;
        ASSERT_EQ(player.Decode(video.units[i], &w, &h), 0) << i;
        EXPECT_EQ(w, s.w);
        EXPECT_EQ(h, s.h);
        const Rgb shown = window.Grab();
        const double own = MeanDiff(shown, ToRgb(video.pictures[i].yuv, s.w, s.h, Bt709(s.w, s.h)), 0, 0, s.w, s.h);
        EXPECT_LT(own, 2.0) << "picture " << i;
        // It is this picture, not its neighbour: decoding adds no delay.
        if (i > 0) {
            const double previous =
                MeanDiff(shown, ToRgb(video.pictures[i - 1].yuv, s.w, s.h, Bt709(s.w, s.h)), 0, 0, s.w, s.h);
            EXPECT_LT(own * 2, previous) << "picture " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShownPictures,
                         ::testing::Values(Size{VideoCodec::kH264, 320, 240}, Size{VideoCodec::kH264, 352, 288},
                                           Size{VideoCodec::kH264, 640, 360}, Size{VideoCodec::kH265, 320, 240},
                                           Size{VideoCodec::kH265, 176, 144}),
                         [](const auto& info) {
                             return std::string(info.param.codec == VideoCodec::kH265 ? "H265_" : "H264_") +
                                    std::to_string(info.param.w) + "x" + std::to_string(info.param.h);
                         });

// Frame stepping: pictures decoded without being drawn leave the window as
// it was, and each kept picture comes back as it was decoded, in any order,
// without decoding again.
TEST(PlayerWindow, KeptPicturesComeBackWithoutDecoding)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240);
    CXWindow window(320, 240);
    CPlayer player(window, 320, 240, VideoCodec::kH264);
    const auto expected = [&](size_t i) { return ToRgb(video.pictures[i].yuv, 320, 240, Bt709(320, 240)); };
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    ASSERT_EQ(RKPLAYER_SetShowDecoded(player.Slot(), 0), 0);
    for (size_t i = 1; i < video.units.size(); ++i) {
        ASSERT_EQ(player.Decode(video.units[i]), 0);
        ASSERT_EQ(RKPLAYER_KeepLastPicture(player.Slot(), 40 * int64_t(i)), 0);
    }
    EXPECT_LT(MeanDiff(window.Grab(), expected(0), 0, 0, 320, 240), 2.0) << "a hidden picture was drawn";
    // Earlier pictures after later ones: only kept pictures can be shown so.
    for (size_t i : {5u, 2u, 7u, 1u}) {
        ASSERT_EQ(RKPLAYER_ShowKeptPicture(player.Slot(), 40 * int64_t(i)), 0);
        const Rgb shown = window.Grab();
        EXPECT_LT(MeanDiff(shown, expected(i), 0, 0, 320, 240), 2.0) << "picture " << i;
        EXPECT_LT(MeanDiff(shown, expected(i), 0, 0, 320, 240) * 2, MeanDiff(shown, expected(i - 1), 0, 0, 320, 240));
    }
    EXPECT_EQ(RKPLAYER_ShowKeptPicture(player.Slot(), 41), -2);
    ASSERT_EQ(RKPLAYER_DropKeptPictures(player.Slot()), 0);
    EXPECT_EQ(RKPLAYER_ShowKeptPicture(player.Slot(), 40), -2);
    // Drawing again: the next picture decoded is on screen.
    ASSERT_EQ(RKPLAYER_SetShowDecoded(player.Slot(), 1), 0);
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    EXPECT_LT(MeanDiff(window.Grab(), expected(0), 0, 0, 320, 240), 2.0);
}

// A zoomed window draws the part of the picture around the centre asked
// for, enlarged, from the picture it has: twice on the top left quarter,
// window pixel (2x, 2y) is picture pixel (x, y); the wheel then zooms
// around the pointer and factor 1 gives the whole picture back.
TEST(PlayerWindow, ZoomDrawsThePartAroundTheCentreFromThePictureItHas)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240, 1);
    CXWindow window(320, 240);
    CPlayer player(window, 320, 240, VideoCodec::kH264);
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    const Rgb picture = ToRgb(video.pictures[0].yuv, 320, 240, Bt709(320, 240));
    Rgb enlarged = picture;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) std::copy_n(picture.At(x / 2, y / 2), 3, enlarged.px.data() + (size_t(y) * 320 + x) * 3);
    ASSERT_EQ(RKPLAYER_SetZoom(player.Slot(), 2, 80, 60), 0);
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    Rgb shown = window.Grab();
    const double zoomed = MeanDiff(shown, enlarged, 8, 8, 304, 224, 8, 8);
    EXPECT_LT(zoomed, 8.0);
    EXPECT_LT(zoomed * 2, MeanDiff(shown, picture, 8, 8, 304, 224, 8, 8));
    // Wheel notches all the way out: the whole picture again, centred.
    ASSERT_EQ(RKPLAYER_ZoomAt(player.Slot(), -10, 50, 50, 320, 240), 0);
    double f = 0, cx = 0, cy = 0;
    ASSERT_EQ(RKPLAYER_GetZoom(player.Slot(), &f, &cx, &cy), 0);
    EXPECT_EQ(std::tuple(f, cx, cy), std::tuple(1.0, 160.0, 120.0));
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    EXPECT_LT(MeanDiff(window.Grab(), picture, 0, 0, 320, 240), 2.0);
}

// Binds a 320 x 240 H.264 player to the window and hands it every unit
// without waiting for any picture to be drawn.
void DecodeAllAtOnce(RKPLAYER_HANDLE& slot, CXWindow& window, const EncodedVideo& video)
{
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 320, 240, 0, 25, 1), 0);
    ASSERT_EQ(RKPLAYER_SetShowWnd(&slot, window.Handle(), 0), 0);
    for (const auto& au : video.units)
        ASSERT_EQ(RKPLAYER_DecodeFrame(&slot, au.data.data(), int(au.data.size()), au.key ? 3 : 0, nullptr, nullptr,
                                       nullptr, nullptr),
                  0);
}

TEST(PlayerWindow, ABurstOfPicturesShowsItsNewestAndCountsTheRest)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240, 12, 11);
    CXWindow window(320, 240);
    RKPLAYER_HANDLE slot = nullptr;
    // Faster than any screen refreshes: decoding never waits for drawing.
    ASSERT_NO_FATAL_FAILURE(DecodeAllAtOnce(slot, window, video));
    const RKPLAYER_SHOW_STAT stat = WaitShown(&slot);
    EXPECT_EQ(stat.handed, 12u);
    EXPECT_EQ(stat.shown + stat.passedOver, 12u);
    EXPECT_GE(stat.shown, 1u);
    EXPECT_LE(stat.shownOnTime, stat.shown);
    const Rgb shown = window.Grab();
    EXPECT_LT(MeanDiff(shown, ToRgb(video.pictures.back().yuv, 320, 240, Bt709(320, 240)), 0, 0, 320, 240), 2.0)
        << "the newest picture is the one on screen";
    RKPLAYER_Uninitgpu(&slot);
    EXPECT_EQ(RKPLAYER_GetShowStat(&slot, nullptr), -1);
    RKPLAYER_SHOW_STAT none{};
    EXPECT_EQ(RKPLAYER_GetShowStat(&slot, &none), -1) << "the slot was cleared";
}

TEST(PlayerWindow, ReleasingRightAfterDecodingLeavesTheLastPictureOnScreen)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240, 6, 12);
    CXWindow window(320, 240);
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_NO_FATAL_FAILURE(DecodeAllAtOnce(slot, window, video));
    RKPLAYER_Uninitgpu(&slot);
    const Rgb shown = window.Grab();
    EXPECT_LT(MeanDiff(shown, ToRgb(video.pictures.back().yuv, 320, 240, Bt709(320, 240)), 0, 0, 320, 240), 2.0);
}

// Pictures of other layouts (10 bits, 4:4:4) are shown as planar 4:2:0.
TEST(PlayerWindow, TenBitAndFullChromaPicturesAreShown)
{
    for (const auto& [codec, format] :
         {std::pair{VideoCodec::kH265, "yuv420p10le"}, std::pair{VideoCodec::kH264, "yuv444p"}}) {
        VideoSpec recipe;
        recipe.codec = codec;
        recipe.width = 320;
        recipe.height = 240;
        recipe.frames = 2;
        recipe.gop = 2;
        recipe.seed = 14;
        recipe.pixelFormat = format;
        EncodedVideo video = EncodeVideo(recipe);
        CXWindow window(320, 240);
        CPlayer player(window, 320, 240, codec);
        for (const auto& au : video.units) ASSERT_EQ(player.Decode(au), 0) << format;
        const Rgb shown = window.Grab();
        EXPECT_LT(MeanDiff(shown, ToRgb(video.pictures.back().yuv, 320, 240, Bt709(320, 240)), 0, 0, 320, 240), 3.0)
            << format;
    }
}

TEST(PlayerWindow, ANewSizeAtAKeyFrameRebuildsTheDecoder)
{
    EncodedVideo small = Stream(VideoCodec::kH264, 320, 240, 4, 3);
    EncodedVideo large = Stream(VideoCodec::kH264, 480, 272, 4, 4);
    CXWindow window(480, 272);
    CPlayer player(window, 320, 240, VideoCodec::kH264);
    for (const auto& au : small.units) ASSERT_EQ(player.Decode(au), 0);
    int w = 0, h = 0;
    ASSERT_EQ(player.Decode(large.units[0], &w, &h), 0);
    EXPECT_EQ(w, 480);
    EXPECT_EQ(h, 272);
    for (size_t i = 1; i < large.units.size(); ++i) ASSERT_EQ(player.Decode(large.units[i]), 0);
    const Rgb shown = window.Grab();
    EXPECT_LT(MeanDiff(shown, ToRgb(large.pictures.back().yuv, 480, 272, Bt709(480, 272)), 0, 0, 480, 272), 3.0);
    EXPECT_TRUE(window.Mapped()) << "the window stays on screen through the rebuild";
}

TEST(PlayerWindow, KeepAspectLeavesBlackBarsAndStretchFills)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 180, 2, 5);
    CXWindow window(320, 320);
    CPlayer player(window, 320, 180, VideoCodec::kH264, 1);
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    Rgb shown = window.Grab();
    // Picture rows 70..249, bars above and below.
    const int top = (320 - 180) / 2;
    EXPECT_LT(MeanDiff(shown, ToRgb(video.pictures[0].yuv, 320, 180, Bt709(320, 180)), 0, top, 320, 180), 3.0);
    for (int y : {0, top - 1, top + 180, 319}) EXPECT_LE(int(shown.At(160, y)[0]) + shown.At(160, y)[1], 2) << y;

    RKPLAYER_SetVideoDisplayScale(player.Slot(), 0);
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    shown = window.Grab();
    EXPECT_GT(int(shown.At(160, 5)[0]) + shown.At(160, 5)[1] + shown.At(160, 5)[2], 30) << "stretched over the bars";
}

TEST(PlayerWindow, APictureFollowsTheWindowToItsNewSize)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240, 1, 13);
    CXWindow window(320, 240);
    CPlayer player(window, 320, 240, VideoCodec::kH264);
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    // The layout of the play windows changes: the window owner resizes it.
    window.Resize(160, 120);
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    const Rgb small = window.Grab();
    const Rgb whole = ToRgb(video.pictures[0].yuv, 320, 240, Bt709(320, 240));
    // Compared as 20 x 15 block means, which any scaling filter keeps: the
    // picture at half size, not its unscaled corner.
    auto blocks = [](const Rgb& img, int size) {
        std::vector<double> out;
        for (int by = 0; by < 15; ++by)
            for (int bx = 0; bx < 20; ++bx)
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int y = 0; y < size; ++y)
                        for (int x = 0; x < size; ++x) sum += img.At(bx * size + x, by * size + y)[c];
                    out.push_back(sum / (size * size));
                }
        return out;
    };
    const auto shownBlocks = blocks(small, 8), wantedBlocks = blocks(whole, 16);
    double diff = 0, cornerDiff = 0;
    const auto cornerBlocks = blocks(whole, 8);
    for (size_t i = 0; i < shownBlocks.size(); ++i) {
        diff += std::abs(shownBlocks[i] - wantedBlocks[i]) / double(shownBlocks.size());
        cornerDiff += std::abs(shownBlocks[i] - cornerBlocks[i]) / double(shownBlocks.size());
    }
    EXPECT_LT(diff, 3.0);
    EXPECT_GT(cornerDiff, 3 * diff);
    window.Resize(480, 360);
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    const Rgb large = window.Grab();
    EXPECT_GT(int(large.At(470, 350)[0]) + large.At(470, 350)[1] + large.At(470, 350)[2], 0)
        << "the picture fills the grown window";
}

TEST(PlayerWindow, NonKeyFramesWaitForAKeyFrameAfterARendererFailure)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 320, 240, 8, 6);
    CXWindow window(320, 240);
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 320, 240, 0, 25, 1), 0);
    // Never bound to a window: nothing can be shown, the decoder is not ready.
    EXPECT_EQ(RKPLAYER_DecodeFrame(&slot, video.units[1].data.data(), int(video.units[1].data.size()), 0, nullptr,
                                   nullptr, nullptr, nullptr),
              -2);
    ASSERT_EQ(RKPLAYER_SetShowWnd(&slot, window.Handle(), 0), 0);
    EXPECT_EQ(RKPLAYER_DecodeFrame(&slot, video.units[0].data.data(), int(video.units[0].data.size()), 3, nullptr,
                                   nullptr, nullptr, nullptr),
              0);
    RKPLAYER_Uninitgpu(&slot);
}

TEST(PlayerWindow, OnScreenTextLinesWhereTheRulesPutThem)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 640, 360, 1, 7);
    CXWindow window(640, 360);
    CPlayer player(window, 640, 360, VideoCodec::kH264);
    ASSERT_EQ(player.Decode(video.units[0]), 0);
    const Rgb plain = window.Grab();
    const std::string text = "CH1 2026-12-01 10:00:00,\xD4\xC1" "B12345 60km/h,3,4,5,6";
    ASSERT_EQ(RKPLAYER_SetOSDText(player.Slot(), text.data(), int(text.size())), 0);
    ASSERT_EQ(RKPLAYER_ShowLastFrame(player.Slot()), 0);
    const Rgb osd = window.Grab();
    if (const char* dir = std::getenv("VELMOR_SCREENSHOT_DIR")) {
        std::vector<uint8_t> yuv(size_t(640) * 360 * 3 / 2);
        // Saved as a picture to look at.
        std::ofstream ppm(std::string(dir) + "/osd.ppm", std::ios::binary);
        ppm << "P6\n640 360\n255\n";
        ppm.write(reinterpret_cast<const char*>(osd.px.data()), std::streamsize(osd.px.size()));
    }
    const int x = 640 * 30 / 704 + 8;
    // The first line's box starts at (x, 90): black at its top-left corner,
    // white text inside, the picture untouched left of it.
    EXPECT_EQ(osd.At(x + 1, 91)[0], 0);
    int white = 0;
    for (int yy = 90; yy < 106; ++yy)
        for (int xx = x; xx < x + 150; ++xx) white += osd.At(xx, yy)[0] > 200 && osd.At(xx, yy)[2] > 200;
    EXPECT_GT(white, 50);
    EXPECT_LT(MeanDiff(osd, plain, 0, 0, x - 1, 360), 0.5) << "nothing left of the text";
    // Five lines only: the sixth line's place is untouched.
    int changedBelow = 0;
    for (int yy = 90 + 5 * 28; yy < 360; ++yy)
        for (int xx = x; xx < x + 40; ++xx) changedBelow += osd.At(xx, yy)[0] != plain.At(xx, yy)[0];
    EXPECT_EQ(changedBelow, 0);
    int changedFifth = 0;
    for (int yy = 90 + 4 * 26; yy < 90 + 4 * 26 + 14; ++yy)
        for (int xx = x; xx < x + 10; ++xx) changedFifth += osd.At(xx, yy)[0] != plain.At(xx, yy)[0];
    EXPECT_GT(changedFifth, 0) << "the fifth line is drawn";
}

// RGB of an image file as FFmpeg decodes it.
Rgb DecodeImage(const std::string& path)
{
    Rgb out;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
    avformat_find_stream_info(fmt, nullptr);
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[0]->codecpar->codec_id);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, fmt->streams[0]->codecpar);
    avcodec_open2(ctx, codec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (av_read_frame(fmt, pkt) >= 0 && avcodec_send_packet(ctx, pkt) >= 0 && avcodec_receive_frame(ctx, frame) >= 0) {
        out.w = frame->width;
        out.h = frame->height;
        out.px.resize(size_t(out.w) * out.h * 3);
        SwsContext* sws = sws_getContext(out.w, out.h, AVPixelFormat(frame->format), out.w, out.h, AV_PIX_FMT_RGB24,
                                         SWS_BICUBIC, nullptr, nullptr, nullptr);
        uint8_t* dst[1] = {out.px.data()};
        int lines[1] = {out.w * 3};
        sws_scale(sws, frame->data, frame->linesize, 0, out.h, dst, lines);
        sws_freeContext(sws);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    return out;
}

TEST(PlayerWindow, SnapshotsInAllThreeFormats)
{
    EncodedVideo video = Stream(VideoCodec::kH264, 352, 288, 3, 8);
    CXWindow window(352, 288);
    CPlayer player(window, 352, 288, VideoCodec::kH264);
    for (const auto& au : video.units) ASSERT_EQ(player.Decode(au), 0);
    const std::string osd = "SNAP";
    RKPLAYER_SetOSDText(player.Slot(), osd.data(), 4);
    CTempDir dir;
    const std::string base = (dir / "new" / "folder" / "snap").string();
    ASSERT_EQ(RKPLAYER_SavePictureFile(player.Slot(), (base + ".bmp").c_str(), 2), 0) << "folders are created";
    ASSERT_EQ(RKPLAYER_SavePictureFile(player.Slot(), (base + ".jpg").c_str(), 0), 0);
    ASSERT_EQ(RKPLAYER_SavePictureFile(player.Slot(), (base + ".png").c_str(), 1), 0);
    // The type chosen decides the encoding, not the name's ending.
    ASSERT_EQ(RKPLAYER_SavePictureFile(player.Slot(), (base + "-png.jpg").c_str(), 1), 0);
    ASSERT_EQ(RKPLAYER_SavePictureFile(player.Slot(), (base + "-jpeg.png").c_str(), 0), 0);
    auto magic = [](const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        char b[4] = {};
        f.read(b, 4);
        return std::string(b, 4);
    };
    EXPECT_EQ(magic(base + ".png"), "\x89PNG");
    EXPECT_EQ(magic(base + "-png.jpg"), "\x89PNG");
    EXPECT_EQ(magic(base + ".jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(magic(base + "-jpeg.png").substr(0, 2), "\xFF\xD8");

    // BMP: exactly the fixed conversion of the last picture, text not included.
    std::ifstream in(base + ".bmp", std::ios::binary);
    std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bmp, rkmedia::MakeBmp(video.pictures.back().yuv.data(), rkmedia::PictureLayout::kPlanar420, 352, 288));
    const Rgb expected = ToRgb(video.pictures.back().yuv, 352, 288, false);
    const Rgb png = DecodeImage(base + ".png");
    ASSERT_EQ(png.w, 352);
    EXPECT_LT(MeanDiff(png, expected, 0, 0, 352, 288), 2.0);
    const Rgb jpg = DecodeImage(base + ".jpg");
    ASSERT_EQ(jpg.h, 288);
    EXPECT_LT(MeanDiff(jpg, expected, 0, 0, 352, 288), 6.0);
}

TEST(PlayerWindow, ReleasingTheDecoderLeavesTheWindowOnScreen)
{
    EncodedVideo video = Stream(VideoCodec::kH265, 176, 144, 1, 9);
    CXWindow window(176, 144);
    {
        CPlayer player(window, 176, 144, VideoCodec::kH265);
        ASSERT_EQ(player.Decode(video.units[0]), 0);
    }
    EXPECT_TRUE(window.Mapped());
}

// ---- Media files -------------------------------------------------------------------

class MediaFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        VideoSpec recipe;
        recipe.width = 320;
        recipe.height = 240;
        recipe.frames = 50;  // 2 s, key frames every 10
        recipe.gop = 10;
        m_video = EncodeVideo(recipe);
        std::ofstream raw((m_dir / "v.h264").string(), std::ios::binary);
        for (const auto& au : m_video.units) raw.write(reinterpret_cast<const char*>(au.data.data()), long(au.data.size()));
        raw.close();
        for (const char* name : {"clip.mp4", "CLIP2.MP4"}) {
            auto r = RunProgram("ffmpeg", {"-v", "error", "-y", "-r", "25", "-i", (m_dir / "v.h264").string(), "-c",
                                           "copy", (m_dir / name).string()});
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
        auto r = RunProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                                       (m_dir / "tone.m4a").string()});
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    // Plays a file to its end; the number of video packets decoded.
    int Play(const std::string& name, CXWindow& window, int64_t seekMs = -1, int64_t* firstPts = nullptr)
    {
        RKPLAYER_HANDLE slot = nullptr;
        RKPLAYER_VIDEO_PARAM p{};
        int64_t duration = 0;
        EXPECT_EQ(VIDEOPLAY_InitMediaFile(&slot, (m_dir / name).c_str(), &p, nullptr, &duration), 0);
        EXPECT_EQ(p.width, 320);
        EXPECT_EQ(p.height, 240);
        EXPECT_EQ(p.videoType, 0);
        EXPECT_EQ(p.frameRate, 25);
        EXPECT_NEAR(double(duration), 2e6, 1e5);
        EXPECT_EQ(RKPLAYER_SetShowWnd(&slot, window.Handle(), 0), 0);
        if (seekMs >= 0) {
            EXPECT_EQ(VIDEOPLAY_SeekTimeTo(&slot, seekMs), 0);
        }
        int decoded = 0;
        for (;;) {
            int isAudio = 0;
            int64_t pts = 0;
            if (VIDEOPLAY_ReadOneFrame(&slot, &isAudio, &pts) < 0) break;
            if (isAudio) continue;
            if (decoded == 0 && firstPts) *firstPts = pts;
            EXPECT_EQ(VIDEOPLAY_DecodeOneFrame(&slot, 0), 0);
            ++decoded;
        }
        EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
        return decoded;
    }
    CTempDir m_dir;
    EncodedVideo m_video;
};

TEST_F(MediaFile, PlaysAnMp4ToItsLastPicture)
{
    CXWindow window(320, 240);
    EXPECT_EQ(Play("clip.mp4", window), 50);
    const Rgb shown = window.Grab();
    EXPECT_LT(MeanDiff(shown, ToRgb(m_video.pictures.back().yuv, 320, 240, Bt709(320, 240)), 0, 0, 320, 240), 3.0);
    EXPECT_EQ(Play("CLIP2.MP4", window), 50) << "the extension in capitals too";
}

TEST_F(MediaFile, SeeksToTheKeyFrameAtOrBefore)
{
    CXWindow window(320, 240);
    int64_t first = -1;
    // 1.5 s: the key frames are at 0, 0.4, 0.8, 1.2 and 1.6 s.
    EXPECT_EQ(Play("clip.mp4", window, 1500, &first), 20);
    EXPECT_EQ(first, 30 * 512);  // 1.2 s in the stream's 1/12800 time base
}

TEST_F(MediaFile, SoundOnlyFilesAreRefused)
{
    RKPLAYER_HANDLE slot = nullptr;
    RKPLAYER_VIDEO_PARAM p{};
    int64_t duration = 0;
    EXPECT_EQ(VIDEOPLAY_InitMediaFile(&slot, (m_dir / "tone.m4a").c_str(), &p, nullptr, &duration), -1);
    EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
}

}  // namespace
}  // namespace velmor::fixtures
