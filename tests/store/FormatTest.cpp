// The container on-disk format: field placement, check values and validity rules.
#include <gtest/gtest.h>

#include <cstring>

#include "common/LibraryLog.h"
#include "store/format/RkFormat.h"
#include "tests/support/LogCapture.h"

namespace rkfs {

// Names instead of bytes in failure messages.
void PrintTo(HeadFault f, std::ostream* os) { *os << HeadFaultText(f); }

namespace {

using velmor::LoadLE32;
using velmor::LoadLE64;

// The format rules are linked into this program: their lines reach this
// program's own holder of the file-system library's callback.
void SetFormatLogCallback(velmor::LogCallback callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Store, callback, user);
}

velmor::fixtures::CLogCapture<decltype(&SetFormatLogCallback)>& FormatLog()
{
    static velmor::fixtures::CLogCapture<decltype(&SetFormatLogCallback)> capture(&SetFormatLogCallback);
    return capture;
}

constexpr PartitionGeometry kGeo{40 * 32, 0x400000};

std::vector<uint8_t> Bytes(const StDataBlockHead_t& h)
{
    std::vector<uint8_t> b(32);
    StoreStruct(b.data(), h);
    return b;
}

// A recording head of block 100 that every rule accepts.
StDataBlockHead_t GoodHead()
{
    auto h = ZeroStruct<StDataBlockHead_t>();
    h.useId.set(5000);
    h.setWrittenAfterFormat(true);
    h.setDataType(kDataTypeRec);
    h.setNextBlkId(101);
    h.recData.channel = 3;
    h.recData.prevBlkId.set(99);
    h.recData.beginTime.set(1765188000);
    h.recData.duration.set(60);
    h.recData.setHasIFrameHead(true);
    h.recData.useSize.set(0x400000);
    h.recData.lend.set(100);
    h.recData.borrow.set(200);
    SealHead(h);
    return h;
}

HeadFault Check(StDataBlockHead_t h, bool reseal = true)
{
    if (reseal) SealHead(h);
    return CheckRecBlockHead(h, 100, kGeo);
}

TEST(FormatLayout, HeadFieldsLandOnTheirBytes)
{
    auto h = ZeroStruct<StDataBlockHead_t>();
    h.setBad(true);
    EXPECT_EQ(Bytes(h)[4], 0x01);
    h = ZeroStruct<StDataBlockHead_t>();
    h.setWrittenAfterFormat(true);
    h.setDataType(6);
    h.setNextBlkId(0xABCDEF);
    auto b = Bytes(h);
    EXPECT_EQ(b[4], 0x04 | (6 << 3));
    EXPECT_EQ(b[5], 0xEF);
    EXPECT_EQ(b[6], 0xCD);
    EXPECT_EQ(b[7], 0xAB);
    EXPECT_EQ(h.nextBlkId(), 0xABCDEFu);
    h.setDataType(1);
    EXPECT_EQ(h.nextBlkId(), 0xABCDEFu) << "setting one field leaves the others";
    EXPECT_TRUE(h.writtenAfterFormat());

    h = ZeroStruct<StDataBlockHead_t>();
    h.recData.useSize.set(0x123456);
    h.recData.reason1 = 0x77;
    h.recData.lend.set(0x0A0B0C);
    h.recData.borrow.set(0x010203);
    h.recData.setReason(0x332211);
    b = Bytes(h);
    EXPECT_EQ(LoadLE32(&b[19]) & 0xFFFFFF, 0x123456u);
    EXPECT_EQ(b[22], 0x11);
    EXPECT_EQ(LoadLE32(&b[23]) & 0xFFFFFF, 0x0A0B0Cu);
    EXPECT_EQ(b[26], 0x22);
    EXPECT_EQ(LoadLE32(&b[27]) & 0xFFFFFF, 0x010203u);
    EXPECT_EQ(b[30], 0x33);
    EXPECT_EQ(h.recData.reason(), 0x332211u);
}

TEST(FormatLayout, FrameHeadAndIndexHeadBytes)
{
    StFrameHead_t f{};
    f.sign = 'F';
    f.type = 4;
    f.length.set(0x01020304);
    f.pts.set(0x1122334455667788ULL);
    uint8_t b[16];
    StoreStruct(b, f);
    EXPECT_EQ(b[0], 'F');
    EXPECT_EQ(b[3], 4);
    EXPECT_EQ(LoadLE32(b + 4), 0x01020304u);
    EXPECT_EQ(LoadLE64(b + 8), 0x1122334455667788ULL);
}

TEST(FormatGeometry, ContainerFilesAndBlocks)
{
    EXPECT_TRUE(IsContainerFileSize(134217728));
    EXPECT_TRUE(IsContainerFileSize(268435456));
    EXPECT_FALSE(IsContainerFileSize(200000000));
    EXPECT_EQ(BlockSizeForFileSize(134217728), 0x400000u);
    EXPECT_EQ(BlockSizeForFileSize(268435456), 0x800000u);
    EXPECT_TRUE(IsIndexBlockId(0));
    EXPECT_TRUE(IsIndexBlockId(4096));
    EXPECT_FALSE(IsIndexBlockId(4097));
    EXPECT_FALSE(IsForbiddenLink(0));
    EXPECT_TRUE(IsForbiddenLink(8192));
    EXPECT_EQ(BlockIdOf(128, 0), 4096u);
    EXPECT_EQ(FileOfBlock(4097), 128u);
    EXPECT_EQ(PositionOfBlock(4097), 1u);
    EXPECT_EQ(HeadAreaFileOffset(0, 0x400000), 0x400000u - 4096);
    EXPECT_EQ(HeadAreaFileOffset(31, 0x800000), 32ull * 0x800000 - 4096);
    EXPECT_EQ(DataFileOffset(2, 0x400000, 4096 + 10), 2ull * 0x400000 + 10);
}

TEST(FormatCheckValues, HeadSumOfBytes0To30)
{
    StDataBlockHead_t h = GoodHead();
    auto b = Bytes(h);
    unsigned sum = 0;
    for (int i = 0; i < 31; ++i) sum += b[i];
    EXPECT_EQ(h.checkValue, uint8_t(sum));
    EXPECT_EQ(Check(h, false), HeadFault::kOk);
    h.checkValue = uint8_t(h.checkValue + 1);
    EXPECT_EQ(Check(h, false), HeadFault::kCheckValue) << "off by one";
}

TEST(FormatCheckValues, NeckUsesTheLastIndexedEntry)
{
    auto n = ZeroStruct<StRecDataNeck_t>();
    n.sign.set(kRecDataNeckSign);
    EXPECT_EQ(NeckCheckValue(n), 0x004E4452u) << "no entries: the sign alone";
    n.ifrIdxCnt.set(500);
    for (int i = 0; i < 320; ++i) {
        n.ifrIdx[i].offset.set(4096 + 1000 * uint32_t(i));
        n.ifrIdx[i].length.set(900);
    }
    EXPECT_EQ(NeckCheckValue(n), 0x004E4452u + 500 + (4096 + 319000) + 900);
    n.ifrIdxCnt.set(3);
    EXPECT_EQ(NeckCheckValue(n), 0x004E4452u + 3 + (4096 + 2000) + 900);
    n.sign.set(0xFFFFFFFF);
    n.ifrIdxCnt.set(1);
    EXPECT_EQ(NeckCheckValue(n), uint32_t(0xFFFFFFFFu + 1u + 4096u + 900u)) << "wraps";
}

TEST(FormatCheckValues, IndexHeadSumsFifteenWordsWithoutTheMountedByte)
{
    auto h = ZeroStruct<StIndexBlockHead_t>();
    std::memcpy(h.sign, "IndexBlk", 8);
    h.version.set(258);
    h.sectorSize.set(512);
    h.blkCnt.set(1280);
    SealIndexHead(h);
    uint8_t b[65];
    StoreStruct(b, h);
    uint32_t sum = 0;
    for (int off = 0; off < 60; off += 4) sum += LoadLE32(b + off);
    EXPECT_EQ(LoadLE32(b + 61), sum);
    const uint32_t before = h.checkValue.get();
    h.mounted = 1;
    EXPECT_EQ(IndexHeadCheckValue(h), before);
}

TEST(FormatRecHead, EveryRuleRejectsItsFault)
{
    EXPECT_EQ(Check(GoodHead()), HeadFault::kOk);
    auto with = [](auto change) {
        StDataBlockHead_t h = GoodHead();
        change(h);
        return Check(h);
    };
    EXPECT_EQ(with([](auto& h) { h.useId.set(0); }), HeadFault::kUseId);
    EXPECT_EQ(with([](auto& h) { h.useId.set(0xC0000000); }), HeadFault::kUseId);
    EXPECT_EQ(with([](auto& h) { h.useId.set(0xBFFFFFFF); }), HeadFault::kOk);
    EXPECT_EQ(with([](auto& h) { h.setDataType(2); }), HeadFault::kDataType);
    EXPECT_EQ(with([](auto& h) { h.setDataType(5); }), HeadFault::kDataType);
    EXPECT_EQ(with([](auto& h) { h.setWrittenAfterFormat(false); }), HeadFault::kNotWrittenAfterFormat);
    EXPECT_EQ(with([](auto& h) { h.setBad(true); }), HeadFault::kBad);
    EXPECT_EQ(with([](auto& h) { h.setWriting(true); }), HeadFault::kOk) << "a head being written is still valid";
    EXPECT_EQ(with([](auto& h) { h.setNextBlkId(100); }), HeadFault::kNextBlkId);
    EXPECT_EQ(with([](auto& h) { h.setNextBlkId(40 * 32); }), HeadFault::kNextBlkId);
    EXPECT_EQ(with([](auto& h) { h.setNextBlkId(0); }), HeadFault::kOk);
    for (uint32_t idx : {4096u, 8192u}) {
        const PartitionGeometry big{200 * 32, 0x400000};
        StDataBlockHead_t h = GoodHead();
        h.setNextBlkId(idx);
        SealHead(h);
        EXPECT_EQ(CheckRecBlockHead(h, 100, big), HeadFault::kNextBlkId) << idx;
        h = GoodHead();
        h.recData.prevBlkId.set(idx);
        SealHead(h);
        EXPECT_EQ(CheckRecBlockHead(h, 100, big), HeadFault::kPrevBlkId) << idx;
    }
    EXPECT_EQ(with([](auto& h) { h.recData.prevBlkId.set(100); }), HeadFault::kPrevBlkId);
    EXPECT_EQ(with([](auto& h) { h.recData.prevBlkId.set(0); }), HeadFault::kOk);
    EXPECT_EQ(with([](auto& h) { h.recData.channel = 16; }), HeadFault::kChannel);
    EXPECT_EQ(with([](auto& h) { h.recData.borrow.set(0x400000 - 4095); }), HeadFault::kLendBorrow);
    EXPECT_EQ(with([](auto& h) { h.recData.lend.set(0x400000 - 4095); }), HeadFault::kLendBorrow);
    EXPECT_EQ(with([](auto& h) {
                  h.recData.lend.set(0x400000 - 4096);
              }),
              HeadFault::kOk);
    EXPECT_EQ(with([](auto& h) {
                  h.recData.borrow.set(0);
                  h.recData.useSize.set(4096 + 99);
              }),
              HeadFault::kUseSize);
    EXPECT_EQ(with([](auto& h) {
                  h.recData.borrow.set(0);
                  h.recData.useSize.set(4096 + 100);
              }),
              HeadFault::kOk);
    EXPECT_EQ(with([](auto& h) { h.recData.useSize.set(0x400001); }), HeadFault::kUseSize);
    EXPECT_EQ(with([](auto& h) { h.recData.useSize.set(0x400000 - 1); }), HeadFault::kUseSize)
        << "a block that lends to the next is full";
    EXPECT_EQ(with([](auto& h) {
                  h.recData.beginTime.set(0x7FFFFFFF - 59);
              }),
              HeadFault::kTimeRange);
    EXPECT_EQ(with([](auto& h) {
                  h.recData.beginTime.set(0x7FFFFFFF - 60);
              }),
              HeadFault::kOk);
    EXPECT_EQ(with([](auto& h) { h.recData.duration.set(0); }), HeadFault::kIFrameWithoutDuration);
    EXPECT_EQ(with([](auto& h) {
                  h.recData.duration.set(0);
                  h.recData.setHasIFrameHead(false);
              }),
              HeadFault::kOk);
    StDataBlockHead_t two = GoodHead();
    two.setDataType(2);
    SealHead(two);
    EXPECT_EQ(CheckRecBlockHead(two, 100, kGeo, true), HeadFault::kOk);
}

TEST(FormatRecHead, BackupFileVariant)
{
    StDataBlockHead_t h = GoodHead();
    h.setNextBlkId(100);  // chain links mean nothing outside a partition
    h.recData.prevBlkId.set(4096);
    h.recData.useSize.set(0x800000);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kOk);
    h.recData.useSize.set(0x400000);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kOk);
    h.recData.useSize.set(0x600000);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kUseSize) << "with borrow only 4 or 8 MiB";
    h.recData.borrow.set(0);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kOk);
    h.recData.useSize.set(0x800001);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kUseSize);
    h.recData.useSize.set(0x800000);
    h.recData.lend.set(0x800000 - 4095);
    SealHead(h);
    EXPECT_EQ(CheckBakRecBlockHead(h), HeadFault::kLendBorrow);
}

