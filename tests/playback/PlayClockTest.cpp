// Speed levels, frame skipping, pacing, the shared clock with its sync wait,
// the pause gate, the progress texts and where a slider release lands.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "player/playback/PlayClock.h"
#include "tests/playback/FakeTicks.h"

namespace velmor {
namespace {

class PlayClockTest : public ::testing::Test {
protected:
    fixtures::CFakeTicks m_ticks;
    CPlayShared m_shared{m_ticks};
};

TEST_F(PlayClockTest, SpeedStepsAndLabels)
{
    struct Row {
        int from;
        bool faster;
        int to;
        const char* label;  // of `to`
    };
    const Row rows[] = {
        {0, true, 1, " X2"},     {1, true, 2, " X4"},       {2, true, 3, " X8"},      {3, true, 4, " X16"},
        {4, true, 5, " X32"},    {5, true, 0, " X1"},       {-3, true, 0, " X1"},     {0, false, -1, " X1/2"},
        {-1, false, -2, " X1/4"}, {-2, false, -3, " X1/8"}, {-3, false, -4, " X1/16"}, {-4, false, -5, " X1/32"},
        {-5, false, 0, " X1"},   {2, false, 0, " X1"},
    };
    for (const Row& r : rows) {
        const int to = r.faster ? SpeedUp(r.from) : SlowDown(r.from);
        EXPECT_EQ(to, r.to) << r.from << (r.faster ? " faster" : " slower");
        EXPECT_STREQ(SpeedLabel(to), r.label) << to;
    }
    EXPECT_STREQ(SpeedLabel(6), " X1");
}

TEST_F(PlayClockTest, FrameSkippingCounters)
{
    struct Row {
        int level, layout;
        const char* pattern;  // 1 = played, per frame
    };
    const Row rows[] = {
        {2, kLayout1, "11111111"},   {3, kLayout1, "01010101"},   {4, kLayout1, "00100100"},
        {5, kLayout1, "00010001"},   {5, kLayout4x4, "00010001"}, {3, kLayout2x2, "11111111"},
        {4, kLayout2x2, "01010101"}, {5, kLayout2x2, "00100100"}, {-5, kLayout3x3, "11111111"},
    };
    for (const Row& r : rows) {
        CFrameSkipper skipper;
        std::string got;
        for (size_t i = 0; i < std::strlen(r.pattern); ++i) got += skipper.Play(r.level, r.layout) ? '1' : '0';
        EXPECT_EQ(got, r.pattern) << "level " << r.level << " layout " << r.layout;
    }
    // IFV time play: above the skipping level sound, records and P pictures
    // are dropped without touching the counter.
    CFrameSkipper ifv;
    EXPECT_FALSE(ifv.PlayIfv(3, kLayout1, false, 0));
    EXPECT_FALSE(ifv.PlayIfv(3, kLayout1, true, 1));
    EXPECT_EQ(ifv.Counter(), 0);
    EXPECT_FALSE(ifv.PlayIfv(3, kLayout1, true, 5));
    EXPECT_TRUE(ifv.PlayIfv(3, kLayout1, true, 5));
    EXPECT_TRUE(ifv.PlayIfv(2, kLayout1, false, 0));
}

TEST_F(PlayClockTest, PacingIntervals)
{
    struct Row {
        uint64_t prevPts, pts;  // us; prevPts 0: first frame
        int64_t sinceRelease;   // ms between the last release and now
        int level;
        int wait;
    };
    const Row rows[] = {
        {1000000, 1040000, 0, 0, 40},   {1000000, 1040000, 0, 1, 20},   {1000000, 1040000, 0, -1, 80},
        {1000000, 1040000, 10, 0, 30},  {1000000, 1040000, 50, 0, 1},   {1000000, 3000000, 0, 0, 33},
        {1000000, 0, 0, 0, 33},         {1040000, 1000000, 0, 0, 33},   {1000000, 1040000, 0, 5, 1},
        {1000999, 1041000, 0, 0, 41},   {1000000, 1040000, 0, -5, 1280},
        // The time spent since the release is wall time: deducted after
        // the interval is scaled to the speed.
        {1000000, 2000000, 10, 5, 21},  {1000000, 2000000, 32, 5, 1},   {1000000, 1040000, 10, -1, 70},
        {1000000, 2000000, 0, 5, 31},   {1000000, 1040000, 19, 1, 1},
    };
    for (const Row& r : rows) {
        CFramePacer pacer;
        pacer.WaitMs(r.prevPts, 5000, 0);
        pacer.Released(5000);
        EXPECT_EQ(pacer.WaitMs(r.pts, 5000 + r.sinceRelease, r.level), r.wait)
            << r.prevPts << "->" << r.pts << " level " << r.level;
    }
    CFramePacer first;
    EXPECT_EQ(first.WaitMs(1000000, 5000, 0), 1);  // nothing released yet

    // Frames passed over at X32 owe their intervals to the next release:
    // 24 frames of 40 ms, then a key frame 40 ms on, 10 ms after the last
    // release, is due 1000 / 32 - 10 ms later. A gap counts 33 ms.
    CFramePacer skipping;
    skipping.WaitMs(1000000, 5000, 5);
    skipping.Released(5000);
    for (int i = 1; i <= 24; ++i) skipping.Passed(1000000 + uint64_t(i) * 40000);
    EXPECT_EQ(skipping.WaitMs(2000000, 5010, 5), 21);
    skipping.Released(5031);
    skipping.Passed(9000000);
    EXPECT_EQ(skipping.WaitMs(9040000, 5031, 5), 2);  // (33 + 40) / 32
    skipping.Released(5033);
    skipping.Passed(9080000);
    skipping.Reset();  // a seek forgets what was owed
    EXPECT_EQ(skipping.WaitMs(9120000, 5033, 0), 1);

    // A release that came late counts from when it was due; a stall is
    // made up by at most CarryMs(level) (20 ms at X1, 640 ms at X32); time
    // held on purpose is not made up at all.
    struct Late {
        int level, lateMs;
        bool held;
        int nextWait;
    };
    for (const Late& r : {Late{0, 0, false, 40}, {0, 2, false, 38}, {0, 19, false, 21}, {0, 20, false, 20},
                          {0, 35, false, 20}, {-2, 35, false, 140}, {1, 15, false, 5}, {5, 100, false, 1},
                          {0, 35, true, 40}, {5, 100, true, 1}}) {
        CFramePacer late;
        const int64_t due = 40 >> std::max(r.level, 0) << std::max(-r.level, 0);
        late.WaitMs(1000000, 5000, r.level);
        late.Released(5000);
        ASSERT_EQ(late.WaitMs(1040000, 5000, r.level), due);
        if (r.held) late.Held();
        late.Released(5000 + due + r.lateMs);
        EXPECT_EQ(late.WaitMs(1080000, 5000 + due + r.lateMs, r.level), r.nextWait)
            << "level " << r.level << " late by " << r.lateMs << (r.held ? " held" : "");
    }
    // At X32 a stall of 100 ms (3.2 s of recording) is made up by the next
    // releases coming at once until the window is back on its clock.
    CFramePacer stall;
    stall.WaitMs(1000000, 5000, 5);
    stall.Released(5000);
    ASSERT_EQ(stall.WaitMs(2000000, 5000, 5), 31);
    stall.Released(5131);
    EXPECT_EQ(stall.WaitMs(3000000, 5131, 5), 1);
    stall.Released(5132);
    EXPECT_EQ(stall.WaitMs(4000000, 5132, 5), 1);
    stall.Released(5133);
    EXPECT_EQ(stall.WaitMs(5000000, 5133, 5), 1);
    stall.Released(5134);
    EXPECT_EQ(stall.WaitMs(6000000, 5134, 5), 22);  // due at 5000 + 5 x 31.25
    // At X32 the picture after a key frame is due 1.25 ms after it; the key
    // frame's 6 ms of decoding are made up at the next key frame.
    CFramePacer after;
    after.WaitMs(1000000, 5000, 5);
    after.Released(5000);
    ASSERT_EQ(after.WaitMs(1040000, 5006, 5), 1);
    after.Released(5007);
    for (int i = 2; i < 25; ++i) after.Passed(1000000 + uint64_t(i) * 40000);
    EXPECT_EQ(after.WaitMs(2000000, 5010, 5), 21);  // due at 5000 + 31.25
}

TEST_F(PlayClockTest, CommonClockAndSyncWait)
{
    EXPECT_FALSE(m_shared.Recompute());
    m_shared.SetCurrTime(77);
    m_shared.SetWindowTime(1, 100);
    m_shared.SetWindowTime(2, 90);
    m_shared.SetWindowTime(16, 95);
    m_shared.SetWindowTime(17, 1);  // no such window: ignored
    ASSERT_TRUE(m_shared.Recompute());
    EXPECT_EQ(m_shared.CurrTime(), 90u);
    EXPECT_TRUE(m_shared.MayProceed(2));
    EXPECT_TRUE(m_shared.MayProceed(3));  // takes no part
    EXPECT_FALSE(m_shared.MayProceed(1));

    // Window 1 is ahead: it waits, at most about 3 s from the first wait.
    m_ticks.Advance(0);
    const int64_t t0 = m_ticks.NowMs();
    EXPECT_TRUE(m_shared.SyncWaitDone(2));
    EXPECT_EQ(m_shared.WaitStamp(), 0);
    EXPECT_FALSE(m_shared.SyncWaitDone(1));
    EXPECT_EQ(m_shared.WaitStamp(), t0);
    m_ticks.Advance(3000);
    EXPECT_FALSE(m_shared.SyncWaitDone(1));
    m_ticks.Advance(1);
    EXPECT_TRUE(m_shared.SyncWaitDone(1));
    EXPECT_EQ(m_shared.WaitStamp(), t0 + 3001);
    // Once the slowest window catches up the wait ends at once.
    m_shared.SetWindowTime(2, 100);
    m_shared.SetWindowTime(16, 0);
    m_shared.Recompute();
    EXPECT_TRUE(m_shared.SyncWaitDone(1));
}

TEST_F(PlayClockTest, PauseGateEndsOnStop)
{
    m_shared.pauseGate.Reset();
    std::atomic<bool> stop{false};
    std::atomic<int> outcome{-1};
    std::thread waiter([&] { outcome = m_shared.pauseGate.Wait([&] { return stop.load(); }) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(outcome.load(), -1);
    const auto asked = std::chrono::steady_clock::now();
    stop = true;
    m_shared.pauseGate.Wake();
    waiter.join();
    EXPECT_EQ(outcome.load(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));

    stop = false;
    std::thread opened([&] { outcome = m_shared.pauseGate.Wait([&] { return stop.load(); }) ? 1 : 0; });
    m_shared.pauseGate.Set();
    opened.join();
    EXPECT_EQ(outcome.load(), 1);
}

TEST_F(PlayClockTest, ProgressPercentAndLabel)
{
    const uint32_t s = 1765188000;
    struct Row {
        bool single;
        int64_t pos, total;
        uint32_t curr, start, end;
        int last, percent;
    };
    const Row rows[] = {
        {true, 30000, 300000, 0, 0, 0, 0, 10},       {true, 299999, 300000, 0, 0, 0, 0, 99},
        {true, 5000, 0, 0, 0, 0, 0, 0},              {false, 0, 0, s + 150, s, s + 300, 0, 50},
        {false, 0, 0, s + 120, s, s + 300, 50, 50},  {false, 0, 0, s + 120, s, s + 300, -1, 40},
        {false, 0, 0, s + 120, s, s, 0, 0},          {false, 0, 0, s - 5, s, s + 300, 0, 0},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ProgressPercent(r.single, r.pos, r.total, r.curr, r.start, r.end, r.last), r.percent)
            << r.pos << "/" << r.total << " " << r.curr - r.start;

    EXPECT_EQ(ProgressLabel(s + 62, s, s + 300, 0), "00:01:02/00:05:00 X1");
    EXPECT_EQ(ProgressLabel(s + 3723, s, s + 36000, 2), "01:02:03/10:00:00 X4");
    EXPECT_EQ(EmptyProgressLabel(-1), "00:00:00/00:00:00 X1/2");

    // Posted records: single-file play moves the clock with the position,
    // and a percent of 0 is posted as -1.
    int notified = 0;
    m_shared.SetProgressNotify([&] { ++notified; });
    m_shared.SetRange(s, s + 599);
    m_shared.PostProgress(62500, 600000, true);
    EXPECT_EQ(m_shared.CurrTime(), s + 62);
    m_shared.PostProgress(0, 600000, true);
    EXPECT_EQ(m_shared.CurrTime(), s);
    EXPECT_EQ(notified, 2);
    ProgressRecord rec;
    ASSERT_TRUE(m_shared.TakeProgress(rec));
    EXPECT_EQ(rec.positionMs, 62500);
    EXPECT_EQ(rec.percent, 10);
    ASSERT_TRUE(m_shared.TakeProgress(rec));
    EXPECT_EQ(rec.percent, -1);
    EXPECT_FALSE(m_shared.TakeProgress(rec));
}

TEST_F(PlayClockTest, SeekTargetsByPlayType)
{
    const uint32_t s = 1765188000;
    EXPECT_EQ(SeekTargetSecond(s, s + 600, 50), s + 300);
    EXPECT_EQ(SeekTargetSecond(s, s + 600, 0), s);
    EXPECT_EQ(SeekTargetSecond(s, s + 600, 100), s + 600);
    EXPECT_EQ(SeekTargetSecond(s, s + 599, 33), s + 197);  // 197.67 truncated
    EXPECT_EQ(SeekTargetSecond(s, s + 600, 140), s + 600);
    EXPECT_EQ(SeekTargetSecond(s, s - 10, 50), s);
    EXPECT_EQ(SeekActionFor(EPlayType(0)), ESeekAction::kSeekWindows);
    EXPECT_EQ(SeekActionFor(EPlayType(5)), ESeekAction::kSeekWindows);
    EXPECT_EQ(SeekActionFor(EPlayType(1)), ESeekAction::kRestartPlaySet);
    EXPECT_EQ(SeekActionFor(EPlayType(2)), ESeekAction::kNone);
    // A click on the slider's groove: the value under the pointer.
    struct Click {
        int x, width, min, max, value;
    };
    for (const Click& c : {Click{0, 101, 0, 100, 0}, Click{100, 101, 0, 100, 100}, Click{50, 101, 0, 100, 50},
                           Click{30, 61, 0, 100, 50}, Click{1, 400, 0, 100, 0}, Click{2, 400, 0, 100, 1},
                           Click{-5, 400, 0, 100, 0}, Click{900, 400, 0, 100, 100}, Click{10, 1, 0, 100, 0},
                           Click{10, 21, 5, 5, 5}})
        EXPECT_EQ(SliderValueAt(c.x, c.width, c.min, c.max), c.value) << c.x << "/" << c.width;
}

TEST_F(PlayClockTest, ChannelWindowsAndLayouts)
{
    struct Row {
        int layout, channel, window;
    };
    const Row rows[] = {{kLayout1, 1, 1},   {kLayout1, 2, 0},    {kLayout2x2, 3, 5},  {kLayout2x2, 4, 6},
                        {kLayout2x2, 5, 0}, {kLayout3x3, 4, 5},  {kLayout3x3, 9, 11}, {kLayout3x3, 10, 0},
                        {kLayout4x4, 16, 16}, {kLayout4x4, 17, 0}, {kLayout4x4, 0, 0}};
    for (const Row& r : rows) EXPECT_EQ(WindowForChannel(r.layout, r.channel), r.window) << r.layout << "/" << r.channel;
    EXPECT_EQ(LayoutForChannels(4), kLayout2x2);
    EXPECT_EQ(LayoutForChannels(5), kLayout3x3);
    EXPECT_EQ(LayoutForChannels(9), kLayout3x3);
    EXPECT_EQ(LayoutForChannels(10), kLayout4x4);
}

TEST_F(PlayClockTest, SubStreamsInTheSmallWindowsOnly)
{
    struct Row {
        int layout;
        bool enlarged, alwaysMain, sub;
    };
    const Row rows[] = {
        {kLayout1, false, false, false},   {kLayout2x2, false, false, false}, {kLayout3x3, false, false, true},
        {kLayout4x4, false, false, true},  {kLayout3x3, true, false, false},  {kLayout4x4, true, false, false},
        {kLayout3x3, false, true, false},  {kLayout4x4, false, true, false},  {kLayout1, true, true, false},
        {-1, false, false, false},         {4, false, false, false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(PlaysSubStream(r.layout, r.enlarged, r.alwaysMain), r.sub)
            << r.layout << " " << r.enlarged << " " << r.alwaysMain;
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// Stretches of 5 s: the recording must advance 90 % as far as the wall
// clock; a restart or another speed begins a new stretch; told once.
TEST(LagWatch, FallsBehindOnlyOverAWholeStretchAtNormalSpeed)
{
    struct Step {
        int64_t now, media;
        int level;
        bool restart;  // before the picture
        bool told;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        // Without it the rows begin 2 s into the play, when the stretches begin.
        bool fromStart = false;
    };
    const Row rows[] = {
        {"on time", {{0, 0, 0, false, false}, {5000, 5000, 0, false, false}, {10000, 10000, 0, false, false}}},
        {"exactly 90 %", {{0, 0, 0, false, false}, {5000, 4500, 0, false, false}}},
        {"just under", {{0, 0, 0, false, false}, {4999, 4000, 0, false, false}, {5000, 4499, 0, false, true}}},
        {"once only", {{0, 0, 0, false, false}, {5000, 1000, 0, false, true}, {10000, 1001, 0, false, false}}},
        {"a pause restarts", {{0, 0, 0, false, false}, {4000, 4000, 0, false, false}, {9000, 4040, 0, true, false},
                              {14000, 9040, 0, false, false}}},
        {"other speeds never", {{0, 0, 1, false, false}, {5000, 1000, 1, false, false}, {10000, 1000, -2, false, false}}},
        {"back to X1 starts over", {{0, 0, 1, false, false}, {5000, 0, 0, false, false}, {7000, 2000, 0, false, false},
                                    {11999, 6000, 0, false, false}, {12000, 6001, 0, false, true}}},
        {"a slow start settles first", {{0, 0, 0, false, false}, {2000, 500, 0, false, false}, {7000, 5500, 0, false, false}},
         true},
        {"behind from the start", {{0, 0, 0, false, false}, {2000, 1000, 0, false, false}, {7000, 4000, 0, false, true}},
         true},
        {"a seek back starts over", {{0, 60000, 0, false, false}, {5000, 1000, 0, false, false},
                                     {10000, 6000, 0, false, false}}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CLagWatch watch;
        if (!r.fromStart) watch.Shown(-CLagWatch::kSettleMs, -CLagWatch::kSettleMs, 0);
        for (const Step& s : r.steps) {
            if (s.restart) watch.Restart();
            EXPECT_EQ(watch.Shown(s.now, s.media, s.level), s.told) << s.now;
        }
    }
}

}  // namespace
}  // namespace velmor
