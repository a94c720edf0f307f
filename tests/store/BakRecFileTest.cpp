// Backup record files: open, read, seek and the resolution codes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/store/StoreTestUtil.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/ReadOnlyView.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

class CBakFile {
public:
    explicit CBakFile(const std::filesystem::path& path) { m_rc = RKSFS_OpenBakRecFile(&m_op, path.c_str()); }
    ~CBakFile() { RKSFS_CloseBakRecFile(&m_op); }
    int OpenResult() const { return m_rc; }
    StRecBakFileOp_t& Op() { return m_op; }
    StoreRead ReadAll(size_t limit = 1000000) { return ReadAllFrames(m_op, RKSFS_ReadBakRecFrame, limit); }

private:
    StRecBakFileOp_t m_op{};
    int m_rc;
};

std::string CaptureOpen(const std::filesystem::path& path, int* rc)
{
    StRecBakFileOp_t op{};
    StoreLog().Start();
    *rc = RKSFS_OpenBakRecFile(&op, path.c_str());
    RKSFS_CloseBakRecFile(&op);
    return StoreLog().Take();
}

TEST(BakRecFile, ThreeBlocksReadBackFrameForFrame)
{
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording(5));
    WriteFrames(w, uint64_t(kT0) * kUs, 600, 25, 20000, true, 1);
    w.Close();
    ASSERT_GE(w.Blocks().size(), 3u);
    const auto path = dir / "rec.rkrec";
    image.Save(path);

    CBakFile file(path);
    ASSERT_EQ(file.OpenResult(), 0);
    const StRecBakFileOp_t& op = file.Op();
    EXPECT_EQ(op.dataBlkCnt, w.Blocks().size());
    EXPECT_EQ(op.recFI.channel, 5);
    EXPECT_EQ(op.recFI.subStream, 0);
    EXPECT_EQ(op.recFI.beginTime, kT0);
    EXPECT_EQ(op.recFI.endTime, kT0 + 23);  // 600 frames of 40 ms
    EXPECT_EQ(op.recFI.size, std::filesystem::file_size(path));
    EXPECT_EQ(op.recFI.reasonBit, 0x10203u);
    EXPECT_EQ(op.recFI.continued, 0);
    EXPECT_EQ(op.maxFrameSize, kMaxFrameSizeMain);
    EXPECT_STREQ(op.filePath, path.c_str());

    StRecEncode_t enc{};
    StAudioProp_t prop{};
    ASSERT_EQ(RKSFS_GetBakRecFileEncode(&file.Op(), &enc, &prop), 0);
    EXPECT_EQ(enc.reso, 4u);
    EXPECT_EQ(enc.vEnc, 1u);
    EXPECT_EQ(enc.aEnc, 2u);
    EXPECT_EQ(enc.frameRate, 25);
    EXPECT_EQ(prop.bytes[13], 14);

    StoreRead r = file.ReadAll();
    EXPECT_EQ(r.last, 0);
    EXPECT_TRUE(r.frames == w.Written()) << r.frames.size() << " of " << w.Written().size();
    EXPECT_EQ(file.Op().curOffset, file.Op().recFI.size);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    EXPECT_EQ(RKSFS_ReadBakRecFrame(&file.Op(), buffer.data(), buffer.size(), &head), 0) << "the end stays the end";
}

TEST(BakRecFile, HeadSplitSevenPlusNine)
{
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording());
    uint64_t pts = WriteFrames(w, uint64_t(kT0) * kUs, 10, 5, 3000, false, 2);
    w.FillBlockLeaving(7, kFrameAudio, pts, 77);
    WriteFrames(w, pts, 10, 5, 3000, false, 3);
    w.Close();
    ASSERT_EQ(w.HeadSplits(), 1u);
    image.Save(dir / "a.rkrec");
    CBakFile file(dir / "a.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    EXPECT_TRUE(file.ReadAll().frames == w.Written());
}

// An I frame whose 16-byte head starts k bytes before the first block's end
// (the rest of the head opens the second block) is where a seek to its
// second lands.
class BakSplitHeadSeek : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BakSplitHeadSeek, LandsOnTheSplitIFrame)
{
    const uint32_t k = GetParam();
    CTempDir dir;
    CBackupFileImage image(0x400000);
    const SplitHeadRecording rec = WriteSplitHeadRecording(image, k);
    ASSERT_EQ(rec.blocks.size(), 2u);
    const auto offsets = image.Save(dir / "split.rkrec");
    ASSERT_EQ(offsets, (std::vector<uint64_t>{0, 0x400000}));
    const auto& neck = image.BlockById(rec.blocks[0]).area.neck;
    ASSERT_EQ(neck.ifrIdxCnt.get(), 2u);
    EXPECT_EQ(neck.ifrIdx[1].offset.get(), 0x400000u - k);

