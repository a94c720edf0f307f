#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "player/playback/PlayClock.h"
#include "player/workspace/DrivingPlan.h"

namespace velmor {
namespace {
namespace fs = std::filesystem;

// 2026-12-01 00:00:00 in recorder seconds.
constexpr uint32_t kDay = 1796083200;
constexpr uint32_t H(int h, int m = 0, int s = 0) { return kDay + uint32_t(h * 3600 + m * 60 + s); }

WorkRecord Rec(int channel, uint32_t begin, uint32_t end, uint8_t kind = kSourceIndexDisk, int fileNo = 0,
               fs::path path = {})
{
    WorkRecord r;
    r.record.kind = kind;
    r.record.channel = uint8_t(channel);
    r.record.beginTime.set(begin);
    r.record.endTime.set(end);
    r.record.fileNo.set(uint16_t(fileNo));
    r.path = std::move(path);
    return r;
}

TEST(DrivingPlan, DayTexts)
{
    EXPECT_EQ(DayOf(kDay), 20261201);
    EXPECT_EQ(DayOf(kDay - 1), 20261130);
    EXPECT_EQ(DayStart(20261201), kDay);
    EXPECT_EQ(DayText(20240229), "2024-02-29");
    EXPECT_EQ(ParseDay("2026-12-01"), 20261201);
    EXPECT_EQ(ParseDay("2024-02-29"), 20240229);
    for (const char* bad : {"2023-02-29", "2026-13-01", "2026-12-1", "2026/12/01", "", "2026-12-01x", "1969-12-31"})
        EXPECT_FALSE(ParseDay(bad)) << bad;
    EXPECT_EQ(ParseDayTime("2026-12-01 10:00:00"), H(10));
    EXPECT_EQ(ParseDayTime("2026-12-01 23:59:59"), H(23, 59, 59));
    for (const char* bad : {"2026-12-01 24:00:00", "2026-12-01 10:60:00", "2026-12-01T10:00:00", "2026-12-01 1:00:00"})
        EXPECT_FALSE(ParseDayTime(bad)) << bad;
}

TEST(DrivingPlan, TypeSets)
{
    EXPECT_TRUE(TypeSet(ETypeFilter::kAll).empty());
    EXPECT_EQ(TypeSet(ETypeFilter::kNormal), (std::set<int>{1, 2, 7}));
    EXPECT_EQ(TypeSet(ETypeFilter::kAlarm), (std::set<int>{5, 6, 14, 15, 16}));
    struct Case {
        uint8_t kind, type;
        ETypeFilter filter;
        bool pass;
    } cases[] = {
        {kSourceIndexDisk, 1, ETypeFilter::kNormal, true},  {kSourceIndexDisk, 5, ETypeFilter::kNormal, false},
        {kSourceIndexDisk, 5, ETypeFilter::kAlarm, true},   {kSourceIndexDisk, 16, ETypeFilter::kAlarm, true},
        {kSourceIndexDisk, 3, ETypeFilter::kAlarm, false},  {kSourceIndexDisk, 3, ETypeFilter::kAll, true},
        {kSourceContainerPartition, 3, ETypeFilter::kAlarm, true},  // chosen by its own search
    };
    for (const Case& c : cases) {
        StSearchRecord_t r{};
        r.kind = c.kind;
        r.flags = c.type;
        EXPECT_EQ(PassesFilter(r, c.filter), c.pass) << int(c.kind) << " " << int(c.type);
    }
}

TEST(DrivingPlan, GroupsSortsAndCountsDays)
{
    const auto result = GroupByChannel({Rec(2, H(11), H(12)), Rec(1, H(10), H(11)), Rec(2, H(9), H(10)),
                                        Rec(17, H(9), H(10)), Rec(0, H(9), H(10)), Rec(1, H(24, 30), H(25))});
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(RecordCount(result), 4u);
    EXPECT_EQ(result.at(2).records[0].record.beginTime.get(), H(9));
    EXPECT_EQ(result.at(2).records[1].record.beginTime.get(), H(11));
    EXPECT_EQ(DaysWithRecords(result), (std::set<int>{20261201, 20261202}));
    const auto day = DayRecords(result, 20261201);
    ASSERT_EQ(day.size(), 2u);
    EXPECT_EQ(day.at(1).size(), 1u);
    EXPECT_EQ(day.at(2).size(), 2u);
    EXPECT_TRUE(DayRecords(result, 20261203).empty());
}

TEST(DrivingPlan, DayRowsRaiseAndCutAtMidnight)
{
    std::map<int, std::vector<StSearchRecord_t>> day;
    day[3].push_back(Rec(3, H(23, 50), H(24, 10)).record);
    auto rows = DayRows(day, 20261201);
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[2].size(), 1u);
    EXPECT_EQ(rows[2][0].begin, H(23, 50));
    EXPECT_EQ(rows[2][0].end, H(24));
    EXPECT_TRUE(rows[0].empty());
    day[6].push_back(Rec(6, H(1), H(2)).record);
    EXPECT_EQ(DayRows(day, 20261201).size(), 8u);
    day[12].push_back(Rec(12, H(1), H(2)).record);
    EXPECT_EQ(DayRows(day, 20261201).size(), 12u);
    EXPECT_EQ(DayRows({}, 20261201).size(), 4u);
    EXPECT_TRUE(DayRows(day, 20261232).empty());
}

// The three recordings of channel 1 around 10:00: the one that ended at
// 09:30 is passed over, the one running at 10:00 and the next are played.
TEST(DrivingPlan, TimePlayFromTenOClock)
{
    const auto result = GroupByChannel({Rec(1, H(9), H(9, 30), kSourceIndexDisk, 1, "/disk/fly00001.ifv"),
                                        Rec(1, H(9, 30), H(10, 10), kSourceIndexDisk, 2, "/disk/FLY00002.IFV"),
                                        Rec(1, H(10, 10), H(10, 40), kSourceIndexDisk, 3)});
    std::vector<std::string> notes;
    const auto plan = SearchRecordTodbClickTimeLine(result, H(10), {"/disk", {}}, EPlayType::kSingleFile, &notes);
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->channels.size(), 1u);
    const PlayRequestMap& ch1 = plan->channels.at(1);
    ASSERT_EQ(ch1.size(), 2u);
    EXPECT_EQ(ch1.begin()->first, H(9, 30));
    EXPECT_EQ(ch1.begin()->second.filePath, "/disk/FLY00002.IFV");
    EXPECT_EQ(ch1.rbegin()->first, H(10, 10));
    EXPECT_EQ(ch1.rbegin()->second.filePath, "/disk/fly00003.ifv");
    EXPECT_EQ(ch1.begin()->second.kind, kRequestTimePlay);
    EXPECT_EQ(plan->rangeStart, H(10));
    EXPECT_EQ(plan->rangeEnd, H(10, 40));
    EXPECT_EQ(plan->layout, kLayout2x2);
    EXPECT_EQ(plan->playType, EPlayType::kTime);
    EXPECT_EQ(notes, (std::vector<std::string>{"SearchRecordTodbClickTimeLine", "SetPlayWndType"}));
}

