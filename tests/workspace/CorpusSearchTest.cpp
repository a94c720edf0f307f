// The searches of the page run over the demo recorder's corpus, and time
// play planned from what they find: every planned file exists.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "player/playback/PlayClock.h"
#include "player/workspace/SearchRunner.h"

namespace velmor {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;

class CorpusSearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const char* bin = std::getenv("VELMOR_BIN");
        ASSERT_NE(bin, nullptr);
        s_demo = fs::path(bin).parent_path() / "test-corpus" / "demo";
        std::ifstream in(s_demo / "MANIFEST.json");
        ASSERT_TRUE(in) << "the demo corpus is made by the play_corpus fixture";
        s_manifest = json::parse(in);
    }
    static SearchOutcome Search(ESearchSource source, const fs::path& path)
    {
        SearchRequest r;
        r.source = source;
        r.path = path;
        int last = -1;
        SearchOutcome out = RunSearch(r, [&](int p) { last = p; }, nullptr);
        EXPECT_TRUE(out.ok) << path << ": " << out.error;
        EXPECT_EQ(last, 100) << path;
        return out;
    }
    // Every request of a plan names a file that is there.
    static void ExpectFilesExist(const TimePlan& plan)
    {
        for (const auto& [channel, requests] : plan.channels)
            for (const auto& [key, request] : requests)
                EXPECT_TRUE(fs::is_regular_file(request.filePath)) << channel << ": " << request.filePath;
    }
    static inline fs::path s_demo;
    static inline json s_manifest;
};

TEST_F(CorpusSearchTest, ContainerPartition)
{
    const SearchOutcome out = Search(ESearchSource::kFolder, s_demo / "partition" / "disk");
    EXPECT_EQ(out.kind, ESourceKind::kContainerFolder);
    ASSERT_TRUE(out.capacity);
    EXPECT_GT(out.capacity->totalGiB, 0u);
    EXPECT_TRUE(DaysWithRecords(out.result).count(20261201));
    const auto plan = SearchRecordTodbClickTimeLine(out.result, 1796119200, out.source, EPlayType::kSingleFile);  // 2026-12-01 10:00:00
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->highestChannel, 6);
    EXPECT_EQ(plan->layout, kLayout3x3);
    EXPECT_EQ(plan->rangeStart, 1796119200u);
    ExpectFilesExist(*plan);
    for (const auto& [channel, requests] : plan->channels)
        EXPECT_EQ(fs::path(requests.begin()->second.filePath).parent_path(), s_demo / "partition" / "disk");

    // The day's rows hold each recording of the corpus from its first
    // second to its last.
    const auto rows = DayRows(DayRecords(out.result, 20261201), 20261201);
    ASSERT_EQ(rows.size(), 8u);
    for (const json& rec : s_manifest["partition"]["recordings"]) {
        if (DayOf(rec["begin"].get<uint32_t>()) != 20261201) continue;
        const auto& row = rows.at(rec["channel"].get<size_t>() - 1);
        ASSERT_FALSE(row.empty()) << rec.dump();
        uint32_t low = UINT32_MAX, high = 0;
        for (const DayBar& b : row) {
            low = std::min(low, b.begin);
            high = std::max(high, b.end);
        }
        EXPECT_EQ(low, rec["begin"].get<uint32_t>()) << rec.dump();
        EXPECT_EQ(high, rec["end"].get<uint32_t>()) << rec.dump();
    }
}

TEST_F(CorpusSearchTest, OnlyTheChosenChannels)
{
    SearchRequest r;
    r.path = s_demo / "partition" / "disk";
    r.channelMask = 0b100010;  // channels 2 and 6
    const SearchOutcome out = RunSearch(r, {}, nullptr);
    ASSERT_TRUE(out.ok) << out.error;
    ASSERT_EQ(out.result.size(), 2u);
    EXPECT_EQ(out.result.begin()->first, 2);
    EXPECT_EQ(out.result.rbegin()->first, 6);
    // Channel 2 has two runs in the first container file, 1 and 2 December:
    // its window is asked to play that file once, and reads both.
    ASSERT_EQ(out.result.at(2).records.size(), 2u);
    const auto plan = SearchRecordTodbClickTimeLine(out.result, 1796119200, out.source, EPlayType::kSingleFile);  // 2026-12-01 10:00:00
    ASSERT_TRUE(plan);
    ASSERT_EQ(plan->channels.at(2).size(), 1u);
    EXPECT_EQ(fs::path(plan->channels.at(2).begin()->second.filePath).filename(), "fc00000.rpo");
    EXPECT_EQ(plan->rangeEnd, 1796200229u);
    r.channelMask = 1u << 15;  // channel 16: none recorded
    const SearchOutcome none = RunSearch(r, {}, nullptr);
    EXPECT_FALSE(none.ok);
    EXPECT_EQ(none.error, "no recording found");
}

TEST_F(CorpusSearchTest, IndexDisk)
{
    const SearchOutcome out = Search(ESearchSource::kFolder, s_demo / "index-disk");
    EXPECT_EQ(out.kind, ESourceKind::kIndexDisk);
    EXPECT_EQ(RecordCount(out.result), s_manifest["index_disk"]["records"].size());
    // The disk's event file comes with the records.
    EXPECT_FALSE(out.events.empty());
    const auto plan = SearchRecordTodbClickTimeLine(out.result, 1796133600, out.source, EPlayType::kTime);  // 14:00:00
    ASSERT_TRUE(plan);
    ExpectFilesExist(*plan);
    EXPECT_EQ(plan->channels.at(1).begin()->second.filePath, (s_demo / "index-disk" / "fly00000.ifv").string());
}

