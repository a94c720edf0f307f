// The frame source over grec files: the one reader the play loop, the clip
// cutter and velmor-cli share, here reading through the grec plugin.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <tuple>

#include "player/playback/FrameSource.h"
#include "player/playback/StreamRules.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

using namespace fixtures;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

class GrecSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        GrecLayout layout;
        layout.width = 80;
        layout.height = 48;
        layout.originUs = uint64_t(kT0) * 1000000;
        layout.audioEncoding = 3;
        layout.rateCode = 4;
        layout.withInfoTrack = true;
        m_frames = MakeGrecClipFrames(layout, 6, 50);  // key frames at 0, 2 and 4 s
        std::stable_sort(m_frames.begin(), m_frames.end(), [](const GrecWriteFrame& a, const GrecWriteFrame& b) {
            return std::tie(a.ms, a.kind) < std::tie(b.ms, b.kind);
        });
        WriteGrecFile(m_path, layout, m_frames);
    }

    CTempDir m_dir{"grec-source"};
    std::filesystem::path m_path = m_dir / "cam.grec";
    std::vector<GrecWriteFrame> m_frames;
};

TEST_F(GrecSource, OpensAsTheGrecKindWithItsStream)
{
    auto source = CFrameSource::OpenFile(ESourceKind::kGrecFile, m_path, 0);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
    const SourceStream& s = source->Stream();
    EXPECT_EQ(s.begin, kT0);
    EXPECT_EQ(s.end, kT0 + 6);
    EXPECT_EQ(s.channel, 1);
    EXPECT_EQ(s.width, 80);
    EXPECT_EQ(s.height, 48);
    EXPECT_FALSE(s.h265);
    EXPECT_EQ(s.frameRate, 25.0f);
    EXPECT_TRUE(s.hasAudio);
    EXPECT_EQ(s.audioType, 5);  // encoding 3, rate code 4: "MG726_24K"
    EXPECT_EQ(s.sampleRate, 8000);
}

TEST_F(GrecSource, FramesCarryKindKeyPositionAndBytes)
{
    auto source = CFrameSource::OpenGrecFile(m_path, 1);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
    SourceFrame f;
    size_t i = 0;
    EFrameResult rc;
    while ((rc = source->Read(f)) == EFrameResult::kOk) {
        ASSERT_LT(i, m_frames.size());
        const GrecWriteFrame& w = m_frames[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(int(f.kind), int(w.kind));
        EXPECT_EQ(f.type, int(w.kind));
        EXPECT_EQ(f.key, w.kind == GrecWriteFrame::kVideo && w.key);
        EXPECT_EQ(f.ms, int64_t(w.ms));
        EXPECT_EQ(f.wallMs, uint64_t(kT0) * 1000 + w.ms);
        EXPECT_EQ(f.pts, (uint64_t(kT0) * 1000 + w.ms) * 1000);
        const std::vector<uint8_t> got(f.data, f.data + f.length);
        if (w.kind == GrecWriteFrame::kVideo)
            EXPECT_EQ(SplitAnnexB(got), SplitAnnexB(w.data));
        else
            EXPECT_EQ(got, w.data);
        ++i;
    }
    EXPECT_EQ(rc, EFrameResult::kEnd);
    EXPECT_EQ(i, m_frames.size());
    EXPECT_EQ(source->Read(f), EFrameResult::kEnd) << "the end sticks";
}

TEST_F(GrecSource, SeekAndLastSecondFollowTheSharedRules)
{
    auto source = CFrameSource::OpenGrecFile(m_path, 0);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kOk);
    struct Case {
        uint32_t second;
        EFrameResult rc;
        uint32_t keyMs;
    } const cases[] = {
        {kT0 - 100, EFrameResult::kOk, 0},      {kT0, EFrameResult::kOk, 0},
        {kT0 + 3, EFrameResult::kOk, 2000},     {kT0 + 4, EFrameResult::kOk, 4000},
        {kT0 + 6, EFrameResult::kOk, 4000},     {kT0 + 7, EFrameResult::kSeekFailed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second - kT0);
        ASSERT_EQ(source->Seek(c.second), c.rc);
        if (c.rc != EFrameResult::kOk) {
            EXPECT_NE(source->ErrorText().find("no I frame to seek to at second"), std::string::npos);
            continue;
        }
        SourceFrame f;
        ASSERT_EQ(source->Read(f), EFrameResult::kOk);
        EXPECT_EQ(f.kind, EFrameKind::kVideo);
        EXPECT_TRUE(f.key);
        EXPECT_EQ(f.ms, int64_t(c.keyMs));
    }
    // A limit ends the recording after its second.
    ASSERT_EQ(source->Seek(kT0 + 2), EFrameResult::kOk);
    source->SetLastSecond(kT0 + 2);
    SourceFrame f;
    uint64_t lastMs = 0;
    EFrameResult rc;
    while ((rc = source->Read(f)) == EFrameResult::kOk) lastMs = f.wallMs;
    EXPECT_EQ(rc, EFrameResult::kEnd);
    EXPECT_EQ(lastMs, uint64_t(kT0 + 2) * 1000 + 980);  // the last sound frame of that second
}

TEST_F(GrecSource, BadFilesAndChannelsAreOpenFailures)
{
    std::ofstream(m_dir / "junk.grec") << "no Matroska here";
    auto junk = CFrameSource::OpenGrecFile(m_dir / "junk.grec", 0);
    EXPECT_EQ(junk->OpenResult(), EFrameResult::kOpenFailed);
    EXPECT_NE(junk->ErrorText().find("not a Matroska file"), std::string::npos) << junk->ErrorText();
    auto missing = CFrameSource::OpenGrecFile(m_dir / "missing.grec", 0);
    EXPECT_EQ(missing->OpenResult(), EFrameResult::kOpenFailed);
    auto second = CFrameSource::OpenGrecFile(m_path, 2);
    EXPECT_EQ(second->OpenResult(), EFrameResult::kNoChannel);
}

TEST(GrecAudioType, TheEncodingAndRateCodeTable)
{
    struct Case {
        int encoding, rateCode, index;
        bool known;
    } const cases[] = {
        {7, 0, 12, true}, {7, 4, 12, true}, {8, 1, 11, true}, {2, 1, 10, true}, {2, 4, 8, true},
        {2, 2, 7, true},  {2, 0, 9, true},  {2, 3, 9, true},  {3, 1, 6, true},  {3, 4, 5, true},
        {3, 2, 4, true},  {3, 0, 3, true},  {3, 9, 3, true},  {0, 0, 3, false}, {1, 1, 3, false},
        {9, 2, 3, false},
    };
    for (const auto& c : cases) {
        bool known = !c.known;
        EXPECT_EQ(GetTTXAudioType(c.encoding, c.rateCode, &known), c.index) << c.encoding << "/" << c.rateCode;
        EXPECT_EQ(known, c.known) << c.encoding << "/" << c.rateCode;
    }
    EXPECT_STREQ(AudioTypeName(GetTTXAudioType(7, 0)), "G711U");
    EXPECT_STREQ(AudioTypeName(GetTTXAudioType(8, 0)), "G711A");
}

}  // namespace
}  // namespace velmor