TEST(DrivingPlan, TimePlayRangeStartsAtEarliestRecordAfterTheClick)
{
    const auto result = GroupByChannel({Rec(1, H(11), H(12))});
    const auto plan = SearchRecordTodbClickTimeLine(result, H(10), {"/d", {}}, EPlayType::kContainerFile);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->rangeStart, H(11));
    EXPECT_EQ(plan->playType, EPlayType::kContainerFile);
}

TEST(DrivingPlan, NothingAtOrAfterTheClick)
{
    const auto result = GroupByChannel({Rec(1, H(9), H(9, 30)), Rec(2, H(8), H(9, 59, 59))});
    EXPECT_FALSE(SearchRecordTodbClickTimeLine(result, H(10), {"/d", {}}, EPlayType::kTime));
    EXPECT_FALSE(SearchRecordTodbClickTimeLine({}, H(10), {"/d", {}}, EPlayType::kTime));
    // A record that ends exactly at the click still holds it.
    EXPECT_TRUE(SearchRecordTodbClickTimeLine(GroupByChannel({Rec(1, H(9), H(10))}), H(10), {"/d", {}}, EPlayType::kTime));
}

TEST(DrivingPlan, ChannelsOneTwoSixPlayInThreeByThree)
{
    const auto result =
        GroupByChannel({Rec(1, H(10), H(11)), Rec(2, H(10), H(11)), Rec(6, H(10), H(11))}, /*toEnd=*/true);
    const auto plan = SearchRecordTodbClickTimeLine(result, H(10, 30), {"/d", {}}, EPlayType::kTime);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->highestChannel, 6);
    EXPECT_EQ(plan->layout, kLayout3x3);
    EXPECT_EQ(WindowForChannel(plan->layout, 6), 7);
    EXPECT_EQ(plan->channels.at(6).begin()->second.kind, kRequestTimePlayToEnd);
}

