// Record files on a mounted partition: search, open by descriptor, reading
// by kind and by I frame, seeking, the descriptor table and the read-only
// windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/store/PartitionFixture.h"
#include "tests/support/BackupWriter.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

bool Has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

class Mounted : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_part = new WrappedPartition(); }
    static void TearDownTestSuite()
    {
        delete s_part;
        s_part = nullptr;
    }
    void SetUp() override
    {
        m_mount = std::make_unique<CMountGuard>("", s_part->Dir(), 1);
        ASSERT_EQ(m_mount->Result(), 0);
    }
    void TearDown() override { m_mount.reset(); }

    // The search result of the record file whose first surviving block is `front`.
    StRecFileInfo_t FileAt(uint32_t front)
    {
        for (const auto& fi : Search(s_part->Dir(), AllRecords(), 2000))
            if ((uint32_t(fi.uuid) & 0x3FFFF) == front) return fi;
        ADD_FAILURE() << "no record file starts at block " << front;
        return StRecFileInfo_t{};
    }
    static std::vector<ExpectedFrame> ReadBackup(const std::filesystem::path& path, std::vector<uint64_t>* offsets)
    {
        StRecBakFileOp_t op{};
        EXPECT_EQ(RKSFS_OpenBakRecFile(&op, path.c_str()), 0);
        StoreRead r = ReadAllFrames(op, RKSFS_ReadBakRecFrame);
        RKSFS_CloseBakRecFile(&op);
        EXPECT_EQ(r.last, 0);
        if (offsets) *offsets = r.offsets;
        return r.frames;
    }

    static WrappedPartition* s_part;
    std::unique_ptr<CMountGuard> m_mount;
    CTempDir m_tmp;
};
WrappedPartition* Mounted::s_part = nullptr;

TEST_F(Mounted, SearchFindsEveryRecordFileWithItsInformation)
{
    const auto found = Search(s_part->Dir(), AllRecords(), 2000);
    // The history, the intact long recording and what is left of the covered one.
    ASSERT_EQ(found.size(), s_part->history.size() + 2);
    // Allocation order from the oldest block: the covered recording first.
    const StRecFileInfo_t& first = found.front();
    EXPECT_EQ(uint32_t(first.uuid), s_part->covered.blocks[1]) << "from its first surviving block";
    EXPECT_EQ(first.continued, 1) << "its second block begins inside a split frame";
    EXPECT_EQ(first.channel, 0);
    EXPECT_EQ(first.endTime, s_part->covered.endTime);
    EXPECT_EQ(std::string(first.dirTail2), s_part->Dir().substr(s_part->Dir().size() - 2));
    std::set<int32_t> uuids;
    for (const auto& fi : found) uuids.insert(fi.uuid);
    EXPECT_EQ(uuids.size(), found.size());
    for (const auto& r : s_part->history) {
        const StRecFileInfo_t fi = FileAt(r.blocks[0]);
        EXPECT_EQ(fi.beginTime, r.beginTime);
        EXPECT_EQ(fi.endTime, r.endTime);
        EXPECT_EQ(fi.channel, r.params.channel);
        EXPECT_EQ(fi.readOnly, r.params.readOnly ? 1 : 0);
        EXPECT_EQ(fi.reasonBit, r.params.reason);
        EXPECT_EQ(fi.continued, 0);
    }
    const StRecFileInfo_t intact = FileAt(s_part->intact.blocks[0]);
    EXPECT_EQ(intact.beginTime, s_part->intact.beginTime);
    EXPECT_EQ(intact.endTime, s_part->intact.endTime);
    EXPECT_EQ(intact.continued, 0);
    std::vector<StRecFileInfo_t> one(1);
    const int n = RKSFS_SearchLatestRecFile(s_part->Dir().c_str(), nullptr, one.data(), 1, 0);
    EXPECT_EQ(n, -1);
}

