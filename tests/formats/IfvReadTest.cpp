// Reading back in time order: several segments of video, audio and attach
// records, files whose writer never closed, a damaged second segment, an
// empty file, ties, and images inside larger files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "tests/formats/IfvTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

class IfvRead : public ::testing::Test {
protected:
    CTempDir m_dir{"velmor-ifv"};
    std::filesystem::path m_path = m_dir / "rec.ifv";
};

// 7000 video frames (three segments), audio every 64 ms, attach every second.
Plan ThreeSegments()
{
    Plan p;
    p.videoFrames = 7000;
    p.audioStepMs = 64;
    p.attachStepMs = 1000;
    p.seed = 77;
    return p;
}

TEST_F(IfvRead, ThreeSegmentsReadBackFrameForFrameInTimeOrder)
{
    const Written w = WriteFile(m_path, ThreeSegments());
    EXPECT_EQ(w.segmentsClosed, 2u);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetStartTime(r.get()), kBegin);
    EXPECT_EQ(RK_FileGetDuration(r.get()), 6999u * 40);
    EXPECT_EQ(RK_FileGetEndTime(r.get()), kBegin + 6999 * 40 / 1000);
    EXPECT_EQ(RK_FileGetVideoFrameCount(r.get()), 7000u);
    EXPECT_EQ(RK_FileHasAudio(r.get()), 1);
    EXPECT_EQ(RK_FileGetAudioFrameSize(r.get()), 320);
    EXPECT_EQ(RK_FileGetAudioCodec(r.get()), uint32_t('7' | '1' << 8 | '1' << 16 | 'A' << 24));
    EXPECT_EQ(RK_FileGetVideoCodec(r.get()), uint32_t('H' | '2' << 8 | '6' << 16 | '4' << 24));
    EXPECT_EQ(RK_FileGetWidth(r.get()), 640);
    EXPECT_EQ(RK_FileGetHeight(r.get()), 360);
    EXPECT_EQ(RK_FileGetFrameRate(r.get()), 25.0f);
    EXPECT_EQ(RK_FileGetSampleRate(r.get()), 8000);
    EXPECT_EQ(RK_FileGetSampleWidth(r.get()), 16);
    EXPECT_EQ(RK_FileGetEventChannel(r.get()), 0);

    const ReadBack got = ReadAll(r.get());
    EXPECT_EQ(got.last, 0);
    ASSERT_EQ(got.records.size(), w.records.size());
    for (size_t i = 0; i < got.records.size(); ++i) ASSERT_EQ(got.records[i], w.records[i]) << "record " << i;

    // Durations: video to the next video frame of the segment (40 for a
    // segment's last), audio 30, attach 0.
    const auto b = ReadBytes(m_path);
    ASSERT_EQ(Get32(b, 172 + 20), 3u);
    uint32_t videoSeen = 0;
    for (size_t i = 0; i < got.records.size(); ++i) {
        const Rec& rec = got.records[i];
        if (rec.kind == 0) {
            ++videoSeen;
            EXPECT_EQ(got.durations[i], 40u) << i;  // both rules give 40 at this rate
        } else {
            EXPECT_EQ(got.durations[i], rec.kind == 1 ? 30u : 0u) << i;
        }
    }
    EXPECT_EQ(videoSeen, 7000u);
    // Reading on after the end stays at the end.
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    EXPECT_EQ(RK_FileReadOneMediaFrame2(r.get(), buf.data(), nullptr, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST_F(IfvRead, VideoDurationIsTheGapToTheNextFrameAnd40ForTheSegmentsLast)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    const auto p = MakePayload(1, 5);
    const uint32_t times[] = {0, 33, 100, 101, 250};
    for (uint32_t t : times) ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 5, t, t ? 1 : 5, 0, nullptr), 5);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    const ReadBack got = ReadAll(r.get());
    EXPECT_EQ(got.durations, (std::vector<uint32_t>{33, 67, 1, 149, 40}));
}

TEST_F(IfvRead, EqualTimestampsDeliverVideoThenAudioThenAttach)
{
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    ASSERT_EQ(RK_FileSetVideoParam(w.get(), 640, 360, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetAudioParam(w.get(), 1, 16, 8000, 11, 320, 40), 0);
    ASSERT_EQ(RK_FileEnableAttach(w.get()), 0);
    const auto p = MakePayload(1, 5);
    // Written attach first, then audio, then video, all at 100 ms; and a
    // lone earlier audio frame.
    ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 1, 50, nullptr), 1);
    ASSERT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 2, 100, nullptr), 2);
    ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 3, 100, nullptr), 3);
    ASSERT_EQ(RK_FileWriteVideoFrame(w.get(), p.data(), 4, 100, 5, 0, nullptr), 4);
    ASSERT_EQ(RK_FileWriteAttachFrame(w.get(), p.data(), 5, 200, nullptr), 5);
    ASSERT_EQ(RK_FileWriteAudioFrame(w.get(), p.data(), 4, 200, nullptr), 4);
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    const ReadBack got = ReadAll(r.get());
    ASSERT_EQ(got.records.size(), 6u);
    const std::vector<std::pair<uint8_t, uint32_t>> expected = {{1, 1}, {0, 4}, {1, 3}, {2, 2}, {1, 4}, {2, 5}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got.records[i].kind, expected[i].first) << i;
        EXPECT_EQ(got.records[i].length, expected[i].second) << i;
    }
}

