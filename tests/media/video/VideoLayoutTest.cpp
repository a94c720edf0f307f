// Where pictures and on-screen text go, and snapshot bytes: no display needed.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

#include "fuzz/FuzzDecodeInput.h"
#include "media/include/rkmedia.h"
#include "media/src/video/SdlPresenter.h"
#include "media/src/video/Snapshot.h"
#include "media/src/video/ZoomView.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace rkmedia {
namespace {

TEST(DestinationRect, KeepAspectAndStretch)
{
    // 704 x 576 keeps its shape: 704 * 400 / 576 = 488 wide.
    EXPECT_EQ(DestinationRect(1000, 400, 704, 576, 1), (Rect{256, 0, 488, 400}));
    EXPECT_EQ(DestinationRect(1000, 400, 704, 576, 0), (Rect{0, 0, 1000, 400}));
    EXPECT_EQ(DestinationRect(400, 1000, 1920, 1080, 1), (Rect{0, 387, 400, 225}));
    EXPECT_EQ(DestinationRect(640, 360, 1280, 720, 1), (Rect{0, 0, 640, 360})) << "same shape";
    EXPECT_EQ(DestinationRect(640, 360, 0, 0, 1), (Rect{0, 0, 640, 360}));
}

auto FixedMeasure(int perChar, int height)
{
    return [=](const std::string& t, int& w, int& h) {
        w = int(t.size()) * perChar;
        h = height;
    };
}

// The zoomed view of a 352 x 288 picture: factor 1..8, never past the edges.
TEST(ZoomView, ClampedToThePicture)
{
    struct Row {
        ZoomView asked;
        ZoomView clamped;
        Rect source;
    };
    const double nan = std::nan("");
    const Row rows[] = {
        {{2, 176, 144}, {2, 176, 144}, {88, 72, 176, 144}},
        {{2, 10, 280}, {2, 88, 216}, {0, 144, 176, 144}},
        {{8, 0, 0}, {8, 22, 18}, {0, 0, 44, 36}},
        {{9, 352, 288}, {8, 330, 270}, {308, 252, 44, 36}},
        {{0.5, 5, 5}, {1, 176, 144}, {0, 0, 352, 288}},
        {{nan, nan, nan}, {1, 176, 144}, {0, 0, 352, 288}},
        {{3, nan, 100}, {3, 176, 100}, {118, 52, 118, 96}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.asked.factor);
        const ZoomView v = ClampZoom(r.asked, 352, 288);
        EXPECT_DOUBLE_EQ(v.factor, r.clamped.factor);
        EXPECT_DOUBLE_EQ(v.cx, r.clamped.cx);
        EXPECT_DOUBLE_EQ(v.cy, r.clamped.cy);
        EXPECT_EQ(ZoomSource(r.asked, 352, 288), r.source);
    }
}

// The wheel keeps the picture point under the pointer where it is, and a
// drag moves the picture with the pointer, in a window twice the picture's size.
TEST(ZoomView, WheelAroundThePointerAndDrag)
{
    const Rect dst{0, 0, 704, 576};
    const auto under = [&](const ZoomView& v, int x, int y) {
        const double sw = 352 / v.factor, sh = 288 / v.factor;
        return std::pair{v.cx - sw / 2 + double(x) / dst.w * sw, v.cy - sh / 2 + double(y) / dst.h * sh};
    };
    ZoomView v;
    v = ClampZoom(v, 352, 288);
    for (const auto& [steps, x, y] : {std::tuple{3, 200, 150}, {2, 600, 500}, {-1, 100, 400}}) {
        const auto before = under(v, x, y);
        v = ZoomAround(v, steps, x, y, dst, 352, 288);
        const auto after = under(v, x, y);
        EXPECT_NEAR(after.first, before.first, 1e-9);
        EXPECT_NEAR(after.second, before.second, 1e-9);
    }
    EXPECT_NEAR(v.factor, std::pow(1.25, 4), 1e-12);
    const ZoomView dragged = PanZoom(v, 10, -20, dst, 352, 288);
    EXPECT_NEAR(dragged.cx, v.cx - 10 * 0.5 / v.factor, 1e-9);
    EXPECT_NEAR(dragged.cy, v.cy + 20 * 0.5 / v.factor, 1e-9);
    // Far past 8, then all the way out: the whole picture, centred.
    EXPECT_DOUBLE_EQ(ZoomAround(v, 40, 0, 0, dst, 352, 288).factor, 8);
    EXPECT_EQ(ZoomAround(v, -40, 700, 10, dst, 352, 288), (ZoomView{1, 176, 144}));
    EXPECT_EQ(PanZoom(ZoomView{1, 176, 144}, 50, 50, dst, 352, 288), (ZoomView{1, 176, 144}));
}

TEST(OsdLayout, FiveLinesFromTheFirstFiveWords)
{
    const auto lines = LayoutOsd("one,two,three,four,five,six", 1920, 1080, FixedMeasure(10, 16));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].text, "one");
    EXPECT_EQ(lines[4].text, "five");
    EXPECT_EQ(lines[0].box, (Rect{81, 90, 30, 16}));
    EXPECT_EQ(lines[1].box.y, 90 + 16 + 10);
    EXPECT_EQ(lines[4].box.y, 90 + 4 * 26);
}

