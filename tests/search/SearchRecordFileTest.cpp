// The record search: which folders are sources, the index-disk, container and
// single-file searches and their records, the recorder disks of this machine,
// and that the searched files are never changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>

#include "player/formats/IfvFile.h"
#include "player/search/SearchRecordFile.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/EventWriter.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;
using namespace rkfs;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

std::vector<uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Search : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_search.SetNow(kT0);
        m_search.SetEventMap(&m_map);
    }
    CTempDir m_dir;
    CEventSecondMap m_map;
    CSearchRecordFile m_search{CLanguageTable()};
};

TEST_F(Search, AnIndexPairWithTheRecorderFolderIsAnIndexDiskBeforeContainerFiles)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk / "KORADVR");
    std::ofstream(disk / "INDEX00.bin") << "x";
    std::ofstream(disk / "index01.BIN") << "x";
    std::ofstream(disk / "fc00001.rpo") << "x";
    ASSERT_TRUE(m_search.ClassifySource(disk.string() + "/"));
    ASSERT_EQ(m_search.Sources().size(), 1u);
    EXPECT_EQ(m_search.Sources()[0].kind, kListIndexDisk);
    EXPECT_EQ(m_search.Sources()[0].folder, disk);
    // Without the recorder folder the container file decides.
    fs::remove(disk / "KORADVR");
    ASSERT_TRUE(m_search.SetSource(disk));
    EXPECT_EQ(m_search.Sources()[0].kind, kListContainerFolder);
}

TEST_F(Search, AFolderOfSubFoldersOnlyIsNoSource)
{
    const fs::path folder = m_dir / "copy";
    fs::create_directories(folder / "fc00001.rpo");
    fs::create_directories(folder / "day");
    std::ofstream(folder / "notes.txt") << "x";
    EXPECT_FALSE(CSearchRecordFile::bExistsRpoFile(folder));
    EXPECT_FALSE(m_search.SetSource(folder));
    EXPECT_TRUE(m_search.Sources().empty());
    EXPECT_FALSE(CSearchRecordFile::bExistsRpoFile(m_dir / "missing"));
    std::ofstream(folder / "FC00002.RPO") << "x";
    EXPECT_TRUE(CSearchRecordFile::bExistsRpoFile(folder));
}

