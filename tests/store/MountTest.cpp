// Mounting partitions: geometry, index block heads, the head set or its
// rebuild, first and last blocks, space and covering.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>

#include "tests/store/PartitionFixture.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

bool Has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

StMountInfo_t Info(const std::string& dir)
{
    StMountInfo_t info{};
    EXPECT_EQ(RKSFS_GetMountInfo(dir.c_str(), &info), 0);
    return info;
}

// Every container file's size and modification time, to show nothing was written.
std::vector<std::pair<uint64_t, int64_t>> Stamps(const CPartitionImage& image)
{
    std::vector<std::pair<uint64_t, int64_t>> out;
    for (uint32_t n = 0; n < image.ContainerFiles(); ++n) {
        struct stat st {};
        if (::stat(image.FilePath(n).c_str(), &st) != 0) {
            out.emplace_back(0, 0);
            continue;
        }
        out.emplace_back(uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec);
    }
    return out;
}

TEST(StoreGeometry, BlockSizeAndFileCountFollowTheDeviceSize)
{
    // Worked out by hand from the formatter's rule; the library's formula and
    // the fixture's own copy must both give them.
    struct Case {
        uint64_t devSize;
        uint32_t sectorSize;
        bool accepted;
        uint32_t fileSize, blkSize, files;
    };
    const Case cases[] = {
        {32000000000ull, 512, true, 0x8000000u, 0x400000u, 234u},
        {2000000000000ull, 512, true, 0x10000000u, 0x800000u, 7446u},
        {7983222784ull, 512, true, 0x8000000u, 0x400000u, 55u},  // the smallest device accepted
        {7983222784ull - 512, 512, false, 0, 0, 0},
        {32000000000ull, 1024 + 512, false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.devSize) + " bytes, sectors of " + std::to_string(c.sectorSize));
        rkfs::DeviceGeometry library;
        ASSERT_EQ(rkfs::GeometryOfDevice(c.devSize, c.sectorSize, &library), c.accepted);
        DeviceGeometry fixture;
        ASSERT_EQ(GeometryOfDevice(c.devSize, c.sectorSize, &fixture), c.accepted);
        if (!c.accepted) continue;
        EXPECT_EQ(library.fileSize, c.fileSize);
        EXPECT_EQ(library.blkSize, c.blkSize);
        EXPECT_EQ(library.fileCount, c.files);
        EXPECT_EQ(fixture.fileSize, c.fileSize);
        EXPECT_EQ(fixture.blkSize, c.blkSize);
        EXPECT_EQ(fixture.containerFiles, c.files);
    }
    DeviceGeometry g;
    EXPECT_THROW(DeviceSizeFor(40), std::invalid_argument);
    for (uint32_t n : {55u, 130u, 234u, 4000u, 7446u}) {
        const uint64_t L = DeviceSizeFor(n);
        ASSERT_TRUE(GeometryOfDevice(L, 512, &g));
        EXPECT_EQ(g.containerFiles, n);
    }
}

TEST(StoreInit, ChannelCountAndArguments)
{
    StoreLog().Start();
    EXPECT_EQ(RKSFS_Init(17), -1);
    EXPECT_EQ(RKSFS_Init(16), 0);
    EXPECT_EQ(RKSFS_Mount2(nullptr, "/tmp/x/", 0), -1);
    EXPECT_EQ(RKSFS_Mount2(nullptr, "E", 0), -1);
    EXPECT_EQ(RKSFS_Format("/dev/null"), -1);
    EXPECT_EQ(RKSFS_FormatPartition("/dev/sdz2"), -1);
    EXPECT_EQ(RKSFS_IsMounted2("/nowhere"), 0);
    EXPECT_EQ(RKSFS_GetTotalSpace("/nowhere"), 0u);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "recChnCnt = 17 > 16"));
    EXPECT_TRUE(Has(log, "pMntDir mustn't tail with '/'"));
    EXPECT_TRUE(Has(log, "error argLen2 = 1"));
    EXPECT_TRUE(Has(log, "only support one first partition"));
}

class Wrapped : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_part = new WrappedPartition(); }
    static void TearDownTestSuite()
    {
        delete s_part;
        s_part = nullptr;
    }
    static WrappedPartition* s_part;
};
WrappedPartition* Wrapped::s_part = nullptr;

