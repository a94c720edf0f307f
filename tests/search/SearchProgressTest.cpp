// Progress and cancel of the three searches of the driving-record page: an
// index disk, a container partition and a download tree, all through one
// table of expectations.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>

#include "player/search/LocalFileSearch.h"
#include "player/search/SearchRecordFile.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

// One search: builds its source once, then runs with the given progress and
// cancel flag and answers how many recordings it listed.
using Searcher = std::function<size_t(CSearchProgress::Callback, const std::atomic<bool>*)>;

Searcher IndexDisk(const fs::path& dir)
{
    const fs::path disk = dir / "disk";
    fs::create_directories(disk / "KORADVR");
    CIndexImage image(8);
    image.SetRing(0, 1);
    image.SetEntry(0, 3, 1, 2, kT0, kT0 + 400);
    image.SetRecords(3, {{1, 1, kT0, kT0 + 100, 0, 4096, "A"},
                         {1, 2, kT0 + 100, kT0 + 200, 4096, 10240, "B"},
                         {1, 1, kT0 + 200, kT0 + 300, 10240, 20480, "C"},
                         {1, 1, kT0 + 300, kT0 + 400, 20480, 30720, "D"}});
    SaveIndexPair(image, disk, "INDEX00.bin", "INDEX01.bin");
    return [disk](CSearchProgress::Callback progress, const std::atomic<bool>* cancel) {
        CSearchRecordFile search{CLanguageTable()};
        search.SetNow(kT0);
        search.SetEventMap(nullptr);
        search.SetProgress(std::move(progress), cancel);
        EXPECT_TRUE(search.SetSource(disk));
        search.SearchRecordFile();
        return search.Results().size();
    };
}

Searcher Partition(const fs::path& dir)
{
    fs::create_directories(dir / "part");
    auto image = std::make_shared<CPartitionImage>(dir / "part", PartitionOptions{8});
    for (uint8_t channel = 0; channel < 2; ++channel) {
        RecordingParams p;
        p.channel = channel;
        CRecordWriter w(*image, p);
        auto payload = MakePayload(channel, 2000);
        for (uint32_t s = 0; s < 20; s += 2)
            w.WriteFrame(s % 10 == 0 ? 1 : 2, uint64_t(kT0 + s) * 1000000, payload.data(), 2000);
        w.EndBlock();
        w.Close();
    }
    image->WriteIndexHead({});
    return [image](CSearchProgress::Callback progress, const std::atomic<bool>* cancel) {
        CSearchRecordFile search{CLanguageTable()};
        search.SetNow(kT0);
        search.SetEventMap(nullptr);
        search.SetProgress(std::move(progress), cancel);
        EXPECT_TRUE(search.SetSource(image->Dir()));
        search.SearchRpoRecordFile();
        return search.Results().size();
    };
}

Searcher DownloadTree(const fs::path& dir)
{
    const fs::path root = dir / "ftp";
    for (const char* date : {"2024-05-06", "2024-05-07", "2024-05-08", "2024-05-09"})
        for (const char* name : {"CH1_080000_081500_C_080500.ifv", "CH2_090000_091500_C_090500.ifv"}) {
            fs::create_directories(root / "AB123" / date);
            std::ofstream(root / "AB123" / date / name) << "ifv";
        }
    return [root](CSearchProgress::Callback progress, const std::atomic<bool>* cancel) {
        CLocalFileSearch search;
        search.SetChannelList(",1,2,");
        search.SetProgress(std::move(progress), cancel);
        std::vector<LocalFileRecord> out;
        return size_t(search.SearchFtpFileByManyTime(root / "AB123", out));
    };
}

class SearchProgress : public ::testing::TestWithParam<Searcher (*)(const fs::path&)> {
protected:
    CTempDir m_dir;
};

TEST_P(SearchProgress, RisesToOneHundredAndACancelListsNothing)
{
    const Searcher search = GetParam()(m_dir.Path());
    std::vector<int> seen;
    EXPECT_GT(search([&](int percent) { seen.push_back(percent); }, nullptr), 0u);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]) << i;

    // Cancelled as soon as the search reports.
    std::atomic<bool> cancel{false};
    int last = -1;
    EXPECT_EQ(search(
                  [&](int percent) {
                      last = percent;
                      cancel = true;
                  },
                  &cancel),
              0u);
    EXPECT_EQ(last, 0) << "nothing after the cancel";
}

std::string SearchName(const ::testing::TestParamInfo<SearchProgress::ParamType>& info)
{
    static const char* const kNames[] = {"IndexDisk", "Partition", "DownloadTree"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(EverySearch, SearchProgress, ::testing::Values(&IndexDisk, &Partition, &DownloadTree),
                         SearchName);

}  // namespace
}  // namespace velmor::fixtures
