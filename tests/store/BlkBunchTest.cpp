// Record files read straight out of one container file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "tests/store/StoreTestUtil.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

std::vector<StBlkBunchRecFile_t> List(const std::filesystem::path& path, size_t capacity, int* rc,
                                      std::string* log = nullptr)
{
    std::vector<StBlkBunchRecFile_t> entries(capacity + 1);
    StoreLog().Start();
    *rc = RKSFS_GeBlkBunchRecFile(path.c_str(), entries.data(), capacity);
    const std::string out = StoreLog().Take();
    if (log) *log = out;
    entries.resize(*rc > 0 ? std::min<size_t>(size_t(*rc), capacity) : 0);
    return entries;
}

class CBunchFile {
public:
    explicit CBunchFile(const StBlkBunchRecFile_t& entry)
    {
        StoreLog().Start();
        m_rc = RKSFS_OpenBlkBunchRecFile(&m_op, &entry);
        m_log = StoreLog().Take();
    }
    ~CBunchFile() { RKSFS_CloseBlkBunchRecFile(&m_op); }
    int OpenResult() const { return m_rc; }
    StBlkBunchRecFileOp_t& Op() { return m_op; }
    StoreRead ReadAll() { return ReadAllFrames(m_op, RKSFS_ReadBlkBuncRecFrame); }
    const std::string& Log() const { return m_log; }

private:
    StBlkBunchRecFileOp_t m_op{};
    int m_rc;
    std::string m_log;
};

// Blocks of one recording spread over two container files, as the recorder
// allocates them: given block ids in order.
class CSpanningSink : public IBlockSink {
public:
    CSpanningSink(CContainerFileImage& a, CContainerFileImage& b, std::vector<uint32_t> order)
        : m_a(a), m_b(b), m_order(std::move(order))
    {
    }
    uint32_t BlockSize() const override { return m_a.BlockSize(); }
    uint32_t AllocateBlock() override
    {
        const uint32_t id = m_order.at(m_next++);
        return id;
    }
    uint32_t FreeBlocks() const override { return uint32_t(m_order.size() - m_next); }
    uint32_t NextUseId() override { return m_useId++; }
    void WriteData(uint32_t id, uint32_t logical, const uint8_t* d, size_t n) override
    {
        Of(id).WriteData(id, logical, d, n);
    }
    void WriteHeadArea(uint32_t id, const StDataBlockHead_t& h, const StRecDataNeck_t& n) override
    {
        Of(id).WriteHeadArea(id, h, n);
    }

private:
    CContainerFileImage& Of(uint32_t id) { return FileOfBlock(id) == m_a.FileNo() ? m_a : m_b; }
    CContainerFileImage& m_a;
    CContainerFileImage& m_b;
    std::vector<uint32_t> m_order;
    size_t m_next = 0;
    uint32_t m_useId = 5000;
};

class BlkBunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_image = std::make_unique<CContainerFileImage>(m_dir / "fc00003.rpo", 3);
        uint64_t pts = uint64_t(kT0) * kUs;
        for (int rec = 0; rec < 4; ++rec) {
            RecordingParams p = Recording(uint8_t(rec < 2 ? 0 : rec));
            CRecordWriter w(*m_image, p);
            pts = WriteFrames(w, pts, rec == 2 ? 150 : 400, 25, 18000, rec == 1, uint64_t(rec + 1));
            w.Close(rec == 3);  // the fourth is still being written
            m_written.push_back(w.Written());
            m_blocks.push_back(w.Blocks());
            pts += 5 * kUs;
        }
    }
    CTempDir m_dir;
    std::unique_ptr<CContainerFileImage> m_image;
    std::vector<std::vector<ExpectedFrame>> m_written;
    std::vector<std::vector<uint32_t>> m_blocks;
};

