// Seeking to wall-clock seconds (with the 1.6 s allowance) and to
// timestamps (without), where the three cursors land, and the video-only read.
#include <gtest/gtest.h>

#include "tests/formats/IfvTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

class IfvSeek : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Key frames every 3 s (75 frames of 40 ms); audio every 100 ms,
        // attach every second; 9000 frames make three segments.
        Plan p;
        p.videoFrames = 9000;
        p.gop = 75;
        p.audioStepMs = 100;
        p.attachStepMs = 1000;
        p.seed = 3;
        m_written = WriteFile(m_path, p);
        m_reader = OpenRead(m_path);
        ASSERT_TRUE(m_reader);
    }

    // The first video record a read delivers from here, and what came before it.
    Rec FirstVideo(std::vector<Rec>* before = nullptr)
    {
        std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
        for (int i = 0; i < 1000; ++i) {
            Rec r;
            const int n = RK_FileReadOneMediaFrame2(m_reader.get(), buf.data(), &r.ts, &r.pts, nullptr, &r.type, &r.kind);
            if (n <= 0) return Rec{99, 0, 0, 0, 0, 0};
            r.length = uint32_t(n);
            r.crc = Crc32(buf.data(), size_t(n));
            if (r.kind == 0) return r;
            if (before) before->push_back(r);
        }
        return Rec{98, 0, 0, 0, 0, 0};
    }

    CTempDir m_dir{"velmor-ifv"};
    std::filesystem::path m_path = m_dir / "seek.ifv";
    Written m_written;
    Handle m_reader;
};

TEST_F(IfvSeek, OneSecondBeforeAKeyFrameLandsOnIt)
{
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 5), 1);  // key frames at 3 s and 6 s
    const Rec v = FirstVideo();
    EXPECT_EQ(v.ts, 6000u);
    EXPECT_EQ(v.type, 5);
}

TEST_F(IfvSeek, TwoSecondsBeforeAKeyFrameLandsOnTheEarlierOne)
{
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 4), 1);
    EXPECT_EQ(FirstVideo().ts, 3000u);
    // Without the allowance 4.6 s lands on the 6 s key frame.
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 4600), 1);
    EXPECT_EQ(FirstVideo().ts, 6000u);
}

TEST_F(IfvSeek, AttachRecordsOfTheSegmentOlderThanTheKeyFrameComeFirst)
{
    // 199 s lies in the second segment (120 s .. 240 s); key frame 198 s.
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 199), 1);
    std::vector<Rec> before;
    const Rec v = FirstVideo(&before);
    EXPECT_EQ(v.ts, 198000u);
    // All attach records of the segment from its first (120 s) to the last
    // before the key frame, in order, and nothing else.
    std::vector<Rec> expected;
    for (const Rec& r : m_written.records)
        if (r.kind == 2 && r.ts >= 120000 && r.ts < 198000) expected.push_back(r);
    EXPECT_EQ(expected.size(), 78u);
    EXPECT_EQ(before, expected);
    // Then video with audio from the first frame after the key frame.
    const ReadBack rest = ReadAll(m_reader.get());
    const auto audio = OfKind(rest.records, 1);
    ASSERT_FALSE(audio.empty());
    EXPECT_EQ(audio.front().ts, 198100u);
    EXPECT_EQ(OfKind(rest.records, 0).size(), 9000u - 4951u);
    // The attach record at the key frame's time follows it.
    EXPECT_EQ(OfKind(rest.records, 2).front().ts, 198000u);
}

TEST_F(IfvSeek, AudioAtTheKeyFramesTimeIsSkipped)
{
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 3000), 1);
    const ReadBack rest = ReadAll(m_reader.get());
    // Audio at 3000 ms shares the key frame's time and is left out.
    EXPECT_EQ(OfKind(rest.records, 1).front().ts, 3100u);
    EXPECT_EQ(rest.records.front().kind, 2);  // attach 0 s first
    EXPECT_EQ(rest.records.front().ts, 0u);
}

