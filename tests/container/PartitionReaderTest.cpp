// The recordings of a whole partition: geometry, index block heads, the head
// set, the rescan of recent heads and the entries built from them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "container/include/rkcontainer.h"
#include "container/src/MultibyteRpoFile.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using namespace rkfs;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

// A device image: a boot sector with `systemId` and a sparse length.
std::filesystem::path MakeDevice(const CTempDir& dir, uint64_t size, const char* systemId = "RKFATFS")
{
    const auto path = dir / "device.img";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    uint8_t boot[4096] = {};
    std::memcpy(boot + 3, systemId, std::strlen(systemId) + 1);
    EXPECT_EQ(::pwrite(fd, boot, sizeof boot, 0), ssize_t(sizeof boot));
    EXPECT_EQ(::ftruncate(fd, off_t(size)), 0);
    ::close(fd);
    return path;
}

// Search entries are packed: values are compared through copies (unary +),
// never through references to their fields.

TEST(PartitionMount, GeometryFromTheDeviceAndItsRefusals)
{
    CTempDir dir;
    std::filesystem::create_directories(dir / "disk");
    rkcontainer::CMultibyteRpoFile reader;
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), MakeDevice(dir, 600ull << 30).string()), 0);
    EXPECT_EQ(reader.BlockSize(), 0x800000u) << "above 512 GiB: 256 MiB files";
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), MakeDevice(dir, 256ull << 30).string()), 0);
    EXPECT_EQ(reader.BlockSize(), 0x400000u);
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), MakeDevice(dir, kMinDeviceSize - 1).string()), -304);
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), MakeDevice(dir, 256ull << 30, "MSDOS5.").string()), -306);
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), (dir / "none.img").string()), -301);
    EXPECT_EQ(reader.Mount2((dir / "disk").string(), ""), -301) << "no device and no index head to go by";
}

// Blocks of channel 2, one minute each, laid where the test wants them.
class ChannelTwo : public ::testing::Test {
protected:
    void Write(std::vector<uint32_t> blockIds)
    {
        m_image = std::make_unique<CPartitionImage>(m_dir.Path(), PartitionOptions{8});
        RecordingParams p;
        p.channel = 2;
        p.encode = {0, 0, 1, 0, 25};
        p.carNumber = "\xD4\xC1" "B12345";
        CRecordWriter w(*m_image, p);
        auto payload = MakePayload(1, 2000);
        for (size_t b = 0; b < blockIds.size(); ++b) {
            m_image->SetNextBlock(blockIds[b]);
            for (uint32_t s = 0; s < 60; s += 2)
                w.WriteFrame(s % 10 == 0 ? 1 : 2, uint64_t(kT10 + 60 * b + s) * 1000000, payload.data(), 2000);
            w.WriteFrame(2, uint64_t(kT10 + 60 * b + 59) * 1000000, payload.data(), 2000);
            w.EndBlock();
        }
        w.Close();
        m_image->WriteIndexHead({});
    }
    std::vector<RKCONTAINER_SEARCH_ENTRY> Search(uint32_t mask = 0xFFFF, bool withFolderOnly = true)
    {
        std::vector<RKCONTAINER_SEARCH_ENTRY> entries(64);
        const std::string path = m_image->Dir().string();
        const char* paths[] = {path.c_str()};
        RKCONTAINER_FILTER filter{mask};
        const int n = withFolderOnly ? RKCONTAINER_SearchFileList(paths, 1, &filter, entries.data(), 64) : 0;
        entries.resize(size_t(std::max(0, n)));
        return entries;
    }
    CTempDir m_dir;
    std::unique_ptr<CPartitionImage> m_image;
};

