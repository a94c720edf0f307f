// The points of the speed graph and the argument range that shows them.
// Times arrive in seconds and are kept in minutes; the range starts at
// 0..60 minutes and grows by whole hours so that every point stays visible.
#pragma once

#include <utility>
#include <vector>

namespace velmor {

class CSpeedGraphModel {
public:
    static constexpr double kSpan = 60.0;  // minutes

    // Adds (seconds / 60, value). False, and nothing added, for a negative
    // or non-finite time or a non-finite value. `rangeChanged` tells whether
    // the point moved the range maximum.
    bool AddPoint(double seconds, double value, bool* rangeChanged = nullptr);
    void Clear();

    const std::vector<std::pair<double, double>>& Points() const { return m_points; }
    std::pair<double, double> Range() const { return {m_min, m_max}; }

    // The range maximum after a point at `x` minutes: `max` itself while x
    // lies in [min, max], else the next multiple of kSpan above x counted
    // from `min` (61.7 with 0..60 gives 120; exactly 120 gives 180).
    static double GrownMaximum(double min, double max, double x);

private:
    std::vector<std::pair<double, double>> m_points;
    double m_min = 0.0;
    double m_max = kSpan;
};

}  // namespace velmor