TEST_F(IfvSeek, BeforeTheBeginLandsOnTheFirstKeyFrameAndAfterTheEndFails)
{
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin - 100), 1);
    EXPECT_EQ(FirstVideo().ts, 0u);
    // 9000 frames end at 359.96 s: end time = begin + 359.
    EXPECT_EQ(RK_FileGetEndTime(m_reader.get()), kBegin + 359);
    EXPECT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 360), 0);
}

TEST_F(IfvSeek, NoKeyFrameLeftKeepsThePosition)
{
    // The last key frame is 357 s; 359 s + nothing within 1.6 s after 357.
    const Rec first = FirstVideo();
    EXPECT_EQ(first.ts, 0u);
    EXPECT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 359), 0);
    EXPECT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 359000), 0);
    // Reading goes on right after the frame read before the failed seeks.
    EXPECT_EQ(FirstVideo().ts, 40u);
    // 358.6 s is reached from 357 s with the allowance only.
    EXPECT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 358600), 0);
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 358), 1);
    EXPECT_EQ(FirstVideo().ts, 357000u);
}

TEST_F(IfvSeek, SeekToTimeStampUsesNoAllowance)
{
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 3001), 1);
    EXPECT_EQ(FirstVideo().ts, 6000u);
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 3000), 1);
    EXPECT_EQ(FirstVideo().ts, 3000u);
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 0), 1);
    EXPECT_EQ(FirstVideo().ts, 0u);
    // Into the third segment.
    ASSERT_EQ(RK_FileSeekToTimeStamp(m_reader.get(), 300001), 1);
    EXPECT_EQ(FirstVideo().ts, 303000u);
}

TEST_F(IfvSeek, VideoOnlyReadGoesThroughAllSegmentsWithDurations)
{
    const ReadBack v = ReadAllVideo(m_reader.get());
    EXPECT_EQ(v.last, 0);
    EXPECT_EQ(v.records, OfKind(m_written.records, 0));
    // Every frame lasts 40 ms, the segments' last ones included (taken from
    // the next segment's first frame), and the file's last frame 40.
    for (uint32_t d : v.durations) ASSERT_EQ(d, 40u);
    // It has not moved the time-ordered read.
    EXPECT_EQ(ReadAll(m_reader.get()).records, m_written.records);
}

TEST_F(IfvSeek, VideoOnlyReadStartsAtTheSeeksKeyFrame)
{
    ASSERT_EQ(RK_FileSeekToSysTime(m_reader.get(), kBegin + 250), 1);  // third segment, key 249 s
    const ReadBack v = ReadAllVideo(m_reader.get());
    const auto all = OfKind(m_written.records, 0);
    ASSERT_EQ(v.records.size(), 9000u - 6225u);
    EXPECT_TRUE(std::equal(v.records.begin(), v.records.end(), all.begin() + 6225));
    EXPECT_EQ(v.records.front().ts, 249000u);
}

TEST_F(IfvSeek, SegmentsLastFrameTakesItsDurationFromTheNextSegment)
{
    // Gaps that differ from 40 around the segment boundary.
    const auto path = m_dir / "gaps.ifv";
    Handle w = OpenWrite(path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    const auto p = MakePayload(1, 2);
    for (uint32_t i = 0; i < 3000; ++i) ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 2, i * 10, 5, 0, nullptr), 2);
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 2, 29990 + 77, 5, 0, nullptr), 2);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    Handle r = OpenRead(path);
    ASSERT_TRUE(r);
    const ReadBack v = ReadAllVideo(r.get());
    ASSERT_EQ(v.durations.size(), 3001u);
    EXPECT_EQ(v.durations[2998], 10u);
    EXPECT_EQ(v.durations[2999], 77u);
    EXPECT_EQ(v.durations[3000], 40u);
    // The time-ordered read gives a segment's last frame 40.
    const ReadBack m = ReadAll(r.get());
    EXPECT_EQ(m.durations[2999], 40u);
}

}  // namespace
}  // namespace velmor::fixtures