TEST_F(ChannelTwo, TwoBlocksOfOneFileMakeOneEntry)
{
    Write({5 * 32 + 1, 5 * 32 + 2});
    const auto entries = Search();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(+entries[0].channel, 2);
    EXPECT_EQ(+entries[0].beginTime, kT10);
    EXPECT_EQ(+entries[0].endTime, kT10 + 119);
    EXPECT_EQ(+entries[0].fileNo, 5u);
    EXPECT_EQ(+entries[0].drive, uint8_t(m_image->Dir().string()[0]));
    EXPECT_STREQ(entries[0].carNumber, "\xD4\xC1" "B12345");
    const auto area = m_image->ReadHeadArea(5 * 32 + 1);
    EXPECT_EQ(+entries[0].size, area.head.recData.useSize.get() - area.head.recData.lend.get());
    EXPECT_EQ(+entries[0].zero, 0u);
    EXPECT_TRUE(Search(1u << 3).empty()) << "channel 3 only";
}

TEST_F(ChannelTwo, BlocksInTwoFilesMakeTwoEntriesMeetingAtTheSecond)
{
    Write({5 * 32 + 1, 6 * 32 + 1});
    const auto entries = Search();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(+entries[0].fileNo, 5u);
    EXPECT_EQ(+entries[0].endTime, kT10 + 60) << "moved on to the next file's first second";
    EXPECT_EQ(+entries[1].fileNo, 6u);
    EXPECT_EQ(+entries[1].beginTime, kT10 + 60);
    EXPECT_EQ(+entries[1].endTime, kT10 + 119);
}