TEST_F(Mounted, TheLatestFilesOfEachCondition)
{
    const auto ch2 = s_part->HistoryOf(2);
    ASSERT_GT(ch2.size(), 20u);
    // Five matching files, room for three: the three latest.
    StRecSearchCond_t c = AllRecords();
    c.chnBit = 1u << 2;
    c.beginTime = ch2[10].beginTime;
    c.endTime = ch2[14].endTime;
    const auto found = Search(s_part->Dir(), c, 3);
    ASSERT_EQ(found.size(), 3u);
    std::vector<uint32_t> begins;
    for (const auto& fi : found) begins.push_back(fi.beginTime);
    EXPECT_EQ(begins, (std::vector<uint32_t>{ch2[13].beginTime, ch2[14].beginTime, ch2[12].beginTime}))
        << "later files replace the earliest in its place";
    // Read-only ones only: every seventh recording.
    c = AllRecords();
    c.readOnly = 1;
    for (const auto& fi : Search(s_part->Dir(), c, 2000)) {
        EXPECT_EQ(fi.readOnly, 1);
    }
    size_t ro = 0;
    for (const auto& r : s_part->history) ro += r.params.readOnly ? 1 : 0;
    EXPECT_EQ(Search(s_part->Dir(), c, 2000).size(), ro);
    // By reason: history recording i has reason 1 << (i % 3).
    c = AllRecords();
    c.reasonBit = 4;
    for (const auto& fi : Search(s_part->Dir(), c, 2000)) {
        EXPECT_EQ(fi.reasonBit & 4, 4u);
    }
    // The sub stream: none.
    c = AllRecords();
    c.subStream = 1;
    int rc = 0;
    EXPECT_TRUE(Search(s_part->Dir(), c, 10, &rc).empty());
    EXPECT_EQ(rc, 0);
    // Argument errors.
    c.subStream = 2;
    StoreLog().Start();
    Search(s_part->Dir(), c, 10, &rc);
    EXPECT_EQ(rc, -1);
    c = AllRecords();
    c.beginTime = 10;
    c.endTime = 9;
    Search(s_part->Dir(), c, 10, &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "argument error"));
}

TEST_F(Mounted, ResultsOfSeveralSearchesShareOneArray)
{
    StRecSearchCond_t c = AllRecords();
    c.chnBit = 1;
    const auto ch0 = Search(s_part->Dir(), c, 2000);
    c.chnBit = 2;
    const auto ch1 = Search(s_part->Dir(), c, 2000);
    std::vector<StRecFileInfo_t> all(ch0.size() + ch1.size());
    c.chnBit = 1;
    int held = RKSFS_SearchLatestRecFile(s_part->Dir().c_str(), &c, all.data(), all.size(), 0);
    c.chnBit = 2;
    held = RKSFS_SearchLatestRecFile(s_part->Dir().c_str(), &c, all.data(), all.size(), size_t(held));
    EXPECT_EQ(size_t(held), all.size());
    EXPECT_EQ(all[ch0.size()].uuid, ch1[0].uuid);
}

TEST_F(Mounted, ReasonAndReadOnlySegments)
{
    const auto ch3 = s_part->HistoryOf(3);
    StRecSearchCond_t c = AllRecords();
    c.chnBit = 1u << 3;
    c.beginTime = ch3[0].beginTime;
    c.endTime = ch3[20].endTime;
    std::vector<StRecFileInfo_t> rec(50);
    std::vector<StRecRsnSeg_t> rsn(100);
    std::vector<StRecRoSeg_t> ro(100);
    size_t rsnHold = 0, roHold = 0;
    const int n = RKSFS_SearchLatestRecFileEx(s_part->Dir().c_str(), &c, rec.data(), rec.size(), 0, rsn.data(),
                                              rsn.size(), &rsnHold, ro.data(), ro.size(), &roHold);
    ASSERT_EQ(n, 21);
    // Each recording has one reason and three one-second blocks in a row: one segment each.
    ASSERT_EQ(rsnHold, 21u);
    for (size_t i = 0; i < rsnHold; ++i) {
        const WrittenRecording& r = ch3[i];
        const StRecRsnSeg_t seg = rsn[i];  // packed: copied before its fields are compared
        const uint32_t begin = seg.beginTime, end = seg.endTime, bitNo = seg.reasonBitNo;
        const int32_t uuid = seg.uuid;
        EXPECT_EQ(begin, r.beginTime);
        EXPECT_EQ(end, r.endTime);
        EXPECT_EQ(1u << bitNo, r.params.reason);
        EXPECT_EQ(uuid, rec[i].uuid);
        EXPECT_EQ(int(seg.readOnly), r.params.readOnly ? 1 : 0);
    }
    size_t roFiles = 0;
    for (size_t i = 0; i <= 20; ++i) roFiles += ch3[i].params.readOnly ? 1 : 0;
    EXPECT_EQ(roHold, roFiles);
    for (size_t i = 0; i < roHold; ++i) {
        EXPECT_LE(ro[i].beginTime, ro[i].endTime);
    }
    // A segment array without its hold.
    StoreLog().Start();
    EXPECT_EQ(RKSFS_SearchLatestRecFileEx(s_part->Dir().c_str(), &c, rec.data(), rec.size(), 0, rsn.data(),
                                          rsn.size(), nullptr, nullptr, 0, nullptr),
              -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "pRsnHold = (nil)"));
}