TEST(OsdLayout, NarrowPicturesGetEightMoreAndBoxesStopAtTheEdge)
{
    const auto lines = LayoutOsd("a very long line of text", 352, 110, FixedMeasure(20, 16));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].box.x, 352 * 30 / 704 + 8);
    EXPECT_EQ(lines[0].box.x + lines[0].box.w, 352) << "cut at the picture's right edge";
    EXPECT_EQ(lines[0].box.y + lines[0].box.h, 106);
    EXPECT_EQ(LayoutOsd("x", 705, 500, FixedMeasure(8, 16))[0].box.x, 705 * 30 / 704);
}

TEST(Snapshot, BmpHeaderAndConvertedPixels)
{
    // 4 x 2 planar picture: luma ramps, one chroma pair per 2 x 2 block.
    const int w = 4, h = 2;
    std::vector<uint8_t> yuv = {16, 100, 180, 235, 50, 60, 70, 80, /*U*/ 128, 200, /*V*/ 128, 60};
    const auto bmp = MakeBmp(yuv.data(), PictureLayout::kPlanar420, w, h);
    ASSERT_EQ(bmp.size(), 54u + 4 * 2 * 3);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(bmp[2] | bmp[3] << 8, 54 + 24);
    EXPECT_EQ(bmp[10], 54);
    EXPECT_EQ(bmp[14], 40);
    EXPECT_EQ(bmp[18], 4);
    EXPECT_EQ(bmp[22], 2) << "positive height: bottom-up rows";
    EXPECT_EQ(bmp[28], 24);
    // The first stored row is the picture's last row; pixel (0,1): Y 50, U 128, V 128.
    const int l = int(1.164 * (50 - 16));
    EXPECT_EQ(bmp[54 + 0], l);
    EXPECT_EQ(bmp[54 + 1], l);
    EXPECT_EQ(bmp[54 + 2], l);
    // Pixel (3,0) in the second stored row: Y 235, U 200, V 60 -> clamped.
    const uint8_t* p = &bmp[54 + 12 + 9];
    const double L = 1.164 * (235 - 16);
    EXPECT_EQ(p[0], 255);                                                   // B = L + 2.018 * 72
    EXPECT_EQ(p[1], uint8_t(L - 0.38 * 72 - 0.813 * (60 - 128)));           // G
    EXPECT_EQ(p[2], uint8_t(L + 1.159 * (60 - 128)));                       // R
}

