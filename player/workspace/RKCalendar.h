// The month calendar that marks the days holding recordings ("calendarwnd").
#pragma once

#include <QWidget>

#include <functional>
#include <set>

namespace velmor {

class CUiHost;

class CRKCalendar : public QWidget {
public:
    explicit CRKCalendar(CUiHost& host, QWidget* parent = nullptr);  // layout skin/Calendar.ui
    void SetMarkedDays(std::set<int> days);    // days holding recordings, YYYYMMDD
    void ShowMonth(int year, int month);
    void SelectDay(int year, int month, int day);  // shows its month too
    int Year() const;
    int Month() const;
    void SetOnDayClicked(std::function<void(int year, int month, int day)> fn);  // only marked days
    void Relabel();                            // texts in the current language

    // Kept by the stand-in until the real control arrives.
    std::set<int> m_days;
    int m_year = 2000, m_month = 1, m_day = 1;
    std::function<void(int, int, int)> m_onDay;
};

}  // namespace velmor