TEST_F(Mounted, ReadsLikeTheBackupExport)
{
    for (const WrittenRecording* r : {&s_part->intact, &s_part->covered}) {
        const bool isCovered = r == &s_part->covered;
        SCOPED_TRACE(isCovered ? "covered" : "intact");
        std::vector<uint32_t> blocks = r->blocks;
        if (isCovered) blocks.erase(blocks.begin());
        const StRecFileInfo_t fi = FileAt(blocks[0]);
        const auto path = m_tmp / "export.rkrec";
        ExportBackupFile(*s_part->image, blocks, path);
        std::vector<uint64_t> bakOffsets;
        const auto bakFrames = ReadBackup(path, &bakOffsets);

        StoreLog().Start();
        const int fd = RKSFS_OpenRecFile(&fi);
        const std::string log = StoreLog().Take();
        ASSERT_GE(fd, 0) << log;
        if (isCovered) {
            EXPECT_TRUE(Has(log, "pDBHs[0].recData.prevBlkId = 1"));
        }
        const StoreRead mounted = ReadAllByFd(fd, RKSFS_ReadFrame);
        EXPECT_EQ(mounted.last, 0);
        EXPECT_TRUE(mounted.frames == bakFrames);
        EXPECT_TRUE(mounted.offsets == bakOffsets);
        EXPECT_EQ(RKSFS_Feof(fd), 1);
        if (!isCovered) {
            EXPECT_TRUE(mounted.frames == r->frames);
        } else {
            // From the first I frame of its first surviving block to the end.
            ASSERT_FALSE(mounted.frames.empty());
            EXPECT_EQ(mounted.frames.front().type, kFrameI);
            EXPECT_TRUE(std::equal(mounted.frames.begin(), mounted.frames.end(), r->frames.end() - long(mounted.frames.size())));
        }
        StRecFileInfo_t back{};
        EXPECT_EQ(RKSFS_GetRecFileInfo(fd, &back), 0);
        EXPECT_EQ(back.uuid, fi.uuid);
        EXPECT_EQ(back.size, std::filesystem::file_size(path));
        StRecEncode_t enc{};
        StAudioProp_t prop{};
        EXPECT_EQ(RKSFS_GetRecFileEncode(fd, &enc, &prop), 0);
        EXPECT_EQ(enc.reso, 4u);
        EXPECT_EQ(enc.aEnc, 2u);
        EXPECT_EQ(enc.frameRate, 25);
        EXPECT_EQ(prop.bytes[13], 14);
        EXPECT_EQ(RKSFS_CloseFile(fd), 0);
    }
}

