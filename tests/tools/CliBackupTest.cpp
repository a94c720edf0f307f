// velmor-cli on backup record files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <fstream>

#include "tests/support/BackupWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;

class CliBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        CBackupFileImage image(0x400000);
        RecordingParams p;
        p.channel = 6;
        p.encode = {1, 1, 1, 5, 30};
        p.carNumber = "\xD4\xC1" "B00042";
        CRecordWriter w(image, p);
        CSplitMix64 rng(9);
        std::vector<uint8_t> payload(200000);
        for (int i = 0; i < 900; ++i) {
            const uint64_t pts = uint64_t(kT0) * 1000000 + uint64_t(i) * 33333;
            const uint32_t len = rng.Range(3000, i % 30 == 0 ? 120000 : 20000);
            FillPayload(rng.Next(), payload.data(), len);
            ASSERT_EQ(w.WriteFrame(i % 30 == 0 ? 1 : 2, pts, payload.data(), len), WriteResult::kWritten);
            FillPayload(rng.Next(), payload.data(), 164);
            ASSERT_EQ(w.WriteFrame(4, pts, payload.data(), 164), WriteResult::kWritten);
        }
        w.Close();
        m_written = w.Written();
        m_offsets = image.Save(m_dir / "clip.rkrec");
        ASSERT_GE(m_offsets.size(), 3u);
    }
    CTempDir m_dir;
    std::vector<ExpectedFrame> m_written;
    std::vector<uint64_t> m_offsets;
};

TEST_F(CliBackup, ProbeByNameAndByContent)
{
    auto r = RunProgram("velmor-cli", {"probe", (m_dir / "clip.rkrec").string()});
    EXPECT_EQ(json::parse(r.out)["kind"], "backup_record_file");
    std::filesystem::copy_file(m_dir / "clip.rkrec", m_dir / "CH07_export.dat");
    r = RunProgram("velmor-cli", {"probe", (m_dir / "CH07_export.dat").string()});
    EXPECT_EQ(json::parse(r.out)["kind"], "backup_record_file");
    EXPECT_EQ(r.err, "") << "probing is quiet";
    std::ofstream(m_dir / "notes.dat") << std::string(5000, 'x');
    r = RunProgram("velmor-cli", {"probe", (m_dir / "notes.dat").string()});
    EXPECT_EQ(json::parse(r.out)["kind"], "unknown");
}

TEST_F(CliBackup, Info)
{
    auto r = RunProgram("velmor-cli", {"info", (m_dir / "clip.rkrec").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["format"], "backup_record_file");
    EXPECT_EQ(j["channels"], json({7}));
    EXPECT_EQ(j["begin"], kT0);
    EXPECT_EQ(j["end"], kT0 + 29);
    EXPECT_EQ(j["width"], 704);
    EXPECT_EQ(j["height"], 480);
    EXPECT_EQ(j["codec"], "H.264");
    EXPECT_EQ(j["frame_rate"], 30);
    EXPECT_EQ(j["audio"], "IMA");
    EXPECT_EQ(j["label"], "\xE7\xB2\xA4" "B00042");
    EXPECT_EQ(j["blocks"], m_offsets.size());
}

TEST_F(CliBackup, FramesInOrderAndAfterASeek)
{
    auto r = RunProgram("velmor-cli", {"frames", (m_dir / "clip.rkrec").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), m_written.size());
    for (size_t i = 0; i < lines.size(); i += 97) {
        json j = json::parse(lines[i]);
        EXPECT_EQ(j["pts"], m_written[i].pts);
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", m_written[i].crc32);
        EXPECT_EQ(j["crc32"], crc);
        EXPECT_EQ(j["ms"], (m_written[i].pts - uint64_t(kT0) * 1000000 + 999) / 1000);
    }
    r = RunProgram("velmor-cli", {"frames", (m_dir / "clip.rkrec").string(), "--seek", std::to_string(kT0 + 10),
                                  "--count", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json first = json::parse(Lines(r.out).at(0));
    EXPECT_EQ(first["type"], 1);
    EXPECT_EQ(first["pts"], uint64_t(kT0) * 1000000 + 330ull * 33333) << "the I frame whose second is 10";

    r = RunProgram("velmor-cli", {"frames", (m_dir / "clip.rkrec").string(), "--channel", "1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("holds channel 7 only"), std::string::npos);
}

TEST_F(CliBackup, TruncatedFileListsWhatItHoldsAndSaysSo)
{
    const auto cut = m_dir / "cut.rkrec";
    std::filesystem::copy_file(m_dir / "clip.rkrec", cut);
    ASSERT_EQ(::truncate(cut.c_str(), off_t(m_offsets[1] + 100000)), 0);
    auto r = RunProgram("velmor-cli", {"frames", cut.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_GT(Lines(r.out).size(), 100u);
    EXPECT_LT(Lines(r.out).size(), m_written.size());
    EXPECT_NE(r.err.find("unreadable frame at offset"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velmor::fixtures
