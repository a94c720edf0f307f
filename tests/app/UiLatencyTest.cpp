// The lateness of the interface thread's probe tick, fed with made-up tick
// times (no clock is read).
#include <gtest/gtest.h>

#include <vector>

#include "player/app/UiLatency.h"

namespace {

using velmor::CTickLateness;

struct Case {
    const char* name;
    std::vector<int64_t> ticks;  // microseconds
    int64_t worst;
};

class TickLatenessTest : public ::testing::TestWithParam<Case> {};

TEST_P(TickLatenessTest, WorstLatenessIsTheLongestGapLessThePeriod)
{
    CTickLateness probe(10000);
    for (int64_t t : GetParam().ticks) probe.Tick(t);
    EXPECT_EQ(probe.Worst(), GetParam().worst);
    EXPECT_EQ(probe.TakeWorst(), GetParam().worst);
    EXPECT_EQ(probe.Worst(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, TickLatenessTest,
    ::testing::Values(Case{"NoTick", {}, 0}, Case{"OneTickHasNothingToCompare", {5000000}, 0},
                      Case{"OnTime", {1000, 11000, 21000, 31000}, 0},
                      // Early ticks are not negative lateness.
                      Case{"Early", {1000, 9000, 12000}, 0},
                      Case{"OneMicrosecondLate", {1000, 11001}, 1},
                      // 250 ms held up, then on time again.
                      Case{"HeldUp", {0, 10000, 260000, 270000}, 240000},
                      Case{"WorstOfTwo", {0, 40000, 50000, 125000, 135000}, 65000}),
    [](const auto& info) { return info.param.name; });

TEST(TickLatenessTake, AHoldUpThatSpansTheTakeCountsAfterIt)
{
    CTickLateness probe(10000);
    probe.Tick(0);
    probe.Tick(90000);
    EXPECT_EQ(probe.TakeWorst(), 80000);
    // Taken at 95 ms: the next tick at 300 ms is still measured from 90 ms.
    probe.Tick(300000);
    EXPECT_EQ(probe.TakeWorst(), 200000);
    probe.Tick(310000);
    EXPECT_EQ(probe.TakeWorst(), 0);
}

}  // namespace