TEST(FormatCmHead, NamesAndSizes)
{
    auto make = [](uint8_t type, const char* name, uint32_t useSize) {
        auto h = ZeroStruct<StDataBlockHead_t>();
        h.useId.set(7);
        h.setWrittenAfterFormat(true);
        h.setDataType(type);
        h.cmData.useSize.set(useSize);
        std::strncpy(h.cmData.fileName, name, 14);
        SealHead(h);
        return CheckCmBlockHead(h, 100, kGeo);
    };
    EXPECT_EQ(make(5, "log.txt", 4096), HeadFault::kOk);
    EXPECT_EQ(make(5, "log.txt", 4095), HeadFault::kUseSize);
    EXPECT_EQ(make(5, "", 5000), HeadFault::kFileName);
    for (const char* reserved : {"a*b", "x.rpo", "x.REC", "x.Avi", "clip.mp4"})
        EXPECT_EQ(make(5, reserved, 5000), HeadFault::kFileName) << reserved;
    EXPECT_EQ(make(5, "x.mp4x", 5000), HeadFault::kOk);
    EXPECT_EQ(make(6, "abcdefghijklmn", 5000), HeadFault::kOk);
    EXPECT_EQ(make(6, "abcdefghijklm", 5000), HeadFault::kFileName);
    EXPECT_EQ(make(1, "log.txt", 5000), HeadFault::kDataType);
}

