// Key frames of real encoder output, in the profiles those encoders make: the
// size read from the frame is the size the reference tools show for the
// stream, and the fields that lead to it were read along the intended road.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "media/include/rkmedia.h"
#include "media/src/SpsParser.h"
#include "tests/media/SpsWriter.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

struct StreamCase {
    const char* name;
    VideoCodec codec;
    int width, height;
    const char* pixelFormat = "yuv420p";
    std::string params = "";
    bool lossless = false;
    // What the stream's parameter set must hold, so that each case keeps
    // exercising the syntax it is here for.
    uint32_t chromaFormat = 1;
    uint32_t bitDepth = 8;
    bool frameMbsOnly = true;
    uint32_t subLayers = 1;
    uint32_t profile = 0;  // 0: any
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

std::pair<int, int> Probe(const std::filesystem::path& file)
{
    ProcessResult r = RunProgram("/usr/bin/ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                                      "stream=width,height", "-of", "csv=p=0", file.string()});
    int w = 0, h = 0;
    if (r.exitCode != 0 || std::sscanf(r.out.c_str(), "%d,%d", &w, &h) != 2) {
        ADD_FAILURE() << "ffprobe: " << r.exitCode << " " << r.out << r.err;
        return {0, 0};
    }
    return {w, h};
}

int RoundUp(int v, int to) { return (v + to - 1) / to * to; }

class SpsStream : public ::testing::TestWithParam<StreamCase> {};

TEST_P(SpsStream, KeyFramesGiveTheShownSizeAndOtherFramesNone)
{
    const StreamCase& c = GetParam();
    VideoSpec recipe;
    recipe.codec = c.codec;
    recipe.width = c.width;
    recipe.height = c.height;
    recipe.frames = 3;
    recipe.gop = 2;
    recipe.lossless = c.lossless;
    recipe.pixelFormat = c.pixelFormat;
    recipe.encoderParams = c.params;
    const EncodedVideo video = EncodeVideo(recipe);
    ASSERT_EQ(video.units.size(), 3u);
    ASSERT_TRUE(video.units[0].key);
    ASSERT_TRUE(std::any_of(video.units.begin(), video.units.end(), [](const AccessUnit& u) { return !u.key; }));

    const bool hevc = c.codec == VideoCodec::kH265;
    CTempDir dir("velmor-sps");
    const auto file = dir / (hevc ? "stream.h265" : "stream.h264");
    {
        std::ofstream os(file, std::ios::binary);
        for (const auto& u : video.units) os.write(reinterpret_cast<const char*>(u.data.data()), long(u.data.size()));
    }
    const auto [probeWidth, probeHeight] = Probe(file);
    EXPECT_EQ(probeWidth, c.width);
    EXPECT_EQ(probeHeight, c.height);

    for (size_t i = 0; i < video.units.size(); ++i) {
        // An exact-size copy, so that a read past the frame's end is caught.
        const std::vector<uint8_t> unit = video.units[i].data;
        uint16_t w = 0xBEEF, h = 0xBEEF;
        const int rc = RKPLAYER_GetWidthAndHeightByIFrame(hevc ? 1 : 0, unit.data(), int(unit.size()), &w, &h);
        if (video.units[i].key) {
            ASSERT_EQ(rc, 1) << "unit " << i;
            EXPECT_EQ(w, probeWidth) << "unit " << i;
            EXPECT_EQ(h, probeHeight) << "unit " << i;
        } else {
            EXPECT_EQ(rc, 0) << "unit " << i;
            EXPECT_EQ(w, 0xBEEF);
            EXPECT_EQ(h, 0xBEEF);
        }
    }

    const auto& key = video.units[0].data;
    const std::optional<rkmedia::CSpsInfo> sps = rkmedia::FindSps(hevc ? 1 : 0, key.data(), key.size());
    ASSERT_TRUE(sps.has_value());
    EXPECT_EQ(sps->chromaFormatIdc, c.chromaFormat);
    EXPECT_EQ(sps->bitDepthLuma, c.bitDepth);
    EXPECT_EQ(sps->bitDepthChroma, c.bitDepth);
    if (c.profile) {
        EXPECT_EQ(sps->profileIdc, c.profile);
    }
    if (hevc) {
        EXPECT_EQ(sps->maxSubLayers, c.subLayers);
    } else {
        EXPECT_EQ(sps->frameMbsOnly, c.frameMbsOnly);
        EXPECT_EQ(int(sps->codedWidth), RoundUp(c.width, 16));
        EXPECT_EQ(int(sps->codedHeight), RoundUp(c.height, c.frameMbsOnly ? 16 : 32));
    }
}

// libx264 sends its quantiser matrices in the picture parameter set, so no
// encoder here writes scaling lists into a sequence parameter set. Splice
// them into the encoder's own set instead, every other field kept, and let
// the reference tools read the result.
std::vector<uint8_t> WithScalingLists(const std::vector<uint8_t>& unit, const std::vector<std::optional<ScalingList>>& lists)
{
    // The set is the first unit, behind a four-byte start code.
    const std::vector<uint8_t> next = {0, 0, 1};
    const size_t start = 4;
    const size_t end = size_t(std::search(unit.begin() + start, unit.end(), next.begin(), next.end()) - unit.begin());
    if (unit.size() < 8 || unit[4] != 0x67 || end >= unit.size()) throw std::runtime_error("no set in front");
    size_t setEnd = end;
    while (setEnd > start && unit[setEnd - 1] == 0) --setEnd;  // a zero byte of the next start code
    const std::vector<uint8_t> rbsp = rkmedia::NalPayloadToRbsp(unit.data() + start + 1, setEnd - start - 1);
    rkmedia::CBitReader in(rbsp.data(), rbsp.size());
    CBitWriter out;
    auto copy = [&](size_t bits) {
        for (size_t i = 0; i < bits; ++i) out.Flag(in.ReadFlag());
    };
    auto copyUE = [&] {
        const uint32_t v = in.ReadUE();
        out.UE(v);
        return v;
    };
    copy(24);
    copyUE();
    if (copyUE() == 3) copy(1);
    copyUE();
    copyUE();
    copy(1);
    if (in.ReadFlag()) throw std::runtime_error("set has lists already");
    out.Flag(true);
    for (const auto& list : lists) {
        out.Flag(list.has_value());
        if (list) WriteScalingList(out, *list);
    }
    // Everything else up to the stop bit, which Rbsp() writes anew.
    size_t last = rbsp.size() * 8;
    while (last > 0 && !((rbsp[(last - 1) / 8] >> (7 - (last - 1) % 8)) & 1)) --last;
    copy(last - 1 - (rbsp.size() * 8 - in.BitsLeft()));
    return Cat({{unit.begin(), unit.begin() + long(start)}, {0x67}, Escape(out.Rbsp()),
                {unit.begin() + long(setEnd), unit.end()}});
}

struct ListsCase {
    const char* name;
    int width, height;
    const char* pixelFormat;
    int lists;
};

void PrintTo(const ListsCase& c, std::ostream* os) { *os << c.name; }

class SpsScalingLists : public ::testing::TestWithParam<ListsCase> {};

TEST_P(SpsScalingLists, SplicedIntoARealSetAgreeWithTheReferenceTools)
{
    const ListsCase& c = GetParam();
    VideoSpec recipe;
    recipe.width = c.width;
    recipe.height = c.height;
    recipe.frames = 2;
    recipe.gop = 2;
    recipe.pixelFormat = c.pixelFormat;
    EncodedVideo video = EncodeVideo(recipe);
    ScalingList wrap4, ramp8, tail8;
    for (int i = 0; i < 16; ++i) wrap4.push_back(i % 2 ? 250 - i : 2 + i);
    for (int i = 0; i < 64; ++i) ramp8.push_back(6 + 3 * i);
    for (int i = 0; i < 64; ++i) tail8.push_back(i < 12 ? 16 + 17 * i : 203);  // climbs, then a repeat code that wraps
    std::vector<std::optional<ScalingList>> lists = {wrap4, ScalingList{}, std::nullopt, wrap4, std::nullopt,
                                                     ScalingList{}, ramp8, tail8, ScalingList{}, std::nullopt,
                                                     tail8, ramp8};
    lists.resize(size_t(c.lists));
    video.units[0].data = WithScalingLists(video.units[0].data, lists);

    CTempDir dir("velmor-sps");
    const auto file = dir / "stream.h264";
    {
        std::ofstream os(file, std::ios::binary);
        for (const auto& u : video.units) os.write(reinterpret_cast<const char*>(u.data.data()), long(u.data.size()));
    }
    EXPECT_EQ(Probe(file), std::make_pair(c.width, c.height));
    const std::vector<uint8_t> key = video.units[0].data;
    uint16_t w = 0, h = 0;
    ASSERT_EQ(RKPLAYER_GetWidthAndHeightByIFrame(0, key.data(), int(key.size()), &w, &h), 1);
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    const auto sps = rkmedia::FindSps(0, key.data(), key.size());
    ASSERT_TRUE(sps);
    EXPECT_TRUE(sps->scalingMatrixPresent);
}

INSTANTIATE_TEST_SUITE_P(H264, SpsScalingLists,
                         ::testing::Values(ListsCase{"Eight1278x718", 1278, 718, "yuv420p", 8},
                                           ListsCase{"Twelve444Odd351x287", 351, 287, "yuv444p", 12}));

using enum VideoCodec;

// clang-format off
INSTANTIATE_TEST_SUITE_P(H264, SpsStream, ::testing::Values(
    StreamCase{.name = "Baseline64x48", .codec = kH264, .width = 64, .height = 48, .profile = 66},
    StreamCase{.name = "Lossless176x144", .codec = kH264, .width = 176, .height = 144, .lossless = true,
               .profile = 244},
    StreamCase{.name = "Baseline350x286", .codec = kH264, .width = 350, .height = 286},
    StreamCase{.name = "Baseline642x362", .codec = kH264, .width = 642, .height = 362},
    StreamCase{.name = "Baseline720x576", .codec = kH264, .width = 720, .height = 576},
    StreamCase{.name = "Baseline1280x720", .codec = kH264, .width = 1280, .height = 720},
    StreamCase{.name = "Baseline1278x718", .codec = kH264, .width = 1278, .height = 718},
    StreamCase{.name = "Baseline1920x1080", .codec = kH264, .width = 1920, .height = 1080},
    StreamCase{.name = "Interlaced1920x1080", .codec = kH264, .width = 1920, .height = 1080,
               .params = "interlaced=1", .frameMbsOnly = false},
    StreamCase{.name = "Interlaced640x360", .codec = kH264, .width = 640, .height = 360,
               .params = "interlaced=1", .frameMbsOnly = false},
    StreamCase{.name = "High444Odd351x287", .codec = kH264, .width = 351, .height = 287,
               .pixelFormat = "yuv444p", .chromaFormat = 3, .profile = 244},
    StreamCase{.name = "Lossless444_642x362", .codec = kH264, .width = 642, .height = 362,
               .pixelFormat = "yuv444p", .lossless = true, .chromaFormat = 3, .profile = 244},
    StreamCase{.name = "High422_350x286", .codec = kH264, .width = 350, .height = 286,
               .pixelFormat = "yuv422p", .chromaFormat = 2, .profile = 122},
    StreamCase{.name = "High10_1278x718", .codec = kH264, .width = 1278, .height = 718,
               .pixelFormat = "yuv420p10le", .bitDepth = 10, .profile = 110},
    StreamCase{.name = "MonochromeOdd351x287", .codec = kH264, .width = 351, .height = 287,
               .pixelFormat = "gray", .chromaFormat = 0, .profile = 100}));

INSTANTIATE_TEST_SUITE_P(H265, SpsStream, ::testing::Values(
    StreamCase{.name = "Main64x48", .codec = kH265, .width = 64, .height = 48, .profile = 1},
    StreamCase{.name = "Lossless176x144", .codec = kH265, .width = 176, .height = 144, .lossless = true},
    StreamCase{.name = "Main350x286", .codec = kH265, .width = 350, .height = 286},
    StreamCase{.name = "Main642x362", .codec = kH265, .width = 642, .height = 362},
    StreamCase{.name = "Main720x576", .codec = kH265, .width = 720, .height = 576},
    StreamCase{.name = "Main1280x720", .codec = kH265, .width = 1280, .height = 720},
    StreamCase{.name = "Main1278x718", .codec = kH265, .width = 1278, .height = 718},
    StreamCase{.name = "Main1920x1080", .codec = kH265, .width = 1920, .height = 1080},
    StreamCase{.name = "TemporalSubLayers642x362", .codec = kH265, .width = 642, .height = 362,
               .params = "bframes=2:temporal-layers=1", .subLayers = 2},
    StreamCase{.name = "Main10_1278x718", .codec = kH265, .width = 1278, .height = 718,
               .pixelFormat = "yuv420p10le", .bitDepth = 10, .profile = 2},
    StreamCase{.name = "Rext444Odd351x287", .codec = kH265, .width = 351, .height = 287,
               .pixelFormat = "yuv444p", .chromaFormat = 3, .profile = 4},
    StreamCase{.name = "Rext422_10_350x286", .codec = kH265, .width = 350, .height = 286,
               .pixelFormat = "yuv422p10le", .chromaFormat = 2, .bitDepth = 10, .profile = 4},
    StreamCase{.name = "MonochromeOdd351x287", .codec = kH265, .width = 351, .height = 287,
               .pixelFormat = "gray", .chromaFormat = 0, .profile = 4}));
// clang-format on

}  // namespace
}  // namespace velmor::fixtures
