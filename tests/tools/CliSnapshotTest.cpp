// velmor-cli snapshot: the picture of the wanted second, in the format its
// name asks for, and the refusals.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <iterator>

#include "player/formats/IfvFile.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;

std::vector<uint8_t> Read(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class CliSnapshot : public ::testing::Test {
protected:
    void SetUp() override
    {
        VideoSpec recipe;
        recipe.width = 64;
        recipe.height = 48;
        recipe.frames = 100;  // four seconds, a key frame every second
        recipe.gop = 25;
        m_video = EncodeVideo(recipe);
        m_path = m_dir / "clip.ifv";
        FILEHANDLE* h = RK_OpenFile2(m_path.c_str(), 0, RK_FILE_MODE_WRITE);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(RK_FileSetVideoParam(h, 64, 48, 25.0f, 0), 0);
        ASSERT_EQ(RK_FileSetStartTime(h, kT0), 0);
        for (size_t i = 0; i < m_video.units.size(); ++i) {
            const auto& au = m_video.units[i];
            ASSERT_GT(RK_FileWriteVideoFrame(h, au.data.data(), uint32_t(au.data.size()), uint32_t(i) * 40,
                                             au.key ? 5 : 1, 0, nullptr),
                      0);
        }
        ASSERT_EQ(RK_CloseFile2(h), 0);
    }

    // Mean difference between the luma of a 24-bit BMP and a source picture.
    double LumaDistance(const std::vector<uint8_t>& bmp, const Picture& picture)
    {
        double sum = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const uint8_t* p = bmp.data() + 54 + size_t(47 - y) * 64 * 3 + size_t(x) * 3;
                const double luma = 16 + (0.257 * p[2] + 0.504 * p[1] + 0.098 * p[0]);
                sum += std::abs(luma - picture.yuv[size_t(y) * 64 + size_t(x)]);
            }
        return sum / (64 * 48);
    }

    CTempDir m_dir;
    std::filesystem::path m_path;
    EncodedVideo m_video;
};

TEST_F(CliSnapshot, ThePictureOfTheWantedSecond)
{
    const auto out = m_dir / "pics" / "at2.bmp";
    auto r = RunProgram("velmor-cli", {"snapshot", m_path.string(), "--at", std::to_string(kT0 + 2), "--out", out.string()}, {});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::parse(R"({"path":")" + out.string() + R"(","at":1765188002,"width":64,"height":48})"));
    const auto bmp = Read(out);
    ASSERT_EQ(bmp.size(), 54u + 64 * 48 * 3);
    // The first picture of second 2 is picture 50 (colour conversion leaves
    // a few levels of difference); its neighbours differ clearly.
    const double here = LumaDistance(bmp, m_video.pictures[50]);
    EXPECT_LT(here, 6.0);
    for (int other : {25, 49, 51, 75}) EXPECT_GT(LumaDistance(bmp, m_video.pictures[size_t(other)]), here + 4.0) << other;
}

TEST_F(CliSnapshot, FormatsByExtensionAndRefusals)
{
    for (const char* name : {"a.png", "a.JPG"}) {
        const auto out = m_dir / name;
        auto r = RunProgram("velmor-cli", {"snapshot", m_path.string(), "--at", std::to_string(kT0 + 1), "--out", out.string()}, {});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto bytes = Read(out);
        ASSERT_GT(bytes.size(), 8u);
        if (std::string(name) == "a.png")
            EXPECT_EQ(bytes[1], 'P');
        else
            EXPECT_EQ(bytes[0], 0xFF);
    }
    auto ext = RunProgram("velmor-cli", {"snapshot", m_path.string(), "--at", std::to_string(kT0), "--out", (m_dir / "a.gif").string()}, {});
    EXPECT_EQ(ext.exitCode, 2);
    auto late = RunProgram("velmor-cli", {"snapshot", m_path.string(), "--at", std::to_string(kT0 + 100), "--out", (m_dir / "b.png").string()}, {});
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_NE(late.err.find("no picture at second"), std::string::npos) << late.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "b.png"));
    std::ofstream(m_dir / "junk.ifv") << "junk";
    auto junk = RunProgram("velmor-cli", {"snapshot", (m_dir / "junk.ifv").string(), "--at", "1", "--out", (m_dir / "c.png").string()}, {});
    EXPECT_EQ(junk.exitCode, 1);
    for (const auto* r : {&ext, &late, &junk}) EXPECT_EQ(r->out, "");
}

}  // namespace
}  // namespace velmor::fixtures
