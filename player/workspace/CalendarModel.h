// The month grid of the calendar: six weeks of seven days from Sunday,
// worked out by arithmetic so that any year of the Gregorian calendar shows.
#pragma once

#include <array>
#include <set>

namespace velmor {

struct CalendarCell {
    bool visible = false;
    int day = 0;          // 1..31 when visible
    bool marked = false;  // the day holds recordings
};

bool IsLeapYear(int year);
// 0 for a month outside 1..12.
int DaysInMonth(int year, int month);
// 0 = Sunday .. 6 = Saturday.
int WeekdayOf(int year, int month, int day);
// Cells 0..41; `marked` holds days as YYYYMMDD. All hidden for a bad month.
std::array<CalendarCell, 42> MonthCells(int year, int month, const std::set<int>& marked);

}  // namespace velmor
