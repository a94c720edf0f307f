// The timeline's geometry: positions, cursor, zoom, bars and the filling
// from a day's records.
#include <gtest/gtest.h>

#include <cstring>

#include "player/workspace/TimelineModel.h"

namespace velmor {
namespace {

constexpr uint32_t kMidnight = 1765152000;  // 2025-12-08 00:00:00 UTC

class TimelineModelTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_model.SetClientWidth(760);
        m_model.Clear();
        m_model.ResetView();
    }
    CTimelineModel m_model;
};

StSearchRecord_t Record(int channel, uint32_t begin, uint32_t end)
{
    StSearchRecord_t r;
    std::memset(&r, 0, sizeof r);
    r.channel = uint8_t(channel);
    r.beginTime.set(begin);
    r.endTime.set(end);
    return r;
}

TEST_F(TimelineModelTest, PositionOfATime)
{
    struct Case {
        int zoom, t, x;
    } cases[] = {
        {1, 43200, 390}, {1, 0, 20},     {1, 86400, 760}, {1, -5, 20},     {1, 90000, 760},
        {1, 3600, 50},   {2, 43200, 760}, {2, 3600, 81},  {15, 86400, 11120},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_model.SetZoom(c.zoom));
        EXPECT_EQ(m_model.Position(c.t), c.x) << "zoom " << c.zoom << " t " << c.t;
    }
}

TEST_F(TimelineModelTest, NoRoomToDrawGivesZero)
{
    m_model.SetClientWidth(20);
    EXPECT_EQ(m_model.Position(43200), 0);
    EXPECT_EQ(m_model.DrawWidth(), 0);
    EXPECT_EQ(m_model.TimeOfX(400), 0);
}

TEST_F(TimelineModelTest, TimeOfAnX)
{
    struct Case {
        int zoom, scroll, x, t;
    } cases[] = {
        {1, 0, 390, 43200}, {1, 0, 20, 0},       {1, 0, 10, 0},        {1, 0, -3, 0},
        {1, 0, 760, 86400}, {1, 0, 759, 86283},  {2, 100, 390, 27437}, {2, 740, 760, 86400},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_model.SetZoom(c.zoom));
        m_model.SetScrollOffset(c.scroll);
        EXPECT_EQ(m_model.TimeOfX(c.x), c.t) << "x " << c.x;
    }
}

TEST_F(TimelineModelTest, SetCursor)
{
    struct Case {
        int t, x, time;
    } cases[] = {{43200, 370, 43200}, {-1, 0, 0}, {0, 0, 0}, {90000, 740, 86400}, {86400, 740, 86400}, {3601, 30, 3601}};
    for (const auto& c : cases) {
        m_model.SetCursor(c.t);
        EXPECT_EQ(m_model.CursorX(), c.x) << c.t;
        EXPECT_EQ(m_model.CursorTime(), c.time) << c.t;
    }
}

TEST_F(TimelineModelTest, CursorTimeRoundTrip)
{
    for (int zoom : {1, 3, 15}) {
        ASSERT_TRUE(m_model.SetZoom(zoom));
        const int perPixel = 86400 / m_model.DrawWidth() + 1;
        for (int t : {1, 59, 3600, 43200, 45296, 86399}) {
            m_model.SetCursor(t);
            const int back = m_model.TimeOfX(m_model.CursorX() + kTimelineMargin);
            EXPECT_LE(back, t) << zoom << " " << t;
            EXPECT_GE(back, t - perPixel) << zoom << " " << t;
        }
    }
    m_model.SetZoom(1);
    m_model.SetCursorFromClientX(390);
    EXPECT_EQ(m_model.CursorTime(), 43200);
    EXPECT_EQ(m_model.CursorX(), 370);
    m_model.SetCursorFromClientX(2000);
    EXPECT_EQ(m_model.CursorX(), 740);
    EXPECT_EQ(m_model.CursorTime(), 86400);
}

TEST_F(TimelineModelTest, ZoomBounds)
{
    EXPECT_FALSE(m_model.SetZoom(0));
    EXPECT_FALSE(m_model.SetZoom(16));
    EXPECT_EQ(m_model.Zoom(), 1);
    EXPECT_TRUE(m_model.SetZoom(15));
    EXPECT_FALSE(m_model.SetZoom(16));
    EXPECT_EQ(m_model.Zoom(), 15);
    EXPECT_EQ(m_model.DrawWidth(), 11100);
}

