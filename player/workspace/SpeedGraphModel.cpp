#include "player/workspace/SpeedGraphModel.h"

#include <cmath>

namespace velmor {

double CSpeedGraphModel::GrownMaximum(double min, double max, double x)
{
    if (x >= min && x <= max) return max;
    if (x < min) return max;  // times before the range start are not drawn wider
    return min + kSpan * (std::floor((x - min) / kSpan) + 1.0);
}

bool CSpeedGraphModel::AddPoint(double seconds, double value, bool* rangeChanged)
{
    if (rangeChanged) *rangeChanged = false;
    if (!std::isfinite(seconds) || !std::isfinite(value) || seconds < 0) return false;
    const double x = seconds / 60.0;
    m_points.emplace_back(x, value);
    const double grown = GrownMaximum(m_min, m_max, x);
    if (grown != m_max) {
        m_max = grown;
        if (rangeChanged) *rangeChanged = true;
    }
    return true;
}

void CSpeedGraphModel::Clear()
{
    m_points.clear();
    m_min = 0.0;
    m_max = kSpan;
}

}  // namespace velmor
