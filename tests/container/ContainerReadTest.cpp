// Reading one channel of a container file frame by frame: write order, block
// boundaries, split heads and payloads, damaged heads and chains.
#include <gtest/gtest.h>

#include "tests/container/ContainerTestUtil.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

SyntheticPlan FourChannels(uint32_t seconds, uint32_t iBytes, uint32_t pBytes)
{
    SyntheticPlan plan;
    plan.startTime = kT0;
    plan.seconds = seconds;
    plan.seed = 7;
    for (uint8_t c = 0; c < 4; ++c) {
        SyntheticChannel ch;
        ch.params = Channel(c);
        ch.iFrameBytes = iBytes;
        ch.pFrameBytes = pBytes;
        ch.audio = c % 2 == 0;
        ch.info = true;
        plan.channels.push_back(ch);
    }
    return plan;
}

void ExpectChannelsReadBack(const std::filesystem::path& path, const SyntheticResult& written)
{
    for (size_t c = 0; c < written.frames.size(); ++c) {
        SCOPED_TRACE("channel " + std::to_string(c));
        ASSERT_GT(written.blocks[c].size(), 2u) << "the fixture should span several blocks";
        ReadResult r = ReadChannel(path, int(c));
        EXPECT_EQ(r.lastResult, -4);
        EXPECT_EQ(r.badHeads, 0);
        EXPECT_EQ(r.frames.size(), written.frames[c].size());
        EXPECT_TRUE(r.frames == written.frames[c]);
        EXPECT_EQ(r.begin, kT0);
    }
}

TEST(ContainerRead, FourInterleavedChannelsIn128MiBFileWithIndexBlock)
{
    CTempDir dir;
    // File 128 starts at block id 4096: its position 0 is an index block.
    CContainerFileImage image(dir / "fc00128.rpo", 128);
    SyntheticResult written = WriteSynthetic(image, FourChannels(40, 90000, 30000));
    for (const auto& blocks : written.blocks)
        for (uint32_t id : blocks) ASSERT_NE(PositionOfBlock(id), 0u);
    EXPECT_GT(written.payloadSplits, 4u);
    ExpectChannelsReadBack(image.Path(), written);
}

TEST(ContainerRead, FourInterleavedChannelsIn256MiBFile)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00003.rpo", 3, kContainerFileSize256);
    SyntheticResult written = WriteSynthetic(image, FourChannels(30, 250000, 60000));
    EXPECT_GT(written.payloadSplits, 4u);
    ExpectChannelsReadBack(image.Path(), written);
}

class SplitHead : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SplitHead, FrameWhoseHeadCrossesTheBlockEndIsReadWhole)
{
    const uint32_t k = GetParam();  // head bytes left in the first block
    CTempDir dir;
    CContainerFileImage image(dir / "fc00001.rpo", 1);
    CRecordWriter w(image, Channel(2));
    uint64_t pts = uint64_t(kT0) * 1000000;
    auto first = MakePayload(1, 5000);
    ASSERT_EQ(w.WriteFrame(kFrameI, pts, first.data(), 5000), WriteResult::kWritten);
    w.FillBlockLeaving(k, kFrameP, pts += 40000, 100);
    auto crossing = MakePayload(2, 3000);
    ASSERT_EQ(w.WriteFrame(kFrameI, pts += 40000, crossing.data(), 3000), WriteResult::kWritten);
    for (int i = 0; i < 5; ++i) {
        auto p = MakePayload(10 + i, 700 + i);
        ASSERT_EQ(w.WriteFrame(kFrameP, pts += 40000, p.data(), uint32_t(p.size())), WriteResult::kWritten);
    }
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 2u);
    if (k > 0 && k < 16) {
        EXPECT_EQ(w.HeadSplits(), 1u);
        auto a = image.ReadHeadArea(PositionOfBlock(w.Blocks()[0]));
        auto b = image.ReadHeadArea(PositionOfBlock(w.Blocks()[1]));
        EXPECT_EQ(a.head.recData.borrow.get(), 16 - k + 3000);
        EXPECT_EQ(b.head.recData.lend.get(), 16 - k + 3000);
        EXPECT_EQ(a.head.recData.useSize.get(), image.BlockSize());
    }

    ReadResult r = ReadChannel(image.Path(), 2);
    EXPECT_EQ(r.badHeads, 0);
    EXPECT_TRUE(r.frames == w.Written()) << "read " << r.frames.size() << " of " << w.Written().size();
}

INSTANTIATE_TEST_SUITE_P(EveryCut, SplitHead, ::testing::Values(0u, 1u, 5u, 10u, 15u, 16u, 17u, 40u));

