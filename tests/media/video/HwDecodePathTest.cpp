// Choosing the decoding path: the order of device types, giving one up at
// any stage, and a player that decodes a lost first picture again. Device
// types are imagined here (this machine has no graphics hardware).
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "media/src/RKPlay.h"
#include "media/src/video/HwDecodePath.h"
#include "tests/support/VideoCodec.h"

namespace rkmedia {
namespace {

using velmor::fixtures::EncodedVideo;
using velmor::fixtures::EncodeVideo;
using velmor::fixtures::VideoSpec;

using Modes = std::vector<HardwareMode>;

// ---- The order of device types -----------------------------------------------------

struct PlanCase {
    const char* name;
    std::optional<std::string> setting;  // VELMOR_HWDEC; none: not set
    Modes order;
    bool reason;  // a reason why no type is tried
};

// Cases print as their names (also in the test list).
void PrintTo(const PlanCase& c, std::ostream* os) { *os << c.name; }

class HwDecodePlan : public ::testing::TestWithParam<PlanCase> {};

TEST_P(HwDecodePlan, TypesToTry)
{
    const PlanCase& c = GetParam();
    const HwPlan plan = PlanHwDecode(c.setting ? c.setting->c_str() : nullptr);
    EXPECT_EQ(plan.order, c.order);
    EXPECT_EQ(!plan.reason.empty(), c.reason) << plan.reason;
    if (c.reason) {
        EXPECT_NE(plan.reason.find(*c.setting), std::string::npos) << "names the value";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, HwDecodePlan,
    ::testing::Values(PlanCase{"Unset", std::nullopt, {kHwVaapi, kHwCuda}, false},
                      PlanCase{"Empty", "", {kHwVaapi, kHwCuda}, false}, PlanCase{"None", "none", {}, false},
                      PlanCase{"NoneInCapitals", "NONE", {}, false}, PlanCase{"Vaapi", "vaapi", {kHwVaapi}, false},
                      PlanCase{"Cuda", "cuda", {kHwCuda}, false}, PlanCase{"CudaInCapitals", "Cuda", {kHwCuda}, false},
                      PlanCase{"Unknown", "d3d11va", {}, true}, PlanCase{"Padded", "cuda ", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Giving a type up at each stage ---------------------------------------------------

struct ChoiceCase {
    const char* name;
    const char* setting;
    std::set<HardwareMode> failToOpen;        // device or decoder
    std::set<HardwareMode> failFirstPicture;  // opens, but its first picture is lost
    Modes opened;                             // attempts in order, kHwNone for software
    HardwareMode path;
    std::vector<std::string> reasonMentions;  // empty: no reason
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.name; }

class HwDecodeChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(HwDecodeChoice, WalksTheTypesInOrder)
{
    const ChoiceCase& c = GetParam();
    Modes opened;
    auto attempt = [&](HardwareMode mode) -> std::string {
        opened.push_back(mode);
        return c.failToOpen.count(mode) ? "cannot create the device" : "";
    };
    CHwDecodePath path;
    path.Reset(c.setting, true);
    ASSERT_EQ(path.Open(attempt), "");
    while (path.OnTrial() && c.failFirstPicture.count(path.Mode()))
        ASSERT_EQ(path.GiveUp("its first picture does not reach system memory", attempt), "");
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(path.Mode(), c.path);
    EXPECT_EQ(path.Reason().empty(), c.reasonMentions.empty()) << path.Reason();
    for (const std::string& m : c.reasonMentions) EXPECT_NE(path.Reason().find(m), std::string::npos) << m;
    if (c.path != kHwNone) {
        EXPECT_TRUE(path.OnTrial());
        path.Proven();
        EXPECT_FALSE(path.OnTrial()) << "a path whose first picture came stays";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stages, HwDecodeChoice,
    ::testing::Values(
        ChoiceCase{"VaapiWorks", nullptr, {}, {}, {kHwVaapi}, kHwVaapi, {}},
        ChoiceCase{"VaapiFailsCudaIsTried", nullptr, {kHwVaapi}, {}, {kHwVaapi, kHwCuda}, kHwCuda, {}},
        ChoiceCase{"VaapiLosesItsFirstPictureCudaIsTried", nullptr, {}, {kHwVaapi}, {kHwVaapi, kHwCuda}, kHwCuda, {}},
        ChoiceCase{"CudaLosesItsFirstPictureSoftwareFollows",
                   nullptr,
                   {kHwVaapi},
                   {kHwCuda},
                   {kHwVaapi, kHwCuda, kHwNone},
                   kHwNone,
                   {"vaapi: cannot create", "cuda: its first picture"}},
        ChoiceCase{"BothFail", nullptr, {kHwVaapi, kHwCuda}, {}, {kHwVaapi, kHwCuda, kHwNone}, kHwNone,
                   {"vaapi:", "cuda:"}},
        ChoiceCase{"ForcedCudaSkipsVaapi", "cuda", {}, {}, {kHwCuda}, kHwCuda, {}},
        ChoiceCase{"ForcedCudaFailsToSoftware", "cuda", {kHwCuda}, {}, {kHwCuda, kHwNone}, kHwNone, {"cuda:"}},
        ChoiceCase{"ForcedVaapiLosesItsFirstPicture", "vaapi", {}, {kHwVaapi}, {kHwVaapi, kHwNone}, kHwNone,
                   {"vaapi: its first picture"}},
        ChoiceCase{"NoneIsSoftwareWithoutReason", "none", {kHwVaapi, kHwCuda}, {}, {kHwNone}, kHwNone, {}},
        ChoiceCase{"UnknownValueIsSoftwareWithReason", "dxva2", {}, {}, {kHwNone}, kHwNone, {"dxva2"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HwDecodeChoiceNoHardware, AnOffscreenPathIsSoftwareOnPurpose)
{
    CHwDecodePath path;
    path.Reset("cuda", false);
    Modes opened;
    EXPECT_EQ(path.Open([&](HardwareMode m) {
        opened.push_back(m);
        return std::string();
    }),
              "");
    EXPECT_EQ(opened, Modes{kHwNone});
    EXPECT_EQ(path.Reason(), "");
    EXPECT_STREQ(HwModeName(kHwNone), "none");
}

// ---- A player decoding through imagined devices -------------------------------------------

struct PlayerCase {
    const char* name;
    const char* setting;
    std::set<HardwareMode> failToCreate;
    std::set<HardwareMode> failTransfer;  // every transfer of that type fails
    std::set<HardwareMode> refuseStream;  // its pictures come in software
    Modes created;                        // device creation attempts in order
    HardwareMode path;
    std::vector<std::string> reasonMentions;
};

void PrintTo(const PlayerCase& c, std::ostream* os) { *os << c.name; }

// An imagined device: its "hardware" pictures are the decoder's own planar
// ones, and its transfer brings them to system memory as NV12, as devices do.
class HwPlayerFallThrough : public ::testing::TestWithParam<PlayerCase> {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("VELMOR_HWDEC")) m_saved = old;
        const char* setting = GetParam().setting;
        if (setting)
            setenv("VELMOR_HWDEC", setting, 1);
        else
            unsetenv("VELMOR_HWDEC");
        VideoSpec recipe;
        recipe.width = 64;
        recipe.height = 48;
        recipe.frames = 6;
        recipe.gop = 3;
        recipe.seed = 21;
        m_video = EncodeVideo(recipe);
    }
    void TearDown() override
    {
        if (m_saved)
            setenv("VELMOR_HWDEC", m_saved->c_str(), 1);
        else
            unsetenv("VELMOR_HWDEC");
    }

    HwDeviceOps ImaginedDevices()
    {
        const PlayerCase& c = GetParam();
        HwDeviceOps ops;
        ops.attach = [this, c](HardwareMode mode, AVCodecContext*, AVPixelFormat& hwFormat) -> std::string {
            m_created.push_back(mode);
            if (c.failToCreate.count(mode)) return "cannot create the device (imagined)";
            // A format the decoder never offers for this stream: it decodes in software.
            hwFormat = c.refuseStream.count(mode) ? AV_PIX_FMT_NV12 : AV_PIX_FMT_YUV420P;
            m_current = mode;
            return "";
        };
        ops.transfer = [this, c](AVFrame* dst, const AVFrame* src) {
            ++m_transfers;
            if (c.failTransfer.count(m_current)) return AVERROR(EIO);
            dst->format = AV_PIX_FMT_NV12;
            dst->width = src->width;
            dst->height = src->height;
            if (av_frame_get_buffer(dst, 0) < 0) return AVERROR(ENOMEM);
            for (int y = 0; y < src->height; ++y)
                std::memcpy(dst->data[0] + y * dst->linesize[0], src->data[0] + y * src->linesize[0],
                            size_t(src->width));
            for (int y = 0; y < src->height / 2; ++y)
                for (int x = 0; x < src->width / 2; ++x) {
                    dst->data[1][y * dst->linesize[1] + 2 * x] = src->data[1][y * src->linesize[1] + x];
                    dst->data[1][y * dst->linesize[1] + 2 * x + 1] = src->data[2][y * src->linesize[2] + x];
                }
            return 0;
        };
        return ops;
    }

    // The player's last picture as I420 without padding.
    static std::vector<uint8_t> Planar(const AVFrame* p)
    {
        std::vector<uint8_t> out;
        if (!p) return out;
        const int w = p->width, h = p->height;
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = p->data[0] + y * p->linesize[0];
            out.insert(out.end(), row, row + w);
        }
        for (int plane : {0, 1})
            for (int y = 0; y < h / 2; ++y)
                for (int x = 0; x < w / 2; ++x)
                    out.push_back(p->format == AV_PIX_FMT_NV12 ? p->data[1][y * p->linesize[1] + 2 * x + plane]
                                                               : p->data[1 + plane][y * p->linesize[1 + plane] + x]);
        return out;
    }

    std::optional<std::string> m_saved;
    EncodedVideo m_video;
    Modes m_created;
    HardwareMode m_current = kHwNone;
    int m_transfers = 0;
};

TEST_P(HwPlayerFallThrough, EveryPictureDecodesOnThePathThatWorks)
{
    const PlayerCase& c = GetParam();
    CRKPlay player;
    ASSERT_EQ(player.RKPLAY_InitVideoParam(64, 48, 0, 25), 0);
    player.SetHwDeviceOps(ImaginedDevices());
    ASSERT_EQ(player.OpenOffscreen(true), 0);
    for (size_t i = 0; i < m_video.units.size(); ++i) {
        const auto& au = m_video.units[i];
        ASSERT_EQ(player.DecodeOneFrame(au.data.data(), int(au.data.size()), au.key, nullptr, nullptr, nullptr), 0)
            << i;
        // Lossless: the picture shown is the one encoded, the first included.
        ASSERT_EQ(Planar(player.LastPicture()), m_video.pictures[i].yuv) << "picture " << i;
        EXPECT_EQ(player.LastPicture()->format, c.path == kHwNone ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_NV12) << i;
    }
    EXPECT_EQ(m_created, c.created);
    const HwDecodeState state = player.HwState();
    EXPECT_EQ(state.mode, c.path);
    EXPECT_EQ(state.reason.empty(), c.reasonMentions.empty()) << state.reason;
    for (const std::string& m : c.reasonMentions) EXPECT_NE(state.reason.find(m), std::string::npos) << m;
    // The surviving path transfers each picture once; a lost first picture
    // cost each failed type one transfer.
    const int lost = int(c.failTransfer.size());
    EXPECT_EQ(m_transfers, (c.path == kHwNone ? 0 : int(m_video.units.size())) + lost);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, HwPlayerFallThrough,
    ::testing::Values(
        PlayerCase{"VaapiWorks", nullptr, {}, {}, {}, {kHwVaapi}, kHwVaapi, {}},
        PlayerCase{"VaapiFailsCudaIsTried", nullptr, {kHwVaapi}, {}, {}, {kHwVaapi, kHwCuda}, kHwCuda, {}},
        PlayerCase{"CudaLosesItsFirstPictureSoftwareDecodesItAgain",
                   nullptr,
                   {kHwVaapi},
                   {kHwCuda},
                   {},
                   {kHwVaapi, kHwCuda},
                   kHwNone,
                   {"vaapi: cannot create", "cuda: its first picture does not reach system memory"}},
        PlayerCase{"VaapiLosesItsFirstPictureCudaDecodesItAgain", nullptr, {}, {kHwVaapi}, {}, {kHwVaapi, kHwCuda},
                   kHwCuda, {}},
        PlayerCase{"VaapiRefusesTheStreamCudaTakesIt", nullptr, {}, {}, {kHwVaapi}, {kHwVaapi, kHwCuda}, kHwCuda, {}},
        PlayerCase{"ForcedCudaSkipsVaapi", "cuda", {}, {}, {}, {kHwCuda}, kHwCuda, {}},
        PlayerCase{"ForcedVaapiFailsToSoftware", "vaapi", {kHwVaapi}, {}, {}, {kHwVaapi}, kHwNone, {"vaapi:"}},
        PlayerCase{"NoneTriesNoDevice", "none", {}, {}, {}, {}, kHwNone, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rkmedia