TEST_F(Wrapped, MountsFromItsHeadSet)
{
    const auto before = Stamps(*s_part->image);
    std::string log;
    CMountGuard mount("", s_part->Dir(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "no device: geometry of index block head 0, fileContCnt = 40")) << log;
    EXPECT_TRUE(Has(log, "idxFileId = 0"));
    EXPECT_FALSE(Has(log, "rebuild data block head set start"));
    const StMountInfo_t info = Info(s_part->Dir());
    EXPECT_EQ(info.fileContCnt, 40);
    EXPECT_EQ(info.blkCnt, 1280u);
    EXPECT_EQ(info.blkSize, 0x400000u);
    EXPECT_EQ(info.sectorSize, 512);
    EXPECT_EQ(info.rebuilt, 0);
    EXPECT_EQ(info.latestCnt, 1u);
    EXPECT_EQ(info.latestIBH[0].updateNo, 5);
    EXPECT_EQ(info.lastApplyBlkId, 1u) << "the wrap reused block 1 last";
    EXPECT_EQ(info.firstDataBlkId, 2u);
    EXPECT_EQ(info.cmFileFronts, 5u);
    EXPECT_EQ(RKSFS_IsMounted2(s_part->Dir().c_str()), 1);
    EXPECT_EQ(RKSFS_IsCovering(s_part->Dir().c_str()), 1);
    EXPECT_EQ(RKSFS_GetTotalSpace(s_part->Dir().c_str()), 1280ull * 0x400000);
    EXPECT_EQ(RKSFS_GetFreeSpace(s_part->Dir().c_str()), 0u) << "covering";
    // Covering would take block 2 next: the end of the covered recording's second block.
    const StRecData_t& rd = s_part->image->Heads()[2].recData;
    EXPECT_EQ(RKSFS_GetOldestEndTime(s_part->Dir().c_str()), rd.beginTime.get() + rd.duration.get());
    EXPECT_EQ(Stamps(*s_part->image), before) << "mounting writes nothing";
}

TEST_F(Wrapped, MountsAgainByFullRebuildWithoutAValidIndexHead)
{
    CPartitionImage::IndexHeadPlan recipe;
    recipe.updateNo = 6;
    recipe.badCheckValue = true;
    recipe.writeHeadSet = false;
    s_part->image->WriteIndexHead(recipe);
    std::string log;
    CMountGuard mount("", s_part->Dir(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "no device and no valid index block head: 40 container files")) << log;
    EXPECT_TRUE(Has(log, "rebuild data block head set start"));
    EXPECT_TRUE(Has(log, "rebuild 100%"));
    const StMountInfo_t info = Info(s_part->Dir());
    EXPECT_EQ(info.rebuilt, 1);
    EXPECT_EQ(info.lastApplyBlkId, 1u);
    EXPECT_EQ(info.firstDataBlkId, 2u);
    EXPECT_EQ(info.latestIBH[0].dataBlkCover, 1u);
    EXPECT_EQ(info.latestIBH[0].mounted, 1);
    EXPECT_EQ(info.cmFileFronts, 5u);
    // The same record files as from the head set.
    auto rebuilt = Search(s_part->Dir(), AllRecords(), 2000);
    RKSFS_Umount2(s_part->Dir().c_str(), 1);
    mount.Forget();
    recipe.badCheckValue = false;
    recipe.writeHeadSet = true;
    s_part->image->WriteIndexHead(recipe);
    CMountGuard again("", s_part->Dir(), 1);
    ASSERT_EQ(again.Result(), 0);
    EXPECT_EQ(Info(s_part->Dir()).rebuilt, 0);
    auto stored = Search(s_part->Dir(), AllRecords(), 2000);
    ASSERT_EQ(rebuilt.size(), stored.size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(rebuilt[i].uuid, stored[i].uuid);
        EXPECT_EQ(rebuilt[i].size, stored[i].size);
        EXPECT_EQ(rebuilt[i].endTime, stored[i].endTime);
    }
}