TEST_F(BlkBunch, ListsThreeRecordFilesAndTheStartOfAFourth)
{
    int rc = 0;
    auto entries = List(m_image->Path(), 10, &rc);
    ASSERT_EQ(rc, 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const StBlkBunchRecFile_t& e = entries[size_t(i)];
        EXPECT_STREQ(e.filePath, m_image->Path().c_str());
        EXPECT_EQ(e.fileNo, 3);
        EXPECT_EQ(e.blkSize, 0x400000u);
        EXPECT_EQ(e.dataBlkCnt, m_blocks[size_t(i)].size());
        EXPECT_EQ(uint32_t(e.recFI.uuid), m_blocks[size_t(i)].front());
        EXPECT_EQ(e.recFI.beginTime, m_written[size_t(i)].front().pts / kUs);
        EXPECT_EQ(e.recFI.endTime, m_written[size_t(i)].back().pts / kUs);
        EXPECT_EQ(e.recFI.writing, i == 3 ? 1 : 0);
    }
    EXPECT_EQ(entries[2].recFI.channel, 2);
    auto three = List(m_image->Path(), 3, &rc);
    EXPECT_EQ(rc, 4) << "capacity + 1 when more exist";
    EXPECT_EQ(three.size(), 3u);
}

TEST_F(BlkBunch, EachReadsLikeItsBackupExport)
{
    int rc = 0;
    auto entries = List(m_image->Path(), 10, &rc);
    ASSERT_EQ(rc, 4);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        CBunchFile bunch(entries[size_t(i)]);
        ASSERT_EQ(bunch.OpenResult(), 0);
        StoreRead fromBunch = bunch.ReadAll();
        EXPECT_EQ(fromBunch.last, 0);
        EXPECT_TRUE(fromBunch.frames == m_written[size_t(i)]);

        const auto path = m_dir / ("export" + std::to_string(i) + ".rkrec");
        ExportBackupFile(*m_image, m_blocks[size_t(i)], path);
        StRecBakFileOp_t bak{};
        ASSERT_EQ(RKSFS_OpenBakRecFile(&bak, path.c_str()), 0);
        StoreRead fromBackup = ReadAllFrames(bak, RKSFS_ReadBakRecFrame);
        EXPECT_EQ(bak.recFI.size, entries[size_t(i)].recFI.size);
        RKSFS_CloseBakRecFile(&bak);
        EXPECT_TRUE(fromBackup.frames == fromBunch.frames);
        EXPECT_EQ(fromBackup.offsets, fromBunch.offsets) << "curOffset counts as in the backup file";
    }
}

TEST_F(BlkBunch, SeekAndEncode)
{
    int rc = 0;
    auto entries = List(m_image->Path(), 10, &rc);
    CBunchFile bunch(entries[1]);
    ASSERT_EQ(bunch.OpenResult(), 0);
    StRecEncode_t enc{};
    StAudioProp_t prop{};
    ASSERT_EQ(RKSFS_GetBlkBunchRecFileEncode(&bunch.Op(), &enc, &prop), 0);
    EXPECT_EQ(enc.reso, 4u);
    EXPECT_EQ(enc.aEnc, 2u);
    EXPECT_EQ(prop.bytes[0], 1);
    const uint32_t target = entries[1].recFI.beginTime + 7;
    StoreLog().Start();
    ASSERT_EQ(RKSFS_SeekBlkBuncRecTime(&bunch.Op(), target), 0);
    StoreLog().Take();
    StoreRead r = bunch.ReadAll();
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames[0].type, 1);
    EXPECT_LE(r.frames[0].pts / kUs, target);
    EXPECT_GE(r.frames[0].pts / kUs + 1, target);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_SeekBlkBuncRecTime(&bunch.Op(), entries[1].recFI.endTime + 1), -1);
    EXPECT_NE(StoreLog().Take().find("pOp->blkBunchFI.recFI.beginTime = "), std::string::npos);
}

TEST(BlkBunchNames, ContainerFileNamesOnly)
{
    CTempDir dir;
    {
        CContainerFileImage image(dir / "FC00012.RPO", 12);
        CRecordWriter w(image, Recording());
        WriteFrames(w, uint64_t(kT0) * kUs, 20, 10, 1000, false, 1);
    }
    int rc = 0;
    auto entries = List(dir / "FC00012.RPO", 4, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(entries[0].fileNo, 12);
    EXPECT_EQ(uint32_t(entries[0].recFI.uuid), 12u * 32);

    std::filesystem::rename(dir / "FC00012.RPO", dir / "xfc0012.rpo");
    std::string log;
    List(dir / "xfc0012.rpo", 4, &rc, &log);
    EXPECT_EQ(rc, -1) << "four digits";
    EXPECT_NE(log.find("file name should be like fc00000.rpo\n"), std::string::npos);

    const auto odd = dir / "fc00001.rpo";
    int fd = ::open(odd.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, 200000000), 0);
    ::close(fd);
    List(odd, 4, &rc, &log);
    EXPECT_EQ(rc, -1);
    EXPECT_NE(log.find("fileSize = 200000000 abnormal\n"), std::string::npos);

    const auto empty = dir / "fc00002.rpo";
    { CContainerFileImage image(empty, 2); }
    List(empty, 4, &rc, &log);
    EXPECT_EQ(rc, 0);
}

