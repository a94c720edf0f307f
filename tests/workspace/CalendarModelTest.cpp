// The month grid: weekdays by arithmetic, the leap rule and the hidden cells.
#include <gtest/gtest.h>

#include "player/workspace/CalendarModel.h"

namespace velmor {
namespace {

TEST(CalendarModel, LeapYears)
{
    struct Case {
        int year;
        bool leap;
    } cases[] = {{1900, false}, {2000, true}, {2023, false}, {2024, true}, {2100, false}, {2400, true}};
    for (const auto& c : cases) EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
}

TEST(CalendarModel, DaysInMonth)
{
    struct Case {
        int year, month, days;
    } cases[] = {{2000, 2, 29}, {1900, 2, 28}, {2024, 2, 29}, {2023, 2, 28}, {2024, 1, 31}, {2024, 4, 30},
                 {2024, 12, 31}, {2024, 0, 0},  {2024, 13, 0}};
    for (const auto& c : cases) EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
}

TEST(CalendarModel, Weekdays)
{
    struct Case {
        int y, m, d, w;
    } cases[] = {{1970, 1, 1, 4}, {2000, 1, 1, 6}, {2000, 2, 1, 2}, {1900, 2, 1, 4}, {2024, 2, 1, 4},
                 {2024, 6, 1, 6}, {2026, 12, 10, 4}, {2000, 2, 29, 2}, {2000, 3, 1, 3}, {1, 1, 1, 1}};
    for (const auto& c : cases) EXPECT_EQ(WeekdayOf(c.y, c.m, c.d), c.w) << c.y << "-" << c.m << "-" << c.d;
}

struct Grid {
    int year, month;
    int firstCell;  // cell of day 1
    int lastCell;   // cell of the last day
};

class CalendarGridTest : public testing::TestWithParam<Grid> {};

TEST_P(CalendarGridTest, CellsFromSunday)
{
    const Grid g = GetParam();
    const auto cells = MonthCells(g.year, g.month, {});
    for (int i = 0; i < 42; ++i) {
        const bool inside = i >= g.firstCell && i <= g.lastCell;
        EXPECT_EQ(cells[size_t(i)].visible, inside) << i;
        EXPECT_EQ(cells[size_t(i)].day, inside ? i - g.firstCell + 1 : 0) << i;
        EXPECT_FALSE(cells[size_t(i)].marked);
    }
}

INSTANTIATE_TEST_SUITE_P(Months, CalendarGridTest,
                         testing::Values(Grid{2000, 2, 2, 30},   // Tuesday, 29 days
                                         Grid{1900, 2, 4, 31},   // Thursday, 28 days
                                         Grid{2024, 2, 4, 32},   // Thursday, 29 days
                                         Grid{2024, 6, 6, 35},   // Saturday, 30 days
                                         Grid{2025, 3, 6, 36},   // Saturday, 31 days: the sixth week
                                         Grid{2015, 2, 0, 27})); // Sunday, 28 days: four weeks

TEST(CalendarModel, MarkedDays)
{
    const auto cells = MonthCells(2024, 6, {20240605, 20240630, 20240705, 20230605});
    for (int i = 0; i < 42; ++i) {
        const bool marked = i == 10 || i == 35;
        EXPECT_EQ(cells[size_t(i)].marked, marked) << i;
    }
}

TEST(CalendarModel, BadMonthHidesEverything)
{
    for (auto [y, m] : {std::pair{2024, 0}, std::pair{2024, 13}, std::pair{0, 5}, std::pair{-4, 5}}) {
        const auto cells = MonthCells(y, m, {});
        for (const auto& c : cells) EXPECT_FALSE(c.visible);
    }
}

}  // namespace
}  // namespace velmor