TEST(StoreMountWrapped, AStaleHeadSetTakesTheNewerBlockHeads)
{
    WrappedPartition part;
    WrappedPartition* s_part = &part;
    // The index was written before the last recordings: the mount reads the
    // heads of the blocks allocated after its lastApplyBlkId.
    CPartitionImage& image = *s_part->image;
    CPartitionImage::IndexHeadPlan recipe;
    recipe.updateNo = 7;
    recipe.mounted = true;  // the last unmount did not complete
    image.WriteIndexHead(recipe);
    const uint32_t lastBefore = image.LastApplyBlkId();
    HistoryPlan h;
    h.startTime = s_part->history.back().endTime + 50;
    h.recordings = 2;
    h.channels = 1;
    auto newer = WriteHistory(image, h);
    std::string log;
    CMountGuard mount("", s_part->Dir(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "warning: not unmount normally"));
    EXPECT_TRUE(Has(log, "rebuild some data block head set start"));
    EXPECT_TRUE(Has(log, "lastApplyBlkIdUpd = " + std::to_string(image.LastApplyBlkId())));
    EXPECT_FALSE(Has(log, "rebuild data block head set start"));
    const StMountInfo_t info = Info(s_part->Dir());
    EXPECT_NE(info.lastApplyBlkId, lastBefore);
    EXPECT_EQ(info.lastApplyBlkId, image.LastApplyBlkId());
    EXPECT_EQ(info.firstDataBlkId, image.FirstDataBlkId());
    auto cond = AllRecords();
    cond.beginTime = newer.front().beginTime;
    auto found = Search(s_part->Dir(), cond, 10);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].beginTime, newer[0].beginTime);
    EXPECT_EQ(found[1].endTime, newer[1].endTime);
}

TEST(StoreMount, AnEmptyPartitionIsMountedByRebuild)
{
    CTempDir dir;
    PartitionOptions o;
    o.containerFiles = 40;
    CPartitionImage image(dir.Path(), o);
    std::string log;
    CMountGuard mount("", image.Dir().string(), 0, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "have no used."));
    const StMountInfo_t info = Info(image.Dir().string());
    EXPECT_EQ(info.firstDataBlkId, 32u);
    EXPECT_EQ(info.lastApplyBlkId, 0u);
    EXPECT_EQ(RKSFS_GetFreeSpace(image.Dir().c_str()), 1280ull * 0x400000) << "the whole area";
    EXPECT_EQ(RKSFS_GetOldestEndTime(image.Dir().c_str()), 0u) << "free room";
    std::vector<StRecFileInfo_t> out(4);
    const auto cond = AllRecords();
    EXPECT_EQ(RKSFS_SearchLatestRecFile(image.Dir().c_str(), &cond, out.data(), 4, 0), -1);
}

// 130 container files behind a device image: two index blocks (files 0 and 128).
class TwoIndexHeads : public ::testing::Test {
protected:
    void SetUp() override
    {
        PartitionOptions o;
        o.containerFiles = 130;
        o.deviceImage = true;
        m_image = std::make_unique<CPartitionImage>(m_dir.Path(), o);
        HistoryPlan h;
        h.startTime = kT0;
        h.recordings = 30;
        h.channels = 2;
        m_history = WriteHistory(*m_image, h);
    }
    void WriteHeads(uint32_t firstA, uint32_t firstB, int32_t updA, int32_t updB)
    {
        CPartitionImage::IndexHeadPlan a;
        a.fileNo = 0;
        a.updateNo = updA;
        a.firstDataBlkId = firstA;
        m_image->WriteIndexHead(a);
        CPartitionImage::IndexHeadPlan b;
        b.fileNo = 128;
        b.updateNo = updB;
        b.firstDataBlkId = firstB;
        m_image->WriteIndexHead(b);
    }
    CTempDir m_dir;
    std::unique_ptr<CPartitionImage> m_image;
    std::vector<WrittenRecording> m_history;
};

TEST_F(TwoIndexHeads, ConsistentHeadsMountFromTheNewer)
{
    WriteHeads(1, 1, 8, 9);
    std::string log;
    CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "sectorSize = 512, devSize = " + std::to_string(DeviceSizeFor(130))));
    EXPECT_TRUE(Has(log, "latestCnt = 2"));
    EXPECT_TRUE(Has(log, "idxFileId = 128"));
    const StMountInfo_t info = Info(m_image->Dir().string());
    EXPECT_STREQ(info.device, m_image->Device().c_str());
    EXPECT_EQ(info.fileContCnt, 130);
    EXPECT_EQ(info.latestCnt, 2u);
    EXPECT_EQ(info.latestIBH[0].selfBlkId, 4096u);
    EXPECT_EQ(info.latestIBH[1].selfBlkId, 0u);
    EXPECT_EQ(info.rebuilt, 0);
    EXPECT_EQ(Search(m_image->Dir().string(), AllRecords(), 100).size(), m_history.size());
    EXPECT_EQ(RKSFS_GetFreeSpace(m_image->Dir().c_str()),
              uint64_t(m_image->BlkCnt() - m_image->LastApplyBlkId() - 1 + 1) * 0x400000);
}

