// Plain stand-ins for the map page and charts, so that
// the page builds and its tests run before the real controls land. They
// only keep what they are given.
#include <algorithm>

#include "player/workspace/Graphs.h"
#include "player/workspace/MapPageWnd.h"

namespace velmor {

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