TEST_F(IfvRead, FileWhoseWriterNeverClosedReadsUpToItsLastClosedSegment)
{
    const auto copy = m_dir / "unclosed.ifv";
    Handle w = OpenWrite(m_path);
    ASSERT_TRUE(w);
    Plan p = ThreeSegments();
    p.videoFrames = 4500;  // one closed segment, one open
    const Written written = WritePlan(w.get(), p);
    std::filesystem::copy_file(m_path, copy);  // as a crash would leave it
    ASSERT_EQ(RK_CloseFile2(w.release()), 0);

    const auto b = ReadBytes(copy);
    EXPECT_EQ(Get32(b, 172 + 20), 1u);
    EXPECT_EQ(Get32(b, 52), kBegin);  // the begin time was written when set
    Handle r = OpenRead(copy);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetVideoFrameCount(r.get()), 3000u);
    const ReadBack got = ReadAll(r.get());
    EXPECT_EQ(got.last, 0);
    // Exactly the records written before the 3000th video frame closed the
    // segment, in order.
    size_t n = 0, video = 0;
    while (n < written.records.size() && video < 3000) video += written.records[n++].kind == 0;
    ASSERT_EQ(got.records.size(), n);
    EXPECT_TRUE(std::equal(got.records.begin(), got.records.end(), written.records.begin()));
    EXPECT_EQ(RK_FileGetEndTime(r.get()), kBegin + 2999 * 40 / 1000);

    // The closed file has it all.
    Handle full = OpenRead(m_path);
    ASSERT_TRUE(full);
    EXPECT_EQ(ReadAll(full.get()).records, written.records);
}

TEST_F(IfvRead, SecondSegmentWithABadIdentifierOpensWithOneSegment)
{
    Plan p = ThreeSegments();
    p.videoFrames = 4000;
    const Written written = WriteFile(m_path, p);
    auto b = ReadBytes(m_path);
    const size_t seg2 = SegmentStart(b, 1);
    b[seg2 + 5] ^= 0xFF;
    WriteBytes(m_path, b);

    Handle r;
    const std::string out = Logged([&] { r = OpenRead(m_path); });
    ASSERT_TRUE(r);
    EXPECT_EQ(out, "ReadmdatSegmentObject2 (offset:" + std::to_string(seg2) + ") failed 2\n");
    EXPECT_EQ(RK_FileGetVideoFrameCount(r.get()), 3000u);
    const ReadBack got = ReadAll(r.get());
    EXPECT_EQ(got.last, 0);
    size_t n = 0, video = 0;
    while (video < 3000) video += written.records[n++].kind == 0;
    ASSERT_EQ(got.records.size(), n);
    EXPECT_TRUE(std::equal(got.records.begin(), got.records.end(), written.records.begin()));
}

TEST_F(IfvRead, LaterSegmentFailuresKeepTheSegmentsBefore)
{
    Plan p = ThreeSegments();
    const Written written = WriteFile(m_path, p);
    const auto original = ReadBytes(m_path);
    const size_t seg3 = SegmentStart(original, 2);
    const std::string at = "ReadmdatSegmentObject3 (offset:" + std::to_string(seg3) + ") ";

    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        std::string message;
    };
    const Case cases[] = {
        {"short header", [&](std::vector<uint8_t>& b) { b.resize(seg3 + 47); }, at + "failed 1\n"},
        {"size below 48", [&](std::vector<uint8_t>& b) { Put32(b, seg3 + 16, 47); }, at + "failed 3\n"},
        {"size zero", [&](std::vector<uint8_t>& b) { Put32(b, seg3 + 16, 0); }, at + "failed 3\n"},
        {"more frames than capacity", [&](std::vector<uint8_t>& b) { Put32(b, seg3 + 28, 3001); }, at + "failed 5\n"},
        {"attach count over 150", [&](std::vector<uint8_t>& b) { Put32(b, seg3 + 44, 151); }, at + "failed 5\n"},
        {"end beyond 4 GiB", [&](std::vector<uint8_t>& b) { Put32(b, seg3 + 16, 0xFFFFFFF0u); }, at + "failed 4\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto b = original;
        c.damage(b);
        WriteBytes(m_path, b);
        Handle r;
        const std::string out = Logged([&] { r = OpenRead(m_path); });
        ASSERT_TRUE(r);
        EXPECT_EQ(out, c.message);
        EXPECT_EQ(RK_FileGetVideoFrameCount(r.get()), 6000u);
        const ReadBack got = ReadAll(r.get());
        EXPECT_EQ(got.last, 0);
        EXPECT_EQ(OfKind(got.records, 0).size(), 6000u);
        EXPECT_TRUE(std::equal(got.records.begin(), got.records.end(), written.records.begin()));
    }
}