TEST_F(Mounted, ReadingByKind)
{
    const StRecFileInfo_t fi = FileAt(s_part->intact.blocks[0]);
    std::vector<ExpectedFrame> video, audio;
    for (const auto& f : s_part->intact.frames) (IsVideoType(f.type) ? video : audio).push_back(f);
    int fd = RKSFS_OpenRecFile(&fi);
    ASSERT_GE(fd, 0);
    StoreRead v = ReadAllByFd(fd, RKSFS_ReadVideoFrame);
    EXPECT_EQ(v.last, 0) << "0 at the end although the last frame is audio";
    EXPECT_TRUE(v.frames == video);
    RKSFS_CloseFile(fd);
    fd = RKSFS_OpenRecFile(&fi);
    StoreRead a = ReadAllByFd(fd, RKSFS_ReadAudioFrame);
    EXPECT_TRUE(a.frames == audio);
    RKSFS_CloseFile(fd);
    fd = RKSFS_OpenRecFile(&fi);
    auto forward = [](int d, uint8_t* b, size_t n, RKSFS_FRAME_HEAD* h) { return RKSFS_ReadIFrame(d, b, n, h, 0); };
    StoreRead i = ReadAllByFd(fd, forward);
    std::vector<ExpectedFrame> iframes;
    for (const auto& f : video)
        if (f.type == kFrameI) iframes.push_back(f);
    EXPECT_TRUE(i.frames == iframes);
    RKSFS_CloseFile(fd);
    // A buffer too small for a frame fails and leaves the descriptor in error.
    fd = RKSFS_OpenRecFile(&fi);
    std::vector<uint8_t> small(100);
    RKSFS_FRAME_HEAD head{};
    StoreLog().Start();
    EXPECT_EQ(RKSFS_ReadFrame(fd, small.data(), 0, &head), 0) << "a length of 0 reads nothing";
    EXPECT_EQ(RKSFS_ReadFrame(fd, small.data(), small.size(), &head), -1);
    EXPECT_EQ(RKSFS_ReadFrame(fd, small.data(), small.size(), &head), -1);
    EXPECT_EQ(RKSFS_SeekRelTime(fd, 0, nullptr), -1);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "bufLen = 100, pFrameHead->length ="));
    EXPECT_TRUE(Has(log, "file already error"));
    EXPECT_EQ(RKSFS_CloseFile(fd), 0);
    EXPECT_EQ(RKSFS_ReadFrame(-3, small.data(), small.size(), &head), -9);
}

TEST_F(Mounted, SeeksAndBehindMode)
{
    const WrittenRecording& r = s_part->intact;
    const StRecFileInfo_t fi = FileAt(r.blocks[0]);
    const int fd = RKSFS_OpenRecFile(&fi);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    // Relative 0: the first I frame, at offset 4096.
    EXPECT_EQ(RKSFS_SeekRelTime(fd, 0, nullptr), 4096);
    ASSERT_GT(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head), 0);
    EXPECT_EQ(head.pts, r.frames[0].pts);
    // Every second: the I frame at or before it, as the backup reader finds it.
    const auto path = m_tmp / "intact.rkrec";
    const auto stored = ExportBackupFile(*s_part->image, r.blocks, path);
    StRecBakFileOp_t op{};
    ASSERT_EQ(RKSFS_OpenBakRecFile(&op, path.c_str()), 0);
    for (uint32_t t = r.beginTime; t <= r.endTime; ++t) {
        SCOPED_TRACE(t);
        const int64_t off = RKSFS_SeekTime(fd, t, nullptr);
        ASSERT_GE(off, 0);
        ASSERT_EQ(RKSFS_SeekBakRecTime(&op, t), 0);
        EXPECT_EQ(uint64_t(off), op.curOffset - op.frmHeadWrSize);
        ASSERT_GT(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head), 0);
        EXPECT_EQ(head.type, kFrameI);
        EXPECT_LE(head.pts / 1000000, t);
        RKSFS_FRAME_HEAD bakHead{};
        ASSERT_GT(RKSFS_ReadBakRecFrame(&op, buffer.data(), buffer.size(), &bakHead), 0);
        EXPECT_EQ(head.pts, bakHead.pts);
        EXPECT_EQ(uint64_t(RKSFS_Ftell64(fd)), op.curOffset);
    }
    RKSFS_CloseBakRecFile(&op);
    // Behind mode: the first video frame after the second, position unchanged.
    const int64_t before = RKSFS_Ftell64(fd);
    int behind = 1;
    // A second that ends no block (at a block's last second the answer is
    // the next block's first frame head).
    uint32_t t = r.beginTime + 1;
    auto endsABlock = [&](uint32_t s) {
        for (uint32_t id : r.blocks)
            if (BlockEndTime(s_part->image->Heads()[id].recData) == s) return true;
        return false;
    };
    while (endsABlock(t)) ++t;
    const int64_t off = RKSFS_SeekTime(fd, t, &behind);
    ASSERT_GT(off, 0);
    EXPECT_EQ(RKSFS_Ftell64(fd), before);
    // Which frame begins there: find it from the places the writer noted.
    size_t k = 0;
    while (k < r.frames.size() && !(IsVideoType(r.frames[k].type) && r.frames[k].pts / 1000000 > t)) ++k;
    ASSERT_LT(k, r.frames.size());
    const FramePlace& place = r.places[k];
    const uint64_t expected = stored[place.blockIndex] + place.logical;
    EXPECT_EQ(uint64_t(off), expected);
    EXPECT_EQ(RKSFS_SeekTime(fd, r.endTime, &behind), int64_t(fi.size)) << "after the last second: the end";
    StoreLog().Start();
    EXPECT_LT(RKSFS_SeekTime(fd, r.endTime + 1, nullptr), 0);
    EXPECT_TRUE(Has(StoreLog().Take(), "pFileOp->recFI.beginTime"));
    RKSFS_CloseFile(fd);
}

