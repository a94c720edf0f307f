// velmor-cli on grec files written by the grec writer, read through the
// grec reader plugin as the player loads it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <tuple>

#include "tests/support/GrecWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

class CliGrec : public ::testing::Test {
protected:
    void SetUp() override
    {
        GrecLayout layout;
        layout.width = 96;
        layout.height = 64;
        layout.originUs = uint64_t(kT0) * 1000000;
        layout.audioEncoding = 8;
        layout.withInfoTrack = true;
        layout.terminal = "T-7";
        layout.vehicle = "KA-123";
        m_frames = MakeGrecClipFrames(layout, 8, 75);  // key frames at 0, 3 and 6 s
        std::stable_sort(m_frames.begin(), m_frames.end(), [](const GrecWriteFrame& a, const GrecWriteFrame& b) {
            return std::tie(a.ms, a.kind) < std::tie(b.ms, b.kind);
        });
        WriteGrecFile(m_path, layout, m_frames);
    }

    CTempDir m_dir;
    std::filesystem::path m_path = m_dir / "bus.grec";
    std::vector<GrecWriteFrame> m_frames;
};

TEST_F(CliGrec, ProbeAndInfo)
{
    EXPECT_EQ(json::parse(RunProgram("velmor-cli", {"probe", m_path.string()}).out)["kind"], "grec_file");
    auto r = RunProgram("velmor-cli", {"info", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["format"], "grec_file");
    EXPECT_EQ(j["begin"], kT0);
    EXPECT_EQ(j["end"], kT0 + 8);
    EXPECT_EQ(j["begin_text"], "2025-12-08 10:00:00");
    EXPECT_EQ(j["channels"], json::array({1}));
    EXPECT_EQ(j["width"], 96);
    EXPECT_EQ(j["height"], 64);
    EXPECT_EQ(j["codec"], "H.264");
    EXPECT_EQ(j["frame_rate"], 25);
    EXPECT_EQ(j["audio"], "G711A");
    EXPECT_EQ(j["label"], "KA-123");
    EXPECT_EQ(j["terminal"], "T-7");
    EXPECT_EQ(j["attached_info"], true);
}

TEST_F(CliGrec, FramesAreTheWrittenOnes)
{
    auto r = RunProgram("velmor-cli", {"frames", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), m_frames.size());
    static const char* const kKinds[] = {"video", "audio", "info"};
    for (size_t i = 0; i < lines.size(); ++i) {
        const json j = json::parse(lines[i]);
        const GrecWriteFrame& w = m_frames[i];
        ASSERT_EQ(j["kind"], kKinds[w.kind]) << i;
        ASSERT_EQ(j["ms"], w.ms) << i;
        ASSERT_EQ(j["pts"], (uint64_t(kT0) * 1000 + w.ms) * 1000) << i;
        ASSERT_EQ(j["key"], w.kind == GrecWriteFrame::kVideo && w.key) << i;
        if (w.kind != GrecWriteFrame::kVideo) {
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", Crc32(w.data.data(), w.data.size()));
            ASSERT_EQ(j["crc32"], crc) << i;
            ASSERT_EQ(j["length"], w.data.size()) << i;
        }
    }
}

TEST_F(CliGrec, SeekAndCount)
{
    auto r = RunProgram("velmor-cli", {"frames", m_path.string(), "--seek", std::to_string(kT0 + 5), "--count", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u);
    const json key = json::parse(lines[0]);
    EXPECT_EQ(key["kind"], "video");
    EXPECT_EQ(key["key"], true);
    EXPECT_EQ(key["ms"], 3000);
    r = RunProgram("velmor-cli", {"frames", m_path.string(), "--seek", std::to_string(kT0 + 30)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    r = RunProgram("velmor-cli", {"frames", m_path.string(), "--channel", "2"});
    EXPECT_EQ(r.exitCode, 1);
}

TEST_F(CliGrec, ListGivesOneSingleFileRecord)
{
    auto r = RunProgram("velmor-cli", {"list", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["kind"], 3);
    EXPECT_EQ(j[0]["channel"], 1);
    EXPECT_EQ(j[0]["begin"], kT0);
    EXPECT_EQ(j[0]["end"], kT0 + 8);
    EXPECT_EQ(j[0]["path"], m_path.string());
}

TEST_F(CliGrec, ExportCutsTheSpanToMp4)
{
    const auto out = m_dir / "out";
    auto r = RunProgram("velmor-cli", {"export", m_path.string(), "--from", std::to_string(kT0 + 4), "--to",
                                       std::to_string(kT0 + 7), "--out", out.string(), "--format", "mp4", "--audio"},
                        {{"VELMOR_PROFILE_DIR", (m_dir / "profile").string()}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json doc = json::parse(r.out);
    const auto verified = RunProgram("velmor-cli", {"verify", doc["report"].get<std::string>()});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_EQ(json::parse(verified.out)["signature"], "valid");
    ASSERT_EQ(doc["files"].size(), 1u);
    const std::filesystem::path file = doc["files"][0].get<std::string>();
    EXPECT_EQ(file, out / "2025-12-08" / "AV1_100004_100007_T0C0_100004.mp4");
    EXPECT_GT(std::filesystem::file_size(file), 1000u);
    // From the key frame of 3 s to the last picture of second 7, with sound.
    AVFormatContext* mp4 = nullptr;
    ASSERT_EQ(avformat_open_input(&mp4, file.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(mp4, nullptr), 0);
    int videoIndex = -1, audioIndex = -1;
    for (unsigned i = 0; i < mp4->nb_streams; ++i) {
        if (mp4->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) videoIndex = int(i);
        if (mp4->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) audioIndex = int(i);
    }
    ASSERT_GE(videoIndex, 0);
    EXPECT_GE(audioIndex, 0);
    EXPECT_EQ(mp4->streams[videoIndex]->codecpar->codec_id, AV_CODEC_ID_H264);
    EXPECT_EQ(mp4->streams[videoIndex]->codecpar->width, 96);
    AVPacket* pkt = av_packet_alloc();
    int pictures = 0;
    bool firstKey = false;
    while (av_read_frame(mp4, pkt) >= 0) {
        if (pkt->stream_index == videoIndex) {
            if (pictures == 0) firstKey = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
            ++pictures;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&mp4);
    EXPECT_TRUE(firstKey);
    EXPECT_EQ(pictures, 125);  // 3.00 s to 7.96 s at 25 a second
}

TEST_F(CliGrec, DamagedGrecFilesAreOneErrorLine)
{
    std::ofstream(m_dir / "junk.grec") << "not a grec file";
    for (const char* command : {"info", "frames", "list"}) {
        auto r = RunProgram("velmor-cli", {command, (m_dir / "junk.grec").string()});
        EXPECT_EQ(r.exitCode, 1) << command;
        EXPECT_TRUE(r.out.empty()) << command;
        EXPECT_EQ(r.err.rfind("velmor-cli: " + (m_dir / "junk.grec").string() + ": ", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace velmor::fixtures
