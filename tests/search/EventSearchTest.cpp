// The event file and the event list: block and group boundaries, the units a
// search takes and drops, descriptions, event channels from the fly files,
// the per-second map, grouping, and that the files are never changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "common/CodePage.h"
#include "player/search/EventFile.h"
#include "player/search/SearchRecordFile.h"
#include "tests/support/EventWriter.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr std::time_t kNow = kT0 + 3600;

std::vector<uint8_t> FileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<EventUnitRead> ReadUnits(const std::vector<uint8_t>& bytes, EventFileStatus* status = nullptr,
                                     EventFileHeader* header = nullptr)
{
    std::vector<EventUnitRead> units;
    const auto st = ReadEventFile(
        [&bytes](uint64_t offset, void* dst, size_t n) -> size_t {
            if (offset >= bytes.size()) return 0;
            const size_t k = std::min<uint64_t>(n, bytes.size() - offset);
            std::memcpy(dst, bytes.data() + offset, k);
            return k;
        },
        header, [&units](const EventUnitRead& u) { units.push_back(u); });
    if (status) *status = st;
    return units;
}

EventUnitSpec Unit(uint8_t type, uint8_t channel, uint32_t begin, uint32_t end) { return {type, channel, begin, end}; }

TEST(EventFile, UnitsCarryTheirBlocksFileAndGroupsPosition)
{
    EventFileSpec layout;
    layout.blocks = {{7, {{4096, {Unit(2, 1, kT0, kT0 + 5), Unit(3, 2, kT0 + 10, kT0 + 12)}}, {8192, {Unit(7, 0, kT0 + 20, kT0 + 30)}}}},
                   {9, {{0, {Unit(5, 3, kT0 + 40, kT0 + 41)}}}}};
    EventFileStatus st;
    const auto units = ReadUnits(EventFileBytes(layout), &st);
    ASSERT_EQ(st, EventFileStatus::kRead);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0].fileId, 7);
    EXPECT_EQ(units[0].beginPos, 4096u);
    EXPECT_EQ(units[1].type, 3);
    EXPECT_EQ(units[1].channel, 2);
    EXPECT_EQ(units[1].beginTime, kT0 + 10);
    EXPECT_EQ(units[1].endTime, kT0 + 12);
    EXPECT_EQ(units[2].beginPos, 8192u);
    EXPECT_EQ(units[3].fileId, 9);
    EXPECT_EQ(units[3].beginPos, 0u);
}

TEST(EventFile, ABlockWithNoGroupsIsSkippedWholeAndTheNextIsRead)
{
    EventFileSpec layout;
    layout.blocks = {{1, {}}, {2, {{100, {Unit(2, 0, kT0, kT0)}}}}};
    auto bytes = EventFileBytes(layout);
    // Stray bytes in the empty block's padding are no group.
    bytes[kEventHeaderSize + 16] = 0xFF;
    const auto units = ReadUnits(bytes);
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].fileId, 2);
}

TEST(EventFile, CountsBeyondTheBlockStopAtItsEnd)
{
    // 742 units fill 8172 of a block's 8176 bytes after one group head; a
    // stored count of 60000 units must not read the next block as units.
    EventGroupSpec big{0, std::vector<EventUnitSpec>(742, Unit(2, 0, kT0, kT0 + 1)), uint16_t(60000)};
    EventFileSpec layout;
    layout.blocks = {{1, {big}, uint16_t(65535)}, {2, {{5, {Unit(9, 4, kT0 + 2, kT0 + 3)}}}}};
    const auto units = ReadUnits(EventFileBytes(layout));
    ASSERT_EQ(units.size(), 743u);
    EXPECT_EQ(units.back().fileId, 2);
    EXPECT_EQ(units.back().type, 9);
    EXPECT_EQ(units.back().beginPos, 5u);
}