TEST_F(TimelineModelTest, ZoomRecomputesBars)
{
    ASSERT_TRUE(m_model.AddBar(0, 43200, 64800, 255));
    ASSERT_TRUE(m_model.SetZoom(2));
    const auto bar = m_model.Rows()[0][0];
    EXPECT_EQ(bar.x1, 740);
    EXPECT_EQ(bar.x2, 1110);
    EXPECT_EQ(m_model.Position(64800), 1130);
}

TEST_F(TimelineModelTest, BarsClippedAndDropped)
{
    m_model.SetView(36000, 72000);
    EXPECT_TRUE(m_model.AddBar(0, 30000, 40000, 1));
    EXPECT_TRUE(m_model.AddBar(1, 70000, 80000, 2));
    EXPECT_FALSE(m_model.AddBar(0, 80000, 90000, 3));  // after the view
    EXPECT_FALSE(m_model.AddBar(0, 1000, 30000, 4));   // before the view
    EXPECT_FALSE(m_model.AddBar(4, 40000, 50000, 5));  // no such row
    EXPECT_FALSE(m_model.AddBar(-1, 40000, 50000, 6));
    EXPECT_FALSE(m_model.AddBar(0, 50000, 50000, 7));  // empty
    EXPECT_FALSE(m_model.AddBar(0, 50001, 50000, 8));
    const auto rows = m_model.Rows();
    ASSERT_EQ(rows[0].size(), 1u);
    ASSERT_EQ(rows[1].size(), 1u);
    EXPECT_EQ(rows[0][0].start, 36000);
    EXPECT_EQ(rows[0][0].end, 40000);
    EXPECT_EQ(rows[0][0].x1, 0);
    EXPECT_EQ(rows[0][0].x2, 82);
    EXPECT_EQ(rows[0][0].value, 1u);
    EXPECT_EQ(rows[1][0].end, 72000);
    EXPECT_EQ(rows[1][0].x2, 740);
}

TEST_F(TimelineModelTest, RowsRule)
{
    struct Case {
        int channels, rows;
    } cases[] = {{0, 4}, {3, 4}, {4, 4}, {5, 8}, {6, 8}, {8, 8}, {9, 9}, {12, 12}, {300, 255}};
    for (const auto& c : cases) EXPECT_EQ(CTimelineModel::RowsFor(c.channels), c.rows) << c.channels;
    std::map<int, std::vector<StSearchRecord_t>> sparse{{1, {}}, {7, {}}};
    EXPECT_EQ(CTimelineModel::RowsFor(sparse), 8);
    std::map<int, std::vector<StSearchRecord_t>> three{{1, {}}, {2, {}}, {3, {}}};
    EXPECT_EQ(CTimelineModel::RowsFor(three), 4);
    std::map<int, std::vector<StSearchRecord_t>> twelve;
    for (int c = 1; c <= 12; ++c) twelve[c];
    EXPECT_EQ(CTimelineModel::RowsFor(twelve), 12);
}

TEST_F(TimelineModelTest, ClearLeavesFourEmptyRows)
{
    m_model.SetRows(9);
    ASSERT_TRUE(m_model.AddBar(8, 100, 200, 1));
    m_model.Clear();
    const auto rows = m_model.Rows();
    ASSERT_EQ(rows.size(), 4u);
    for (const auto& r : rows) EXPECT_TRUE(r.empty());
}

TEST_F(TimelineModelTest, RecordPastMidnightEndsAtTheDaysEnd)
{
    std::map<int, std::vector<StSearchRecord_t>> day{
        {2, {Record(2, kMidnight + 85800, kMidnight + 86400 + 600)}},
    };
    m_model.Fill(day);
    const auto rows = m_model.Rows();
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[1].size(), 1u);
    EXPECT_EQ(rows[1][0].start, 85800);
    EXPECT_EQ(rows[1][0].end, 86400);
    EXPECT_EQ(rows[1][0].x1, 734);
    EXPECT_EQ(rows[1][0].x2, 740);
    EXPECT_EQ(rows[1][0].value, 255u);
    EXPECT_EQ(m_model.CursorTime(), 85800);
}

