// Request kinds and window states, the request map's order and replacing,
// a step running its requests until a stop, the periodic worker, and the
// reader chosen for a file name.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "player/playback/PlayRequest.h"

namespace velmor {
namespace {

PlayRequest Request(int kind, uint32_t begin, const char* path)
{
    PlayRequest r;
    r.kind = kind;
    r.recordfileinfo.beginTime.set(begin);
    r.filePath = path;
    return r;
}

class PlayRequestTest : public ::testing::Test {
protected:
    CPlayRequests m_requests;
    WindowStateCell m_state{EWindowState::kIdle};
    std::vector<std::string> m_ran;
    std::vector<EWindowState> m_statesSeen;
    std::vector<int> m_sleeps;

    size_t RunStep(std::function<void(const PlayRequest&)> extra = {})
    {
        return RunQueuedRequests(
            m_requests, m_state,
            [&](const PlayRequest& r) {
                m_ran.push_back(r.filePath);
                m_statesSeen.push_back(m_state.load());
                if (extra) extra(r);
            },
            2000, [&](int ms) { m_sleeps.push_back(ms); });
    }
};

TEST_F(PlayRequestTest, KindsSetWindowStates)
{
    using S = EWindowState;
    const S expected[] = {S::kPlayFile, S::kTimePlay, S::kCutting, S::kTimePlay, S::kCutting, S::kTimePlay, S::kPlayFile};
    for (int kind = 0; kind <= 6; ++kind) EXPECT_EQ(StateForRequest(kind), expected[kind]) << kind;
    EXPECT_EQ(StateForRequest(7), std::nullopt);
    EXPECT_EQ(StateForRequest(-1), std::nullopt);
}

TEST_F(PlayRequestTest, MapRunsInStartTimeOrderAndReplacesEqualKeys)
{
    m_requests.Add(Request(kRequestTimePlay, 300, "c"));
    m_requests.Add(Request(kRequestTimePlay, 100, "a"));
    m_requests.Add(Request(kRequestTimePlay, 200, "b"));
    m_requests.Add(Request(kRequestTimePlay, 200, "b2"));
    m_requests.Add(Request(99, 150, "unknown kind"));
    EXPECT_EQ(m_requests.Size(), 4u);
    EXPECT_EQ(RunStep(), 3u);
    EXPECT_EQ(m_ran, (std::vector<std::string>{"a", "b2", "c"}));
    EXPECT_EQ(m_statesSeen, std::vector<EWindowState>(3, EWindowState::kTimePlay));
    EXPECT_TRUE(m_requests.Empty());
    EXPECT_EQ(m_requests.Current().filePath, "c");

    // Set replaces the whole map by a copy.
    PlayRequestMap folder;
    folder[1] = Request(kRequestFolderFile, 0, "f1");
    folder[2] = Request(kRequestFolderFile, 0, "f2");
    m_requests.Add(Request(kRequestPlayFile, 5, "dropped"));
    m_requests.Set(folder);
    folder.clear();
    m_ran.clear();
    m_state = EWindowState::kIdle;
    EXPECT_EQ(RunStep(), 2u);
    EXPECT_EQ(m_ran, (std::vector<std::string>{"f1", "f2"}));
    EXPECT_EQ(m_sleeps, (std::vector<int>{2000, 2000}));
}

TEST_F(PlayRequestTest, StopEndsTheStepAfterTheRunningRequest)
{
    m_requests.Add(Request(kRequestPlayFile, 1, "one"));
    m_requests.Add(Request(kRequestPlayFile, 2, "two"));
    m_requests.Add(Request(kRequestPlayFile, 3, "three"));
    EXPECT_EQ(RunStep([&](const PlayRequest& r) {
                  if (r.filePath == "two") m_state = EWindowState::kStop;
              }),
              2u);
    EXPECT_EQ(m_ran, (std::vector<std::string>{"one", "two"}));

    // A stop asked for before the step starts runs nothing.
    m_ran.clear();
    m_requests.Add(Request(kRequestPlayFile, 4, "four"));
    m_state = EWindowState::kClosing;
    EXPECT_EQ(RunStep(), 0u);
    EXPECT_TRUE(m_ran.empty());
}

class CCountingThread : public CRKThread {
public:
    CCountingThread() { Start(); }
    ~CCountingThread() override
    {
        RequestStop();
        Join();
    }
    std::atomic<int> steps{0};

protected:
    void Step(void*) override
    {
        if (++steps == 1) throw std::runtime_error("first step fails");
    }
};

TEST_F(PlayRequestTest, WorkerGoesOnAfterAThrowingStepAndStopsOnRequest)
{
    CCountingThread worker;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (worker.steps < 3 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(worker.steps.load(), 3);
    EXPECT_EQ(worker.ExceptionCount(), 1u);
    worker.RequestStop();
    worker.Join();
    const int after = worker.steps;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(worker.steps.load(), after);
}

TEST_F(PlayRequestTest, TimePlaySeekKeepsRecordingsFromTheTarget)
{
    PlayRequestMap channel;
    const uint32_t spans[][2] = {{100, 199}, {200, 299}, {300, 399}, {500, 500}};
    for (const auto& span : spans) {
        PlayRequest r = Request(kRequestTimePlay, span[0], "");
        r.recordfileinfo.endTime.set(span[1]);
        channel.emplace(span[0], r);
    }
    struct Row {
        uint32_t target;
        std::vector<uint32_t> kept;
    };
    const Row rows[] = {{250, {200, 300, 500}}, {200, {200, 300, 500}}, {199, {100, 200, 300, 500}},
                        {450, {500}},           {500, {500}},           {501, {}}};
    for (const Row& r : rows) {
        std::vector<uint32_t> kept;
        for (const auto& [key, request] : RequestsFromSecond(channel, r.target)) kept.push_back(key);
        EXPECT_EQ(kept, r.kept) << r.target;
    }
    const PlayRequestMap folder = FolderRequests({"/f/b.ifv", "/f/a.ifv", "/f/c.mp4"});
    ASSERT_EQ(folder.size(), 3u);
    EXPECT_EQ(folder.at(1).filePath, "/f/b.ifv");
    EXPECT_EQ(folder.at(3).filePath, "/f/c.mp4");
    EXPECT_EQ(folder.at(2).kind, kRequestFolderFile);
}

TEST_F(PlayRequestTest, StopAllNeverWaitsAndReportsStuckWindows)
{
    WindowStateCell w1{EWindowState::kPlayFile}, w2{EWindowState::kIdle}, w3{EWindowState::kPaused}, w4{EWindowState::kClosing};
    CStopWatch watch;
    watch.Begin({&w1, &w2, &w3, &w4}, 1000);
    EXPECT_EQ(w1.load(), EWindowState::kStop);
    EXPECT_EQ(w2.load(), EWindowState::kIdle);
    EXPECT_EQ(w3.load(), EWindowState::kStop);
    EXPECT_EQ(w4.load(), EWindowState::kClosing);
    std::vector<int> stuck;
    EXPECT_EQ(watch.Poll(1500, &stuck), CStopWatch::EPoll::kWaiting);
    w1 = EWindowState::kIdle;  // window 1's loop ended; window 3's reader hangs
    EXPECT_EQ(watch.Poll(4000, &stuck), CStopWatch::EPoll::kWaiting);
    EXPECT_EQ(watch.Poll(4001, &stuck), CStopWatch::EPoll::kTimedOut);
    EXPECT_EQ(stuck, std::vector<int>{3});
    w3 = EWindowState::kIdle;
    EXPECT_EQ(watch.Poll(9000), CStopWatch::EPoll::kAllIdle);
}

TEST_F(PlayRequestTest, ReaderByFileNameExtension)
{
    struct Row {
        const char* path;
        EFileReader reader;
    };
    const Row rows[] = {
        {"/d/a.grec", EFileReader::kTtx},        {"/d/A.GREC", EFileReader::kTtx},
        {"/d/b.rkrec", EFileReader::kRkRec},     {"/d/A.IFV", EFileReader::kIfv},
        {"x.ifv.d/a.rpo", EFileReader::kRpo},    {"/m/x.ifv.d/movie.mp4", EFileReader::kMediaFile},
        {"/m/clips.grec/c.ifv", EFileReader::kIfv}, {"/d/fc00001.RPO", EFileReader::kRpo},
        {"/d/a.ifv.bak", EFileReader::kMediaFile}, {"/d/noext", EFileReader::kMediaFile},
        {"/d/.ifv", EFileReader::kMediaFile},
    };
    for (const Row& r : rows) EXPECT_EQ(ChooseReader(r.path), r.reader) << r.path;
}

}  // namespace
}  // namespace velmor