TEST_F(Search, IndexDiskRecordsFromTheIndexAndOldOnesDropped)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk / "KORADVR");
    CIndexImage image(8);
    image.SetRing(0, 1);
    image.SetEntry(0, 3, 1, 2, 999999999, kT0 + 100);
    image.SetRecords(3, {{1, 1, 999999999, 1000000100, 0, 4096, "OLD"},
                         {1, 2, 1000000000, 1000000100, 4096, 10240, "EDGE"},
                         {1, 1, kT0, kT0 + 100, 10240, 20480, "NEW"}});
    SaveIndexPair(image, disk, "INDEX00.bin", "INDEX01.bin");
    const auto bytes00 = FileBytes(disk / "INDEX00.bin");
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (disk / "INDEX00.bin").c_str(), old, 0), 0);

    ASSERT_TRUE(m_search.SetSource(disk));
    ASSERT_TRUE(m_search.SearchRecordFile());
    const auto results = m_search.Results();
    ASSERT_EQ(results.size(), 2u) << "999,999,999 is not above the limit";
    EXPECT_EQ(results[0].record.beginTime.get(), 1000000000u);
    EXPECT_EQ(results[0].record.kind, 0);
    EXPECT_EQ(results[0].record.channel, 1);
    EXPECT_EQ(results[0].record.flags, 2);
    EXPECT_EQ(results[0].record.length.get(), 10240u - 4096u);
    EXPECT_EQ(results[0].record.beginOffset.get(), 4096u);
    EXPECT_EQ(std::string(LabelOf(results[1].record)), "NEW");
    EXPECT_EQ(results[1].path, disk / "fly00003.ifv") << "record area 3";

    // The channel selection reaches the index filter.
    m_search.SetChannelMask(0x2);
    EXPECT_FALSE(m_search.SearchRecordFile());
    EXPECT_TRUE(m_search.Results().empty());

    EXPECT_EQ(FileBytes(disk / "INDEX00.bin"), bytes00);
    struct stat st {};
    ASSERT_EQ(::stat((disk / "INDEX00.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
}

TEST_F(Search, ContainerPartitionRecordsNameTheirFile)
{
    CPartitionImage image(m_dir.Path(), PartitionOptions{8});
    RecordingParams p;
    p.channel = 2;
    p.encode = {0, 0, 1, 0, 25};
    p.carNumber = "\xD4\xC1" "B12345";
    CRecordWriter w(image, p);
    auto payload = MakePayload(1, 2000);
    image.SetNextBlock(5 * 32 + 1);
    for (uint32_t s = 0; s < 60; s += 2)
        w.WriteFrame(s % 10 == 0 ? 1 : 2, uint64_t(kT0 + s) * 1000000, payload.data(), 2000);
    w.EndBlock();
    w.Close();
    image.WriteIndexHead({});

    ASSERT_TRUE(m_search.SetSource(image.Dir()));
    ASSERT_TRUE(m_search.SearchRpoRecordFile());
    auto results = m_search.Results();
    ASSERT_EQ(results.size(), 1u);
    const StSearchRecord_t& r = results[0].record;
    EXPECT_EQ(r.kind, 4);
    EXPECT_EQ(r.channel, 3) << "the reader's channel 2, counted from 1";
    EXPECT_EQ(r.beginTime.get(), kT0);
    EXPECT_EQ(r.fileNo.get(), 5);
    EXPECT_EQ(r.folderNo, 0);
    EXPECT_EQ(std::string(LabelOf(r)), "\xD4\xC1" "B12345");
    EXPECT_EQ(results[0].path, image.Dir() / "fc00005.rpo");

    m_search.SetChannelMask(1u << 0);
    EXPECT_FALSE(m_search.SearchRpoRecordFile());
    EXPECT_TRUE(m_search.Results().empty());
}

class SingleFile : public Search {};

TEST_F(SingleFile, AContainerFileGivesOneRecordOfItsWholeSpan)
{
    const fs::path path = m_dir / "fc00007.rpo";
    {
        CContainerFileImage image(path, 7);
        SyntheticPlan plan;
        plan.startTime = kT0;
        plan.seconds = 10;
        for (uint8_t c : {1, 4}) {
            SyntheticChannel ch;
            ch.params.channel = c;
            ch.params.carNumber = "CAR-7";
            ch.iFrameBytes = 8000;
            ch.pFrameBytes = 1000;
            plan.channels.push_back(ch);
        }
        WriteSynthetic(image, plan);
    }
    const auto before = FileBytes(path);
    ASSERT_TRUE(m_search.SearchSingleRecordFile(path));
    auto results = m_search.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].record.kind, 5);
    EXPECT_EQ(results[0].record.channel, 1);
    EXPECT_EQ(results[0].record.beginTime.get(), kT0);
    EXPECT_GE(results[0].record.endTime.get(), kT0 + 8);
    EXPECT_EQ(std::string(LabelOf(results[0].record)), "CAR-7");
    EXPECT_EQ(results[0].path, path);

    uint32_t mask = 0, begin = 0, end = 0;
    m_search.SetChannelMask(1u << 4);
    ASSERT_TRUE(m_search.SearchOneRpoRecordFile(path, &mask, &begin, &end));
    EXPECT_EQ(mask, 1u << 4) << "only the configured channels are asked for";
    EXPECT_EQ(begin, kT0);
    EXPECT_FALSE(m_search.SearchOneRpoRecordFile(m_dir / "fc00008.rpo", &mask, &begin, &end));
    EXPECT_EQ(FileBytes(path), before);
}

TEST_F(SingleFile, AnIfvFileGivesItsSpanAndOtherNamesNothing)
{
    const fs::path ifv = m_dir / "clip.IFV";
    WriteFlyFile(ifv, {{0, kT0, 0}});
    ASSERT_TRUE(m_search.SearchSingleRecordFile(ifv));
    auto results = m_search.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].record.kind, 3);
    EXPECT_EQ(results[0].record.beginTime.get(), kT0);
    EXPECT_EQ(results[0].record.endTime.get(), kT0 + 3);

    std::ofstream(m_dir / "bad.ifv") << "not an ifv file at all, just text";
    EXPECT_FALSE(m_search.SearchSingleRecordFile(m_dir / "bad.ifv"));
    EXPECT_TRUE(m_search.Results().empty()) << "a failed search leaves no old records behind";
    std::ofstream(m_dir / "trip.grec") << "x";
    EXPECT_FALSE(m_search.SearchSingleRecordFile(m_dir / "trip.grec")) << "a grec name on other bytes";
    EXPECT_TRUE(m_search.Results().empty());
    std::ofstream(m_dir / "movie.mp4") << "x";
    EXPECT_FALSE(m_search.SearchSingleRecordFile(m_dir / "movie.mp4"));
    EXPECT_FALSE(m_search.SearchSingleRecordFile(m_dir / "missing.rpo"));
}

