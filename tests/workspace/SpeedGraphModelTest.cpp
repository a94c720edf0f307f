// Speed graph points in minutes and the argument range that keeps them in view.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "player/workspace/SpeedGraphModel.h"

using namespace velmor;

namespace {

struct RangeCase {
    double seconds;
    double max;  // range maximum after this one point on a fresh graph
};

TEST(SpeedGraphModel, RangeGrowsToTheNextHourAbove)
{
    const RangeCase cases[] = {
        {0, 60}, {1800, 60}, {3600, 60}, {3601, 120}, {3700, 120}, {7199, 120}, {7200, 180}, {10000, 180}, {36000, 660},
    };
    for (const auto& c : cases) {
        CSpeedGraphModel m;
        bool grown = false;
        ASSERT_TRUE(m.AddPoint(c.seconds, 42, &grown)) << c.seconds;
        EXPECT_EQ(m.Range().first, 0.0) << c.seconds;
        EXPECT_EQ(m.Range().second, c.max) << c.seconds;
        EXPECT_EQ(grown, c.max != 60) << c.seconds;
    }
}

TEST(SpeedGraphModel, PointAt617MinutesShows0To120)
{
    CSpeedGraphModel m;
    ASSERT_TRUE(m.AddPoint(3700, 88));
    ASSERT_EQ(m.Points().size(), 1u);
    EXPECT_DOUBLE_EQ(m.Points()[0].first, 61.666666666666664);
    EXPECT_EQ(m.Points()[0].second, 88);
    EXPECT_EQ(m.Range(), (std::pair<double, double>{0, 120}));
    // An earlier point does not narrow it again.
    bool grown = true;
    ASSERT_TRUE(m.AddPoint(300, 50, &grown));
    EXPECT_FALSE(grown);
    EXPECT_EQ(m.Range().second, 120);
    EXPECT_DOUBLE_EQ(m.Points()[1].first, 5.0);
}

TEST(SpeedGraphModel, GrownMaximumCountsFromTheMinimum)
{
    EXPECT_EQ(CSpeedGraphModel::GrownMaximum(30, 90, 91), 150);
    EXPECT_EQ(CSpeedGraphModel::GrownMaximum(30, 90, 90), 90);
    EXPECT_EQ(CSpeedGraphModel::GrownMaximum(30, 90, 10), 90);
    EXPECT_EQ(CSpeedGraphModel::GrownMaximum(0, 120, 200), 240);
}

TEST(SpeedGraphModel, BadPointsAreRefused)
{
    CSpeedGraphModel m;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(m.AddPoint(-1, 10));
    EXPECT_FALSE(m.AddPoint(nan, 10));
    EXPECT_FALSE(m.AddPoint(inf, 10));
    EXPECT_FALSE(m.AddPoint(60, nan));
    EXPECT_TRUE(m.Points().empty());
    EXPECT_EQ(m.Range().second, 60);
}

TEST(SpeedGraphModel, ClearStartsOver)
{
    CSpeedGraphModel m;
    m.AddPoint(9000, 100);
    EXPECT_EQ(m.Range().second, 180);
    m.Clear();
    EXPECT_TRUE(m.Points().empty());
    EXPECT_EQ(m.Range(), (std::pair<double, double>{0, 60}));
}

}  // namespace