TEST_F(Mounted, BackwardIFramesFromTheThirdBlock)
{
    const WrittenRecording& r = s_part->intact;
    ASSERT_GE(r.blocks.size(), 4u);
    const StRecFileInfo_t fi = FileAt(r.blocks[0]);
    const int fd = RKSFS_OpenRecFile(&fi);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    StoreLog().Start();
    EXPECT_EQ(RKSFS_ReadIFrame(fd, buffer.data(), buffer.size(), &head, 1), 0);
    EXPECT_TRUE(Has(StoreLog().Take(), "can't start."));
    // The I frames by the block their head begins in.
    std::vector<size_t> iframes;
    for (size_t i = 0; i < r.frames.size(); ++i)
        if (r.frames[i].type == kFrameI) iframes.push_back(i);
    // Seek into the middle of the third block.
    const StRecData_t& third = s_part->image->Heads()[r.blocks[2]].recData;
    const uint32_t t = third.beginTime.get() + third.duration.get() / 2;
    ASSERT_GE(RKSFS_SeekTime(fd, t, nullptr), 0);
    std::vector<size_t> expect;
    for (size_t i : iframes)
        if (r.frames[i].pts / 1000000 <= t) expect.push_back(i);
    // The seek lands on the last I frame of second t or before it.
    std::reverse(expect.begin(), expect.end());
    std::vector<uint64_t> got;
    std::vector<uint32_t> gotCrc;
    std::set<uint32_t> blocks;
    for (;;) {
        const int rc = RKSFS_ReadIFrame(fd, buffer.data(), buffer.size(), &head, 1);
        ASSERT_GE(rc, 0);
        if (rc == 0) break;
        EXPECT_EQ(head.type, kFrameI);
        got.push_back(head.pts);
        gotCrc.push_back(Crc32(buffer.data(), head.length));
        ASSERT_LT(got.size(), 10000u);
    }
    ASSERT_EQ(got.size(), expect.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], r.frames[expect[i]].pts);
        if (i > 0) {
            EXPECT_LT(got[i], got[i - 1]) << "descending time";
        }
        blocks.insert(r.places[expect[i]].blockIndex);
        EXPECT_EQ(gotCrc[i], r.frames[expect[i]].crc32) << "the payload read backwards";
    }
    EXPECT_EQ(blocks, (std::set<uint32_t>{0, 1, 2})) << "the third, second and first blocks";
    // Forward again from the first I frame.
    ASSERT_GT(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head), 0);
    EXPECT_EQ(head.pts, r.frames[1].pts);
    RKSFS_CloseFile(fd);
}