TEST_F(ChannelTwo, AHeadWithAWrongCheckValueIsDropped)
{
    Write({5 * 32 + 1, 5 * 32 + 3});
    // Damage the second block's head in the head set kept by the index block.
    auto heads = m_image->Heads();
    StDataBlockHead_t bad = heads[5 * 32 + 3];
    bad.checkValue = uint8_t(bad.checkValue + 1);
    uint8_t raw[32];
    StoreStruct(raw, bad);
    std::fstream f(m_image->FilePath(0), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp((5 * 32 + 3) * 32);
    f.write(reinterpret_cast<const char*>(raw), 32);
    f.close();
    const auto entries = Search();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(+entries[0].endTime, kT10 + 59);
}

TEST(PartitionIndexHeads, EqualUpdateNumbersGiveNothingAndOneHeadIsEnough)
{
    CTempDir dir;
    PartitionOptions options{260};
    CPartitionImage image(dir.Path(), options);
    HistoryPlan plan;
    plan.recordings = 6;
    WriteHistory(image, plan);
    image.WriteIndexHead({.fileNo = 0, .updateNo = 5});
    rkcontainer::CMultibyteRpoFile reader;
    ASSERT_EQ(reader.Mount2(image.Dir().string(), ""), 0) << "a copied folder: geometry from its index head";
    EXPECT_EQ(reader.FileCount(), 260u);
    reader.GetBlockIndexFiles(image.Dir().string());
    ASSERT_EQ(reader.IndexHeads().size(), 1u);
    EXPECT_EQ(reader.CompareBlockIndexInfo(), 0) << "one valid head: read without a rescan";

    image.WriteIndexHead({.fileNo = 128, .updateNo = 5});
    reader.GetBlockIndexFiles(image.Dir().string());
    ASSERT_EQ(reader.IndexHeads().size(), 2u);
    EXPECT_EQ(reader.CompareBlockIndexInfo(), 2) << "equal update numbers";
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries(32);
    const std::string path = image.Dir().string();
    const char* paths[] = {path.c_str()};
    RKCONTAINER_FILTER filter{0xFFFF};
    EXPECT_EQ(RKCONTAINER_SearchFileList(paths, 1, &filter, entries.data(), 32), 0);

    image.WriteIndexHead({.fileNo = 128, .mounted = true, .updateNo = 6});
    reader.GetBlockIndexFiles(image.Dir().string());
    EXPECT_EQ(reader.CompareBlockIndexInfo(), 1) << "the newest head was left mounted: rescan";
}

class History : public ::testing::Test {
protected:
    void SetUp() override
    {
        PartitionOptions options;
        options.containerFiles = 130;  // two index blocks
        options.deviceImage = true;
        m_image = std::make_unique<CPartitionImage>(m_dir.Path(), options);
        HistoryPlan plan;
        plan.recordings = 12;
        plan.channels = 4;
        m_recordings = WriteHistory(*m_image, plan);
    }
    std::vector<RKCONTAINER_SEARCH_ENTRY> Search(bool device)
    {
        std::vector<RKCONTAINER_SEARCH_ENTRY> entries(256);
        const std::string path = m_image->Dir().string(), dev = m_image->Device().string();
        const char* paths[] = {path.c_str()};
        const char* devices[] = {dev.c_str()};
        RKCONTAINER_FILTER filter{0xFFFF};
        const int n =
            RKCONTAINER_SearchFileListOnDevices(paths, device ? devices : nullptr, 1, &filter, entries.data(), 256);
        entries.resize(size_t(std::max(0, n)));
        return entries;
    }
    CTempDir m_dir;
    std::unique_ptr<CPartitionImage> m_image;
    std::vector<WrittenRecording> m_recordings;
};

TEST_F(History, EveryRecordingIsListedWithItsSpan)
{
    m_image->WriteIndexHead({});
    const auto entries = Search(true);
    // A recording is one entry per container file it touches; entries of
    // one recording meet at a second and together cover its span.
    size_t parts = 0;
    for (const auto& r : m_recordings) {
        std::vector<RKCONTAINER_SEARCH_ENTRY> mine;
        for (const auto& e : entries)
            if (e.channel == r.params.channel && e.beginTime >= r.beginTime && e.endTime <= r.endTime)
                mine.push_back(e);
        ASSERT_FALSE(mine.empty()) << "recording at " << r.beginTime;
        EXPECT_EQ(+mine.front().beginTime, r.beginTime);
        EXPECT_EQ(+mine.front().fileNo, r.blocks.front() / 32);
        EXPECT_EQ(+mine.back().endTime, r.endTime);
        EXPECT_EQ(+mine.back().fileNo, r.blocks.back() / 32);
        for (size_t i = 1; i < mine.size(); ++i) EXPECT_EQ(+mine[i].beginTime, +mine[i - 1].endTime);
        parts += mine.size();
    }
    EXPECT_EQ(parts, entries.size());
    EXPECT_GT(parts, m_recordings.size()) << "one recording crosses from file 0 into file 1";
    EXPECT_EQ(Search(false).size(), entries.size()) << "the folder alone lists the same";
}

TEST_F(History, ARescanFindsBlocksWrittenAfterTheHeadSet)
{
    // The newer head set was saved while the partition was mounted; more
    // was recorded afterwards.
    m_image->WriteIndexHead({.fileNo = 0, .updateNo = 2});
    m_image->WriteIndexHead({.fileNo = 128, .mounted = true, .updateNo = 3});
    HistoryPlan more;
    more.startTime = m_recordings.back().endTime + 100;
    more.recordings = 2;
    more.seed = 9;
    const auto later = WriteHistory(*m_image, more);
    const auto entries = Search(true);
    bool found = false;
    for (const auto& e : entries) found |= e.beginTime == later.back().beginTime && e.channel == later.back().params.channel;
    EXPECT_TRUE(found);
}

TEST_F(History, SeveralPathsAreListedOneAfterAnother)
{
    m_image->WriteIndexHead({});
    const size_t one = Search(true).size();
    ASSERT_GT(one, 0u);
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries(512);
    const std::string path = m_image->Dir().string(), dev = m_image->Device().string();
    const char* paths[] = {path.c_str(), path.c_str()};
    const char* devices[] = {dev.c_str(), dev.c_str()};
    RKCONTAINER_FILTER filter{0xFFFF};
    EXPECT_EQ(RKCONTAINER_SearchFileListOnDevices(paths, devices, 2, &filter, entries.data(), 512), int(2 * one));
    EXPECT_EQ(RKCONTAINER_SearchFileListOnDevices(paths, devices, 2, &filter, entries.data(), int(one) + 1),
              int(one) + 1)
        << "the capacity holds";
}

}  // namespace
}  // namespace velmor::fixtures