TEST_F(SingleFile, AGrecFileGivesItsSpanInWholeSecondsThroughThePlugin)
{
    GrecLayout layout;
    layout.originUs = uint64_t(kT0) * 1000000 + 500000;  // half a second in
    layout.audioEncoding = 7;
    const fs::path grec = m_dir / "trip.GREC";
    WriteGrecFile(grec, layout, MakeGrecClipFrames(layout, 4, 25));  // to 4.5 s after kT0
    const auto before = FileBytes(grec);
    ASSERT_TRUE(m_search.SearchSingleRecordFile(grec));
    const auto results = m_search.Results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].record.kind, 3);
    EXPECT_EQ(results[0].record.channel, 1);
    EXPECT_EQ(results[0].record.beginTime.get(), kT0);
    EXPECT_EQ(results[0].record.endTime.get(), kT0 + 4);
    EXPECT_EQ(results[0].path, grec);
    EXPECT_EQ(FileBytes(grec), before);
}

TEST_F(Search, EventsAreMatchedToTheRecordingsOfTheirChannel)
{
    EventRecord event;
    event.channel = 2;
    event.beginTime = kT0 + 50;
    event.endTime = kT0 + 60;
    auto rec = [](uint8_t channel, uint32_t begin, uint32_t end, const char* path) {
        SearchResult r;
        r.record.channel = channel;
        r.record.beginTime.set(begin);
        r.record.endTime.set(end);
        r.path = path;
        return r;
    };
    const std::vector<SearchResult> recordings = {rec(2, kT0, kT0 + 49, "/a"), rec(2, kT0, kT0 + 100, "/b"),
                                                  rec(1, kT0, kT0 + 100, "/c"), rec(2, kT0 + 50, kT0 + 50, "/b"),
                                                  rec(2, kT0 + 40, kT0 + 55, "/d")};
    const auto files = m_search.GetEventIfvFileInAllIfv(event, recordings);
    EXPECT_EQ(files, (std::vector<fs::path>{"/b", "/d"}));
}