    CBakFile file(dir / "split.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    ASSERT_EQ(RKSFS_SeekBakRecTime(&file.Op(), kT0 + 2), 0);
    EXPECT_EQ(file.Op().frmHeadWrSize, k);
    EXPECT_EQ(file.Op().curOffset, 0x400000u);
    const StoreRead r = file.ReadAll();
    EXPECT_TRUE(r.frames == rec.fromSplit) << r.frames.size() << " frames read";
}

INSTANTIATE_TEST_SUITE_P(EveryHeadByteLeft, BakSplitHeadSeek, ::testing::Range(1u, 16u));

TEST(BakRecFile, FirstHeadSplitInTheFirstBlock)
{
    // A recording whose first block holds less than a frame head after its lend.
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording());
    uint64_t pts = WriteFrames(w, uint64_t(kT0) * kUs, 4, 2, 3000, false, 4);
    w.FillBlockLeaving(0, kFrameAudio, pts, 9);
    pts = WriteFrames(w, pts, 6, 2, 3000, false, 5);
    w.FillBlockLeaving(5, kFrameAudio, pts, 10);
    WriteFrames(w, pts, 6, 2, 3000, false, 6);
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 3u);
    // Stored from the third block on, the file starts with 5 head bytes lent... so
    // take the chain from the second block: its first stored head is whole.
    image.Save(dir / "b.rkrec", {w.Blocks()[1], w.Blocks()[2]});
    CBakFile file(dir / "b.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    StoreRead r = file.ReadAll();
    EXPECT_EQ(r.last, 0);
    EXPECT_FALSE(r.frames.empty());
}

TEST(BakRecFile, TruncatedInsideTheThirdBlock)
{
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 1200, 25, 16000, false, 7);
    w.Close();
    ASSERT_GE(w.Blocks().size(), 4u);
    const auto path = dir / "cut.rkrec";
    const auto offsets = image.Save(path);
    const uint64_t cut = offsets[2] + kHeadAreaSize + 1000000;
    ASSERT_EQ(::truncate(path.c_str(), off_t(cut)), 0);

    int rc = 0;
    const std::string log = CaptureOpen(path, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(log.find("RKSFS_OpenBakRecFile:"), std::string::npos);
    EXPECT_NE(log.find(" dbhTail = "), std::string::npos) << log;

    CBakFile file(path);
    const StRecBakFileOp_t& op = file.Op();
    ASSERT_EQ(op.dataBlkCnt, 3u);
    StRecHeadArea_t third;
    std::memcpy(&third, op.heads + 2 * kHeadAreaSize, sizeof third);
    EXPECT_EQ(third.head.recData.borrow.get(), 0u);
    EXPECT_EQ(third.head.recData.useSize.get(), kHeadAreaSize + 1000000);
    EXPECT_EQ(op.recFI.size, cut);

    // Every frame that lies whole before the cut reads; the one across it fails.
    StoreRead r = file.ReadAll();
    EXPECT_EQ(r.last, -1);
    ASSERT_FALSE(r.frames.empty());
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), w.Written().begin()));
    EXPECT_LE(r.offsets.back(), cut);
    EXPECT_GT(r.offsets.back() + 3 * 12000 * 3, cut) << "reading went up to the cut";
}

TEST(BakRecFile, SmallestFiles)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    CRecordWriter w(image, Recording());
    const uint8_t one = 0x5A;
    ASSERT_EQ(w.WriteFrame(kFrameI, uint64_t(kT0) * kUs, &one, 1), WriteResult::kWritten);
    w.Close();
    image.Save(dir / "min.rkrec");
    ASSERT_EQ(std::filesystem::file_size(dir / "min.rkrec"), 4113u);
    CBakFile file(dir / "min.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    StoreRead r = file.ReadAll();
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].length, 1u);
    EXPECT_EQ(r.last, 0);

    std::filesystem::copy_file(dir / "min.rkrec", dir / "short.rkrec");
    ASSERT_EQ(::truncate((dir / "short.rkrec").c_str(), 4112), 0);
    int rc = 0;
    EXPECT_NE(CaptureOpen(dir / "short.rkrec", &rc).find("fileSize = 4112 too little\n"), std::string::npos);
    EXPECT_EQ(rc, -1);
}