TEST(ContainerRead, FourHundredIFramesInOneBlock)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00002.rpo", 2);
    CRecordWriter w(image, Channel(0));
    uint64_t pts = uint64_t(kT0) * 1000000;
    for (int i = 0; i < 400; ++i) {
        auto p = MakePayload(uint64_t(i), 100 + uint32_t(i));
        ASSERT_EQ(w.WriteFrame(kFrameI, pts, p.data(), uint32_t(p.size())), WriteResult::kWritten);
        pts += 250000;
    }
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 1u);
    auto area = image.ReadHeadArea(PositionOfBlock(w.Blocks()[0]));
    EXPECT_EQ(area.neck.ifrIdxCnt.get(), 400);
    EXPECT_EQ(area.neck.ifrIdx[319].time.get(), kT0 + 99);  // the latest I frame
    EXPECT_EQ(area.neck.ifrIdx[318].time.get(), kT0 + 318 / 4);
    EXPECT_EQ(area.neck.checkValue.get(), NeckCheckValue(area.neck));
    EXPECT_TRUE(IsRecDataNeckValid(area.neck, area.head.recData));

    ReadResult r = ReadChannel(image.Path(), 0);
    EXPECT_TRUE(r.frames == w.Written());
}

TEST(ContainerRead, EncodeRecordIsHandedOutWhenABlockBegins)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00004.rpo", 4);
    SyntheticPlan plan = FourChannels(10, 200000, 80000);
    plan.channels.resize(1);
    plan.channels[0].params.encode = {3, 1, 2, 5, 15};
    SyntheticResult written = WriteSynthetic(image, plan);
    ASSERT_GE(written.blocks[0].size(), 3u);

    CContainerReader file(image.Path());
    uint32_t b = 0, e = 0;
    RKCONTAINER_ENCODE enc{};
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(file.Slot(), 0, &b, &e, &enc), 0);
    EXPECT_EQ(enc.reso, 3);
    EXPECT_EQ(enc.videoStandard, 1);
    EXPECT_EQ(enc.vEnc, 2);
    EXPECT_EQ(enc.aEnc, 5);
    EXPECT_EQ(enc.frameRate, 15);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    size_t records = 0, calls = 0;
    for (;; ++calls) {
        RKCONTAINER_FRAME_HEAD head{};
        RKCONTAINER_ENCODE rec{9, 9, 9, 9, 9};
        int rc = RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &rec);
        if (rc == -4) {
            EXPECT_EQ(rec.reso, 9) << "the end leaves the record alone";
            break;
        }
        ASSERT_EQ(rc, 0);
        if (rec.frameRate == 15) {
            ++records;
            EXPECT_EQ(rec.reso, 3);
        } else {
            EXPECT_EQ(rec.frameRate, 0) << "a record of zeros inside a block";
        }
    }
    EXPECT_EQ(records, written.blocks[0].size() - 1);
    RKCONTAINER_FRAME_HEAD head{};
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), -4) << "the end stays the end";
}

// Damaging one frame head ends its block; reading resumes at the next block.
struct HeadDamage {
    const char* name;
    size_t offset;   // within the frame head
    uint32_t value;  // written as 1 byte (sign) or 4 bytes (length)
};

void PrintTo(const HeadDamage& d, std::ostream* os) { *os << d.name; }

class DamagedHead : public ::testing::TestWithParam<HeadDamage> {};

TEST_P(DamagedHead, EndsTheBlockAndReadingGoesOnAtTheNext)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00005.rpo", 5);
    SyntheticPlan plan = FourChannels(12, 150000, 50000);
    plan.channels.resize(2);
    SyntheticResult written = WriteSynthetic(image, plan);
    const auto& frames = written.frames[1];
    const auto& places = written.places[1];
    ASSERT_GE(written.blocks[1].size(), 3u);

    // A frame in the middle of the second block whose head lies whole inside it.
    size_t victim = 0;
    for (size_t i = 0; i < places.size(); ++i)
        if (places[i].blockIndex == 1 && i + 3 < places.size() && places[i + 3].blockIndex == 1) victim = i + 1;
    ASSERT_GT(victim, 0u);
    const uint64_t at = DataFileOffset(PositionOfBlock(places[victim].blkId), image.BlockSize(), places[victim].logical);
    uint8_t bytes[4];
    StoreLE32(bytes, GetParam().value);
    image.WriteRaw(at + GetParam().offset, bytes, GetParam().offset == 0 ? 1 : 4);

    std::vector<ExpectedFrame> expected(frames.begin(), frames.begin() + long(victim));
    for (size_t i = victim; i < frames.size(); ++i)
        if (places[i].blockIndex >= 2) expected.push_back(frames[i]);

    ReadResult r = ReadChannel(image.Path(), 1);
    EXPECT_EQ(r.badHeads, 1);
    EXPECT_EQ(r.lastResult, -4);
    EXPECT_TRUE(r.frames == expected) << "read " << r.frames.size() << ", expected " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(
    Heads, DamagedHead,
    ::testing::Values(HeadDamage{"NoSign", 0, 'G'}, HeadDamage{"ZeroLength", 4, 0},
                      HeadDamage{"LengthBeyondMainStreamMaximum", 4, kMaxFrameSizeMain + 1},
                      HeadDamage{"HugeLength", 4, 0xFFFFFFF0u}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ContainerRead, SubStreamFramesAboveTheirMaximumAreBadHeads)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00006.rpo", 6);
    CRecordWriter w(image, Channel(3, true));
    uint64_t pts = uint64_t(kT0) * 1000000;
    auto p = MakePayload(1, 1000);
    ASSERT_EQ(w.WriteFrame(kFrameI, pts, p.data(), 1000), WriteResult::kWritten);
    ASSERT_EQ(w.WriteFrame(kFrameP, pts + 40000, p.data(), 1000), WriteResult::kWritten);
    w.Close();
    // The second head announces one byte more than a sub-stream frame may hold.
    uint8_t len[4];
    StoreLE32(len, kMaxFrameSizeSub + 1);
    const auto& second = w.Places()[1];
    image.WriteRaw(DataFileOffset(PositionOfBlock(second.blkId), image.BlockSize(), second.logical) + 4, len, 4);
    ReadResult r = ReadChannel(image.Path(), 3);
    EXPECT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.badHeads, 1);
}

