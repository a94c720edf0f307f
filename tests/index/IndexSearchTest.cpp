// The index search against index pairs laid down by the fixture writers:
// names, header checks, the choice of the sound file of the pair, the ring
// walk, the filters, the current-file table, counting, fetching and sorting.
// Every search must leave the index files as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>

#include "index/include/rkindex.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

// What the index library logged while a test ran a search.
CLogCapture<decltype(&RKFile_SetLogCallback)>& IndexLog()
{
    static CLogCapture<decltype(&RKFile_SetLogCallback)> capture(&RKFile_SetLogCallback);
    return capture;
}

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

IndexSegment Seg(uint8_t channel, uint32_t begin, uint32_t length = 60, uint8_t flags = 1, std::string label = {})
{
    IndexSegment s;
    s.channel = channel;
    s.flags = flags;
    s.begin = begin;
    s.end = begin + length;
    s.beginOffset = (begin - kT0) * 16;
    s.endOffset = s.beginOffset + length * 16;
    s.label = std::move(label);
    return s;
}

// The bytes, size and times of every file under a folder; a search must
// change none of them.
class CUntouched {
public:
    explicit CUntouched(const std::filesystem::path& dir)
    {
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (e.is_regular_file()) m_files[e.path()] = Take(e.path());
    }
    void Check() const
    {
        for (const auto& [path, before] : m_files) {
            const State now = Take(path);
            EXPECT_EQ(now.bytes, before.bytes) << path << " changed";
            EXPECT_EQ(now.mtime, before.mtime) << path << " has a new modification time";
            EXPECT_EQ(now.ctime, before.ctime) << path << " has a new change time";
        }
    }

private:
    struct State {
        std::string bytes;
        int64_t mtime = 0;
        int64_t ctime = 0;
    };
    static State Take(const std::filesystem::path& path)
    {
        State s;
        std::ifstream in(path, std::ios::binary);
        s.bytes.assign(std::istreambuf_iterator<char>(in), {});
        struct stat st {};
        ::stat(path.c_str(), &st);
        s.mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        s.ctime = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
        return s;
    }
    std::map<std::filesystem::path, State> m_files;
};

class IndexSearch : public ::testing::Test {
protected:
    std::string Folder(const std::string& name)
    {
        const auto dir = m_dir / name;
        std::filesystem::create_directories(dir);
        return dir.string();
    }

    // Searches as the player does and checks that count and fetch agree and
    // that no file changed.
    std::vector<StSearchRecord_t> Search(const std::vector<std::string>& folders, RKFILE_SEARCH_FILTER filter)
    {
        CUntouched untouched(m_dir.Path());
        int rc = 0, n = 0;
        auto records = SearchIndexDisk(folders, filter, &rc, &n);
        EXPECT_EQ(rc, n);
        m_version = filter.indexVersion;
        untouched.Check();
        return records;
    }
    std::vector<StSearchRecord_t> Search(const std::string& folder, RKFILE_SEARCH_FILTER filter = WholeIndexFilter())
    {
        return Search(std::vector<std::string>{folder}, filter);
    }

    CTempDir m_dir;
    uint32_t m_version = 0;
};

std::vector<uint32_t> Begins(const std::vector<StSearchRecord_t>& records)
{
    std::vector<uint32_t> out;
    for (const auto& r : records) out.push_back(r.beginTime.get());
    return out;
}

std::vector<std::string> Labels(const std::vector<StSearchRecord_t>& records)
{
    std::vector<std::string> out;
    for (const auto& r : records) out.emplace_back(LabelOf(r));
    return out;
}

// An index of one channel: entries of four records each, `used` of them in
// the ring from `start`, area = slot; records labelled "e<slot>r<i>".
CIndexImage RingImage(uint32_t n, uint32_t start, uint32_t used)
{
    CIndexImage image(n);
    image.SetRing(start, used);
    for (uint32_t i = 0; i < used; ++i) {
        const uint32_t slot = (start + i) % n;
        std::vector<IndexSegment> segs;
        for (uint32_t r = 0; r < 4; ++r)
            segs.push_back(Seg(1, kT0 + i * 1000 + r * 100, 60, 1, "e" + std::to_string(slot) + "r" + std::to_string(r)));
        image.SetEntry(slot, slot, 1, 3, segs.front().begin, segs.back().end);
        image.SetRecords(slot, segs);
    }
    return image;
}