TEST(Snapshot, NV12GivesTheSamePixelsAsPlanar)
{
    const int w = 4, h = 2;
    std::vector<uint8_t> planar = {16, 100, 180, 235, 50, 60, 70, 80, 128, 200, 128, 60};
    std::vector<uint8_t> nv12 = {16, 100, 180, 235, 50, 60, 70, 80, 128, 128, 200, 60};
    EXPECT_EQ(MakeBmp(planar.data(), PictureLayout::kPlanar420, w, h),
              MakeBmp(nv12.data(), PictureLayout::kNV12, w, h));
}

TEST(PlayerExports, EmptySlotsAndSettings)
{
    RKPLAYER_HANDLE slot = nullptr;
    EXPECT_EQ(RKPLAYER_SetShowWnd(&slot, nullptr, 0), -1);
    EXPECT_EQ(RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(RKPLAYER_ShowLastFrame(&slot), -1);
    EXPECT_EQ(RKPLAYER_SetOSDText(&slot, "x", 1), -1);
    EXPECT_EQ(RKPLAYER_SetVideoDisplayScale(&slot, 1), 0);
    EXPECT_EQ(RKPLAYER_SetExitFlag(&slot), -1);
    EXPECT_EQ(RKPLAYER_EnableLowPassFilter(&slot, 1, 0.5f), 0);
    EXPECT_EQ(RKPLAYER_EnableRemoveNoise(&slot, 1, 2), 0);
    RKPLAYER_Uninitgpu(&slot);
    RKPLAYER_Uninitgpu(nullptr);

    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 352, 288, 0, 25, 1), 0);
    ASSERT_NE(slot, nullptr);
    std::string text(200, 'A');
    EXPECT_EQ(RKPLAYER_SetOSDText(&slot, text.data(), 200), 0);
    EXPECT_EQ(RKPLAYER_SavePictureFile(&slot, "/tmp/x.jpg", 3), -1) << "unknown picture type";
    EXPECT_EQ(RKPLAYER_SavePictureFile(&slot, "/tmp/x.jpg", 0), -1) << "nothing shown yet";
    EXPECT_EQ(RKPLAYER_ShowLastFrame(&slot), -2);
    EXPECT_EQ(RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr), -2)
        << "not bound to a window: not ready";
    RKPLAYER_Uninitgpu(&slot);
    EXPECT_EQ(slot, nullptr);
}

TEST(MediaFileExports, MissingFileAndSeekOnNothing)
{
    RKPLAYER_HANDLE slot = nullptr;
    RKPLAYER_VIDEO_PARAM param{};
    int64_t duration = 0;
    EXPECT_EQ(VIDEOPLAY_InitMediaFile(&slot, "/nonexistent/file.mp4", &param, nullptr, &duration), 1);
    EXPECT_NE(slot, nullptr) << "a player to release even after a failed open";
    EXPECT_EQ(VIDEOPLAY_SeekTimeTo(&slot, 0), -1);
    EXPECT_EQ(VIDEOPLAY_UnitMediaFile(&slot), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(VIDEOPLAY_SeekTimeTo(&slot, 0), -1);
}

}  // namespace
}  // namespace rkmedia

namespace velmor::fixtures {
namespace {

TEST(Offscreen, DecodesWithoutAWindowForSnapshots)
{
    VideoSpec recipe;
    recipe.width = 176;
    recipe.height = 144;
    recipe.frames = 5;
    recipe.gop = 5;
    EncodedVideo video = EncodeVideo(recipe);
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 176, 144, 0, 25, 1), 0);
    ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
    for (size_t i = 0; i < video.units.size(); ++i) {
        int bytes = 0, w = 0, h = 0;
        ASSERT_EQ(RKPLAYER_DecodeFrame(&slot, video.units[i].data.data(), int(video.units[i].data.size()),
                                       video.units[i].key ? 3 : 0, nullptr, &bytes, &w, &h),
                  0);
        EXPECT_EQ(bytes, 176 * 144 * 3 / 2);
        EXPECT_EQ(w, 176);
    }
    CTempDir dir;
    const auto path = dir / "last.bmp";
    ASSERT_EQ(RKPLAYER_SavePictureFile(&slot, path.c_str(), 2), 0);
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bmp, rkmedia::MakeBmp(video.pictures.back().yuv.data(), rkmedia::PictureLayout::kPlanar420, 176, 144));
    EXPECT_EQ(RKPLAYER_ShowLastFrame(&slot), 0);
    RKPLAYER_Uninitgpu(&slot);
}