TEST_F(CorpusSearchTest, DownloadTreeAndClientFolder)
{
    const SearchOutcome tree = Search(ESearchSource::kFolder, s_demo / "download");
    EXPECT_EQ(tree.kind, ESourceKind::kDownloadTree);
    EXPECT_EQ(RecordCount(tree.result), s_manifest["download_tree"]["files"].size());
    EXPECT_EQ(DaysWithRecords(tree.result), (std::set<int>{20261201, 20261202}));
    auto plan = SearchRecordTodbClickTimeLine(tree.result, 1796119200, tree.source, EPlayType::kTime);
    ASSERT_TRUE(plan);
    ExpectFilesExist(*plan);

    const SearchOutcome client = Search(ESearchSource::kClientFolder, s_demo / "client" / "粤B12345");
    EXPECT_EQ(client.kind, ESourceKind::kClientDownloadFolder);
    EXPECT_EQ(RecordCount(client.result), s_manifest["client_download"]["files"].size());
    plan = SearchRecordTodbClickTimeLine(client.result, 1796200200, client.source, EPlayType::kTime);  // 2026-12-02 08:30:00
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->channels.count(1), 1u);
    EXPECT_EQ(plan->channels.count(2), 1u);
    ExpectFilesExist(*plan);
}

TEST_F(CorpusSearchTest, SingleFiles)
{
    const fs::path ifv = s_demo / "ifv" / "CH02_20261201_100000.ifv";
    const SearchOutcome one = Search(ESearchSource::kSingleFile, ifv);
    ASSERT_EQ(RecordCount(one.result), 1u);
    auto plan = SearchRecordTodbClickTimeLine(one.result, 1796119200, one.source, EPlayType::kSingleFile);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->channels.begin()->second.begin()->second.filePath, ifv.string());

    // A container file shows one row per channel it holds, with a bar for
    // each run of the channel's own recording (the demo's first container
    // file holds 1 December and the start of 2 December).
    const fs::path rpo = s_demo / "partition" / "disk" / "fc00000.rpo";
    const SearchOutcome box = Search(ESearchSource::kSingleFile, rpo);
    EXPECT_EQ(box.kind, ESourceKind::kContainerFile);
    EXPECT_EQ(box.result.size(), 6u);
    const std::map<int, std::vector<std::pair<uint32_t, uint32_t>>> runs = {
        {1, {{1796119200, 1796119509}, {1796200200, 1796200249}}},
        {2, {{1796119200, 1796119319}, {1796200200, 1796200229}}},
        {3, {{1796119220, 1796119259}, {1796200200, 1796200219}}},
        {4, {{1796119260, 1796119379}}},
        {5, {{1796119380, 1796119439}}},
        {6, {{1796119320, 1796119349}}}};
    for (const auto& [channel, expected] : runs) {
        std::vector<std::pair<uint32_t, uint32_t>> found;
        for (const auto& r : box.result.at(channel).records)
            found.emplace_back(r.record.beginTime.get(), r.record.endTime.get());
        EXPECT_EQ(found, expected) << "channel " << channel;
    }
    plan = SearchRecordTodbClickTimeLine(box.result, 1796119200, box.source, EPlayType::kContainerFile);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->playType, EPlayType::kContainerFile);
    // One request per channel: its window reads both runs from the one file.
    for (const auto& [channel, requests] : plan->channels) {
        ASSERT_EQ(requests.size(), 1u) << channel;
        EXPECT_EQ(requests.begin()->second.filePath, rpo.string()) << channel;
    }
    EXPECT_EQ(plan->rangeEnd, 1796200249u);
}

TEST_F(CorpusSearchTest, TheLogOfWhatWasSearched)
{
    struct Case {
        ESearchSource source;
        fs::path path;
        fs::path log;  // the folder whose log.bin the log page lists; empty: none
    };
    const Case cases[] = {
        {ESearchSource::kFolder, s_demo / "partition" / "disk", s_demo / "partition" / "disk"},
        {ESearchSource::kFolder, s_demo / "index-disk", s_demo / "index-disk"},
        {ESearchSource::kSingleFile, s_demo / "partition" / "disk" / "fc00000.rpo", s_demo / "partition" / "disk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto folders = LogFolders(Search(c.source, c.path));
        std::vector<fs::path> withLog;
        for (const auto& f : folders)
            if (fs::exists(f / "log.bin")) withLog.push_back(f);
        EXPECT_EQ(withLog, std::vector<fs::path>{c.log});
    }
    // A download tree: the tree and each vehicle's folder, in name order.
    const auto tree = LogFolders(Search(ESearchSource::kFolder, s_demo / "download"));
    ASSERT_GE(tree.size(), 2u);
    EXPECT_EQ(tree.front(), s_demo / "download");
    EXPECT_TRUE(std::is_sorted(tree.begin() + 1, tree.end()));
    for (size_t i = 1; i < tree.size(); ++i) EXPECT_EQ(tree[i].parent_path(), s_demo / "download");
}

TEST_F(CorpusSearchTest, TheVehiclesOfWhatWasSearched)
{
    struct Case {
        ESearchSource source;
        fs::path path;
        std::vector<std::string> vehicles;
    };
    const Case cases[] = {
        {ESearchSource::kFolder, s_demo / "partition" / "disk", {"粤B12345"}},
        {ESearchSource::kFolder, s_demo / "index-disk", {"浙A88888"}},
        {ESearchSource::kFolder, s_demo / "download", {"粤B12345"}},
        {ESearchSource::kFolder, s_demo / "download" / "粤B12345" / "2026-12-01", {"粤B12345"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(VehicleNames(Search(c.source, c.path)), c.vehicles);
    }
    SearchOutcome none;
    EXPECT_TRUE(VehicleNames(none).empty());
}

}  // namespace
}  // namespace velmor