TEST_F(Mounted, BuildRecFileInfoFromAUuid)
{
    const StRecFileInfo_t fi = FileAt(s_part->intact.blocks[0]);
    StRecFileInfo_t built{};
    EXPECT_EQ(RKSFS_BuildRecFileInfo(&built, fi.uuid, fi.dirTail2), 0);
    EXPECT_EQ(built.size, fi.size);
    EXPECT_EQ(built.endTime, fi.endTime);
    EXPECT_EQ(std::string(built.dirTail2), std::string(fi.dirTail2));
    StoreLog().Start();
    EXPECT_EQ(RKSFS_BuildRecFileInfo(&built, fi.uuid, "zz"), -1);
    EXPECT_EQ(RKSFS_BuildRecFileInfo(&built, fi.uuid | 0x00040000, nullptr), -1);
    EXPECT_EQ(RKSFS_BuildRecFileInfo(&built, int32_t(s_part->intact.blocks[1]), nullptr), 0)
        << "the second block has an I frame too";
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "pDirTail2 = zz"));
    EXPECT_TRUE(Has(log, "error fd ="));
}

TEST_F(Mounted, DescriptorsComeFromACounter)
{
    const StRecFileInfo_t fi = FileAt(s_part->intact.blocks[0]);
    std::vector<int> fds;
    for (int i = 0; i < 64; ++i) {
        fds.push_back(RKSFS_OpenRecFile(&fi));
        ASSERT_GE(fds.back(), 0);
        if (i > 0) {
            EXPECT_EQ(fds[size_t(i)], fds[size_t(i) - 1] + 1);
        }
    }
    StoreLog().Start();
    EXPECT_EQ(RKSFS_OpenRecFile(&fi), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "can't open more than 64 file."));
    EXPECT_EQ(RKSFS_CloseFile(fds[10]), 0);
    const int again = RKSFS_OpenRecFile(&fi);
    EXPECT_GT(again, fds.back()) << "a new number, not the freed one";
    StoreLog().Start();
    EXPECT_EQ(RKSFS_CloseFile(fds[10]), -10001);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    EXPECT_EQ(RKSFS_ReadFrame(fds[10], buffer.data(), buffer.size(), &head), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "fd isn't openning."));
    for (int fd : fds)
        if (fd != fds[10]) {
            EXPECT_EQ(RKSFS_CloseFile(fd), 0);
        }
    EXPECT_EQ(RKSFS_CloseFile(again), 0);
    // dirTail2 of one character fails before anything else.
    StRecFileInfo_t bad = fi;
    bad.dirTail2[1] = 0;
    StoreLog().Start();
    EXPECT_EQ(RKSFS_OpenRecFile(&bad), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "len = 1 != 2"));
}

TEST_F(Mounted, ARemountInvalidatesEarlierDescriptors)
{
    const StRecFileInfo_t fi = FileAt(s_part->intact.blocks[0]);
    const int fd = RKSFS_OpenRecFile(&fi);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    ASSERT_GT(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head), 0);
    StoreLog().Start();
    ASSERT_EQ(RKSFS_Umount2(s_part->Dir().c_str(), 0), 0);
    ASSERT_EQ(RKSFS_Mount2(nullptr, s_part->Dir().c_str(), 1), 0);
    EXPECT_EQ(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head), -1);
    EXPECT_EQ(RKSFS_CloseFile(fd), -10001);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "you'd better close fd = " + std::to_string(fd)));
    EXPECT_TRUE(Has(log, "fd isn't openning."));
    // The information found before the remount still opens.
    const int again = RKSFS_OpenRecFile(&fi);
    EXPECT_GE(again, 0);
    RKSFS_CloseFile(again);
}

// On a mounted partition, as in a backup record file: a seek to the second of
// an I frame whose head starts k bytes before its block's end lands on it.
class MountedSplitHeadSeek : public ::testing::TestWithParam<uint32_t> {};