// A recording that starts in file 1 (positions 29..31) and goes on in file 2.
class SpanningRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_a = std::make_unique<CContainerFileImage>(m_dir / "fc00001.rpo", 1);
        m_b = std::make_unique<CContainerFileImage>(m_dir / "fc00002.rpo", 2);
        CSpanningSink sink(*m_a, *m_b, {m_a->BlockId(29), m_a->BlockId(30), m_a->BlockId(31), m_b->BlockId(1),
                                        m_b->BlockId(2), m_b->BlockId(3)});
        CRecordWriter w(sink, Recording());
        // I frames every 2 s, except in the first block in file 2, which
        // holds only predicted frames: the record file there starts one
        // block later.
        CSplitMix64 rng(21);
        std::vector<uint8_t> payload(64000);
        uint64_t pts = uint64_t(kT0) * kUs;
        for (int i = 0; !(w.Blocks().size() == 6 && w.BytesLeftInBlock() < 1000000); ++i, pts += 40000) {
            const bool inFirstOfB = w.Blocks().size() == 4;
            const bool key = i % 50 == 0 && !inFirstOfB;
            const uint32_t len = rng.Range(8000, 24000) * (key ? 2 : 1);
            FillPayload(rng.Next(), payload.data(), len);
            ASSERT_EQ(w.WriteFrame(key ? 1 : 2, pts, payload.data(), len), WriteResult::kWritten);
        }
        w.Close();
        m_written = w.Written();
        m_places = w.Places();
        m_blocks = w.Blocks();
        ASSERT_EQ(m_blocks.size(), 6u) << "the fixture should use all six blocks";
    }
    CTempDir m_dir;
    std::unique_ptr<CContainerFileImage> m_a, m_b;
    std::vector<ExpectedFrame> m_written;
    std::vector<FramePlace> m_places;
    std::vector<uint32_t> m_blocks;
};

TEST_F(SpanningRecording, AChainLeavingTheFileEndsAtItsLastBlockInside)
{
    int rc = 0;
    auto entries = List(m_a->Path(), 4, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(entries[0].dataBlkCnt, 3u);
    uint64_t size = 0;
    uint32_t end = 0;
    for (int i = 0; i < 3; ++i) {
        auto area = m_a->ReadHeadArea(29 + uint32_t(i));
        size += area.head.recData.useSize.get() - (i == 0 ? area.head.recData.lend.get() : 0);
        end = std::max(end, BlockEndTime(area.head.recData));
    }
    EXPECT_EQ(entries[0].recFI.size, size);
    EXPECT_EQ(entries[0].recFI.endTime, end);

    CBunchFile bunch(entries[0]);
    ASSERT_EQ(bunch.OpenResult(), 0);
    StoreRead r = bunch.ReadAll();
    EXPECT_EQ(r.last, -1) << "the frame that goes on in the next file cannot be read";
    size_t inside = 0;
    while (inside < m_places.size() && m_places[inside].blockIndex < 3) ++inside;
    // Every frame whose head lies in the three blocks, but the one that crosses out.
    EXPECT_GE(r.frames.size() + 1, inside);
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), m_written.begin()));
}

TEST_F(SpanningRecording, AContinuedRecordingOpensOnItsFirstIFrame)
{
    auto first = m_b->ReadHeadArea(1);
    ASSERT_NE(first.head.recData.prevBlkId.get(), 0u);
    ASSERT_NE(m_b->ReadHeadArea(2).head.recData.lend.get(), 0u);
    int rc = 0;
    std::string log;
    auto entries = List(m_b->Path(), 4, &rc, &log);
    ASSERT_EQ(rc, 1);
    EXPECT_FALSE(first.head.recData.hasIFrameHead());
    EXPECT_NE(log.find("id = " + std::to_string(m_b->BlockId(1)) + " hasn't IFrame head\n"), std::string::npos) << log;
    EXPECT_EQ(uint32_t(entries[0].recFI.uuid), m_b->BlockId(2));
    EXPECT_EQ(entries[0].dataBlkCnt, 2u);
    EXPECT_EQ(entries[0].recFI.continued, 1);

    CBunchFile bunch(entries[0]);
    ASSERT_EQ(bunch.OpenResult(), 0) << bunch.Log();
    EXPECT_NE(bunch.Log().find("pDBH->recData.prevBlkId = "), std::string::npos);
    StoreRead r = bunch.ReadAll();
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames[0].type, 1);
    auto it = std::find(m_written.begin(), m_written.end(), r.frames[0]);
    ASSERT_NE(it, m_written.end());
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), it));
    EXPECT_EQ(r.last, 0);
}