TEST(RecorderDisks, FatMountsGroupedByTheirDisk)
{
    CTempDir dir;
    const fs::path sys = dir / "sys";
    const fs::path devices = dir / "devices";
    auto part = [&](const std::string& disk, const std::string& name) {
        fs::create_directories(devices / disk / name);
        std::ofstream(devices / disk / name / "partition") << "1";
        fs::create_directories(sys);
        fs::create_symlink(devices / disk / name, sys / name);
    };
    auto wholeDisk = [&](const std::string& disk, int removable) {
        fs::create_directories(devices / disk);
        std::ofstream(devices / disk / "removable") << removable;
        fs::create_symlink(devices / disk, sys / disk);
    };
    part("sdc", "sdc1");
    part("sdc", "sdc2");
    part("sdb", "sdb1");
    part("sda", "sda1");
    wholeDisk("sdc", 1);
    wholeDisk("sdb", 0);
    wholeDisk("sda", 0);
    std::ofstream(dir / "mountinfo")
        << "20 1 8:1 / / rw - vfat /dev/sda1 rw\n"
        << "21 1 8:1 / /boot/efi rw - vfat /dev/sda1 rw\n"
        << "30 1 8:33 / /media/u/REC\\040ONE rw shared:1 - vfat /dev/sdc1 rw\n"
        << "31 1 8:34 / /media/u/REC2 rw - exfat /dev/sdc2 rw\n"
        << "32 1 8:17 / /mnt/b rw - msdos /dev/sdb1 rw\n"
        << "33 1 8:18 / /mnt/ext rw - ext4 /dev/sdb2 rw\n"
        << "34 1 0:5 / /mnt/img rw - vfat /dev/loop3 rw\n"
        << "garbage line\n";
    const auto disks = FindRecorderDisks(dir / "mountinfo", sys);
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks.begin()->first, "loop3") << "a device sysfs does not know is a disk of its own";
    const auto& sdc = disks.at("sdc");
    EXPECT_TRUE(sdc.removable);
    EXPECT_EQ(sdc.roots, (std::vector<fs::path>{"/media/u/REC ONE", "/media/u/REC2"}));
    EXPECT_FALSE(disks.at("sdb").removable);
    EXPECT_EQ(disks.at("sdb").roots, (std::vector<fs::path>{"/mnt/b"}));
    EXPECT_TRUE(FindRecorderDisks(dir / "none", sys).empty());

    // The system's disks are never offered, whatever else they carry; the
    // EFI partition at /efi neither; any other disk is, removable or not.
    part("nvme0n1", "nvme0n1p1");
    part("nvme0n1", "nvme0n1p2");
    part("nvme0n1", "nvme0n1p3");
    wholeDisk("nvme0n1", 0);
    struct Row {
        const char* mounts;
        std::vector<std::string> offered;
    };
    const Row rows[] = {
        {"40 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
         "41 1 259:1 / /efi rw - vfat /dev/nvme0n1p1 rw\n"
         "42 1 259:3 / /data rw - vfat /dev/nvme0n1p3 rw\n"
         "43 1 8:17 / /media/u/DVR rw - exfat /dev/sdb1 rw\n",
         {"sdb"}},
        {"40 1 259:2 / /boot rw - ext4 /dev/nvme0n1p2 rw\n"
         "42 1 259:3 / /media/u/CARD rw - vfat /dev/nvme0n1p3 rw\n",
         {}},
        {"41 1 259:1 / /efi rw - vfat /dev/nvme0n1p1 rw\n", {}},
        {"42 1 259:3 / /media/u/CARD rw - vfat /dev/nvme0n1p3 rw\n"
         "43 1 8:17 / /mnt/b rw - vfat /dev/sdb1 rw\n",
         {"nvme0n1", "sdb"}},
        {"44 1 0:40 / /mnt/share rw - vfat //server/share rw\n", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mounts);
        std::ofstream(dir / "mountinfo2") << r.mounts;
        std::vector<std::string> offered;
        for (const auto& [name, disk] : FindRecorderDisks(dir / "mountinfo2", sys, dir / "udev")) offered.push_back(name);
        EXPECT_EQ(offered, r.offered);
    }

    // Partitions nobody mounted: offered when the device manager found a
    // FAT-family file system on them, and only on disks not the system's.
    const fs::path udev = dir / "udev";
    fs::create_directories(udev);
    auto known = [&](const std::string& name, const std::string& numbers, const char* type) {
        std::ofstream(devices / (name.substr(0, 3) == "nvm" ? "nvme0n1" : name.substr(0, 3)) / name / "dev")
            << numbers << "\n";
        if (type) std::ofstream(udev / ("b" + numbers)) << "S:disk/by-uuid/X\nE:ID_FS_TYPE=" << type << "\nE:X=1\n";
    };
    known("sdc1", "8:33", "vfat");
    known("sdc2", "8:34", "exfat");
    known("sdb1", "8:17", "ext4");
    known("sda1", "8:1", nullptr);
    known("nvme0n1p3", "259:3", "vfat");
    std::ofstream(dir / "mountinfo3") << "40 1 259:2 / / rw - ext4 /dev/nvme0n1p2 rw\n"
                                      << "43 1 8:34 / /media/u/REC2 ro - exfat /dev/sdc2 ro\n";
    const auto found = FindRecorderDisks(dir / "mountinfo3", sys, udev);
    ASSERT_EQ(found.size(), 1u);
    const RecorderDisk& card = found.at("sdc");
    EXPECT_EQ(card.unmounted, (std::vector<std::string>{"/dev/sdc1"}));
    EXPECT_EQ(card.roots, (std::vector<fs::path>{"/media/u/REC2"}));
    EXPECT_EQ(card.devices, (std::vector<std::string>{"/dev/sdc2"}));
    EXPECT_EQ(card.writable, (std::vector<bool>{false}));
}

TEST_F(Search, ARecorderDiskClassifiesEachOfItsRoots)
{
    const fs::path a = m_dir / "a", b = m_dir / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(b / "fc00000.rpo") << "x";
    std::map<std::string, RecorderDisk> disks;
    disks["sdb"] = {"sdb", true, {a, b}};
    disks["sdc"] = {"sdc", true, {a}};
    ASSERT_TRUE(m_search.SetRecorderDisk(disks));
    ASSERT_EQ(m_search.Sources().size(), 1u);
    EXPECT_EQ(m_search.Sources()[0].folder, b);
    EXPECT_FALSE(m_search.SetRecorderDisk(disks, "sdc"));
    EXPECT_FALSE(m_search.SetRecorderDisk(disks, "sdz")) << "a disk no longer present";
    EXPECT_TRUE(m_search.Sources().empty());
    ASSERT_TRUE(m_search.SetSource(b));
    const auto capacity = m_search.Capacity();
    EXPECT_GT(capacity.freeMiB, 0u);
}

}  // namespace
}  // namespace velmor::fixtures
