#include "player/workspace/CalendarModel.h"

#include <cstddef>

namespace velmor {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

int WeekdayOf(int year, int month, int day)
{
    // Counting March as the first month puts the leap day at the end of the
    // counted year, so whole years add 365 days plus their leap days.
    static constexpr int kOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    const int w = (year + year / 4 - year / 100 + year / 400 + kOffset[(month - 1) % 12] + day) % 7;
    return w < 0 ? w + 7 : w;
}

std::array<CalendarCell, 42> MonthCells(int year, int month, const std::set<int>& marked)
{
    std::array<CalendarCell, 42> cells{};
    const int days = DaysInMonth(year, month);
    if (days == 0 || year < 1) return cells;
    const int first = WeekdayOf(year, month, 1);
    for (int d = 1; d <= days; ++d) {
        CalendarCell& c = cells[std::size_t(first + d - 1)];
        c.visible = true;
        c.day = d;
        c.marked = marked.count(year * 10000 + month * 100 + d) > 0;
    }
    return cells;
}

}  // namespace velmor
