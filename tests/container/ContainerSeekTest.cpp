// Seeking a channel to the I frame for a second.
#include <gtest/gtest.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

constexpr uint64_t kUs = 1000000;

class ContainerSeek : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_image = std::make_unique<CContainerFileImage>(m_dir / "fc00001.rpo", 1);
        SyntheticPlan plan;
        plan.startTime = kT0;
        plan.seconds = 40;
        SyntheticChannel ch;
        ch.params = Channel(6);
        ch.gop = 50;  // an I frame every two seconds
        ch.iFrameBytes = 100000;
        ch.pFrameBytes = 16000;
        plan.channels.push_back(ch);
        m_written = WriteSynthetic(*m_image, plan);
        ASSERT_GE(m_written.blocks[0].size(), 3u);
    }

    // The frames read after seeking to `second`, which must land on the I frame at `landing`.
    void ExpectLanding(uint32_t second, uint32_t landing)
    {
        ReadResult r = ReadChannel(m_image->Path(), 6, second);
        ASSERT_EQ(r.lastResult, -4) << "seek to " << second - kT0;
        auto expected = FramesFrom(m_written.frames[0], uint64_t(landing) * kUs);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(r.frames == expected) << "seek to +" << second - kT0 << " should land on +" << landing - kT0
                                          << ", first frame read at pts +"
                                          << (r.frames.empty() ? 0 : r.frames[0].pts / kUs - kT0);
    }

    CTempDir m_dir;
    std::unique_ptr<CContainerFileImage> m_image;
    SyntheticResult m_written;
};

TEST_F(ContainerSeek, ExactEntryTimeLandsOnThatEntry)
{
    ExpectLanding(kT0 + 6, kT0 + 6);
    ExpectLanding(kT0 + 20, kT0 + 20);
}

TEST_F(ContainerSeek, TimeBetweenEntriesLandsOnTheEarlierOne)
{
    ExpectLanding(kT0 + 7, kT0 + 6);
    ExpectLanding(kT0 + 21, kT0 + 20);
}

TEST_F(ContainerSeek, TheRecordingsFirstIFrameAtBlockOffset4096IsAHit)
{
    // The first I frame of a recording sits at the very start of its block's data.
    auto area = m_image->ReadHeadArea(PositionOfBlock(m_written.blocks[0][0]));
    ASSERT_EQ(area.neck.ifrIdx[0].offset.get(), kHeadAreaSize);
    ExpectLanding(kT0, kT0);
    ExpectLanding(kT0 + 1, kT0);
}

TEST_F(ContainerSeek, BeforeTheFirstBlockLandsOnTheFirstIFrame)
{
    ExpectLanding(kT0 - 1, kT0);
    ExpectLanding(1, kT0);
}

TEST_F(ContainerSeek, AfterTheLastBlockFails)
{
    CContainerReader file(m_image->Path());
    uint32_t b = 0, e = 0;
    RKCONTAINER_ENCODE enc{};
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 6, &b, &e, &enc), 0);
    RKCONTAINER_ENCODE out{1, 1, 1, 1, 1};
    EXPECT_EQ(RKCONTAINER_SeekIFrame(file.Slot(), e + 1, &out), -3);
    EXPECT_EQ(RKCONTAINER_SeekIFrame(file.Slot(), 0xFFFFFFFF, &out), -3);
    // After a failed seek the reader still reads from where it was.
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    RKCONTAINER_FRAME_HEAD head{};
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), 0);
    EXPECT_EQ(head.pts, uint64_t(kT0) * kUs);
}

TEST_F(ContainerSeek, EverySecondLandsAtOrBeforeItWithinOneGroup)
{
    for (uint32_t s = kT0; s <= m_written.endTime; ++s) {
        ReadResult r = ReadChannel(m_image->Path(), 6, s, false, 1);
        ASSERT_EQ(r.frames.size(), 1u) << "second +" << s - kT0;
        EXPECT_EQ(r.frames[0].type, kFrameI);
        const uint32_t landed = uint32_t(r.frames[0].pts / kUs);
        // At or before the second, except at the start of a block whose first
        // I frame comes after its first second (the reader lands on it then).
        EXPECT_LE(landed, s + 2) << "second +" << s - kT0;
        EXPECT_GE(landed + 2, s) << "second +" << s - kT0;
    }
}