TEST_F(TimelineModelTest, FillPutsChannelsOnTheirRowsAndCursorAtTheEarliest)
{
    std::map<int, std::vector<StSearchRecord_t>> day{
        {1, {Record(1, kMidnight + 36000, kMidnight + 36600), Record(1, kMidnight + 36600, kMidnight + 37200)}},
        {3, {Record(3, kMidnight + 7200, kMidnight + 10800)}},
        {6, {Record(6, kMidnight + 50000, kMidnight + 40000)}},  // ends before it starts: dropped
        {0, {Record(0, kMidnight + 100, kMidnight + 200)}},      // no row 0
    };
    const auto lines = m_model.Fill(day);
    EXPECT_EQ(lines.size(), 5u);
    const auto rows = m_model.Rows();
    ASSERT_EQ(rows.size(), 8u);
    ASSERT_EQ(rows[0].size(), 2u);
    EXPECT_EQ(rows[0][0].x2, rows[0][1].x1);  // touching bars make one band
    EXPECT_EQ(rows[0][0].x1, 308);
    EXPECT_EQ(rows[0][1].x2, 318);
    ASSERT_EQ(rows[2].size(), 1u);
    EXPECT_EQ(rows[2][0].start, 7200);
    EXPECT_TRUE(rows[5].empty());
    EXPECT_EQ(m_model.CursorTime(), 7200);
    EXPECT_EQ(m_model.ViewStart(), 0);
    EXPECT_EQ(m_model.ViewEnd(), 86400);
}

TEST_F(TimelineModelTest, EmptyResultLeavesTheCursorAtTheStart)
{
    m_model.SetCursor(5000);
    m_model.Fill({});
    EXPECT_EQ(m_model.CursorTime(), 0);
    EXPECT_EQ(m_model.RowCount(), 4);
}

TEST(TimelineModelWidth, BarsAddedBeforeTheWindowHasASizeFollowIt)
{
    CTimelineModel model;
    model.Clear();
    model.ResetView();
    ASSERT_TRUE(model.AddBar(0, 43200, 64800, 255));
    model.SetCursor(43200);
    EXPECT_EQ(model.Rows()[0][0].x1, -20);  // no room to draw yet
    EXPECT_EQ(model.CursorX(), 0);
    model.SetClientWidth(760);
    EXPECT_EQ(model.Rows()[0][0].x1, 370);
    EXPECT_EQ(model.Rows()[0][0].x2, 555);
    EXPECT_EQ(model.CursorX(), 370);
    EXPECT_EQ(model.CursorTime(), 43200);
}

TEST(TimelineLogLine, AllFieldsInOrder)
{
    StSearchRecord_t r;
    std::memset(&r, 0, sizeof r);
    r.flags = 2;
    r.byte1 = 7;
    r.byte2 = 1;
    r.length.set(4096);
    r.beginOffset.set(512);
    r.diskNo = 3;
    r.folderNo = 4;
    r.fileNo.set(17);
    r.channel = 5;
    r.beginTime.set(1000);
    r.endTime.set(2000);
    std::memcpy(r.label, "AB123", 5);
    EXPECT_EQ(RecordLogLine(r),
              "car_num:AB123,chnno:5,diskno:3,endtime:2000,fileno:17,imageformat:7,offset:512,ptn_no:4,size:4096,"
              "start_time:1000,stream_flag:1,type:2\n");
    std::memset(r.label, 'X', sizeof r.label);  // no NUL: stops at 15 bytes
    EXPECT_NE(RecordLogLine(r).find("car_num:XXXXXXXXXXXXXXX,chnno"), std::string::npos);
}

TEST(TimelineDays, SecondsAndDays)
{
    EXPECT_EQ(SecondsOfDay(kMidnight), 0);
    EXPECT_EQ(SecondsOfDay(kMidnight + 86399), 86399);
    EXPECT_EQ(SecondsOfDay(kMidnight + 86400), 0);
    EXPECT_EQ(DayOf(kMidnight), 20251208);
    EXPECT_EQ(DayOf(kMidnight - 1), 20251207);
    EXPECT_EQ(DayOf(0), 19700101);
}

}  // namespace
}  // namespace velmor