TEST_P(MountedSplitHeadSeek, LandsOnTheSplitIFrame)
{
    const uint32_t k = GetParam();
    CTempDir dir;
    CPartitionImage image(dir.Path(), PartitionOptions{8});
    ASSERT_EQ(image.BlockSize(), 0x400000u);
    const SplitHeadRecording rec = WriteSplitHeadRecording(image, k);
    ASSERT_EQ(rec.blocks.size(), 2u);
    EXPECT_EQ(image.ReadHeadArea(rec.blocks[0]).neck.ifrIdx[1].offset.get(), 0x400000u - k);
    image.WriteIndexHead({});
    CMountGuard mount("", image.Dir().string(), 1);
    ASSERT_EQ(mount.Result(), 0);
    const auto found = Search(image.Dir().string(), AllRecords(), 16);
    auto it = std::find_if(found.begin(), found.end(), [&](const StRecFileInfo_t& fi) {
        return (uint32_t(fi.uuid) & 0x3FFFF) == rec.blocks[0];
    });
    ASSERT_NE(it, found.end());
    const int fd = RKSFS_OpenRecFile(&*it);
    ASSERT_GE(fd, 0);
    // The head's offset as a backup record file would hold it.
    EXPECT_EQ(RKSFS_SeekTime(fd, kT0 + 2, nullptr), int64_t(0x400000 - k));
    const StoreRead r = ReadAllByFd(fd, RKSFS_ReadFrame);
    EXPECT_TRUE(r.frames == rec.fromSplit) << r.frames.size() << " frames read";
    RKSFS_CloseFile(fd);
}

INSTANTIATE_TEST_SUITE_P(EveryHeadByteLeft, MountedSplitHeadSeek, ::testing::Range(1u, 16u));

TEST(MountedCover, AFileCoveredAfterTheSearchFailsToOpen)
{
    WrappedPartition part;
    CMountGuard mount("", part.Dir(), 1);
    ASSERT_EQ(mount.Result(), 0);
    const auto found = Search(part.Dir(), AllRecords(), 2000);
    // The oldest short recording after the common files.
    const WrittenRecording& victim = part.history.front();
    auto it = std::find_if(found.begin(), found.end(),
                           [&](const StRecFileInfo_t& fi) { return uint32_t(fi.uuid) == victim.blocks[0]; });
    ASSERT_NE(it, found.end());
    const StRecFileInfo_t info = *it;
    // The recorder goes on and covers it; the disk is mounted again.
    ASSERT_EQ(RKSFS_Umount2(part.Dir().c_str(), 0), 0);
    part.image->SetNextBlock(victim.blocks[0]);
    HistoryPlan h;
    h.startTime = part.history.back().endTime + 100;
    h.recordings = 1;
    h.channels = 1;
    h.blocksPerRecording = 1;
    h.seed = 77;
    WriteHistory(*part.image, h);
    part.image->WriteIndexHead({});
    ASSERT_EQ(RKSFS_Mount2(nullptr, part.Dir().c_str(), 1), 0);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_OpenRecFile(&info), -1);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "channel = 0vs" + std::to_string(info.channel))) << log;
    EXPECT_TRUE(Has(log, "beginTime = " + std::to_string(h.startTime) + "vs" + std::to_string(info.beginTime)));
}

TEST(MountedCover, AFileWithoutASurvivingIFrameDisappears)
{
    CTempDir dir;
    PartitionOptions o;
    o.containerFiles = 2;  // 63 data blocks
    CPartitionImage image(dir.Path(), o);
    // Three blocks, an I frame only at the start of the first.
    CRecordWriter w(image, Recording(4));
    std::vector<uint8_t> payload(500, 1);
    uint64_t pts = uint64_t(kT0) * kUs;
    for (int b = 0; b < 3; ++b) {
        for (int f = 0; f < 25; ++f, pts += 40000)
            ASSERT_EQ(w.WriteFrame(b == 0 && f == 0 ? 1 : 2, pts, payload.data(), 500), WriteResult::kWritten);
        w.EndBlock();
    }
    w.Close();
    HistoryPlan h;
    h.startTime = kT0 + 1000;
    h.recordings = 20;  // blocks 4 to 63
    h.channels = 1;
    auto history = WriteHistory(image, h);
    h.startTime = history.back().endTime + 5;
    h.recordings = 1;
    h.blocksPerRecording = 1;
    WriteHistory(image, h);  // covers block 1: the recording's only I frame
    ASSERT_TRUE(image.Covering());
    image.WriteIndexHead({});
    CMountGuard mount("", image.Dir().string(), 1);
    ASSERT_EQ(mount.Result(), 0);
    StMountInfo_t info{};
    ASSERT_EQ(RKSFS_GetMountInfo(image.Dir().c_str(), &info), 0);
    EXPECT_EQ(info.recFileFronts, 22u) << "block 2 begins a chain at mount";
    const auto found = Search(image.Dir().string(), AllRecords(), 100);
    EXPECT_EQ(found.size(), 21u) << "the history only";
    for (const auto& fi : found) {
        EXPECT_NE(fi.channel, 4);
    }
    ASSERT_EQ(RKSFS_GetMountInfo(image.Dir().c_str(), &info), 0);
    EXPECT_EQ(info.recFileFronts, 21u) << "the search dropped it from the list";
}

