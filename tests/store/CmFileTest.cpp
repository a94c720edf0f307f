// Common files on a mounted partition: listing by hint, reading,
// positioning and removing in the head set.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/store/PartitionFixture.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

bool Has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

class CmFiles : public ::testing::Test {
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

    std::vector<StCmFileInfo_t> List(const std::string& hint, size_t capacity = 50, int* rc = nullptr)
    {
        std::vector<StCmFileInfo_t> out(capacity);
        const int n = RKSFS_GetFileInfo(s_part->Dir().c_str(), hint.c_str(), out.data(), capacity);
        if (rc) *rc = n;
        out.resize(n > 0 ? std::min<size_t>(size_t(n), capacity) : 0);
        return out;
    }
    static std::set<std::string> Names(const std::vector<StCmFileInfo_t>& files)
    {
        std::set<std::string> out;
        for (const auto& f : files) out.insert(f.fileName);
        return out;
    }
    static std::vector<uint8_t> ReadAll(const StCmFileInfo_t& fi, size_t chunk = 1000)
    {
        const int fd = RKSFS_Open(&fi, 0);
        EXPECT_GE(fd, 0);
        std::vector<uint8_t> out;
        std::vector<uint8_t> buf(chunk);
        for (;;) {
            const int64_t n = RKSFS_Read(fd, buf.data(), buf.size());
            EXPECT_GE(n, 0);
            if (n <= 0) break;
            out.insert(out.end(), buf.begin(), buf.begin() + n);
        }
        EXPECT_EQ(RKSFS_Feof(fd), 1);
        EXPECT_EQ(RKSFS_CloseFile(fd), 0);
        return out;
    }
    const WrappedPartition::Common& Written(const std::string& name)
    {
        for (const auto& c : s_part->commons)
            if (c.name == name) return c;
        throw std::runtime_error("no such common file");
    }

    static WrappedPartition* s_part;
    std::unique_ptr<CMountGuard> m_mount;
};
WrappedPartition* CmFiles::s_part = nullptr;

TEST_F(CmFiles, ListingByHint)
{
    auto all = List("*");
    ASSERT_EQ(all.size(), 5u);
    // Short names first, then long names.
    EXPECT_EQ(std::string(all[3].fileName).size() > 14, true);
    EXPECT_EQ(std::string(all[4].fileName).size() > 14, true);
    EXPECT_EQ(Names(List("abc*")),
              (std::set<std::string>{"abc.txt", "abcdef.log", "abc_long_configuration_file.bin"}));
    EXPECT_EQ(Names(List("*xyz")), (std::set<std::string>{"notes.xyz", "vehicle_event_record_2025.xyz"}));
    EXPECT_EQ(Names(List("abcdef.log")), (std::set<std::string>{"abcdef.log"}));
    EXPECT_EQ(Names(List("vehicle_event_record_2025.xyz")), (std::set<std::string>{"vehicle_event_record_2025.xyz"}));
    EXPECT_TRUE(List("abcdef").empty());
    EXPECT_TRUE(List("*.doc").empty());
    for (const auto& f : all) {
        const auto& w = Written(f.fileName);
        EXPECT_EQ(f.dataSize, w.bytes.size());
        EXPECT_EQ(f.blkCnt, w.blocks.size());
        EXPECT_EQ(f.size, w.bytes.size() + 4096 * w.blocks.size()) << "head areas counted";
        EXPECT_EQ(uint32_t(f.uuid) & 0x3FFFF, w.blocks.front());
        EXPECT_EQ(std::string(f.dir), s_part->Dir());
        EXPECT_EQ(f.writing, 0);
    }
    int rc = 0;
    StoreLog().Start();
    const auto two = List("*", 2, &rc);
    EXPECT_TRUE(Has(StoreLog().Take(), "count = 2 not enough"));
    EXPECT_EQ(rc, 5) << "the number found";
    EXPECT_EQ(two.size(), 2u);
}

TEST_F(CmFiles, ReadingGivesExactlyTheBytesWritten)
{
    for (const auto& f : List("*")) {
        SCOPED_TRACE(f.fileName);
        EXPECT_TRUE(ReadAll(f) == Written(f.fileName).bytes);
        EXPECT_TRUE(ReadAll(f, 3333) == Written(f.fileName).bytes);
    }
}

TEST_F(CmFiles, Positioning)
{
    const auto f = List("abcdef.log").at(0);
    const auto& bytes = Written("abcdef.log").bytes;
    const int fd = RKSFS_Open(&f, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(RKSFS_Ftell64(fd), 0);
    std::vector<uint8_t> buf(100);
    EXPECT_EQ(RKSFS_Lseek64(fd, 3990, 0), 3990);
    ASSERT_EQ(RKSFS_Read(fd, buf.data(), 100), 100) << "across a block boundary";
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), bytes.begin() + 3990));
    EXPECT_EQ(RKSFS_Ftell64(fd), 4090);
    EXPECT_EQ(RKSFS_Lseek64(fd, -90, 1), 4000);
    EXPECT_EQ(RKSFS_Lseek64(fd, -10, 2), int64_t(bytes.size()) - 10);
    EXPECT_EQ(RKSFS_Read(fd, buf.data(), 100), 10);
    EXPECT_EQ(RKSFS_Feof(fd), 1);
    EXPECT_EQ(RKSFS_Read(fd, buf.data(), 100), 0);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_Lseek64(fd, 1, 2), -1);
    EXPECT_EQ(RKSFS_Lseek64(fd, -1, 0), -1);
    EXPECT_EQ(RKSFS_Lseek64(fd, 0, 3), -1);
    EXPECT_EQ(RKSFS_Lseek64(fd, 20000, 0), -1);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "whence = 3"));
    EXPECT_TRUE(Has(log, "offset = 20000, pFileOp->recFI.size = 10000"));
    EXPECT_EQ(RKSFS_Write(fd, buf.data(), 10), -10003) << "open for reading";
    EXPECT_EQ(RKSFS_CloseFile(fd), 0);
}

