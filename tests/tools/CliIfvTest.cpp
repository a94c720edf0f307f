// velmor-cli on IFV files written by the player's own IFV writer.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "player/formats/IfvFile.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;

struct Written {
    const char* kind;
    int type;
    uint32_t ms;
    uint32_t length;
    uint32_t crc;
};

class CliIfv : public ::testing::Test {
protected:
    void SetUp() override
    {
        VideoSpec recipe;
        recipe.width = 96;
        recipe.height = 64;
        recipe.frames = 250;  // 10 s at 25 fps, a key frame every 3 s
        recipe.gop = 75;
        recipe.lossless = false;
        EncodedVideo video = EncodeVideo(recipe);
        m_path = m_dir / "clip.ifv";
        FILEHANDLE* h = RK_OpenFile2(m_path.c_str(), 0, RK_FILE_MODE_WRITE);
        ASSERT_NE(h, nullptr);
        // The header claims another size: the stream's own wins.
        ASSERT_EQ(RK_FileSetVideoParam(h, 352, 288, 25.0f, 0), 0);
        ASSERT_EQ(RK_FileSetAudioParam(h, 1, 16, 8000, 11, 320, 40), 0);
        ASSERT_EQ(RK_FileEnableAttach(h), 0);
        ASSERT_EQ(RK_FileSetStartTime(h, kT0), 0);
        auto voice = MakePayload(3, 320);
        auto info = MakePayload(4, 75);
        for (size_t i = 0; i < video.units.size(); ++i) {
            const uint32_t ms = uint32_t(i) * 40;
            const auto& au = video.units[i];
            const uint8_t type = au.key ? 5 : 1;
            ASSERT_GT(RK_FileWriteVideoFrame(h, au.data.data(), uint32_t(au.data.size()), ms, type,
                                             uint64_t(kT0) * 1000000 + ms * 1000ull, nullptr),
                      0);
            m_written.push_back({"video", type, ms, uint32_t(au.data.size()), Crc32(au.data.data(), au.data.size())});
            ASSERT_GT(RK_FileWriteAudioFrame(h, voice.data(), 320, ms, nullptr), 0);
            m_written.push_back({"audio", 0, ms, 320, Crc32(voice.data(), 320)});
            if (i % 25 == 0) {
                ASSERT_GT(RK_FileWriteAttachFrame(h, info.data(), 75, ms, nullptr), 0);
                m_written.push_back({"info", 0, ms, 75, Crc32(info.data(), 75)});
            }
        }
        ASSERT_EQ(RK_CloseFile2(h), 0);
    }
    CTempDir m_dir;
    std::filesystem::path m_path;
    std::vector<Written> m_written;
};

TEST_F(CliIfv, ProbeByNameAndByContent)
{
    EXPECT_EQ(json::parse(RunProgram("velmor-cli", {"probe", m_path.string()}).out)["kind"], "ifv_file");
    std::filesystem::copy_file(m_path, m_dir / "event.bin");
    EXPECT_EQ(json::parse(RunProgram("velmor-cli", {"probe", (m_dir / "event.bin").string()}).out)["kind"],
              "ifv_file");
}

TEST_F(CliIfv, Info)
{
    auto r = RunProgram("velmor-cli", {"info", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["format"], "ifv_file");
    EXPECT_EQ(j["begin"], kT0);
    EXPECT_EQ(j["end"], kT0 + 9);  // last timestamp 9960 ms
    EXPECT_EQ(j["width"], 96) << "the size from the stream's parameter set";
    EXPECT_EQ(j["height"], 64);
    EXPECT_EQ(j["codec"], "H.264");
    EXPECT_EQ(j["frame_rate"], 25) << "250 frames in 9 s: 27 rounded down to a multiple of 5";
    EXPECT_EQ(j["audio"], "G711A");
    EXPECT_EQ(j["video_frames"], 250);
}

TEST_F(CliIfv, FramesInTimeOrder)
{
    auto r = RunProgram("velmor-cli", {"frames", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), m_written.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        json j = json::parse(lines[i]);
        const Written& w = m_written[i];
        ASSERT_EQ(j["kind"], w.kind) << i;
        ASSERT_EQ(j["ms"], w.ms) << i;
        ASSERT_EQ(j["type"], w.type) << i;
        ASSERT_EQ(j["length"], w.length) << i;
        ASSERT_EQ(j["key"], w.type == 5) << i;
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", w.crc);
        ASSERT_EQ(j["crc32"], crc) << i;
    }
}

TEST_F(CliIfv, SeekLandsOnTheKeyFrameThatReachesTheSecond)
{
    // Key frames at 0, 3 and 6 s (and 9 s): second 5 is reached by 6 s - 1.6 s.
    auto r = RunProgram("velmor-cli", {"frames", m_path.string(), "--seek", std::to_string(kT0 + 5)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_FALSE(lines.empty());
    size_t firstVideo = 0;
    while (json::parse(lines[firstVideo])["kind"] != "video") ++firstVideo;
    json key = json::parse(lines[firstVideo]);
    EXPECT_EQ(key["ms"], 6000);
    EXPECT_EQ(key["key"], true);

    r = RunProgram("velmor-cli", {"frames", m_path.string(), "--seek", std::to_string(kT0 + 30)});
    EXPECT_EQ(r.exitCode, 1);
    r = RunProgram("velmor-cli", {"frames", m_path.string(), "--channel", "2"});
    EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
}  // namespace velmor::fixtures