TEST(EventFile, ATruncatedFileGivesTheUnitsReadWholeAndStops)
{
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(2, 0, kT0, kT0), Unit(2, 1, kT0, kT0), Unit(2, 2, kT0, kT0)}}}}};
    const size_t unitsEnd = kEventHeaderSize + 16 + 10 + 3 * 11;
    layout.cut = kEventHeaderSize + kEventBlockSize - (unitsEnd - 5);  // the third unit is cut short
    const auto units = ReadUnits(EventFileBytes(layout));
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[1].channel, 1);
    // A header alone, or less, is no error and no event.
    layout.blocks.clear();
    layout.cut = 0;
    EventFileStatus st;
    EXPECT_TRUE(ReadUnits(EventFileBytes(layout), &st).empty());
    EXPECT_EQ(st, EventFileStatus::kRead);
    auto shortHeader = EventFileBytes(layout);
    shortHeader.resize(kEventHeaderSize - 1);
    ReadUnits(shortHeader, &st);
    EXPECT_EQ(st, EventFileStatus::kNoHeader);
}

TEST(EventFile, WrongMagicIsNoEventFile)
{
    EventFileSpec layout;
    layout.magic = "RecF";
    layout.blocks = {{1, {{0, {Unit(2, 0, kT0, kT0)}}}}};
    EventFileStatus st;
    EXPECT_TRUE(ReadUnits(EventFileBytes(layout), &st).empty());
    EXPECT_EQ(st, EventFileStatus::kWrongMagic);
}

TEST(EventFile, TypeOneTakesTheInputsNameAndANumberBeyondTheTable)
{
    EventFileSpec layout;
    auto bytes = EventFileBytes(layout);
    const std::string door = Utf8ToGbk("后门");
    std::memcpy(bytes.data() + 57, door.data(), door.size());  // input 3's name sits at offset 57
    const char tail[] = "NEXT";
    std::memcpy(bytes.data() + 9 + 16 * 7, "SEVEN", 5);
    std::memcpy(bytes.data() + 137, tail, 4);  // the 7 bytes after the table, not a name
    EventFileHeader header;
    ReadUnits(bytes, nullptr, &header);
    const CLanguageTable none;
    EventUnitRead unit;
    unit.type = 1;
    unit.channel = 3;
    EXPECT_EQ(EventDescription(unit, header, none), "后门");
    unit.channel = 7;
    EXPECT_EQ(EventDescription(unit, header, none), "SEVEN");
    unit.channel = 8;
    EXPECT_EQ(EventDescription(unit, header, none), "8") << "the header names inputs 0 to 7 only";
    unit.channel = 255;
    EXPECT_EQ(EventDescription(unit, header, none), "255");
    unit.channel = 0;
    EXPECT_EQ(EventDescription(unit, header, none), "0") << "an unnamed input shows its number";
}

TEST(EventFile, DescriptionsByTypeFromTheLanguageTable)
{
    const CLanguageTable english(CIniFile::Parse("[LangList]\nLanguage=2\n[Lang2]\nEvevt_T_Videoloss=Video loss\n"));
    const EventFileHeader header;
    EventUnitRead unit;
    unit.type = 2;
    EXPECT_EQ(EventDescription(unit, header, english), "Video loss");
    unit.type = 16;
    EXPECT_EQ(EventDescription(unit, header, english), "Evevt_T_GSensorWheel") << "untranslated: the key";
    for (int type : {0, 4, 17, 255}) {
        unit.type = uint8_t(type);
        EXPECT_EQ(EventDescription(unit, header, english), "") << type;
    }
}

// A folder with an event file and its fly files.
class EventSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = m_dir.Path() / "disk";
        std::filesystem::create_directories(m_folder);
        m_search.SetNow(kNow);
        m_search.SetEventMap(&m_map);
    }
    std::vector<EventRecord> Search()
    {
        m_search.SearchIfvEventFile({m_folder});
        return m_search.Events();
    }
    CTempDir m_dir;
    std::filesystem::path m_folder;
    CEventSecondMap m_map;
    CSearchRecordFile m_search{CLanguageTable()};
};

