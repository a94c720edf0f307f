// The decoding path seen from outside: a forced device type this machine
// lacks still shows every picture, in software, and says why; and NV12
// pictures, as hardware paths deliver them, look on screen as the software
// path's planar ones do.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/hwcontext.h>
}

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "media/include/rkmedia.h"
#include "media/src/MediaGlobals.h"
#include "media/src/video/SdlPresenter.h"
#include "tests/media/video/DisplayTestUtil.h"
#include "tests/support/LogCapture.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

bool Bt709(int w, int h) { return SDL_GetYUVConversionModeForResolution(w, h) == SDL_YUV_CONVERSION_BT709; }

// ---- A forced path -----------------------------------------------------------------

struct ForcedCase {
    const char* name;
    const char* setting;  // VELMOR_HWDEC
    const char* mention;  // what the reason names when software follows a failure; null: no reason
};

void PrintTo(const ForcedCase& c, std::ostream* os) { *os << c.name; }

class ForcedHwDecode : public ::testing::TestWithParam<ForcedCase> {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("VELMOR_HWDEC")) m_saved = old;
        setenv("VELMOR_HWDEC", GetParam().setting, 1);
    }
    void TearDown() override
    {
        if (m_saved)
            setenv("VELMOR_HWDEC", m_saved->c_str(), 1);
        else
            unsetenv("VELMOR_HWDEC");
    }
    // Whether this machine has the device the setting names: the test's
    // own look, so that it holds on a machine with one too.
    static bool DeviceHere(const char* name)
    {
        const AVHWDeviceType type = av_hwdevice_find_type_by_name(name);
        if (type == AV_HWDEVICE_TYPE_NONE) return false;
        AVBufferRef* device = nullptr;
        if (av_hwdevice_ctx_create(&device, type, nullptr, nullptr, 0) < 0) return false;
        av_buffer_unref(&device);
        return true;
    }
    std::optional<std::string> m_saved;
};

TEST_P(ForcedHwDecode, EveryPictureIsShownAndThePathSaysWhy)
{
    const ForcedCase& c = GetParam();
    VideoSpec recipe;
    recipe.width = 320;
    recipe.height = 240;
    recipe.frames = 4;
    recipe.gop = 2;
    recipe.seed = 31;
    const EncodedVideo video = EncodeVideo(recipe);
    CXWindow window(320, 240);
    CLogCapture log(RKPLAYER_SetLogCallback);
    log.Start();
    RKPLAYER_HANDLE slot = nullptr;
    ASSERT_EQ(RKPLAYER_InitVideoDecoder(&slot, 320, 240, 0, 25, 1), 0);
    ASSERT_EQ(RKPLAYER_SetShowWnd(&slot, window.Handle(), 1), 0);
    for (size_t i = 0; i < video.units.size(); ++i) {
        const auto& au = video.units[i];
        ASSERT_EQ(RKPLAYER_DecodeFrame(&slot, au.data.data(), int(au.data.size()), au.key ? 3 : 0, nullptr, nullptr,
                                       nullptr, nullptr),
                  0)
            << i;
        ASSERT_EQ(RKPLAYER_ShowLastFrame(&slot), 0);
        EXPECT_LT(MeanDiff(window.Grab(), ToRgb(video.pictures[i].yuv, 320, 240, Bt709(320, 240)), 0, 0, 320, 240),
                  2.0)
            << "picture " << i;
    }
    RKPLAYER_HWDEC_PATH path;
    std::memset(&path, 'x', sizeof path);
    ASSERT_EQ(RKPLAYER_GetHwDecodePath(&slot, &path), 0);
    const std::string logged = log.Take();
    const bool hardware = c.mention && DeviceHere(c.setting);
    EXPECT_STREQ(path.name, hardware ? c.setting : "none");
    const std::string reason = path.reason;
    if (!c.mention || hardware) {
        EXPECT_EQ(reason, "");
    } else {
        EXPECT_NE(reason.find(c.mention), std::string::npos) << reason;
        EXPECT_NE(logged.find(reason), std::string::npos) << "the reason is logged too: " << logged;
    }
    RKPLAYER_Uninitgpu(&slot);
    EXPECT_EQ(RKPLAYER_GetHwDecodePath(&slot, &path), -1) << "no player";
}