// ---- Names --------------------------------------------------------------------

TEST_F(IndexSearch, DefaultNamesInAnyCase)
{
    const auto disk = Folder("disk");
    const auto image = RingImage(4, 0, 1);
    SaveIndexPair(image, disk, "INDEX00.BIN", "Index01.Bin");
    EXPECT_EQ(Search(disk).size(), 4u);
}

TEST_F(IndexSearch, FileBinNamesThePair)
{
    const auto disk = Folder("disk");
    // The default pair holds other records than the named one.
    SaveIndexPair(RingImage(4, 0, 1), disk);
    SaveIndexPair(RingImage(4, 0, 2), disk, "myindex_a.bin", "MYINDEX_B.BIN");
    WriteIndexNamesFile(disk, "myindex_a.bin", "myindex_b.bin");
    EXPECT_EQ(Search(disk).size(), 8u) << "the names of file.bin, matched without regard to case";

    // The backup named by file.bin stands in for a damaged main index.
    std::filesystem::resize_file(std::filesystem::path(disk) / "myindex_a.bin", 600);
    EXPECT_EQ(Search(disk).size(), 8u);
}

TEST_F(IndexSearch, FileBinNamesWithoutIndexOrBinAreIgnored)
{
    const auto disk = Folder("disk");
    SaveIndexPair(RingImage(4, 0, 1), disk);
    SaveIndexPair(RingImage(4, 0, 2), disk, "other_a.bin", "index_b.bin");
    WriteIndexNamesFile(disk, "other_a.bin", "index_b.bin");
    EXPECT_EQ(Search(disk).size(), 4u) << "both names must contain \"index\" and \".bin\"";

    SaveIndexPair(RingImage(4, 0, 2), disk, "index_a.dat", "index_b.bin");
    WriteIndexNamesFile(disk, "index_a.dat", "index_b.bin");
    EXPECT_EQ(Search(disk).size(), 4u);
}

TEST_F(IndexSearch, FileBinCannotLeadOutOfTheFolder)
{
    const auto disk = Folder("disk");
    const auto outside = Folder("outside");
    SaveIndexPair(RingImage(4, 0, 1), disk);
    SaveIndexPair(RingImage(4, 0, 2), outside);
    WriteIndexNamesFile(disk, "../outside/index00.bin", "../outside/index01.bin");
    EXPECT_EQ(Search(disk).size(), 4u) << "a name with a separator is not a name in the folder";
}

TEST_F(IndexSearch, ShortFileBinKeepsTheDefaultNames)
{
    const auto disk = Folder("disk");
    SaveIndexPair(RingImage(4, 0, 1), disk);
    std::ofstream(std::filesystem::path(disk) / "file.bin", std::ios::binary) << "index_a.bin";
    EXPECT_EQ(Search(disk).size(), 4u);
}

// ---- Header checks and the choice of the file ------------------------------------

struct Damage {
    const char* name;
    std::function<void(CIndexImage&)> header;  // a change of the header's fields
    std::function<void(std::string&)> bytes;   // then a change of the file's bytes
    const char* message;
};

class IndexDamage : public IndexSearch, public ::testing::WithParamInterface<int> {};

const std::vector<Damage>& Damages()
{
    auto none = [](auto&) {};
    static const std::vector<Damage> damages = {
        {"short header", none, [](std::string& b) { b.resize(511); }, "read file error\n"},
        {"used count above N", [](CIndexImage& i) { i.Header().usedCount.set(5); }, none, "count file error\n"},
        {"count at 20 above N", [](CIndexImage& i) { i.Header().limitCount.set(5); }, none, "count file error\n"},
        {"ring start at N", [](CIndexImage& i) { i.Header().ringStart.set(4); }, none, "count file error\n"},
        {"one byte too many", none, [](std::string& b) { b.push_back('\0'); }, "file len error\n"},
        {"one byte too few", none, [](std::string& b) { b.pop_back(); }, "file len error\n"},
        {"checksum off by one",
         [](CIndexImage& i) {
             const auto bytes = i.Bytes();
             i.SetChecksum(rkindex::HeaderChecksum(bytes.data()) + 1);
         },
         none, "verify error\n"},
        {"header byte changed after the checksum",
         [](CIndexImage& i) {
             const auto bytes = i.Bytes();
             i.SetChecksum(rkindex::HeaderChecksum(bytes.data()));
             i.Header().reserved3[0] ^= 1;
         },
         none, "verify error\n"},
    };
    return damages;
}