TEST_F(IfvRead, MediaDataCountZeroReadsAsEmpty)
{
    WriteFile(m_path, Plan{});
    Patch32(m_path, 172 + 20, 0);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetVideoFrameCount(r.get()), 0u);
    EXPECT_EQ(RK_FileGetDuration(r.get()), 0u);
    EXPECT_EQ(RK_FileGetEndTime(r.get()), kBegin);
    EXPECT_EQ(RK_FileHasAudio(r.get()), 0);
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    uint8_t kind = 9;
    EXPECT_EQ(RK_FileReadOneMediaFrame2(r.get(), buf.data(), nullptr, nullptr, nullptr, nullptr, &kind), 0);
    EXPECT_EQ(RK_FileReadOneVideoFrame(r.get(), buf.data(), nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(RK_FileSeekToSysTime(r.get(), kBegin), 0);
}

TEST_F(IfvRead, HugeSegmentCountStopsAtTheLastHeaderFound)
{
    const Written written = WriteFile(m_path, Plan{});
    Patch32(m_path, 172 + 20, 0xFFFFFFFFu);
    Handle r;
    const std::string out = Logged([&] { r = OpenRead(m_path); });
    ASSERT_TRUE(r);
    const size_t end = ReadBytes(m_path).size();
    EXPECT_EQ(out, "ReadmdatSegmentObject2 (offset:" + std::to_string(end) + ") failed 1\n");
    EXPECT_EQ(ReadAll(r.get()).records, written.records);
}

TEST_F(IfvRead, StoredEndTimeIsNotTrusted)
{
    WriteFile(m_path, Plan{});
    Patch32(m_path, 56, 5);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetEndTime(r.get()), kBegin + 99 * 40 / 1000);
    EXPECT_EQ(RK_FileGetDuration(r.get()), 99u * 40);
}

TEST_F(IfvRead, LastTimestampBeforeTheFirstGivesNoSpan)
{
    WriteFile(m_path, Plan{});
    Patch32(m_path, 200 + 20, 1000000);  // first timestamp after the last
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetEndTime(r.get()), kBegin);
    EXPECT_EQ(RK_FileGetDuration(r.get()), 0u);
}

TEST_F(IfvRead, EventChannelComesFromTheFileProperties)
{
    WriteFile(m_path, Plan{});
    auto b = ReadBytes(m_path);
    Put16(b, 66, 7);
    WriteBytes(m_path, b);
    Handle r = OpenRead(m_path);
    ASSERT_TRUE(r);
    EXPECT_EQ(RK_FileGetEventChannel(r.get()), 7);
}

TEST_F(IfvRead, ImageInsideALargerFileReadsWithItsBaseOffset)
{
    const auto plain = m_dir / "plain.ifv";
    Plan p = ThreeSegments();
    p.videoFrames = 3500;
    const Written written = WriteFile(plain, p);
    const auto image = ReadBytes(plain);

    for (size_t base : {size_t(1), size_t(4096), size_t(300000)}) {
        SCOPED_TRACE(base);
        std::vector<uint8_t> big(base, 0xA5);
        big.insert(big.end(), image.begin(), image.end());
        big.insert(big.end(), 5000, 0x5A);  // more data after the image
        WriteBytes(m_path, big);
        Handle r = OpenRead(m_path, int64_t(base));
        ASSERT_TRUE(r);
        EXPECT_EQ(RK_FileGetStartTime(r.get()), kBegin);
        const ReadBack got = ReadAll(r.get());
        EXPECT_EQ(got.last, 0);
        EXPECT_EQ(got.records, written.records);
        EXPECT_EQ(RK_FileSeekToSysTime(r.get(), kBegin + 100), 1);
        EXPECT_EQ(ReadAllVideo(r.get()).records.size(), 3500u - 2475u);
        // The same bytes read from 0 are no IFV file.
        const std::string out = Logged([&] { EXPECT_FALSE(OpenRead(m_path, 0)); });
        EXPECT_EQ(out, "ReadFilePropertiesObject failed 2\n");
    }
}

}  // namespace
}  // namespace velmor::fixtures