// Blocks laid out by hand: A holds an I frame at +0 and P frames to +5; B
// begins with P frames at +6 and +7 and has its I frame at +8.
class HandLaidSeek : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_image = std::make_unique<CContainerFileImage>(m_dir / "fc00002.rpo", 2);
        m_writer = std::make_unique<CRecordWriter>(*m_image, Channel(1));
        auto p = MakePayload(3, 800);
        auto put = [&](uint8_t type, uint32_t second) {
            ASSERT_EQ(m_writer->WriteFrame(type, uint64_t(kT0 + second) * kUs, p.data(), 800), WriteResult::kWritten);
        };
        put(kFrameI, 0);
        for (uint32_t s = 1; s <= 5; ++s) put(kFrameP, s);
        m_writer->EndBlock();
        put(kFrameP, 6);
        put(kFrameP, 7);
        put(kFrameI, 8);
        put(kFrameP, 9);
        m_writer->EndBlock();
        put(kFrameP, 9);  // block C begins in the second its predecessor ended
        put(kFrameI, 10);
        m_writer->Close();
        ASSERT_EQ(m_writer->Blocks().size(), 3u);
    }
    uint32_t LandedSecond(uint32_t second)
    {
        ReadResult r = ReadChannel(m_image->Path(), 1, kT0 + second, false, 1);
        EXPECT_EQ(r.lastResult, 0) << "seek to +" << second;
        return r.frames.empty() ? 0xFFFFFFFF : uint32_t(r.frames[0].pts / kUs) - kT0;
    }
    CTempDir m_dir;
    std::unique_ptr<CContainerFileImage> m_image;
    std::unique_ptr<CRecordWriter> m_writer;
};

TEST_F(HandLaidSeek, AfterABlocksLastIFrameLandsOnIt)
{
    // No I frame of block A is at or after +5 and no later block covers +5:
    // the latest I frame before it is where playback can start.
    EXPECT_EQ(LandedSecond(5), 0u);
    EXPECT_EQ(LandedSecond(3), 0u);
}

TEST_F(HandLaidSeek, BlockStartingWithPredictedFramesLandsOnItsFirstIFrame)
{
    EXPECT_EQ(LandedSecond(6), 8u);
    EXPECT_EQ(LandedSecond(8), 8u);
}

TEST_F(HandLaidSeek, ALaterBlockCoveringTheSameSecondWins)
{
    // +9 ends block B after its I frame at +8 and begins block C, whose first
    // entry (+10) is at or after it.
    EXPECT_EQ(LandedSecond(9), 10u);
}

TEST_F(HandLaidSeek, AfterTheRecordingFails)
{
    ReadResult r = ReadChannel(m_image->Path(), 1, kT0 + 11, false, 1);
    EXPECT_EQ(r.lastResult, -3);
}

TEST(ContainerSeekGap, ASecondBetweenTwoRecordingsFails)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00004.rpo", 4);
    auto p = MakePayload(1, 900);
    for (uint32_t first : {0u, 20u}) {
        CRecordWriter w(image, Channel(0));
        for (uint32_t s = first; s < first + 6; ++s)
            ASSERT_EQ(w.WriteFrame(s % 2 == 0 ? kFrameI : kFrameP, uint64_t(kT0 + s) * kUs, p.data(), 900),
                      WriteResult::kWritten);
        w.Close();
    }
    EXPECT_EQ(ReadChannel(image.Path(), 0, kT0 + 10, false, 1).lastResult, -3);
    ReadResult r = ReadChannel(image.Path(), 0, kT0 + 23);
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames[0].pts, uint64_t(kT0 + 22) * kUs);
    EXPECT_EQ(r.frames.size(), 4u);
    // Reading on from the first recording runs into the second.
    EXPECT_EQ(ReadChannel(image.Path(), 0, kT0 + 4).frames.size(), 2u + 6u);
}