TEST_F(EventSearch, TheWindowAndTheTypeTableDecideWhatIsListed)
{
    const auto windowEnd = SearchWindowAt(kNow).end;
    ASSERT_GT(windowEnd, kT0 + 29u * 365 * 86400);
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(8, 0, kT0, kT0 + 5), Unit(4, 0, kT0, kT0 + 5), Unit(17, 0, kT0, kT0 + 5),
                             Unit(8, 1, 946684800, 946684800), Unit(8, 2, 946684799, kT0),
                             Unit(8, 3, kT0, windowEnd), Unit(8, 4, kT0, windowEnd + 1)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    const auto events = Search();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].beginTime, 946684800u) << "sorted by begin time";
    EXPECT_EQ(events[0].channel, 1);
    EXPECT_EQ(events[1].channel, 0);
    EXPECT_EQ(events[1].description, "Evevt_T_OverSpeed");
    EXPECT_EQ(events[1].path, m_folder / "fly00001.ifv");
    EXPECT_EQ(events[2].channel, 3);
}

TEST_F(EventSearch, EventChannelOfTypesOneToThreeComesFromTheFlyImage)
{
    WriteFlyFile(m_folder / "fly00003.ifv", {{0, kT0, 5}, {65536, kT0 + 100, 9}});
    EventFileSpec layout;
    layout.blocks = {{3, {{65536, {Unit(2, 0, kT0 + 100, kT0 + 101), Unit(8, 6, kT0 + 102, kT0 + 103)}},
                        {0, {Unit(3, 1, kT0 + 104, kT0 + 105)}}}},
                   {4, {{0, {Unit(1, 2, kT0 + 106, kT0 + 107)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    const auto events = Search();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].channel, 9) << "the image at byte 65536";
    EXPECT_EQ(events[1].channel, 6) << "type 8 keeps its own channel";
    EXPECT_EQ(events[2].channel, 9) << "the same fly file as before: its first value is used again";
    EXPECT_EQ(events[3].channel, 2) << "no fly00004.ifv: the stored channel stays";
    EXPECT_EQ(events[3].description, "2");
}

TEST_F(EventSearch, FlyFileNamesAreMatchedWithoutRegardToCase)
{
    WriteFlyFile(m_folder / "FLY00002.IFV", {{0, kT0, 4}});
    EventFileSpec layout;
    layout.blocks = {{2, {{0, {Unit(2, 0, kT0, kT0 + 1)}}}}};
    WriteEventFile(m_folder / "recordevent.BIN", layout);
    const auto events = Search();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].channel, 4);
    EXPECT_EQ(events[0].path, m_folder / "FLY00002.IFV");
}

TEST_F(EventSearch, AFolderWithoutAGoodFileAddsNothingAndTheOthersAreStillRead)
{
    const auto other = m_dir.Path() / "other";
    std::filesystem::create_directories(other);
    EventFileSpec bad;
    bad.magic = "XXXX";
    bad.blocks = {{1, {{0, {Unit(8, 0, kT0, kT0)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", bad);
    EventFileSpec good;
    good.blocks = {{1, {{0, {Unit(8, 5, kT0, kT0)}}}}};
    WriteEventFile(other / "RecordEvent.bin", good);
    m_search.SearchIfvEventFile({m_dir.Path() / "none", m_folder, other});
    ASSERT_EQ(m_search.Events().size(), 1u);
    EXPECT_EQ(m_search.Events()[0].channel, 5);
    EXPECT_EQ(m_search.Events()[0].folder, other);
}

TEST_F(EventSearch, TheSecondMapHoldsEachSecondOfTheSpanBothEndsIncluded)
{
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(8, 0, kT0 + 10, kT0 + 12), Unit(9, 1, kT0 + 12, kT0 + 12), Unit(8, 0, kT0 + 10, kT0 + 12)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    Search();
    EXPECT_TRUE(m_map.At(kT0 + 9).empty());
    EXPECT_EQ(m_map.At(kT0 + 10).size(), 1u) << "an equal event is one member of the set";
    EXPECT_EQ(m_map.At(kT0 + 12).size(), 2u);
    EXPECT_TRUE(m_map.At(kT0 + 13).empty());
}

TEST_F(EventSearch, AnEventOfDecadesCostsNoMoreThanOneOfASecond)
{
    const uint32_t end = SearchWindowAt(kNow).end;
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(8, 0, 946684800, end), Unit(8, 1, kT0, kT0 - 5)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Search().size(), 2u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(m_map.At(946684800).size(), 1u);
    EXPECT_EQ(m_map.At(end).size(), 1u);
    EXPECT_EQ(m_map.At(kT0 - 2).size(), 1u) << "an event ending before it begins holds no second";
    EXPECT_EQ(m_map.EventCount(), 1u);
}

TEST_F(EventSearch, ANewSourceClearsTheEventsOfTheLast)
{
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(8, 0, kT0, kT0 + 1)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    std::ofstream(m_folder / "fc00001.rpo") << "x";
    ASSERT_TRUE(m_search.SetSource(m_folder));
    EXPECT_EQ(m_search.Events().size(), 1u);
    EXPECT_EQ(m_map.At(kT0).size(), 1u);
    const auto empty = m_dir.Path() / "empty";
    std::filesystem::create_directories(empty);
    EXPECT_FALSE(m_search.SetSource(empty));
    EXPECT_TRUE(m_search.Events().empty());
    EXPECT_TRUE(m_map.At(kT0).empty());
}

TEST_F(EventSearch, EventsAreGroupedByMonthDayAndChannel)
{
    EventFileSpec layout;
    // 2025-12-08 10:00, 2025-12-08 11:00 (two channels), 2026-01-01 00:00
    layout.blocks = {{1, {{0, {Unit(8, 0, kT0, kT0), Unit(8, 2, kT0 + 3600, kT0 + 3600), Unit(8, 0, kT0 + 3601, kT0 + 3601),
                             Unit(9, 1, 1767225600, 1767225600)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    m_search.SetNow(1767225600);
    Search();
    const auto& groups = m_search.EventGroups();
    ASSERT_EQ(groups.size(), 2u);
    ASSERT_TRUE(groups.count(202512) && groups.count(202601));
    const auto& december = groups.at(202512);
    ASSERT_EQ(december.size(), 1u);
    const auto& day = december.at(20251208);
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day.at(0).size(), 2u);
    EXPECT_EQ(day.at(2).size(), 1u);
    EXPECT_EQ(groups.at(202601).at(20260101).at(1).size(), 1u);
}

TEST_F(EventSearch, SearchesLeaveTheEventAndFlyFilesUntouched)
{
    WriteFlyFile(m_folder / "fly00001.ifv", {{0, kT0, 3}});
    EventFileSpec layout;
    layout.blocks = {{1, {{0, {Unit(2, 0, kT0, kT0 + 1)}}}}};
    WriteEventFile(m_folder / "RecordEvent.bin", layout);
    std::vector<std::filesystem::path> files = {m_folder / "RecordEvent.bin", m_folder / "fly00001.ifv"};
    std::vector<std::vector<uint8_t>> before;
    std::vector<struct timespec> mtimes;
    for (const auto& f : files) {
        before.push_back(FileBytes(f));
        struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), old, 0), 0);
        struct stat st {};
        ::stat(f.c_str(), &st);
        mtimes.push_back(st.st_mtim);
    }
    for (int i = 0; i < 2; ++i) Search();
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(FileBytes(files[i]), before[i]) << files[i];
        struct stat st {};
        ::stat(files[i].c_str(), &st);
        EXPECT_EQ(st.st_mtim.tv_sec, mtimes[i].tv_sec) << files[i];
        EXPECT_EQ(st.st_mtim.tv_nsec, mtimes[i].tv_nsec) << files[i];
    }
}

TEST(EventSecondMap, ReadersAndAWriterOnThreads)
{
    CEventSecondMap map;
    std::atomic<bool> stop{false};
    std::atomic<size_t> seen{0};
    std::thread reader([&] {
        while (!stop) seen += map.At(kT0 + 50).size();
    });
    for (uint32_t i = 0; i < 2000; ++i) {
        EventRecord e;
        e.type = 8;
        e.channel = uint8_t(i % 16);
        e.beginTime = kT0 + i % 100;
        e.endTime = e.beginTime + i % 7;
        e.fileId = uint16_t(i);
        map.Add(e);
    }
    stop = true;
    reader.join();
    // Events beginning at seconds 44..50 whose span reaches second 50.
    size_t expected = 0;
    for (uint32_t i = 0; i < 2000; ++i)
        if (i % 100 <= 50 && i % 100 + i % 7 >= 50) ++expected;
    EXPECT_EQ(map.At(kT0 + 50).size(), expected);
}

}  // namespace
}  // namespace velmor::fixtures