std::string Damaged(CIndexImage image, const Damage& d)
{
    d.header(image);
    const auto raw = image.Bytes();
    std::string bytes(raw.begin(), raw.end());
    d.bytes(bytes);
    return bytes;
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TEST_P(IndexDamage, RefusedWithItsMessageAndTheBackupIsSearched)
{
    const Damage& d = Damages()[size_t(GetParam())];
    const auto disk = Folder("disk");
    const auto sound = RingImage(4, 1, 2);
    sound.Save(std::filesystem::path(disk) / "index01.bin");

    // The main index alone: nothing, and the check's message.
    WriteBytes(std::filesystem::path(disk) / "index00.bin", Damaged(sound, d));
    std::filesystem::rename(std::filesystem::path(disk) / "index01.bin", std::filesystem::path(disk) / "keep.bin");
    IndexLog().Start();
    EXPECT_TRUE(Search(disk).empty()) << d.name;
    std::string out = IndexLog().Take();
    EXPECT_EQ(out.substr(0, std::strlen(d.message)), d.message) << d.name;

    // With a sound backup the search reads the backup and leaves both files
    // as they were (Search checks the bytes and times).
    std::filesystem::rename(std::filesystem::path(disk) / "keep.bin", std::filesystem::path(disk) / "index01.bin");
    IndexLog().Start();
    const auto records = Search(disk);
    out = IndexLog().Take();
    EXPECT_EQ(records.size(), 8u) << d.name;
    EXPECT_EQ(out, std::string(d.message) + d.message) << "the count and the fetch check the pair once each";
}

INSTANTIATE_TEST_SUITE_P(Headers, IndexDamage, ::testing::Range(0, int(Damages().size())),
                         [](const auto& info) {
                             std::string n = Damages()[size_t(info.param)].name;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST_F(IndexSearch, SoundMainWinsOverItsBackup)
{
    const auto disk = Folder("disk");
    RingImage(4, 0, 1).Save(std::filesystem::path(disk) / "index00.bin");
    RingImage(4, 0, 3).Save(std::filesystem::path(disk) / "index01.bin");
    EXPECT_EQ(Search(disk).size(), 4u);

    // A damaged backup does not matter while the main index is sound.
    std::filesystem::resize_file(std::filesystem::path(disk) / "index01.bin", 100);
    IndexLog().Start();
    EXPECT_EQ(Search(disk).size(), 4u);
    EXPECT_EQ(IndexLog().Take(), "read file error\nread file error\n");
}

TEST_F(IndexSearch, MissingMainIndexTakesTheBackup)
{
    const auto disk = Folder("disk");
    RingImage(4, 0, 2).Save(std::filesystem::path(disk) / "index01.bin");
    IndexLog().Start();
    EXPECT_EQ(Search(disk).size(), 8u);
    EXPECT_NE(IndexLog().Take().find("errno=2,str="), std::string::npos);
}

TEST_F(IndexSearch, PipeInPlaceOfTheMainIndexNeitherBlocksNorCounts)
{
    const auto disk = Folder("disk");
    RingImage(4, 0, 2).Save(std::filesystem::path(disk) / "index01.bin");
    ASSERT_EQ(::mkfifo((std::filesystem::path(disk) / "index00.bin").c_str(), 0644), 0);
    IndexLog().Start();
    EXPECT_EQ(Search(disk).size(), 8u);
    EXPECT_EQ(IndexLog().Take(), "read file error\nread file error\n");
}

TEST_F(IndexSearch, BothDamagedSkipsTheFolderButNotTheOthers)
{
    const auto bad = Folder("bad");
    const auto good = Folder("good");
    auto image = RingImage(4, 0, 1);
    image.SetChecksum(1);
    SaveIndexPair(image, bad);
    SaveIndexPair(RingImage(4, 0, 2), good);
    IndexLog().Start();
    const auto records = Search(std::vector<std::string>{bad, good, "/nonexistent/folder"}, WholeIndexFilter());
    IndexLog().Take();
    ASSERT_EQ(records.size(), 8u);
    for (const auto& r : records) EXPECT_EQ(r.folderNo, 1) << "the folder's position in the caller's list";
}

TEST_F(IndexSearch, IndexFilesAreOpenedReadOnly)
{
    const auto disk = Folder("disk");
    SaveIndexPair(RingImage(4, 0, 2), disk);
    std::filesystem::permissions(std::filesystem::path(disk) / "index00.bin", std::filesystem::perms::owner_read);
    std::filesystem::permissions(std::filesystem::path(disk) / "index01.bin", std::filesystem::perms::owner_read);
    EXPECT_EQ(Search(disk).size(), 8u);
}

// ---- The walk ---------------------------------------------------------------------

TEST_F(IndexSearch, RingOrderAfterAWrapAround)
{
    const auto disk = Folder("disk");
    // Entries in slots 3, 4, 0, 1; slot 2 is not in use. All records begin at
    // the same second, so the sort keeps the order of the walk.
    CIndexImage image(5);
    image.SetRing(3, 4);
    for (uint32_t i = 0; i < 4; ++i) {
        const uint32_t slot = (3 + i) % 5;
        image.SetEntry(slot, slot, 1, 1, kT0, kT0 + 60);
        image.SetRecords(slot, {Seg(1, kT0, 60, 1, "s" + std::to_string(slot) + "a"),
                                Seg(1, kT0, 60, 1, "s" + std::to_string(slot) + "b")});
    }
    image.SetEntry(2, 2, 1, 0, kT0, kT0 + 60);
    image.SetRecords(2, {Seg(1, kT0, 60, 1, "unused")});
    SaveIndexPair(image, disk);
    EXPECT_EQ(Labels(Search(disk)), (std::vector<std::string>{"s3a", "s3b", "s4a", "s4b", "s0a", "s0b", "s1a", "s1b"}));
}

TEST_F(IndexSearch, RecorderRingsThatWrappedListEverythingStillIndexed)
{
    const auto disk = Folder("disk");
    CIndexDiskWriter writer(6);
    uint32_t t = kT0;
    for (int i = 0; i < 256 * 9 + 17; ++i, t += 60) {
        writer.Add(Seg(1, t, 50, 1));
        writer.Add(Seg(3, t + 7, 50, 2));
    }
    SaveIndexPair(writer.Image(), disk);
    const auto indexed = writer.IndexedSegments();
    const auto records = Search(disk);
    ASSERT_EQ(records.size(), indexed.size());
    // Sorted by begin time; the writer's list is in walk order.
    std::vector<uint32_t> expected;
    for (const auto& s : indexed) expected.push_back(s.segment.begin);
    std::stable_sort(expected.begin(), expected.end());
    EXPECT_EQ(Begins(records), expected);
    EXPECT_EQ(records.back().beginTime.get(), t - 60 + 7) << "the newest segment is in the current-file table";
}

TEST_F(IndexSearch, UsedCountZeroStillVisitsTheCurrentFileTable)
{
    const auto disk = Folder("disk");
    CIndexImage image(4);
    image.SetRing(2, 0);
    image.SetEntry(2, 2, 1, 0, kT0, kT0 + 60);
    image.SetRecords(2, {Seg(1, kT0)});
    image.SetCurrent(5, 1, 1, kT0 + 100, kT0 + 300);
    image.SetRecords(1, {Seg(9, kT0 + 100, 60, 1, "cur0"), Seg(9, kT0 + 200, 60, 1, "cur1")});
    SaveIndexPair(image, disk);
    const auto records = Search(disk);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Labels(records), (std::vector<std::string>{"cur0", "cur1"}));
    EXPECT_EQ(records[0].channel, 6) << "the current-file table's channel is its position + 1";
    EXPECT_EQ(records[0].fileNo.get(), 1);
}

TEST_F(IndexSearch, CurrentFileEntriesOutsideTheFileOrTheFilterAreSkipped)
{
    const auto disk = Folder("disk");
    CIndexImage image(2);
    image.SetCurrent(0, 2, 0, kT0, kT0 + 60);  // area 2 of 2 does not exist
    image.SetCurrent(1, 1, 0, kT0, kT0 + 60);
    image.SetRecords(1, {Seg(2, kT0)});
    image.SetCurrent(2, 0, 0, kT0 + 1000, kT0 + 1060);
    image.SetRecords(0, {Seg(3, kT0 + 1000)});
    SaveIndexPair(image, disk);
    auto f = WholeIndexFilter();
    f.endTime = kT0 + 1000;  // the third entry begins at the filter's end
    const auto records = Search(disk, f);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, 2);
}

TEST_F(IndexSearch, EntriesPointingOutsideTheFileAreSkipped)
{
    const auto disk = Folder("disk");
    auto image = RingImage(3, 0, 2);
    image.Entry(1).area.set(0x10003);  // only the low 16 bits count: area 3 of 3
    image.Entry(0).lastIndex.set(0xFFFF);  // more records than an area holds
    SaveIndexPair(image, disk);
    const auto records = Search(disk);
    EXPECT_EQ(records.size(), 4u) << "the four records of the first area; the zero records after them are no segments";
}

TEST_F(IndexSearch, LastIndexPastTheAreaReadsOnlyTheArea)
{
    const auto disk = Folder("disk");
    CIndexImage image(2);
    image.SetRing(0, 1);
    image.SetEntry(0, 0, 1, 400, kT0, kT0 + 100000);
    std::vector<IndexSegment> segs;
    for (uint32_t i = 0; i < 256; ++i) segs.push_back(Seg(1, kT0 + i * 10, 5));
    image.SetRecords(0, segs);
    image.SetRecords(1, {Seg(1, kT0 + 5000)});  // the next area: not part of the entry
    SaveIndexPair(image, disk);
    EXPECT_EQ(Search(disk).size(), 256u);
}

// ---- Filters ------------------------------------------------------------------------

class IndexFilters : public IndexSearch {
protected:
    void SetUp() override
    {
        m_disk = Folder("disk");
        CIndexImage image(4);
        image.SetRing(0, 2);
        // Channel 1: types 1, 2, 4, 8, 0; one with end offset = begin offset.
        std::vector<IndexSegment> one = {Seg(1, kT0, 60, 0x01, "t1"),       Seg(1, kT0 + 100, 60, 0x02, "t2"),
                                         Seg(1, kT0 + 200, 60, 0x04, "t4"), Seg(1, kT0 + 300, 60, 0x08, "t8"),
                                         Seg(1, kT0 + 400, 60, 0x00, "t0"), Seg(1, kT0 + 500, 60, 0x03, "t3")};
        one.push_back(Seg(1, kT0 + 600, 60, 0x01, "empty"));
        one.back().endOffset = one.back().beginOffset;
        image.SetEntry(0, 0, 1, uint16_t(one.size() - 1), kT0, kT0 + 660);
        image.SetRecords(0, one);
        // Channel 16.
        image.SetEntry(1, 1, 16, 1, kT0 + 5000, kT0 + 5200);
        image.SetRecords(1, {Seg(16, kT0 + 5000, 100, 1, "c16a"), Seg(16, kT0 + 5100, 100, 1, "c16b")});
        SaveIndexPair(image, m_disk);
    }
    std::string m_disk;
};

TEST_F(IndexFilters, TypeMask)
{
    auto f = WholeIndexFilter();
    f.chnMask = 1;
    f.typeMask = 0x10;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"t1", "t2", "t4", "t8", "t3"}))
        << "0x10 takes every type; type bits 0 and empty spans never";
    f.typeMask = 0;
    EXPECT_TRUE(Search(m_disk, f).empty());
    f.typeMask = 0x06;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"t2", "t4", "t3"}));
    f.typeMask = 0xE8;  // only the low 4 bits count
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"t8"}));
}