TEST_F(TwoIndexHeads, ConflictingHeadsRebuild)
{
    WriteHeads(1, 33, 8, 9);
    std::string log;
    CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "warning: index block conflict, firstDataBlkId = 33vs1")) << log;
    EXPECT_TRUE(Has(log, "rebuild data block head set start"));
    const StMountInfo_t info = Info(m_image->Dir().string());
    EXPECT_EQ(info.rebuilt, 1);
    EXPECT_EQ(info.firstDataBlkId, 1u);
    EXPECT_EQ(info.lastApplyBlkId, m_image->LastApplyBlkId());
    EXPECT_EQ(Search(m_image->Dir().string(), AllRecords(), 100).size(), m_history.size());
}

TEST_F(TwoIndexHeads, EqualUpdateNumbersConflictToo)
{
    WriteHeads(1, 1, 8, 8);
    std::string log;
    CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "warning: index block conflict"));
    EXPECT_EQ(Info(m_image->Dir().string()).rebuilt, 1);
}

TEST_F(TwoIndexHeads, AWrongVersionLeavesTheOtherHead)
{
    WriteHeads(1, 1, 8, 9);
    CPartitionImage::IndexHeadPlan b;
    b.fileNo = 128;
    b.updateNo = 9;
    b.firstDataBlkId = 1;
    b.version = 257;
    b.writeHeadSet = false;
    m_image->WriteIndexHead(b);
    std::string log;
    CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
    ASSERT_EQ(mount.Result(), 0) << log;
    EXPECT_TRUE(Has(log, "pOp->latestIBH[0].version = 257vs258"));
    EXPECT_TRUE(Has(log, "idxFileId = 0"));
    EXPECT_EQ(Info(m_image->Dir().string()).latestCnt, 1u);
}

TEST_F(TwoIndexHeads, DeviceChecks)
{
    WriteHeads(1, 1, 8, 9);
    // Not the recorder's file system.
    const auto plain = m_dir / "plain.img";
    {
        std::ofstream create(plain);
    }
    std::filesystem::resize_file(plain, DeviceSizeFor(130));
    {
        std::fstream f(plain, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(3);
        f.write("MSDOS5.0", 8);
    }
    std::string log;
    CMountGuard a(plain.string(), m_image->Dir().string(), 1, &log);
    EXPECT_EQ(a.Result(), -1);
    EXPECT_TRUE(Has(log, "4d 53 44 4f 53 35 2e 30")) << log;
    // Too small a device.
    const auto small = m_dir / "small.img";
    {
        std::ofstream f(small);
    }
    std::filesystem::resize_file(small, 1 << 30);
    CMountGuard b(small.string(), m_image->Dir().string(), 1, &log);
    EXPECT_EQ(b.Result(), -1);
    EXPECT_TRUE(Has(log, "devSize = 1073741824 not acceptable"));
    // Not a device nor an image file.
    CMountGuard c(m_dir.Path().string(), m_image->Dir().string(), 1, &log);
    EXPECT_EQ(c.Result(), -1);
    EXPECT_TRUE(Has(log, "RKSFS_Partition:RKSFS_Mount2"));
    EXPECT_TRUE(Has(log, "Not block device"));
}

TEST_F(TwoIndexHeads, BadContainerFiles)
{
    WriteHeads(1, 1, 8, 9);
    const uint32_t victim = FileOfBlock(m_history[3].blocks[0]);
    m_image->MakeBadFile(victim, CPartitionImage::BadFile::kWrongSize);
    m_image->MakeBadFile(100, CPartitionImage::BadFile::kMissing);
    std::string log;
    {
        CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
        ASSERT_EQ(mount.Result(), 0) << log;
        EXPECT_TRUE(Has(log, "badFileCnt = 2"));
        EXPECT_TRUE(Has(log, "fileId = 100 bad"));
        EXPECT_EQ(Info(m_image->Dir().string()).badFileCnt, 2u);
        // The blocks of the bad file are bad in the head set: its record files are gone.
        const auto found = Search(m_image->Dir().string(), AllRecords(), 100);
        for (const auto& fi : found) {
            EXPECT_NE(FileOfBlock(uint32_t(fi.uuid) & 0x3FFFF), victim);
        }
        EXPECT_LT(found.size(), m_history.size());
        StoreLog().Start();
        RKSFS_DumpDataBlockHead(m_image->Dir().c_str(), m_history[3].blocks[0]);
        const std::string dump = StoreLog().Take();
        EXPECT_TRUE(Has(dump, "bad = 1")) << dump;
    }
    for (uint32_t n = 0; n < 70; ++n)
        if (n != victim && n != 0) m_image->MakeBadFile(n, CPartitionImage::BadFile::kMissing);
    CMountGuard mount(m_image->Device().string(), m_image->Dir().string(), 1, &log);
    EXPECT_EQ(mount.Result(), -1);
    EXPECT_TRUE(Has(log, "bad file more than half"));
}

TEST(StoreMount, FourMountsAtMostAndNotTwice)
{
    std::vector<std::unique_ptr<CTempDir>> dirs;
    std::vector<std::unique_ptr<CPartitionImage>> images;
    std::vector<std::unique_ptr<CMountGuard>> mounts;
    RKSFS_Init(16);
    for (int i = 0; i < 5; ++i) {
        dirs.push_back(std::make_unique<CTempDir>());
        PartitionOptions o;
        o.containerFiles = 2;
        images.push_back(std::make_unique<CPartitionImage>(dirs.back()->Path(), o));
        CPartitionImage::IndexHeadPlan recipe;
        images.back()->WriteIndexHead(recipe);
    }
    std::string log;
    for (int i = 0; i < 4; ++i) {
        mounts.push_back(std::make_unique<CMountGuard>("", images[size_t(i)]->Dir().string(), 0, &log));
        ASSERT_EQ(mounts.back()->Result(), 0) << log;
    }
    CMountGuard fifth("", images[4]->Dir().string(), 0, &log);
    EXPECT_EQ(fifth.Result(), -1);
    EXPECT_TRUE(Has(log, "Can't support more than 4"));
    StoreLog().Start();
    EXPECT_EQ(RKSFS_Mount2(nullptr, images[0]->Dir().c_str(), 0), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "already mounted"));
    mounts.pop_back();
    CMountGuard now("", images[4]->Dir().string(), 0, &log);
    EXPECT_EQ(now.Result(), 0) << log;
}