INSTANTIATE_TEST_SUITE_P(Settings, ForcedHwDecode,
                         ::testing::Values(ForcedCase{"Vaapi", "vaapi", "vaapi: "},
                                           ForcedCase{"Cuda", "cuda", "cuda: "}, ForcedCase{"None", "none", nullptr},
                                           ForcedCase{"Unknown", "d3d11va", "VELMOR_HWDEC=\"d3d11va\""}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- NV12 pictures on screen ------------------------------------------------------------

struct Nv12Case {
    const char* name;
    int w, h;
    bool softwareScaling;  // libswscale converts, or SDL through an NV12 texture
};

void PrintTo(const Nv12Case& c, std::ostream* os) { *os << c.name; }

class Nv12Presenter : public ::testing::TestWithParam<Nv12Case> {
protected:
    // The picture as the software path keeps it (planar) and as a hardware
    // path's transfer delivers it (NV12).
    static rkmedia::ff::FramePtr Frame(const Picture& p, bool nv12)
    {
        rkmedia::ff::FramePtr f(av_frame_alloc());
        f->format = nv12 ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
        f->width = p.width;
        f->height = p.height;
        if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
        const int w = p.width, h = p.height, cw = w / 2, ch = h / 2;
        const uint8_t* Y = p.yuv.data();
        const uint8_t* U = Y + w * h;
        const uint8_t* V = U + cw * ch;
        for (int y = 0; y < h; ++y) std::memcpy(f->data[0] + y * f->linesize[0], Y + y * w, size_t(w));
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                if (nv12) {
                    f->data[1][y * f->linesize[1] + 2 * x] = U[y * cw + x];
                    f->data[1][y * f->linesize[1] + 2 * x + 1] = V[y * cw + x];
                } else {
                    f->data[1][y * f->linesize[1] + x] = U[y * cw + x];
                    f->data[2][y * f->linesize[2] + x] = V[y * cw + x];
                }
            }
        return f;
    }
};

TEST_P(Nv12Presenter, LooksAsThePlanarPictureDoes)
{
    const Nv12Case& c = GetParam();
    const Picture picture = MakeTestPicture(c.w, c.h, 3, 41);
    const rkmedia::ff::FramePtr planar = Frame(picture, false), nv12 = Frame(picture, true);
    ASSERT_TRUE(planar && nv12);
    CXWindow window(c.w, c.h);
    rkmedia::CSdlPresenter presenter;
    presenter.AllowSoftwareScaling(c.softwareScaling);
    {
        std::lock_guard process(rkmedia::ProcessLock());
        ASSERT_TRUE(presenter.Bind(window.Handle()));
    }
    ASSERT_EQ(presenter.ShowAndWait(planar.get(), 0, ""), 0);
    const Rgb software = window.Grab();
    ASSERT_EQ(presenter.ShowAndWait(nv12.get(), 0, ""), 0);
    const Rgb hardware = window.Grab();
    presenter.Release();
    const Rgb wanted = ToRgb(picture.yuv, c.w, c.h, Bt709(c.w, c.h));
    EXPECT_LT(MeanDiff(hardware, wanted, 0, 0, c.w, c.h), 2.0);
    EXPECT_LT(MeanDiff(hardware, software, 0, 0, c.w, c.h), 1.0) << "the same picture either way";
}

INSTANTIATE_TEST_SUITE_P(Ways, Nv12Presenter,
                         ::testing::Values(Nv12Case{"Texture320x240", 320, 240, false},
                                           Nv12Case{"Texture1280x720", 1280, 720, false},
                                           Nv12Case{"Scaled320x240", 320, 240, true},
                                           Nv12Case{"Scaled1280x720", 1280, 720, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor::fixtures