TEST_F(IndexFilters, ChannelMask)
{
    auto f = WholeIndexFilter();
    f.chnMask = 0x8000;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"c16a", "c16b"}));
    f.chnMask = 0x7FFE;
    EXPECT_TRUE(Search(m_disk, f).empty());
}

TEST_F(IndexFilters, TimeRange)
{
    auto f = WholeIndexFilter();
    f.chnMask = 1;
    // Records ending at or before the start are skipped; the walk of an
    // entry stops at the first record beginning at or after the end.
    f.startTime = kT0 + 159;
    f.endTime = kT0 + 300;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"t2", "t4"}));
    f.startTime = kT0 + 161;
    f.endTime = kT0 + 301;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"t4", "t8"}));
    // An entry whose span does not overlap the filter is not read at all.
    f.chnMask = 0xFFFF;
    f.startTime = kT0 + 660;
    f.endTime = kT0 + 5000;
    EXPECT_TRUE(Search(m_disk, f).empty());
}

TEST_F(IndexSearch, WalkStopsAtTheFirstRecordBeginningAtTheEnd)
{
    const auto disk = Folder("disk");
    CIndexImage image(2);
    image.SetRing(0, 1);
    auto backwards = Seg(1, kT0 + 10, 60, 1, "late");
    backwards.end = kT0;  // ends before it begins
    image.SetEntry(0, 0, 1, 3, kT0, kT0 + 1000);
    image.SetRecords(0, {backwards, Seg(1, kT0 + 100, 60, 1, "a"), Seg(1, kT0 + 500, 60, 1, "stop"),
                         Seg(1, kT0 + 200, 60, 1, "after")});
    SaveIndexPair(image, disk);
    auto f = WholeIndexFilter();
    f.endTime = kT0 + 500;
    EXPECT_EQ(Labels(Search(disk, f)), (std::vector<std::string>{"a"}));
}

