// The calendar of the driving-record page ("calendarwnd"): a year row,
// twelve month buttons and six weeks of day cells from Sunday, with the days
// that hold recordings marked green. Layout skin/Calendar.ui.
#pragma once

#include <QWidget>

#include <functional>
#include <set>

#include "player/ui/UiHost.h"
#include "player/workspace/CalendarModel.h"

namespace velmor {

inline constexpr unsigned kCalendarMarkedColour = 0xFF00FF00;  // ARGB
inline constexpr unsigned kCalendarPlainColour = 0x80000000;

class CRKCalendar : public QWidget {
public:
    explicit CRKCalendar(CUiHost& host, QWidget* parent = nullptr);

    void SetMarkedDays(std::set<int> days);  // YYYYMMDD
    void ShowMonth(int year, int month);
    void SelectDay(int year, int month, int day);
    int Year() const { return m_year; }
    int Month() const { return m_month; }
    int SelectedDay() const { return m_day; }
    void SetOnDayClicked(std::function<void(int year, int month, int day)> fn) { m_onDay = std::move(fn); }
    void Relabel();

    // The control notifications of the layout, as a click sends them.
    void OnNotify(const QString& control, const QString& notification);
    QWidget* Root() const { return m_root; }

private:
    void Refresh();
    static void Paint(QWidget* background, bool marked);

    CUiHost& m_host;
    QWidget* m_root = nullptr;
    std::set<int> m_marked;
    int m_year = 2000, m_month = 1, m_day = 0;
    std::function<void(int, int, int)> m_onDay;
};

}  // namespace velmor