TEST(FormatLongName, AbbreviationIsFirstThreeAndLastEleven)
{
    auto n = ZeroStruct<StLongNameNeck_t>();
    n.sign.set(kLongNameNeckSign);
    std::strcpy(n.fullName, "configuration-backup.txt");
    EXPECT_FALSE(IsLongNameNeckValid(n, "conkup.txtabcd"));
    EXPECT_TRUE(IsLongNameNeckValid(n, "con" "-backup.txt"));
    EXPECT_FALSE(IsLongNameNeckValid(n, "con" "-backup.tx")) << "13 characters";
    std::strcpy(n.fullName, "short.txt");
    EXPECT_FALSE(IsLongNameNeckValid(n, "sho" "rt.txt....."));
}

class NeckRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_rd = GoodHead().recData;
        m_neck = ZeroStruct<StRecDataNeck_t>();
        m_neck.sign.set(kRecDataNeckSign);
        m_neck.ifrIdxCnt.set(3);
        for (int i = 0; i < 3; ++i) {
            m_neck.ifrIdx[i].offset.set(4096 + 100 + 10000 * uint32_t(i));
            m_neck.ifrIdx[i].length.set(5000);
        }
        Seal();
    }
    void Seal() { m_neck.checkValue.set(NeckCheckValue(m_neck)); }
    std::string Failure()
    {
        FormatLog().Start();
        const bool ok = IsRecDataNeckValid(m_neck, m_rd);
        std::string out = FormatLog().Take();
        return ok ? "" : out;
    }
    StRecData_t m_rd;
    StRecDataNeck_t m_neck;
};