TEST_F(IndexSearch, ResultRecordBytes)
{
    const auto disk = Folder("disk");
    CIndexImage image(3);
    image.SetRing(2, 1);
    IndexSegment s = Seg(7, kT0 + 30, 90, 0x82, "ABCDEFGHIJK");
    s.byte1 = 0x11;
    s.byte2 = 0x22;
    s.beginOffset = 0x01020304;
    s.endOffset = 0x01030506;
    image.SetEntry(2, 1, 7, 0, s.begin, s.end);
    image.SetRecords(1, {s});
    image.Record(1, 0).chnByte = 0x5A;  // not read outside version 1
    image.Record(1, 0).byte4 = 0x77;
    SaveIndexPair(image, disk);
    const auto records = Search(std::vector<std::string>{Folder("empty"), disk}, WholeIndexFilter());
    ASSERT_EQ(records.size(), 1u);
    uint8_t expected[65] = {};
    expected[0] = 0x82;
    expected[1] = 0x11;
    expected[2] = 0x22;
    StoreLE32(expected + 3, 0x00010202);
    StoreLE32(expected + 7, 0x01020304);
    expected[12] = 1;  // second folder of the list
    StoreLE16(expected + 13, 1);
    expected[41] = 7;
    StoreLE32(expected + 42, kT0 + 30);
    StoreLE32(expected + 46, kT0 + 120);
    std::memcpy(expected + 50, "ABCDEFGHIJK", 11);
    EXPECT_EQ(0, std::memcmp(&records[0], expected, 65));
}