TEST(ContainerRead, MissingContinuationBlockDropsOnlyTheCrossingFrame)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00007.rpo", 7);
    SyntheticPlan plan = FourChannels(12, 150000, 50000);
    plan.channels.resize(1);
    SyntheticResult written = WriteSynthetic(image, plan);
    const auto& blocks = written.blocks[0];
    ASSERT_GE(blocks.size(), 3u);
    // Point the first block's chain somewhere else.
    auto area = image.ReadHeadArea(PositionOfBlock(blocks[0]));
    ASSERT_NE(area.head.recData.borrow.get(), 0u);
    area.head.setNextBlkId(image.BlockId(30));
    SealHead(area.head);
    image.WriteHeadAreaAt(PositionOfBlock(blocks[0]), area);

    std::vector<ExpectedFrame> expected;
    const auto& frames = written.frames[0];
    const auto& places = written.places[0];
    size_t lastInFirst = 0;
    for (size_t i = 0; i < frames.size(); ++i)
        if (places[i].blockIndex == 0) lastInFirst = i;
    for (size_t i = 0; i < frames.size(); ++i)
        if (i != lastInFirst) expected.push_back(frames[i]);

    ReadResult r = ReadChannel(image.Path(), 0);
    EXPECT_EQ(r.badHeads, 0);
    EXPECT_EQ(r.emptyReads, 1);
    EXPECT_TRUE(r.frames == expected);
}

TEST(ContainerRead, UseSizeBeyondTheBlockNeverReadsPastIt)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00008.rpo", 8);
    SyntheticPlan plan = FourChannels(6, 100000, 30000);
    plan.channels.resize(1);
    SyntheticResult written = WriteSynthetic(image, plan);
    const uint32_t last = written.blocks[0].back();
    auto area = image.ReadHeadArea(PositionOfBlock(last));
    area.head.recData.useSize.set(0xFFFFFF);
    SealHead(area.head);
    image.WriteHeadAreaAt(PositionOfBlock(last), area);
    ReadResult r = ReadChannel(image.Path(), 0, {}, false, 100000);
    EXPECT_EQ(r.lastResult, -4);
    ASSERT_GE(r.frames.size(), written.frames[0].size());
    EXPECT_TRUE(std::equal(written.frames[0].begin(), written.frames[0].end(), r.frames.begin()));
}

TEST(ContainerRead, MainAndSubStreamOfOneChannelAreNotMixed)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00009.rpo", 9);
    SyntheticPlan plan = FourChannels(10, 120000, 40000);
    plan.channels.resize(3);
    plan.channels[1].params = Channel(0, true);  // channel 0's sub stream
    plan.channels[1].iFrameBytes = 60000;
    plan.channels[2].params = Channel(5, true);  // a channel recorded only in its sub stream
    plan.channels[2].iFrameBytes = 60000;
    SyntheticResult written = WriteSynthetic(image, plan);

    ReadResult main = ReadChannel(image.Path(), 0);
    EXPECT_TRUE(main.frames == written.frames[0]);
    ReadResult subOnly = ReadChannel(image.Path(), 5);
    EXPECT_TRUE(subOnly.frames == written.frames[2]);
}

TEST(ContainerRead, ReadingBeforeSelectingAChannelFails)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00010.rpo", 10);
    CContainerReader file(image.Path());
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);
    RKCONTAINER_FRAME_HEAD head{};
    RKCONTAINER_ENCODE enc{};
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(file.Slot(), buffer.data(), &head, &enc), -1);
    EXPECT_EQ(RKCONTAINER_SeekIFrame(file.Slot(), kT0, &enc), -3);
    RKCONTAINER_HANDLE empty = nullptr;
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(&empty, buffer.data(), &head, &enc), -2);
    EXPECT_EQ(RKCONTAINER_ReadOneFrame(nullptr, buffer.data(), &head, &enc), -2);
}

}  // namespace
}  // namespace velmor::fixtures