// A zoomed snapshot is the part the window shows, enlarged to the picture's
// size: its pixel (2x, 2y) at factor 2 on the top left quarter is the
// whole picture's (x, y); the whole snapshot stays as it was.
TEST(Offscreen, ZoomedSnapshotIsThePartShownEnlarged)
{
    VideoSpec recipe;
    recipe.width = 176;
    recipe.height = 144;
    recipe.frames = 1;
    recipe.lossless = true;
    EncodedVideo video = EncodeVideo(recipe);
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 176, 144, 0, 25, 1), 0);
    ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
    ASSERT_EQ(RKPLAYER_DecodeFrame(&slot, video.units[0].data.data(), int(video.units[0].data.size()), 3, nullptr,
                                   nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(RKPLAYER_SetZoom(&slot, 2, 44, 36), 0);
    double f = 0, cx = 0, cy = 0;
    ASSERT_EQ(RKPLAYER_GetZoom(&slot, &f, &cx, &cy), 0);
    EXPECT_EQ(std::tuple(f, cx, cy), std::tuple(2.0, 44.0, 36.0));
    CTempDir dir;
    ASSERT_EQ(RKPLAYER_SavePictureFile(&slot, (dir / "whole.bmp").c_str(), 2), 0);
    ASSERT_EQ(RKPLAYER_SaveZoomedPictureFile(&slot, (dir / "zoom.bmp").c_str(), 2), 0);
    const auto read = [&](const char* name) {
        std::ifstream in(dir / name, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    };
    const auto whole = read("whole.bmp"), zoom = read("zoom.bmp");
    EXPECT_EQ(whole, rkmedia::MakeBmp(video.pictures[0].yuv.data(), rkmedia::PictureLayout::kPlanar420, 176, 144));
    ASSERT_EQ(zoom.size(), whole.size());
    // Bottom-up rows of 176 * 3 bytes after the 54-byte head.
    const auto pixel = [](const std::vector<uint8_t>& bmp, int x, int y, int c) {
        return int(bmp[54 + size_t(143 - y) * 528 + size_t(x) * 3 + size_t(c)]);
    };
    double same = 0, shifted = 0;
    for (int y = 4; y < 68; ++y)
        for (int x = 4; x < 84; ++x)
            for (int c = 0; c < 3; ++c) {
                same += std::abs(pixel(zoom, 2 * x, 2 * y, c) - pixel(whole, x, y, c));
                shifted += std::abs(pixel(zoom, 2 * x, 2 * y, c) - pixel(whole, x + 44, y + 36, c));
            }
    const double n = 64.0 * 80 * 3;
    EXPECT_LT(same / n, 6.0);
    EXPECT_GT(shifted / n, 3 * same / n);
    // Not zoomed: the zoomed snapshot is the whole picture.
    ASSERT_EQ(RKPLAYER_SetZoom(&slot, 1, 0, 0), 0);
    ASSERT_EQ(RKPLAYER_SaveZoomedPictureFile(&slot, (dir / "zoom1.bmp").c_str(), 2), 0);
    EXPECT_EQ(read("zoom1.bmp"), whole);
    EXPECT_EQ(RKPLAYER_ZoomAt(&slot, 1, 0, 0, 0, 0), 0);
    RKPLAYER_Uninitgpu(&slot);
}

// Kept pictures are bounded: past the limit the lowest stamp goes; a stamp
// kept again is replaced, not counted twice.
TEST(Offscreen, KeptPicturesAreBoundedLowestStampFirst)
{
    VideoSpec recipe;
    recipe.width = 176;
    recipe.height = 144;
    recipe.frames = 1;
    EncodedVideo video = EncodeVideo(recipe);
    RKPLAYER_HANDLE slot = nullptr;
    EXPECT_EQ(RKPLAYER_KeepLastPicture(&slot, 1), -1);
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 176, 144, 0, 25, 1), 0);
    ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
    EXPECT_EQ(RKPLAYER_KeepLastPicture(&slot, 1), -2) << "nothing decoded yet";
    ASSERT_EQ(RKPLAYER_DecodeFrame(&slot, video.units[0].data.data(), int(video.units[0].data.size()), 3, nullptr,
                                   nullptr, nullptr, nullptr),
              0);
    for (int64_t stamp = RKPLAYER_MAX_KEPT_PICTURES; stamp >= 0; --stamp)
        ASSERT_EQ(RKPLAYER_KeepLastPicture(&slot, stamp), 0);
    ASSERT_EQ(RKPLAYER_KeepLastPicture(&slot, 7), 0);
    EXPECT_EQ(RKPLAYER_ShowKeptPicture(&slot, 0), -2);
    EXPECT_EQ(RKPLAYER_ShowKeptPicture(&slot, 1), 0);
    EXPECT_EQ(RKPLAYER_ShowKeptPicture(&slot, RKPLAYER_MAX_KEPT_PICTURES), 0);
    RKPLAYER_Uninitgpu(&slot);
}