// ---- Version 1 ------------------------------------------------------------------------

class IndexVersion1 : public IndexSearch {
protected:
    void SetUp() override
    {
        m_disk = Folder("disk");
        CIndexImage image(4, rkindex::kVersionClassified);
        image.SetRing(0, 2);
        // Entry channels do not matter: records carry their own.
        image.SetEntry(0, 0, 9, 4, kT0, kT0 + 1000);
        image.SetRecords(0, {Seg(2, kT0, 60, 0x81, "c2class"), Seg(2, kT0 + 100, 60, 0x01, "c2plain"),
                             Seg(3, kT0 + 200, 60, 0x81, "c3class"), Seg(2, kT0 + 300, 60, 0x01, "c2after"),
                             Seg(3, kT0 + 400, 60, 0x01, "c3plain")});
        image.SetEntry(1, 1, 0, 0, kT0 + 2000, kT0 + 3000);
        image.SetRecords(1, {Seg(4, kT0 + 2000, 60, 0x81, "c4class")});
        image.SetCurrent(0, 2, 1, kT0 + 4000, kT0 + 5000);  // table position 0: channel 1
        image.SetRecords(2, {Seg(12, kT0 + 4000, 60, 0x81, "cur12class"), Seg(12, kT0 + 4100, 60, 0x01, "cur12plain")});
        SaveIndexPair(image, m_disk);
    }
    std::string m_disk;
};