TEST_F(NeckRules, ValidNeck) { EXPECT_EQ(Failure(), ""); }

TEST_F(NeckRules, SignAndCheckValue)
{
    m_neck.checkValue.set(m_neck.checkValue.get() + 1);
    EXPECT_NE(Failure().find("IsRecDataNeckValid:"), std::string::npos);
    EXPECT_NE(Failure().find("pRDN->sign = 0x4e4452, checkValue = "), std::string::npos);
    m_neck.sign.set(0);
    Seal();
    EXPECT_NE(Failure(), "");
}

TEST_F(NeckRules, FirstEntryInsideTheLentBytes)
{
    m_neck.ifrIdx[0].offset.set(4096 + 99);
    Seal();
    EXPECT_NE(Failure().find("pRDN->ifrIdx[0].offset = 4195, pRD->lend = 100\n"), std::string::npos);
}

TEST_F(NeckRules, LastEntryBeyondUseSize)
{
    m_rd.useSize.set(4096 + 100 + 20000);
    EXPECT_NE(Failure().find("pRDN->ifrIdx[cnt - 1].offset = 24196, pRD->useSize = 24196\n"), std::string::npos);
}

TEST_F(NeckRules, OverlappingEntries)
{
    m_neck.ifrIdx[1].length.set(10001);
    EXPECT_NE(Failure().find("pRDN->ifrIdx[1].offset = 14196, length = 10001, pRDN->ifrIdx[i+1].offset = 24196\n"),
              std::string::npos);
}

