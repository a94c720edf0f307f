#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <unistd.h>

#include "player/workspace/SearchRunner.h"

namespace velmor {
namespace {
namespace fs = std::filesystem;

TEST(SearchRunner, ErrorsForMissingSources)
{
    struct Case {
        ESearchSource source;
        const char* path;
        const char* error;
    } cases[] = {
        {ESearchSource::kFolder, "/nonexistent/velmor", "/nonexistent/velmor is not a folder"},
        {ESearchSource::kClientFolder, "/nonexistent/velmor", "/nonexistent/velmor is not a folder"},
        {ESearchSource::kSingleFile, "/nonexistent/a.ifv", "/nonexistent/a.ifv is not a file"},
    };
    for (const Case& c : cases) {
        SearchRequest r;
        r.source = c.source;
        r.path = c.path;
        const SearchOutcome out = RunSearch(r, {}, nullptr);
        EXPECT_FALSE(out.ok);
        EXPECT_EQ(out.error, c.error);
        EXPECT_TRUE(out.result.empty());
    }
}

TEST(SearchRunner, NoRecorderDisk)
{
    const fs::path dir = fs::temp_directory_path() / ("velmor-runner-" + std::to_string(::getpid()));
    fs::create_directories(dir / "block");
    std::ofstream(dir / "mountinfo") << "";
    SearchRequest r;
    r.source = ESearchSource::kRecorderDisk;
    r.mountInfo = dir / "mountinfo";
    r.sysClassBlock = dir / "block";
    const SearchOutcome out = RunSearch(r, {}, nullptr);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "no recorder disk is attached");
    EXPECT_EQ(out.notes, std::vector<std::string>{"Unknow Hd Type"});
    fs::remove_all(dir);
}

TEST(SearchRunner, EmptyFolderFindsNothing)
{
    const fs::path dir = fs::temp_directory_path() / ("velmor-runner-empty-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    SearchRequest r;
    r.path = dir;
    const SearchOutcome out = RunSearch(r, {}, nullptr);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "no recording found");
    EXPECT_EQ(out.kind, ESourceKind::kDownloadTree);
    fs::remove_all(dir);
}

// The worker posts its result; the test's "interface thread" runs the posts.
TEST(SearchRunner, DeliversThroughThePoster)
{
    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::function<void()>> posted;
    CSearchRunner runner([&](std::function<void()> fn) {
        std::lock_guard lock(mutex);
        posted.push_back(std::move(fn));
        cv.notify_all();
    });
    SearchRequest r;
    r.source = ESearchSource::kSingleFile;
    r.path = "/nonexistent/b.ifv";
    std::optional<SearchOutcome> got;
    ASSERT_TRUE(runner.Start(r, {}, [&](SearchOutcome o) { got = std::move(o); }));
    EXPECT_FALSE(runner.Start(r, {}, {}));  // one search at a time
    for (int i = 0; i < 500 && !got; ++i) {
        std::unique_lock lock(mutex);
        cv.wait_for(lock, std::chrono::milliseconds(10), [&] { return !posted.empty(); });
        while (!posted.empty()) {
            auto fn = std::move(posted.front());
            posted.pop_front();
            lock.unlock();
            fn();
            lock.lock();
        }
    }
    ASSERT_TRUE(got);
    EXPECT_EQ(got->error, "/nonexistent/b.ifv is not a file");
    EXPECT_FALSE(runner.Busy());
    runner.Join();
}

TEST(SearchRunner, CancelledSearchReportsCancel)
{
    const fs::path dir = fs::temp_directory_path() / ("velmor-runner-cancel-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::atomic<bool> cancel{true};
    SearchRequest r;
    r.path = dir;
    const SearchOutcome out = RunSearch(r, {}, &cancel);
    EXPECT_TRUE(out.cancelled);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.error, "the search was cancelled");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace velmor
