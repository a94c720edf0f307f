// The G-sensor events of a played span, by the kinds the menu shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/workspace/GSensorEvents.h"

using namespace velmor;

namespace {

EventRecord Event(uint8_t type, uint32_t begin, uint32_t end, uint8_t channel = 0)
{
    EventRecord e;
    e.type = type;
    e.beginTime = begin;
    e.endTime = end;
    e.channel = channel;
    e.description = "t" + std::to_string(type) + "@" + std::to_string(begin);
    return e;
}

std::vector<std::string> Names(const std::vector<EventRecord>& events)
{
    std::vector<std::string> out;
    for (const auto& e : events) out.push_back(e.description);
    return out;
}

const std::set<uint8_t> kAll = {5, 6, 14, 15, 16};

TEST(GSensorEvents, KindsInMenuOrder)
{
    const auto& kinds = GSensorKinds();
    ASSERT_EQ(kinds.size(), 5u);
    EXPECT_EQ(kinds[0].type, 5);
    EXPECT_STREQ(kinds[0].option, "GSensor_Option_Crash");
    EXPECT_STREQ(kinds[3].option, "GSensor_Option_SpeedDown");
    EXPECT_EQ(kinds[3].type, 15);
    EXPECT_EQ(FindGSensorKind(16)->type, 16);
    EXPECT_EQ(FindGSensorKind(2), nullptr);
    EXPECT_EQ(FindGSensorKind(0), nullptr);
    EXPECT_EQ(FindGSensorKind(255), nullptr);
}

TEST(GSensorEvents, SpanAndKindsChooseTheEvents)
{
    const std::vector<EventRecord> events = {
        Event(15, 1200, 1210),  // inside
        Event(2, 1100, 1300),   // video loss: no G-sensor event
        Event(5, 900, 999),     // ends before the span
        Event(16, 950, 1000),   // ends on its first second
        Event(14, 2000, 2001),  // starts on its last second
        Event(6, 2001, 2005),   // starts after it
        Event(5, 1500, 1400),   // end before begin: one second
        Event(8, 1500, 1500),   // overspeed
    };
    EXPECT_EQ(Names(SelectGSensorEvents(events, 1000, 2000, kAll)),
              (std::vector<std::string>{"t16@950", "t15@1200", "t5@1500", "t14@2000"}));
    // The span given the wrong way round.
    EXPECT_EQ(Names(SelectGSensorEvents(events, 2000, 1000, kAll)),
              (std::vector<std::string>{"t16@950", "t15@1200", "t5@1500", "t14@2000"}));
    // Only crashes and hard braking.
    EXPECT_EQ(Names(SelectGSensorEvents(events, 1000, 2000, {5, 15})), (std::vector<std::string>{"t15@1200", "t5@1500"}));
    // A non-G-sensor type in the shown set changes nothing.
    EXPECT_EQ(Names(SelectGSensorEvents(events, 1000, 2000, {8})), std::vector<std::string>{});
    EXPECT_TRUE(SelectGSensorEvents({}, 0, 0xFFFFFFFF, kAll).empty());
}

TEST(GSensorEvents, SameSecondOrderedByTypeThenChannel)
{
    const std::vector<EventRecord> events = {Event(15, 50, 60, 2), Event(5, 50, 60, 1), Event(15, 50, 60, 0)};
    const auto picked = SelectGSensorEvents(events, 0, 100, kAll);
    ASSERT_EQ(picked.size(), 3u);
    EXPECT_EQ(picked[0].type, 5);
    EXPECT_EQ(picked[1].channel, 0);
    EXPECT_EQ(picked[2].channel, 2);
}

TEST(GSensorEvents, CountsPerKind)
{
    const std::vector<EventRecord> events = {Event(15, 1, 2), Event(15, 3, 4), Event(5, 5, 6), Event(16, 7, 8),
                                             Event(3, 9, 10)};
    EXPECT_EQ(CountByKind(events), (std::vector<int>{1, 0, 0, 2, 1}));
    EXPECT_EQ(CountByKind({}), (std::vector<int>{0, 0, 0, 0, 0}));
}

TEST(IoAlarmEvents, AlarmInputsAndUrgentAlarmsOfTheSpanAsTheMenuChooses)
{
    const auto& kinds = IoAlarmKinds();
    ASSERT_EQ(kinds.size(), 2u);
    EXPECT_EQ(kinds[0].type, 1);
    EXPECT_STREQ(kinds[0].option, "Warn_Option_IO");
    EXPECT_EQ(kinds[1].type, 7);
    EXPECT_STREQ(kinds[1].option, "Warn_Option_Urgent");
    const std::vector<EventRecord> events = {
        Event(7, 1500, 1510), Event(1, 1200, 1201), Event(5, 1300, 1300),  // a crash: the G-sensor tab's
        Event(1, 900, 950),                                                  // before the span
        Event(7, 2100, 2200),                                                // after it
    };
    struct Case {
        std::set<uint8_t> shown;
        std::vector<std::string> listed;
    };
    for (const Case& c : {Case{{1, 7}, {"t1@1200", "t7@1500"}}, Case{{1}, {"t1@1200"}}, Case{{7}, {"t7@1500"}},
                          Case{{}, {}}}) {
        EXPECT_EQ(Names(SelectEvents(events, 1000, 2000, c.shown)), c.listed);
    }
}

}  // namespace