TEST(StoreMount, OldestEndTimeWithoutCovering)
{
    CTempDir dir;
    PartitionOptions o;
    o.containerFiles = 3;
    CPartitionImage image(dir.Path(), o);
    HistoryPlan h;
    h.recordings = 31;  // 93 of 95 data blocks
    h.channels = 1;
    h.readOnlyEvery = 0;
    const auto history = WriteHistory(image, h);
    HistoryPlan last = h;
    last.recordings = 1;
    last.blocksPerRecording = 2;
    last.startTime = history.back().endTime + 5;
    WriteHistory(image, last);  // the partition is full, not covering yet
    image.WriteIndexHead({});
    {
        CMountGuard notCoverable("", image.Dir().string(), 0);
        ASSERT_EQ(notCoverable.Result(), 0);
        EXPECT_EQ(RKSFS_GetOldestEndTime(image.Dir().c_str()), 0xFFFFFFFFu);
        // The rule counts the ids between the last and the first block:
        // here only index block 0, so one block's worth.
        EXPECT_EQ(RKSFS_GetFreeSpace(image.Dir().c_str()), 0x400000u);
        EXPECT_EQ(RKSFS_IsCovering(image.Dir().c_str()), 0);
    }
    CMountGuard coverable("", image.Dir().string(), 1);
    ASSERT_EQ(coverable.Result(), 0);
    // The oldest block is the first one of the first recording.
    const StRecData_t& rd = image.Heads()[history[0].blocks[0]].recData;
    EXPECT_EQ(RKSFS_GetOldestEndTime(image.Dir().c_str()), rd.beginTime.get() + rd.duration.get());
}

TEST(StoreMount, ReadOnlyBlocksAreNotCoveredWhileProtected)
{
    CTempDir dir;
    PartitionOptions o;
    o.containerFiles = 2;
    CPartitionImage image(dir.Path(), o);
    HistoryPlan h;
    h.recordings = 21;  // 63 data blocks: all of them
    h.channels = 1;
    h.readOnlyEvery = 1;  // every recording read-only
    h.startTime = uint32_t(std::time(nullptr)) - 3600;
    WriteHistory(image, h);
    image.WriteIndexHead({});
    CMountGuard mount("", image.Dir().string(), 1);
    ASSERT_EQ(mount.Result(), 0);
    RKSFS_SetROValidTime(7 * 24 * 3600);
    EXPECT_EQ(RKSFS_GetOldestEndTime(image.Dir().c_str()), 0xFFFFFFFFu) << "protected for a week";
    RKSFS_SetROValidTime(0);
    EXPECT_NE(RKSFS_GetOldestEndTime(image.Dir().c_str()), 0xFFFFFFFFu) << "protection over";
}

}  // namespace
}  // namespace velmor::fixtures