TEST(BakRecFile, ContainerSuffixIsRefusedInAnyCase)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 5, 5, 1000, false, 1);
    w.Close();
    image.Save(dir / "REC.RPO");
    int rc = 0;
    EXPECT_NE(CaptureOpen(dir / "REC.RPO", &rc).find("suffix conflict.\n"), std::string::npos);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(CaptureOpen(dir / "missing.rkrec", &rc).find("RKSFS_OpenBakRecFile:"), 0u);
    EXPECT_EQ(rc, -1);
}

TEST(BakRecFile, LendThatDoesNotMatchTheBorrowEndsTheBlocks)
{
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 400, 25, 16000, false, 8);
    w.Close();
    ASSERT_GE(w.Blocks().size(), 2u);
    auto& second = image.BlockById(w.Blocks()[1]);
    second.area.head.recData.lend.set(second.area.head.recData.lend.get() + 1);
    SealHead(second.area.head);
    image.Save(dir / "x.rkrec");
    int rc = 0;
    const std::string log = CaptureOpen(dir / "x.rkrec", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(log.find("dataBlkCnt = 1, curPos = "), std::string::npos) << log;
    EXPECT_NE(log.find("useId = "), std::string::npos) << "the refused head is dumped";
    CBakFile file(dir / "x.rkrec");
    EXPECT_EQ(file.Op().dataBlkCnt, 1u);
}

TEST(BakRecFile, BufferOneByteShortFailsWithoutMoving)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 5, 5, 1000, false, 1);
    w.Close();
    image.Save(dir / "b.rkrec");
    CBakFile file(dir / "b.rkrec");
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    ASSERT_GT(RKSFS_ReadBakRecFrame(&file.Op(), buffer.data(), buffer.size(), &head), 0);
    const uint64_t at = file.Op().curOffset;
    StoreLog().Start();
    EXPECT_EQ(RKSFS_ReadBakRecFrame(&file.Op(), buffer.data(), kMaxFrameSizeMain + 15, &head), -1);
    EXPECT_NE(StoreLog().Take().find("bufLen = 524287, pOp->maxFrameSize = 524272"),
              std::string::npos);
    EXPECT_EQ(file.Op().curOffset, at);
}

class BakSeek : public ::testing::Test {
protected:
    void SetUp() override
    {
        CBackupFileImage image(0x400000);
        CRecordWriter w(image, Recording());
        // I frames every 75 frames (3 s), 60 s.
        WriteFrames(w, uint64_t(kT0) * kUs, 1500, 75, 6000, true, 11);
        w.Close();
        m_written = w.Written();
        ASSERT_GE(w.Blocks().size(), 3u);
        image.Save(m_dir / "s.rkrec");
        m_file = std::make_unique<CBakFile>(m_dir / "s.rkrec");
        ASSERT_EQ(m_file->OpenResult(), 0);
    }
    // Seeks and returns the pts second of the frame read next.
    int64_t Land(uint32_t second)
    {
        StoreLog().Start();
        const int rc = RKSFS_SeekBakRecTime(&m_file->Op(), second);
        m_log = StoreLog().Take();
        if (rc != 0) return -1;
        std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
        RKSFS_FRAME_HEAD head{};
        if (RKSFS_ReadBakRecFrame(&m_file->Op(), buffer.data(), buffer.size(), &head) <= 0) return -2;
        EXPECT_EQ(head.type, 1);
        return int64_t(head.pts / kUs);
    }
    CTempDir m_dir;
    std::unique_ptr<CBakFile> m_file;
    std::vector<ExpectedFrame> m_written;
    std::string m_log;
};

TEST_F(BakSeek, LandsOnTheIFrameAtOrBeforeTheSecond)
{
    EXPECT_EQ(Land(kT0 + 3), kT0 + 3);
    EXPECT_EQ(Land(kT0 + 5), kT0 + 3);
    EXPECT_EQ(Land(kT0 + 59), kT0 + 57);
    EXPECT_EQ(Land(kT0 + 1), kT0) << "backwards";
    EXPECT_EQ(Land(kT0 + 31), kT0 + 30);
}

TEST_F(BakSeek, EndTimeIsTheLastSecondAndNoFurther)
{
    EXPECT_EQ(m_file->Op().recFI.endTime, kT0 + 59);
    EXPECT_EQ(Land(kT0 + 59), kT0 + 57);
    const uint64_t before = m_file->Op().curOffset;
    EXPECT_EQ(Land(kT0 + 60), -1);
    EXPECT_NE(m_log.find("tm = 1765188060, pOp->recFI.beginTime = 1765188000, recFI.endTime = 1765188059\n"),
              std::string::npos)
        << m_log;
    EXPECT_EQ(m_file->Op().curOffset, before) << "a failed seek keeps the position";
    EXPECT_EQ(Land(kT0 - 1), -1);
}