TEST_F(CmFiles, OpenFlagsAndWriting)
{
    const auto f = List("abc.txt").at(0);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_Open(&f, 0x200), -1) << "truncate alone";
    EXPECT_EQ(RKSFS_Open(&f, 0x40), -1);
    StCmFileInfo_t star = f;
    std::strcpy(star.fileName, "a*c");
    EXPECT_EQ(RKSFS_Open(&star, 0), -1);
    StCmFileInfo_t gone = f;
    std::strcpy(gone.fileName, "other.txt");
    EXPECT_EQ(RKSFS_Open(&gone, 0), -139);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "O_WRONLY = 0x1, O_RDWR = 0x2, O_TRUNC = 0x200"));
    EXPECT_TRUE(Has(log, "contain star *"));
    // Nothing is written: write access is refused at the open, with or
    // without truncation, and the file reads as before.
    StoreLog().Start();
    for (int flags : {1, 2, 0x201, 0x202}) EXPECT_EQ(RKSFS_Open(&f, flags), -30) << flags;
    EXPECT_TRUE(Has(StoreLog().Take(), "flags = 0x201: opening for writing is not offered"));
    EXPECT_EQ(RKSFS_IsMounted2(s_part->Dir().c_str()), 1);
    const int fd = RKSFS_Open(&f, 0);
    ASSERT_GE(fd, 0);
    std::vector<uint8_t> data(10, 7);
    EXPECT_EQ(RKSFS_Write(fd, data.data(), data.size()), -10003);
    EXPECT_EQ(RKSFS_Write(fd, data.data(), 0), -10003) << "not even nothing is taken";
    EXPECT_EQ(RKSFS_Fsync(fd), -1);
    EXPECT_EQ(RKSFS_CloseFile(fd), 0);
    EXPECT_TRUE(ReadAll(f) == Written("abc.txt").bytes) << "nothing written";
    EXPECT_EQ(RKSFS_Create(s_part->Dir().c_str(), "new.txt", 0, 0), -1);
    EXPECT_EQ(RKSFS_Create(s_part->Dir().c_str(), "clip.mp4", 0, 0), -1);
    EXPECT_EQ(RKSFS_CalcFileSize(1), 0x400000u);
    EXPECT_EQ(RKSFS_CalcFileSize(0x400000 - 4096), 0x400000u);
    EXPECT_EQ(RKSFS_CalcFileSize(0x400000 - 4095), 0x800000u);
}

TEST_F(CmFiles, RemovingChangesOnlyTheHeadSetInMemory)
{
    const auto f = List("notes.xyz").at(0);
    const int fd = RKSFS_Open(&f, 0);
    ASSERT_GE(fd, 0);
    const auto before = s_part->image->ReadHeadArea(Written("notes.xyz").blocks[0]);
    EXPECT_EQ(RKSFS_RemoveFile(&f), 0);
    EXPECT_TRUE(List("notes.xyz").empty());
    EXPECT_EQ(List("*").size(), 4u);
    // The open descriptor finds its block freed.
    std::vector<uint8_t> buf(100);
    StoreLog().Start();
    EXPECT_EQ(RKSFS_Read(fd, buf.data(), buf.size()), -1);
    EXPECT_TRUE(Has(StoreLog().Take(), "data block covered"));
    RKSFS_CloseFile(fd);
    const auto after = s_part->image->ReadHeadArea(Written("notes.xyz").blocks[0]);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the disk is unchanged";
    EXPECT_EQ(RKSFS_RemoveAllFile(s_part->Dir().c_str(), "abc*"), 0);
    EXPECT_EQ(Names(List("*")), (std::set<std::string>{"vehicle_event_record_2025.xyz"}));
    // A remount reads the disk again: every file is back.
    m_mount.reset();
    m_mount = std::make_unique<CMountGuard>("", s_part->Dir(), 1);
    ASSERT_EQ(m_mount->Result(), 0);
    EXPECT_EQ(List("*").size(), 5u);
}

TEST_F(CmFiles, Diagnostics)
{
    StoreLog().Start();
    RKSFS_DumpDataBlockHead(s_part->Dir().c_str(), Written("abc.txt").blocks[0]);
    RKSFS_DumpIndexBlockHead(s_part->Dir().c_str(), 0);
    const uint8_t mem[3] = {0xAB, 0xCD, 0xEF};
    RKSFS_ExamineMemory(mem, 3);
    RKSFS_HexDump64(s_part->Dir().c_str(), 0, 0, 64);
    const std::string log = StoreLog().Take();
    EXPECT_TRUE(Has(log, "dataType = 5"));
    EXPECT_TRUE(Has(log, "fileName = abc.txt"));
    EXPECT_TRUE(Has(log, "pFileContOp->latestCnt = 1"));
    EXPECT_TRUE(Has(log, "496e646578426c6b0201"));  // "IndexBlk", version 258
    EXPECT_TRUE(Has(log, "abcdef"));
}

}  // namespace
}  // namespace velmor::fixtures