TEST_F(Mounted, TheWritingInterfaceWritesNothing)
{
    StRecEncode_t enc{4, 0, 1, 0, 25};
    StoreLog().Start();
    EXPECT_EQ(RKSFS_CreateRecFile(s_part->Dir().c_str(), 0, 0, 1, &enc, nullptr), -1);
    EXPECT_EQ(RKSFS_CreateRecFile(s_part->Dir().c_str(), 0, 0, 0, &enc, nullptr), -1);
    enc.frameRate = 0;
    EXPECT_EQ(RKSFS_CreatePreRecFile(s_part->Dir().c_str(), 0, 0, &enc, nullptr), -1);
    EXPECT_EQ(RKSFS_CreatePreRecFile("E", 0, 0, &enc, nullptr), -1);
    EXPECT_EQ(RKSFS_ConvPreRecFile(-1, 1), -9);
    RKSFS_FRAME_HEAD h{'F', 0, 0, 1, 10, 1000};
    uint8_t payload[10] = {};
    EXPECT_EQ(RKSFS_WriteFrame(-1, payload, &h), -9);
    EXPECT_EQ(RKSFS_WriteFrame(12345, payload, &h), -10001);
    h.sign = 'X';
    EXPECT_EQ(RKSFS_WriteFrame(12345, payload, &h), 0) << "dropped";
    const StRecFileInfo_t fi = FileAt(s_part->intact.blocks[0]);
    const int fd = RKSFS_OpenRecFile(&fi);
    h.sign = 'F';
    EXPECT_EQ(RKSFS_WriteFrame(fd, payload, &h), -10003) << "open for reading only";
    EXPECT_EQ(RKSFS_UpdateReason(fd, 0), -1);
    EXPECT_EQ(RKSFS_UpdateReason(fd, 2), -1);
    EXPECT_EQ(RKSFS_SetAudioEnc(fd, 2, nullptr), -1);
    EXPECT_EQ(RKSFS_UpdateReason(-2, 2), -9);
    RKSFS_CloseFile(fd);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "error reason"));
    EXPECT_TRUE(Has(log, "error enc.frameRate = 0"));
    EXPECT_TRUE(Has(log, "error argLen1 = 1"));
}

TEST(ReadOnlyWindows, WidenAndCancel)
{
    RKSFS_Init(16);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 100, 200), 0) << "a new window is a success";
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 150, 300), 0);
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 50, 60), 0) << "so is one widened to an earlier begin";
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "tiRecROBgTm = 50, tiRecROEndTm = 300"));
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 0, 0), -1);
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 9, 8), -1);
    EXPECT_EQ(RKSFS_CancelRecBlockRO(3, 0), 0);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_CancelRecBlockRO(16, 0), -1);
    EXPECT_EQ(RKSFS_SetRecBlockRO(16, 0, 1, 2), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "channel = 16, tiRecChnCnt = 16"));
    EXPECT_EQ(RKSFS_SetRecBlockRO(3, 0, 100, 200), 0) << "a new window after the cancel";
    EXPECT_EQ(RKSFS_SetROValidTime(3600), 0);
    RKSFS_SetROValidTime(0);
    StRecFileInfo_t fi{};
    EXPECT_EQ(RKSFS_SetRecFileRO(&fi, 1), -1);
    EXPECT_EQ(RKSFS_SearchRecFile("E:", nullptr), -1);
}

}  // namespace
}  // namespace velmor::fixtures