TEST_F(BakSeek, ReadingAfterASeekContinuesInOrder)
{
    ASSERT_EQ(RKSFS_SeekBakRecTime(&m_file->Op(), kT0 + 40), 0);
    StoreRead r = m_file->ReadAll();
    EXPECT_EQ(r.last, 0);
    size_t from = 0;
    while (from < m_written.size() && !(m_written[from].type == 1 && m_written[from].pts == uint64_t(kT0 + 39) * kUs))
        ++from;
    ASSERT_LT(from, m_written.size());
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), m_written.begin() + long(from), m_written.end()));
}

TEST(BakSeekBetween, SecondsBetweenEntries318And319LandOnTheBetweenIFrame)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    CRecordWriter w(image, Recording());
    // 400 I frames, one per second, each followed by a P frame, all in one block.
    auto p = MakePayload(1, 200);
    for (uint32_t i = 0; i < 400; ++i) {
        ASSERT_EQ(w.WriteFrame(kFrameI, uint64_t(kT0 + i) * kUs, p.data(), 200), WriteResult::kWritten);
        ASSERT_EQ(w.WriteFrame(kFrameP, uint64_t(kT0 + i) * kUs + 500000, p.data(), 100), WriteResult::kWritten);
    }
    w.Close();
    ASSERT_EQ(w.Blocks().size(), 1u);
    image.Save(dir / "400.rkrec");
    CBakFile file(dir / "400.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    for (uint32_t s : {318u, 319u, 350u, 398u, 399u, 100u, 0u}) {
        StoreLog().Start();
        ASSERT_EQ(RKSFS_SeekBakRecTime(&file.Op(), kT0 + s), 0) << s;
        const std::string log = StoreLog().Take();
        RKSFS_FRAME_HEAD head{};
        ASSERT_GT(RKSFS_ReadBakRecFrame(&file.Op(), buffer.data(), buffer.size(), &head), 0);
        EXPECT_EQ(head.type, 1);
        EXPECT_EQ(head.pts, uint64_t(kT0 + s) * kUs) << s;
        if (s > 318 && s < 399) {
            EXPECT_NE(log.find("is betweenIdx"), std::string::npos) << s << log;
        }
    }
}

TEST(BakRecFileContinued, FirstBlockThatLendsStartsAtItsFirstIFrame)
{
    CTempDir dir;
    CBackupFileImage image(0x400000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 900, 50, 16000, false, 12);
    w.Close();
    ASSERT_GE(w.Blocks().size(), 3u);
    const auto& second = image.BlockById(w.Blocks()[1]);
    ASSERT_NE(second.area.head.recData.lend.get(), 0u);
    // Exported from the second block on: the recording goes on before it.
    image.Save(dir / "cont.rkrec", {w.Blocks()[1], w.Blocks()[2]});
    CBakFile file(dir / "cont.rkrec");
    ASSERT_EQ(file.OpenResult(), 0);
    EXPECT_EQ(file.Op().recFI.continued, 1);
    StoreRead r = file.ReadAll();
    ASSERT_FALSE(r.frames.empty());
    EXPECT_EQ(r.frames[0].type, 1);
    const uint32_t firstEntry = second.area.neck.ifrIdx[0].time.get();
    EXPECT_EQ(r.frames[0].pts / kUs, firstEntry);
    auto it = std::find(w.Written().begin(), w.Written().end(), r.frames[0]);
    ASSERT_NE(it, w.Written().end());
    EXPECT_TRUE(std::equal(r.frames.begin(), r.frames.end(), it));
    // Seeking into its first block counts offsets on what is stored.
    ASSERT_EQ(RKSFS_SeekBakRecTime(&file.Op(), firstEntry + 1), 0);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    ASSERT_GT(RKSFS_ReadBakRecFrame(&file.Op(), buffer.data(), buffer.size(), &head), 0);
    EXPECT_EQ(head.type, 1);
    EXPECT_LE(head.pts / kUs, firstEntry + 1);
}

TEST(BakRecFileEncode, InvalidRecordIsRefused)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    RecordingParams params = Recording();
    params.encode.frameRate = 0;
    CRecordWriter w(image, params);
    WriteFrames(w, uint64_t(kT0) * kUs, 5, 5, 1000, false, 1);
    w.Close();
    image.Save(dir / "e.rkrec");
    CBakFile file(dir / "e.rkrec");
    StRecEncode_t enc{};
    StoreLog().Start();
    EXPECT_EQ(RKSFS_GetBakRecFileEncode(&file.Op(), &enc, nullptr), -1);
    EXPECT_NE(StoreLog().Take().find("pEncInner->reso = 4, vEnc = 1, aEnc = 2, frameRate = 0\n"),
              std::string::npos);
}