TEST(FormatFrameHead, Rules)
{
    StFrameHead_t f{};
    f.sign = 'F';
    f.type = 1;
    f.length.set(100);
    f.pts.set(uint64_t(1000) * 1000000 + 999999);
    FormatLog().Start();
    EXPECT_TRUE(IsFrameHeadValid(f, kMaxFrameSizeMain, 1000, "File"));
    EXPECT_FALSE(IsFrameHeadValid(f, kMaxFrameSizeMain, 999, "File")) << "video after the end";
    f.type = 4;
    EXPECT_TRUE(IsFrameHeadValid(f, kMaxFrameSizeMain, 999, "File")) << "audio is not held to the end";
    f.type = 6;
    EXPECT_FALSE(IsFrameHeadValid(f, kMaxFrameSizeMain, 2000, "File"));
    f.type = 2;
    f.length.set(kMaxFrameSizeSub + 1);
    EXPECT_FALSE(IsFrameHeadValid(f, kMaxFrameSizeSub, 2000, "File"));
    EXPECT_TRUE(IsFrameHeadValid(f, kMaxFrameSizeMain, 2000, "File"));
    f.length.set(0);
    EXPECT_FALSE(IsFrameHeadValid(f, kMaxFrameSizeMain, 2000, "RKSFS_RecBakFile"));
    f.length.set(10);
    f.pts.set(uint64_t(0x100000000) * 1000000);
    EXPECT_FALSE(IsFrameHeadValid(f, kMaxFrameSizeMain, 0xFFFFFFFF, "File")) << "second beyond 32 bits";
    const std::string out = FormatLog().Take();
    EXPECT_NE(out.find("RKSFS_RecBakFile:IsFrameHeadValid:"), std::string::npos);
    EXPECT_NE(out.find(" pFrameHead->sign = 70, type = 2, length = 0, pFileOp->maxFrameSize = 524272, "
                       "pFrameHead->pts = 1000999999, pFileOp->recFI.endTime = 2000\n"),
              std::string::npos)
        << out;
}

class IndexHeadRules : public ::testing::Test {
protected:
    static constexpr IndexGeometry kIdx{512, 0x8000000, 0x400000, 40 * 32};
    void SetUp() override
    {
        m_h = ZeroStruct<StIndexBlockHead_t>();
        std::memcpy(m_h.sign, "IndexBlk", 8);
        m_h.version.set(258);
        m_h.sectorSize.set(512);
        m_h.startPos.set(0x8000000);
        m_h.blkSize.set(0x400000);
        m_h.blkCnt.set(40 * 32);
        m_h.idxBlkDist.set(4096);
        m_h.selfBlkId.set(0);
        m_h.useId.set(1600000000);
        m_h.updateNo.set(3);
        m_h.lastApplyBlkId.set(700);
        m_h.firstDataBlkId.set(33);
        m_h.rebuildIdxTm.set(1500000000);
    }
    bool Valid(bool reseal = true)
    {
        if (reseal) SealIndexHead(m_h);
        return IsIndexBlockHeadValid(m_h, 0, kIdx);
    }
    StIndexBlockHead_t m_h;
};