TEST(DrivingPlan, LayoutByHighestChannel)
{
    const std::pair<int, int> cases[] = {{1, kLayout2x2}, {4, kLayout2x2}, {5, kLayout3x3},
                                         {9, kLayout3x3}, {10, kLayout4x4}, {16, kLayout4x4}};
    for (auto [channel, layout] : cases) {
        const auto plan = SearchRecordTodbClickTimeLine(GroupByChannel({Rec(channel, H(10), H(11))}), H(10), {}, EPlayType::kTime);
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->layout, layout) << channel;
    }
}

TEST(DrivingPlan, PathsBySourceKind)
{
    const PlanSource source{"/src", "/one/file.rpo"};
    struct Case {
        WorkRecord r;
        std::string path;
    } cases[] = {
        {Rec(1, H(10), H(11), kSourceDownloadTree, 0, "/dl/2026-12-01/a.ifv"), "/dl/2026-12-01/a.ifv"},
        {Rec(1, H(10), H(11), kSourceSingleIfv), "/one/file.rpo"},
        {Rec(1, H(10), H(11), kSourceContainerFile), "/one/file.rpo"},
        {Rec(1, H(10), H(11), kSourceContainerPartition, 7), "/src/fc00007.rpo"},
        {Rec(1, H(10), H(11), kSourceContainerPartition, 12345, "/disk2/FC12345.RPO"), "/disk2/FC12345.RPO"},
        {Rec(1, H(10), H(11), kSourceContainerPartition, 8, "/disk2/fc00009.rpo"), "/disk2/fc00008.rpo"},
        {Rec(1, H(10), H(11), kSourceIndexDisk, 42), "/src/fly00042.ifv"},
        {Rec(1, H(10), H(11), 9, 3), "/src/fly00003.ifv"},
        {Rec(1, H(10), H(11), kSourceClientDownload, 0, "/cl/car/x.ifv"), "/cl/car/x.ifv"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto path = RecordPath(c.r, source, &error);
        ASSERT_TRUE(path) << error;
        EXPECT_EQ(path->string(), c.path);
    }
    std::string error;
    EXPECT_FALSE(RecordPath(Rec(1, H(10), H(11), kSourceSingleIfv), {"/src", {}}, &error));
    EXPECT_EQ(error, "no file for a record of kind 3");
}

WorkRecord ClientRec(const char* name, const char* car)
{
    WorkRecord r = Rec(1, H(10), H(11), kSourceClientDownload);
    std::memcpy(r.record.FileNameField(), name, std::strlen(name));
    std::memcpy(r.record.label, car, std::strlen(car));
    return r;
}

TEST(DrivingPlan, ClientSearchPath)
{
    std::string error;
    const auto ok = GetRKClientSearchPath("/cl", ClientRec("20261201_100000_20261201_110000", "CAR7").record, &error);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(ok->string(), "/cl/2026-12-01/CAR7_20261201_100000_20261201_110000");
    for (const char* bad : {"ch01.ifv", "a_b_c", "a_b_c_d_e", "a__c_d", ""}) {
        error.clear();
        EXPECT_FALSE(GetRKClientSearchPath("/cl", ClientRec(bad, "CAR7").record, &error)) << bad;
        EXPECT_EQ(error, std::string("fileName Error:") + bad);
    }
    // Such a record has no file and is passed over; the others still play.
    const auto result = GroupByChannel({ClientRec("ch01.ifv", "CAR7"), Rec(2, H(10), H(11), kSourceIndexDisk, 1)});
    std::vector<std::string> notes;
    const auto plan = SearchRecordTodbClickTimeLine(result, H(10), {"/cl", {}}, EPlayType::kTime, &notes);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->channels.count(1), 0u);
    EXPECT_EQ(plan->channels.count(2), 1u);
    EXPECT_EQ(notes.at(1), "fileName Error:ch01.ifv");
}