TEST(BakRecFileLifecycle, ZeroedAndClosedStructures)
{
    StRecBakFileOp_t op{};
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    StRecEncode_t enc{};
    EXPECT_EQ(RKSFS_ReadBakRecFrame(&op, buffer.data(), buffer.size(), &head), -1);
    EXPECT_EQ(RKSFS_SeekBakRecTime(&op, kT0), -1);
    EXPECT_EQ(RKSFS_GetBakRecFileEncode(&op, &enc, nullptr), -1);
    EXPECT_EQ(RKSFS_CloseBakRecFile(&op), 0);
    EXPECT_EQ(RKSFS_CloseBakRecFile(&op), 0);
    EXPECT_EQ(RKSFS_CloseBakRecFile(nullptr), 0);
    EXPECT_EQ(RKSFS_OpenBakRecFile(nullptr, "x"), -1);
    EXPECT_EQ(RKSFS_OpenBakRecFile(&op, nullptr), -1);
}

TEST(BakRecFileLifecycle, TheFileIsNeverChanged)
{
    CTempDir dir;
    CBackupFileImage image(0x800000);
    CRecordWriter w(image, Recording());
    WriteFrames(w, uint64_t(kT0) * kUs, 50, 10, 1000, false, 1);
    w.Close();
    image.Save(dir / "ro.rkrec");
    struct stat before {};
    ::stat((dir / "ro.rkrec").c_str(), &before);
    // On a read-only view an open that asks for write access fails, root or not.
    const ReadOnlyRun run = RunWithReadOnlyView(dir.Path(), [&] {
        CBakFile file(dir / "ro.rkrec");
        if (file.OpenResult() != 0) return 1;
        if (file.ReadAll().frames.empty()) return 2;
        if (RKSFS_SeekBakRecTime(&file.Op(), kT0 + 1) != 0) return 3;
        return file.ReadAll().frames.empty() ? 4 : 0;
    });
    if (!run.available) GTEST_SKIP() << run.why;
    EXPECT_EQ(run.exitCode, 0) << "1 open, 2 read, 3 seek, 4 read after the seek failed on a read-only view";
    struct stat after {};
    ::stat((dir / "ro.rkrec").c_str(), &after);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_size, after.st_size);
}

TEST(Resolution, CodesToSizesAndBack)
{
    auto toSize = [](uint32_t code, uint32_t standard) {
        uint32_t w = 0, h = 0;
        const int rc = RKSFS_ConvResolution(&code, &w, &h, &standard, 1);
        return rc == 0 ? std::to_string(w) + "x" + std::to_string(h) : "none";
    };
    EXPECT_EQ(toSize(5, 1), "960x480");
    EXPECT_EQ(toSize(5, 0), "960x576");
    EXPECT_EQ(toSize(0, 7), "352x288");
    EXPECT_EQ(toSize(9, 1), "4096x2160");
    StoreLog().Start();
    EXPECT_EQ(toSize(10, 0), "none");
    EXPECT_NE(StoreLog().Take().find("res = 10 isn't supported now\n"), std::string::npos);

    auto toCode = [](uint32_t w, uint32_t h, uint32_t standard) {
        uint32_t code = 99;
        const int rc = RKSFS_ConvResolution(&code, &w, &h, &standard, 0);
        return rc == 0 ? std::to_string(code) + "/" + std::to_string(standard) : "none";
    };
    EXPECT_EQ(toCode(960, 480, 0xFFFFFFFF), "5/1");
    EXPECT_EQ(toCode(960, 576, 1), "5/0");
    EXPECT_EQ(toCode(352, 240, 0), "0/1");
    EXPECT_EQ(toCode(1280, 720, 0xFFFFFFFF), "3/0");
    EXPECT_EQ(toCode(1280, 720, 1), "3/1") << "a set standard is kept";
    EXPECT_EQ(toCode(640, 720, 0xFFFFFFFF), "6/1");
    EXPECT_EQ(toCode(960, 1080, 0), "7/0");
    EXPECT_EQ(toCode(4096, 2160, 0xFFFFFFFF), "9/0");
    StoreLog().Start();
    EXPECT_EQ(toCode(800, 600, 0), "none");
    EXPECT_NE(StoreLog().Take().find("width = 800, height = 600 isn't supported now\n"),
              std::string::npos);
}

}  // namespace
}  // namespace velmor::fixtures