TEST_F(IndexHeadRules, ValidAndMounted)
{
    EXPECT_TRUE(Valid());
    m_h.mounted = 1;
    EXPECT_TRUE(Valid(false)) << "the mounted byte is outside the check value";
    EXPECT_TRUE(IsIndexBlockHeadUsable(m_h));
    m_h.version.set(257);
    EXPECT_TRUE(Valid());
    EXPECT_FALSE(IsIndexBlockHeadUsable(m_h));
}

TEST_F(IndexHeadRules, EachRule)
{
    auto fails = [&](auto change) {
        SetUp();
        change(m_h);
        return !Valid();
    };
    EXPECT_TRUE(fails([](auto& h) { h.sign[7] = 'x'; }));
    EXPECT_TRUE(fails([](auto& h) { h.sectorSize.set(4096); }));
    EXPECT_TRUE(fails([](auto& h) { h.startPos.set(0x10000000); }));
    EXPECT_TRUE(fails([](auto& h) { h.blkSize.set(0x800000); }));
    EXPECT_TRUE(fails([](auto& h) { h.blkCnt.set(41 * 32); }));
    EXPECT_TRUE(fails([](auto& h) { h.idxBlkDist.set(4095); }));
    EXPECT_TRUE(fails([](auto& h) { h.selfBlkId.set(4096); }));
    EXPECT_TRUE(fails([](auto& h) { h.useId.set(1546300800); }));
    EXPECT_FALSE(fails([](auto& h) { h.useId.set(1546300801); }));
    EXPECT_TRUE(fails([](auto& h) { h.useId.set(0xC0000000); }));
    EXPECT_TRUE(fails([](auto& h) { h.updateNo.set(0); }));
    EXPECT_TRUE(fails([](auto& h) { h.updateNo.set(-1); }));
    EXPECT_TRUE(fails([](auto& h) { h.lastApplyBlkId.set(40 * 32); }));
    EXPECT_TRUE(fails([](auto& h) { h.firstDataBlkId.set(4096); }));
    EXPECT_TRUE(fails([](auto& h) { h.firstDataBlkId.set(0); }));
    EXPECT_TRUE(fails([](auto& h) { h.lastApplyBlkId.set(0); }));
    EXPECT_FALSE(fails([](auto& h) {
        h.lastApplyBlkId.set(0);
        h.firstDataBlkId.set(32);
    }));
    EXPECT_TRUE(fails([](auto& h) { h.rebuildIdxTm.set(1600000001); }));
    SetUp();
    SealIndexHead(m_h);
    m_h.checkValue.set(m_h.checkValue.get() ^ 1);
    EXPECT_FALSE(Valid(false));
}

// The player's reader looks at neither the check value nor the update
// number's sign; a head read before the geometry is known must describe its
// own file.
TEST_F(IndexHeadRules, ReaderAndFileVariants)
{
    SealIndexHead(m_h);
    m_h.checkValue.set(m_h.checkValue.get() ^ 1);
    m_h.updateNo.set(-1);
    EXPECT_TRUE(IsIndexBlockHeadConsistent(m_h, 0, kIdx));
    m_h.updateNo.set(0);
    EXPECT_FALSE(IsIndexBlockHeadConsistent(m_h, 0, kIdx));

    SetUp();
    m_h.selfBlkId.set(128 * 32);
    SealIndexHead(m_h);
    EXPECT_TRUE(IsIndexBlockHeadOfFile(m_h, 0x8000000, 0x400000, 128 * 32));
    EXPECT_FALSE(IsIndexBlockHeadOfFile(m_h, 0x8000000, 0x400000, 0)) << "another file's head";
    EXPECT_FALSE(IsIndexBlockHeadOfFile(m_h, 0x10000000, 0x800000, 128 * 32)) << "another file size";
    m_h.sectorSize.set(768);
    SealIndexHead(m_h);
    EXPECT_FALSE(IsIndexBlockHeadOfFile(m_h, 0x8000000, 0x400000, 128 * 32)) << "not a sector size";
    m_h.sectorSize.set(512);
    m_h.blkCnt.set(40 * 32 + 1);
    SealIndexHead(m_h);
    EXPECT_FALSE(IsIndexBlockHeadOfFile(m_h, 0x8000000, 0x400000, 128 * 32)) << "not whole files";
}