TEST(DrivingPlan, SingleFiles)
{
    const std::pair<const char*, int> types[] = {{"a.rpo", 5}, {"/x/A.RPO", 5}, {"a.ifv", 0}, {"/x/b.grec", 0},
                                                 {"a.rpo.ifv", 0}, {"/x.rpo/a.ifv", 0}, {"noext", 0}};
    for (auto [path, type] : types) EXPECT_EQ(int(SingleFilePlayType(path)), type) << path;
    const std::pair<const char*, bool> shown[] = {{"a.ifv", true}, {"a.IFV", true}, {"a.rpo", true},
                                                  {"a.GREC", true}, {"a.rkrec", false}, {"a.mp4", false},
                                                  {"/d.ifv/a.txt", false}};
    for (auto [path, on] : shown) EXPECT_EQ(ShowsOnTimeline(path), on) << path;
}

class DayWalkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("velmor-daywalk-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        for (const char* day : {"2025-12-31", "2026-01-01", "2026-01-15", "2026-02-28", "2026-03-01"}) {
            fs::create_directories(m_dir / day);
            std::ofstream(m_dir / day / "a.ifv") << "x";
            std::ofstream(m_dir / day / "b.IFV") << "x";
            std::ofstream(m_dir / day / "c.txt") << "x";
        }
        fs::create_directories(m_dir / "not-a-day");
        fs::create_directories(m_dir / "2026-02-30");
    }
    void TearDown() override { fs::remove_all(m_dir); }
    size_t Days(const std::vector<fs::path>& files) { return files.size() / 2; }
    fs::path m_dir;
};

TEST_F(DayWalkTest, ScansOnlyRealDays)
{
    const DayMap days = ScanDayFolders(m_dir);
    ASSERT_EQ(days.size(), 2u);
    EXPECT_EQ(days.at(2025).at(12), (std::set<int>{31}));
    EXPECT_EQ(days.at(2026).at(1), (std::set<int>{1, 15}));
    EXPECT_EQ(days.at(2026).size(), 3u);
    EXPECT_TRUE(ScanDayFolders(m_dir / "missing").empty());
}

TEST_F(DayWalkTest, WalksRanges)
{
    const CDayWalk walk(m_dir, ScanDayFolders(m_dir));
    const auto one = walk.FindIFVFileInOneDay(2026, 1, 15);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[0], m_dir / "2026-01-15" / "a.ifv");
    EXPECT_EQ(one[1], m_dir / "2026-01-15" / "b.IFV");
    EXPECT_TRUE(walk.FindIFVFileInOneDay(2026, 1, 16).empty());
    EXPECT_EQ(Days(walk.FindIFVFileInDays(2026, 1, 2, 31)), 1u);
    EXPECT_EQ(Days(walk.FindIFVFileInMonths(2026, 1, 3)), 4u);
    EXPECT_EQ(Days(walk.FindIFVFileInMonths(2026, 1, 3, 2, 1)), 3u);   // cut at both ends
    EXPECT_EQ(Days(walk.FindIFVFileInYears(20251231, 20260301)), 5u);
    EXPECT_EQ(Days(walk.FindIFVFileInYears(20260101, 20260228)), 3u);
    EXPECT_EQ(Days(walk.FindIFVFileInYears(20260102, 20260227)), 1u);
    EXPECT_TRUE(walk.FindIFVFileInYears(20260301, 20260101).empty());
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

TEST(StorageInfo, CapacityTexts)
{
    struct Case {
        uint64_t freeMiB, totalGiB;
        const char* text;
        int used;
    } cases[] = {
        {1024, 2, "1.0G/2G", 50},   {1023, 1, "1023M/1G", 0},  {0, 8, "0M/8G", 100},
        {1536, 4, "1.5G/4G", 62},   {0, 0, "0M/0G", 0},        {5000, 1, "4.9G/1G", 0},
        {102, 1, "102M/1G", 90},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CapacityText(c.freeMiB, c.totalGiB), c.text);
        EXPECT_EQ(UsedPercent(c.freeMiB, c.totalGiB), c.used) << c.text;
    }
}

TEST(StorageInfo, TypeKeys)
{
    EXPECT_STREQ(DriveTypeKey(EDriveType::kRemovable), "Storage_SD");
    for (EDriveType t : {EDriveType::kFixed, EDriveType::kRemote, EDriveType::kRamDisk, EDriveType::kNoRootDir})
        EXPECT_STREQ(DriveTypeKey(t), "Storage_HD");
    EXPECT_STREQ(DriveTypeKey(EDriveType::kUnknown), "Storage_Error");
    EXPECT_STREQ(DriveTypeKey(EDriveType::kCdRom), "");
}

}  // namespace
}  // namespace velmor