TEST(ContainerSeekIndex, BetweenIFramesOfAFullIndexLandOnEntry318)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00003.rpo", 3);
    CRecordWriter w(image, Channel(0));
    for (uint32_t i = 0; i < 500; ++i) {
        auto p = MakePayload(i, 64);
        ASSERT_EQ(w.WriteFrame(kFrameI, uint64_t(kT0 + i) * kUs, p.data(), 64), WriteResult::kWritten);
    }
    w.Close();
    auto area = image.ReadHeadArea(PositionOfBlock(w.Blocks()[0]));
    ASSERT_EQ(area.neck.ifrIdxCnt.get(), 500);
    ASSERT_EQ(area.neck.ifrIdx[318].time.get(), kT0 + 318);
    ASSERT_EQ(area.neck.ifrIdx[319].time.get(), kT0 + 499);
    // The 180 I frames between entries 318 and 319 are not indexed.
    ReadResult r = ReadChannel(image.Path(), 0, kT0 + 400, false, 1);
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].pts, uint64_t(kT0 + 318) * kUs);
    r = ReadChannel(image.Path(), 0, kT0 + 499, false, 1);
    EXPECT_EQ(r.frames[0].pts, uint64_t(kT0 + 499) * kUs);
    r = ReadChannel(image.Path(), 0, kT0 + 100, false, 1);
    EXPECT_EQ(r.frames[0].pts, uint64_t(kT0 + 100) * kUs);
}

// An I frame whose 16-byte head starts `k` bytes before its block's end (the
// rest of the head opens the next block) is a place to seek to, in a lone
// container file as in a container file of a partition.
enum class SplitSink { kContainerFile, kPartition };

class SplitHeadSeek : public ::testing::TestWithParam<std::tuple<SplitSink, uint32_t>> {};

TEST_P(SplitHeadSeek, LandsOnTheSplitIFrame)
{
    const auto [kind, k] = GetParam();
    CTempDir dir;
    std::unique_ptr<IBlockSink> sink;
    std::filesystem::path file;
    if (kind == SplitSink::kContainerFile) {
        auto image = std::make_unique<CContainerFileImage>(dir / "fc00001.rpo", 1);
        file = image->Path();
        sink = std::move(image);
    } else {
        auto image = std::make_unique<CPartitionImage>(dir.Path(), PartitionOptions{8});
        file = image->FilePath(0);
        sink = std::move(image);
    }
    ASSERT_EQ(sink->BlockSize(), 0x400000u);
    CRecordWriter w(*sink, Channel(3));
    uint64_t pts = uint64_t(kT0) * kUs;
    auto key = MakePayload(1, 5000);
    ASSERT_EQ(w.WriteFrame(kFrameI, pts, key.data(), 5000), WriteResult::kWritten);
    w.FillBlockLeaving(k, kFrameP, pts + kUs, 40);
    auto split = MakePayload(2, 3000);
    pts += 2 * kUs;
    ASSERT_EQ(w.WriteFrame(kFrameI, pts, split.data(), 3000), WriteResult::kWritten);
    for (int i = 1; i <= 30; ++i) {
        auto p = MakePayload(10 + i, 600 + i);
        ASSERT_EQ(w.WriteFrame(kFrameP, pts + uint64_t(i) * 40000, p.data(), uint32_t(p.size())),
                  WriteResult::kWritten);
    }
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 2u);

    // The layout as the recorder leaves it: entry 1 of the first block points
    // k bytes before the 4 MiB block end; the next block lends the head's rest
    // and the payload.
    const uint32_t first = w.Blocks()[0];
    StRecHeadArea_t area = kind == SplitSink::kContainerFile
                               ? static_cast<CContainerFileImage&>(*sink).ReadHeadArea(PositionOfBlock(first))
                               : static_cast<CPartitionImage&>(*sink).ReadHeadArea(first);
    ASSERT_EQ(area.neck.ifrIdxCnt.get(), 2u);
    EXPECT_EQ(area.neck.ifrIdx[1].offset.get(), 0x400000u - k);
    EXPECT_EQ(area.neck.ifrIdx[1].time.get(), kT0 + 2);
    EXPECT_EQ(area.head.recData.borrow.get(), 16 - k + 3000);

    ReadResult r = ReadChannel(file, 3, kT0 + 2);
    ASSERT_EQ(r.lastResult, -4);
    EXPECT_EQ(r.badHeads, 0);
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames[0].pts, uint64_t(kT0 + 2) * kUs) << "landed at +" << r.frames[0].pts / kUs - kT0;
    EXPECT_TRUE(r.frames == FramesFrom(w.Written(), uint64_t(kT0 + 2) * kUs)) << r.frames.size() << " frames";
}

INSTANTIATE_TEST_SUITE_P(EveryHeadByteLeft, SplitHeadSeek,
                         ::testing::Combine(::testing::Values(SplitSink::kContainerFile, SplitSink::kPartition),
                                            ::testing::Range(1u, 16u)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == SplitSink::kPartition ? "Partition"
                                                                                                 : "ContainerFile") +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace velmor::fixtures