TEST(FormatFrameHead, PublicFormBothWays)
{
    const uint8_t raw[16] = {'F', 3, 1, 4, 0x10, 0x27, 0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    const RK_FRAME_HEAD pub = FrameHeadToPublic(LoadStruct<StFrameHead_t>(raw));
    EXPECT_EQ(pub.sign, 'F');
    EXPECT_EQ(pub.channel, 3);
    EXPECT_EQ(pub.subStream, 1);
    EXPECT_EQ(pub.type, 4);
    EXPECT_EQ(pub.length, 10000u);
    EXPECT_EQ(pub.pts, 0x0102030405060708ull);
    uint8_t back[16] = {};
    StoreStruct(back, FrameHeadFromPublic(pub));
    EXPECT_EQ(std::memcmp(back, raw, sizeof raw), 0);
}

TEST(FormatEncode, ValidRanges)
{
    EXPECT_TRUE(IsEncodeRecordValid({9, 0, 3, 13, 60}));
    EXPECT_TRUE(IsEncodeRecordValid({0, 1, 0, 0, 1}));
    EXPECT_FALSE(IsEncodeRecordValid({10, 0, 0, 0, 25}));
    EXPECT_FALSE(IsEncodeRecordValid({0, 0, 4, 0, 25}));
    EXPECT_FALSE(IsEncodeRecordValid({0, 0, 0, 14, 25}));
    EXPECT_FALSE(IsEncodeRecordValid({0, 0, 0, 0, 0}));
    EXPECT_FALSE(IsEncodeRecordValid({0, 0, 0, 0, 61}));
}

TEST(FormatEndTime, DurationZeroEndsAtTheBeginSecond)
{
    StRecData_t rd{};
    rd.beginTime.set(100);
    EXPECT_EQ(BlockEndTime(rd), 100u);
    rd.duration.set(1);
    EXPECT_EQ(BlockEndTime(rd), 100u);
    rd.duration.set(60);
    EXPECT_EQ(BlockEndTime(rd), 159u);
}

}  // namespace
}  // namespace rkfs

namespace rkfs {
namespace {

TEST(FormatGeometry, DeviceSizesGiveTheirContainerFiles)
{
    DeviceGeometry g;
    ASSERT_TRUE(GeometryOfDevice(600ull << 30, 512, &g));
    EXPECT_EQ(g.fileSize, kContainerFileSize256);
    EXPECT_EQ(g.blkSize, 0x800000u);
    ASSERT_TRUE(GeometryOfDevice(256ull << 30, 512, &g));
    EXPECT_EQ(g.fileSize, kContainerFileSize128);
    EXPECT_EQ(g.blkSize, 0x400000u);
    EXPECT_GT(g.fileCount, 2000u);
    EXPECT_LT(uint64_t(g.fileCount) * g.fileSize, 256ull << 30);
    EXPECT_FALSE(GeometryOfDevice(kMinDeviceSize - 1, 512, &g));
    EXPECT_TRUE(GeometryOfDevice(kMinDeviceSize, 512, &g));
    EXPECT_FALSE(GeometryOfDevice(256ull << 30, 1000, &g));
    EXPECT_FALSE(GeometryOfDevice(256ull << 30, 8192, &g));
    EXPECT_FALSE(GeometryOfDevice((256ull << 30) + 100, 512, &g)) << "not whole sectors";
    EXPECT_TRUE(GeometryOfDevice(256ull << 30, 4096, &g));
}

}  // namespace
}  // namespace rkfs