TEST(BlkBunchChains, ABlockReusedEarlierInTheFileJoinsItsChain)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00004.rpo", 4);
    image.SetAllocationOrder({10, 3});
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 300, 25, 16000, false, 31);
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 2u);
    int rc = 0;
    auto entries = List(image.Path(), 4, &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(uint32_t(entries[0].recFI.uuid), image.BlockId(10));
    EXPECT_EQ(entries[0].dataBlkCnt, 2u);
    CBunchFile bunch(entries[0]);
    EXPECT_TRUE(bunch.ReadAll().frames == w.Written());
}

TEST(BlkBunchChains, ANextBlockThatDoesNotLinkBackCutsTheChain)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00005.rpo", 5);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 600, 25, 16000, false, 41);
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 3u);
    auto second = image.ReadHeadArea(1);
    second.head.recData.prevBlkId.set(image.BlockId(20));
    SealHead(second.head);
    image.WriteHeadAreaAt(1, second);
    int rc = 0;
    std::string log;
    auto entries = List(image.Path(), 4, &rc, &log);
    EXPECT_NE(log.find("tailBlkId = " + std::to_string(image.BlockId(0)) + ", pTailDBH->nextBlkId = " +
                       std::to_string(image.BlockId(1)) + "\n"),
              std::string::npos)
        << log;
    ASSERT_GE(rc, 1);
    EXPECT_EQ(entries[0].dataBlkCnt, 1u);
    EXPECT_EQ(uint32_t(entries[0].recFI.uuid), image.BlockId(0));
}

TEST(BlkBunchEncode, SoundFromTheFirstBlockThatHasIt)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00006.rpo", 6);
    CRecordWriter w(image, Recording());
    int stored = 0;
    w.onStore = [&](uint32_t, StDataBlockHead_t&, StRecDataNeck_t& neck) {
        neck.encode.aEnc = stored == 0 ? 0 : 5;
        neck.audioProperty[0] = uint8_t(0x40 + stored);
        ++stored;
    };
    WriteFrames(w, uint64_t(kT0) * kUs, 800, 25, 16000, false, 51);
    w.Close();
    ASSERT_GE(w.Blocks().size(), 3u);
    int rc = 0;
    auto entries = List(image.Path(), 4, &rc);
    ASSERT_EQ(rc, 1);
    CBunchFile bunch(entries[0]);
    StRecEncode_t enc{};
    StAudioProp_t prop{};
    ASSERT_EQ(RKSFS_GetBlkBunchRecFileEncode(&bunch.Op(), &enc, &prop), 0);
    EXPECT_EQ(enc.aEnc, 5u);
    EXPECT_EQ(prop.bytes[0], 0x41) << "the property of the second block";
    EXPECT_EQ(enc.reso, 4u);
}

TEST(BlkBunchLifecycle, BadArguments)
{
    StBlkBunchRecFileOp_t op{};
    StBlkBunchRecFile_t entry{};
    StoreLog().Start();
    EXPECT_EQ(RKSFS_OpenBlkBunchRecFile(&op, &entry), -1);
    EXPECT_EQ(RKSFS_GeBlkBunchRecFile(nullptr, nullptr, 0), -1);
    EXPECT_EQ(RKSFS_GeBlkBunchRecFile("short.rpo", &entry, 1), -1);
    StoreLog().Take();
    EXPECT_EQ(RKSFS_CloseBlkBunchRecFile(&op), 0);
    EXPECT_EQ(RKSFS_CloseBlkBunchRecFile(&op), 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    EXPECT_EQ(RKSFS_ReadBlkBuncRecFrame(&op, buffer.data(), buffer.size(), &head), -1);
}

}  // namespace
}  // namespace velmor::fixtures
