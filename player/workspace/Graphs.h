// The telemetry charts beside the map: speed, G-sensor and temperature.
#pragma once

#include <QWidget>

#include <cstdint>
#include <utility>
#include <vector>

#include "player/search/EventFile.h"

namespace velmor {

class CSpeedGraphWnd : public QWidget {
public:
    explicit CSpeedGraphWnd(QWidget* parent = nullptr);
    void AddPoint(double seconds, double value);  // x seconds (shown as minutes), y km/h
    void Clear();
    std::vector<std::pair<double, double>> Points() const;  // [minutes, value]
    std::pair<double, double> Range() const;                // argument axis range, minutes

    // Kept by the stand-in until the real chart arrives.
    std::vector<std::pair<double, double>> m_points;
};

class CGSensorWnd : public QWidget {
public:
    explicit CGSensorWnd(QWidget* parent = nullptr);
    void SetEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to);
};

class CTemperatureWnd : public QWidget {
public:
    explicit CTemperatureWnd(QWidget* parent = nullptr);
};

}  // namespace velmor