TEST_F(IndexVersion1, ClassFilter)
{
    auto f = WholeIndexFilter();
    f.classFilter = 2;
    EXPECT_EQ(Search(m_disk, f).size(), 8u);
    EXPECT_EQ(m_version, 1u);
    f.classFilter = 0;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"c2class", "c3class", "c4class", "cur12class"}));
    f.classFilter = 1;
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"c2plain", "c2after", "c3plain", "cur12plain"}));
}

TEST_F(IndexVersion1, ChannelsComeFromTheRecords)
{
    auto f = WholeIndexFilter();
    const auto all = Search(m_disk, f);
    std::map<std::string, int> channels;
    for (const auto& r : all) channels[std::string(LabelOf(r))] = r.channel;
    EXPECT_EQ(channels["c2class"], 2);
    EXPECT_EQ(channels["c4class"], 4);
    EXPECT_EQ(channels["cur12class"], 12) << "also in the current-file table";
}

TEST_F(IndexVersion1, ARecordOfAnotherChannelEndsItsEntry)
{
    auto f = WholeIndexFilter();
    f.chnMask = 0x0002 | 0x0001;  // channels 2 and 1 (the current-file table's position 0)
    EXPECT_EQ(Labels(Search(m_disk, f)), (std::vector<std::string>{"c2class", "c2plain", "cur12class", "cur12plain"}))
        << "the channel-3 record stops its entry: the channel-2 record after it is not taken";
}

TEST_F(IndexSearch, VersionIsReportedForTheLastIndexRead)
{
    const auto v1 = Folder("v1");
    const auto v0 = Folder("v0");
    CIndexImage one(2, 1);
    SaveIndexPair(one, v1);
    SaveIndexPair(CIndexImage(2, 0), v0);
    Search(std::vector<std::string>{v0, v1}, WholeIndexFilter());
    EXPECT_EQ(m_version, 1u);
    Search(std::vector<std::string>{v1, v0}, WholeIndexFilter());
    EXPECT_EQ(m_version, 0u);
    auto f = WholeIndexFilter();
    f.indexVersion = 77;
    Search(std::vector<std::string>{Folder("none")}, f);
    EXPECT_EQ(m_version, 77u) << "untouched when no index was read";
}

// ---- Count, fetch and sort ----------------------------------------------------------

TEST_F(IndexSearch, BufferTooSmall)
{
    const auto disk = Folder("disk");
    CIndexImage image(2);
    image.SetRing(0, 1);
    image.SetEntry(0, 0, 1, 3, kT0, kT0 + 1000);
    image.SetRecords(0, {Seg(1, kT0 + 400), Seg(1, kT0 + 300), Seg(1, kT0 + 200), Seg(1, kT0 + 100)});
    SaveIndexPair(image, disk);
    const char* folders[] = {disk.c_str()};
    auto f = WholeIndexFilter();
    EXPECT_EQ(RKFile_SearchGetFileCount(folders, 1, &f), 4);
    std::vector<StSearchRecord_t> buffer(5, rkindex::ZeroStruct<StSearchRecord_t>());
    EXPECT_EQ(RKFile_SeacrhFile(folders, 1, &f, buffer.data(), 3), -1);
    EXPECT_EQ(Begins({buffer.begin(), buffer.begin() + 3}), (std::vector<uint32_t>{kT0 + 200, kT0 + 300, kT0 + 400}))
        << "the full buffer is left sorted";
    EXPECT_EQ(buffer[3].beginTime.get(), 0u) << "nothing beyond the capacity";
    EXPECT_EQ(RKFile_SeacrhFile(folders, 1, &f, buffer.data(), 4), 4);
    EXPECT_EQ(RKFile_SeacrhFile(folders, 1, &f, nullptr, 0), -1);
}

