// Plain stand-ins for the timeline, calendar, map page and charts, so that
// the page builds and its tests run before the real controls land. They
// only keep what they are given.
#include <algorithm>

#include "player/workspace/Graphs.h"
#include "player/workspace/MapPageWnd.h"
#include "player/workspace/RKCalendar.h"
#include "player/workspace/TimelineWnd.h"

namespace velmor {

CRKTimelineWnd::CRKTimelineWnd(QWidget* parent) : QWidget(parent) { setObjectName("TimelineChild"); }
void CRKTimelineWnd::ShowTimelineWndByFile(const std::map<int, std::vector<StSearchRecord_t>>& channels)
{
    m_records = channels;
}
void CRKTimelineWnd::Clear() { m_records.clear(); }
int CRKTimelineWnd::CursorTime() const { return m_cursor; }
void CRKTimelineWnd::SetCursorTime(int secondsOfDay) { m_cursor = std::clamp(secondsOfDay, 0, 86400); }
std::pair<int, int> CRKTimelineWnd::MarkedRange() const { return m_marked; }
void CRKTimelineWnd::SetMarkedRange(int from, int to) { m_marked = {std::min(from, to), std::max(from, to)}; }
void CRKTimelineWnd::SetLabel(const QString& label) { m_label = label; }
int CRKTimelineWnd::Zoom() const { return m_zoom; }
void CRKTimelineWnd::ZoomIn() { m_zoom = std::min(m_zoom + 1, 15); }
void CRKTimelineWnd::ZoomOut() { m_zoom = std::max(m_zoom - 1, 1); }
void CRKTimelineWnd::SetOnDoubleClick(std::function<void(int)> fn) { m_onDoubleClick = std::move(fn); }
void CRKTimelineWnd::SetOnCursorMoved(std::function<void(int)> fn) { m_onCursorMoved = std::move(fn); }

CRKCalendar::CRKCalendar(CUiHost&, QWidget* parent) : QWidget(parent) { setObjectName("calendarwnd"); }
void CRKCalendar::SetMarkedDays(std::set<int> days) { m_days = std::move(days); }
void CRKCalendar::ShowMonth(int year, int month)
{
    m_year = year;
    m_month = month;
}
void CRKCalendar::SelectDay(int year, int month, int day)
{
    ShowMonth(year, month);
    m_day = day;
}
int CRKCalendar::Year() const { return m_year; }
int CRKCalendar::Month() const { return m_month; }
void CRKCalendar::SetOnDayClicked(std::function<void(int, int, int)> fn) { m_onDay = std::move(fn); }
void CRKCalendar::Relabel() {}

CMapPageWnd::CMapPageWnd(QWidget* parent) : QWidget(parent) { setObjectName("DrivingCEFmapInfo"); }
void CMapPageWnd::LoadMapPage(const MapPageOptions&) { m_page = "run"; }
void CMapPageWnd::RunScript(const std::string& script)
{
    m_scripts.push_back(script);
    if (m_scripts.size() > 200) m_scripts.erase(m_scripts.begin());
}
bool CMapPageWnd::Loaded() const { return true; }
std::string CMapPageWnd::Page() const { return m_page; }
std::vector<std::string> CMapPageWnd::Scripts() const { return m_scripts; }
void CMapPageWnd::SetTool(int tool) { m_tool = tool; }

CSpeedGraphWnd::CSpeedGraphWnd(QWidget* parent) : QWidget(parent) { setObjectName("SpeedGraphChild"); }
void CSpeedGraphWnd::AddPoint(double seconds, double value) { m_points.emplace_back(seconds / 60.0, value); }
void CSpeedGraphWnd::Clear() { m_points.clear(); }
std::vector<std::pair<double, double>> CSpeedGraphWnd::Points() const { return m_points; }
std::pair<double, double> CSpeedGraphWnd::Range() const
{
    double high = 60;
    for (const auto& p : m_points) high = std::max(high, p.first);
    return {0, high};
}

CGSensorWnd::CGSensorWnd(QWidget* parent) : QWidget(parent) {}
void CGSensorWnd::SetEvents(const std::vector<EventRecord>&, uint32_t, uint32_t) {}

CTemperatureWnd::CTemperatureWnd(QWidget* parent) : QWidget(parent) {}

}  // namespace velmor