// The parser and decoder read past the end of what they are handed unless it
// is padded; the caller's buffers are exactly as long as the frame (checked
// under AddressSanitizer), cut at many places and with bytes flipped.
TEST(Offscreen, DamagedAccessUnitsAreReadOnlyWithinTheirLength)
{
    // Units that once made the H.264 parser copy bytes from beyond the end.
    const std::vector<std::pair<bool, std::vector<uint8_t>>> found = {
        {true, {0x07, 0x01, 0x01, 0x00, 0x00, 0x01, 0x07, 0x01, 0x01, 0x00, 0x00, 0x01}},
        {true, {0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01, 0x07, 0x01, 0x01, 0x00, 0x00, 0x01}},
        {true, {0x01, 0x07}},
        {true, {0x01, 0x01, 0x07, 0x01, 0x01, 0xFD, 0xFF, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x07, 0x00, 0x01, 0x07, 0x01, 0x01, 0x00, 0x00, 0x01}},
        {true, {0x01, 0x07, 0x76, 0x01}},
    };
    {
        RKPLAYER_HANDLE slot = nullptr;
        ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 352, 288, 0, 25, 0), 0);
        ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
        for (const auto& [key, bytes] : found) {
            auto exact = std::make_unique<uint8_t[]>(bytes.size());
            std::memcpy(exact.get(), bytes.data(), bytes.size());
            int frameBytes = 0, w = 0, h = 0;
            RKPLAYER_DecodeFrame(&slot, exact.get(), int(bytes.size()), key ? 1 : 0, nullptr, &frameBytes, &w, &h);
        }
        RKPLAYER_Uninitgpu(&slot);
    }
    for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265}) {
        VideoSpec recipe;
        recipe.codec = codec;
        recipe.width = 64;
        recipe.height = 48;
        recipe.frames = 4;
        recipe.gop = 2;
        recipe.lossless = false;
        EncodedVideo video = EncodeVideo(recipe);
        RKPLAYER_HANDLE slot = nullptr;
        ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 64, 48, codec == VideoCodec::kH265 ? 1 : 0, 25, 0), 0);
        ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
        for (const auto& au : video.units) {
            const size_t n = au.data.size();
            for (size_t cut = 1; cut <= n; cut += std::max<size_t>(1, n / 23)) {
                auto exact = std::make_unique<uint8_t[]>(cut);
                std::memcpy(exact.get(), au.data.data(), cut);
                if (cut > 8) exact[cut / 2] ^= 0x5A;
                int bytes = 0, w = 0, h = 0;
                RKPLAYER_DecodeFrame(&slot, exact.get(), int(cut), au.key ? 3 : 0, nullptr, &bytes, &w, &h);
            }
        }
        RKPLAYER_Uninitgpu(&slot);
        EXPECT_EQ(slot, nullptr);
    }
}