TEST_F(IndexSearch, BadArguments)
{
    auto f = WholeIndexFilter();
    const char* folders[] = {nullptr};
    StSearchRecord_t r{};
    EXPECT_EQ(RKFile_SearchGetFileCount(nullptr, 1, &f), -1);
    EXPECT_EQ(RKFile_SearchGetFileCount(folders, 1, nullptr), -1);
    EXPECT_EQ(RKFile_SearchGetFileCount(folders, -1, &f), -1);
    EXPECT_EQ(RKFile_SearchGetFileCount(folders, 1, &f), 0) << "a null folder is passed over";
    EXPECT_EQ(RKFile_SeacrhFile(folders, 1, &f, nullptr, 1), -1);
    EXPECT_EQ(RKFile_SeacrhFile(folders, 1, &f, &r, -1), -1);
    EXPECT_EQ(RKFile_SeacrhFile(folders, 0, &f, &r, 1), 0);
    std::vector<const char*> many(RKFILE_MAX_FOLDERS + 1, "/nonexistent");
    IndexLog().Start();
    EXPECT_EQ(RKFile_SearchGetFileCount(many.data(), int(many.size()), &f), -1);
    EXPECT_EQ(RKFile_SearchGetFileCount(many.data(), RKFILE_MAX_FOLDERS, &f), 0);
    IndexLog().Take();
}

TEST_F(IndexSearch, EqualBeginTimesKeepTheirIndexOrder)
{
    const auto disk = Folder("disk");
    CIndexImage image(3);
    image.SetRing(1, 2);
    image.SetEntry(1, 0, 1, 1, kT0, kT0 + 500);
    image.SetRecords(0, {Seg(1, kT0 + 100, 60, 1, "1st"), Seg(1, kT0 + 200, 60, 1, "2nd")});
    image.SetEntry(2, 2, 2, 2, kT0, kT0 + 500);
    image.SetRecords(2, {Seg(2, kT0 + 50, 60, 1, "first"), Seg(2, kT0 + 100, 60, 1, "3rd"),
                         Seg(2, kT0 + 200, 60, 1, "4th")});
    SaveIndexPair(image, disk);
    EXPECT_EQ(Labels(Search(disk)), (std::vector<std::string>{"first", "1st", "3rd", "2nd", "4th"}));
}

TEST_F(IndexSearch, TwentyThousandRecordsSortStablyWithoutQuadraticTime)
{
    const auto disk = Folder("disk");
    // Channels written one after another, each newest-last, so the fetch
    // finds the records in descending blocks: the worst case for an
    // exchange sort. Each begin time is shared by four records.
    CIndexDiskWriter writer(100);
    for (uint8_t ch = 1; ch <= 16; ++ch)
        for (uint32_t i = 0; i < 1250; ++i) {
            auto s = Seg(ch, kT0 + (16 - ch) * 1000000 + (i / 4) * 60, 50, 1, std::to_string(i));
            writer.Add(s);
        }
    SaveIndexPair(writer.Image(), disk);
    const auto t0 = std::chrono::steady_clock::now();
    const auto records = Search(disk);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(records.size(), 20000u);
    EXPECT_LT(seconds, 1.0) << "count, fetch and sort of 20,000 records";

    std::vector<std::pair<uint32_t, std::string>> expected;
    for (const auto& s : writer.IndexedSegments()) expected.emplace_back(s.segment.begin, s.segment.label);
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i].beginTime.get(), expected[i].first) << i;
        ASSERT_EQ(LabelOf(records[i]), expected[i].second) << i;
    }
}

}  // namespace
}  // namespace velmor::fixtures