// Inputs the decode fuzzer found that ended the whole process inside
// libavcodec (a damaged H.265 unit whose tail, kept by the parser past the
// flush that ends a call, made the next call cut a picture of negative
// size). The player must answer each unit, and then still decode a sound
// stream; a second player beside it must not notice at all.
TEST(Offscreen, HostileUnitsFromTheFuzzerNeitherAbortNorStopThePlayer)
{
    // A sound stream of each codec, 64 x 48, three pictures.
    std::vector<EncodedVideo> sound;
    for (VideoCodec codec : {VideoCodec::kH264, VideoCodec::kH265}) {
        VideoSpec recipe;
        recipe.codec = codec;
        recipe.width = 64;
        recipe.height = 48;
        recipe.frames = 3;
        recipe.gop = 3;
        recipe.lossless = false;
        sound.push_back(EncodeVideo(recipe));
    }
    auto decodeSound = [&](RKPLAYER_HANDLE& slot, int videoType) {
        int shown = 0;
        for (const auto& au : sound[size_t(videoType)].units) {
            int bytes = 0, w = 0, h = 0;
            if (RKPLAYER_DecodeFrame(&slot, au.data.data(), int(au.data.size()), au.key ? 1 : 0, nullptr, &bytes, &w,
                                     &h) == 0 &&
                w == 64 && h == 48)
                ++shown;
        }
        return shown;
    };

    RKPLAYER_HANDLE neighbour = nullptr;
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&neighbour, 64, 48, 1, 25, 0), 0);
    ASSERT_EQ(RKPLAYER_OpenOffscreen(&neighbour), 0);

    // The last one is H.264 whose parameter set describes a 96 x 19712
    // picture: refused as a decode failure, never reported as its size.
    for (const char* name : {"decode-abort.bin", "decode-abort-full.bin", "decode-tall-picture.bin"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(VELMOR_MEDIA_TEST_DATA) + "/" + name, std::ios::binary);
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GT(input.size(), 2u);
        RKPLAYER_HANDLE slot = nullptr;
        ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 352, 288, input[0] & 1, 25, 0), 0);
        ASSERT_EQ(RKPLAYER_OpenOffscreen(&slot), 0);
        int units = 0;
        fuzz::ForEachDecodeUnit(input.data(), input.size(), [&](const uint8_t* unit, size_t length, bool key) {
            // Exactly as long as the unit, so a read past it is seen.
            auto exact = std::make_unique<uint8_t[]>(length);
            std::memcpy(exact.get(), unit, length);
            int bytes = 0, w = 0, h = 0;
            RKPLAYER_DecodeFrame(&slot, exact.get(), int(length), key ? 1 : 0, nullptr, &bytes, &w, &h);
            EXPECT_GE(w, 0);
            EXPECT_LE(w, 16384);
            EXPECT_LE(h, 16384);
            ++units;
        });
        EXPECT_GE(units, 2);
        int bytes = 0, w = 0, h = 0;
        RKPLAYER_DecodeFrame(&slot, nullptr, 0, 0, nullptr, &bytes, &w, &h);
        EXPECT_EQ(decodeSound(slot, input[0] & 1), 3) << "the same player decodes a sound stream afterwards";
        RKPLAYER_Uninitgpu(&slot);
        EXPECT_EQ(decodeSound(neighbour, 1), 3) << "the player beside it";
    }
    RKPLAYER_Uninitgpu(&neighbour);
}

}  // namespace
}  // namespace velmor::fixtures
