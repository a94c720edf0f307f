// The telemetry charts beside the map: speed over the played time, the
// G-sensor events of the played span, and temperature (which recordings do
// not carry).
#pragma once

#include <QPoint>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "player/search/EventFile.h"
#include "player/workspace/SpeedGraphModel.h"

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;
class QBarSet;
class QBarCategoryAxis;
class QLabel;
class QTreeWidget;
class QMenu;

namespace velmor {

class CLanguageTable;

class CSpeedGraphWnd : public QWidget {  // "SpeedGraphChild"
    Q_OBJECT
public:
    explicit CSpeedGraphWnd(QWidget* parent = nullptr);
    // On the user-interface thread; points come from the recording only.
    void AddPoint(double seconds, double value);  // x seconds (shown as minutes), y km/h
    void Clear();
    std::vector<std::pair<double, double>> Points() const;  // [minutes, value]
    std::pair<double, double> Range() const;                // argument axis range, minutes

    QChart* Chart() const;
    QLineSeries* Series() const { return m_series; }

private:
    CSpeedGraphModel m_model;
    QChartView* m_view = nullptr;
    QLineSeries* m_series = nullptr;
    QValueAxis* m_axisX = nullptr;
};

class CGSensorWnd : public QWidget {
    Q_OBJECT
public:
    explicit CGSensorWnd(QWidget* parent = nullptr);
    ~CGSensorWnd() override;
    void SetEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to);  // player/search/EventFile.h

    // Texts of the menu, the list headers and the chart's categories.
    void Relabel(const CLanguageTable& language);
    // Makes the options menu (skin/GSensorMenu.ui); by default it is read
    // from the skin folder of the running program.
    void SetMenuLoader(std::function<QWidget*(QWidget* parent)> load);
    // Shows the options menu at a screen position (the page's right click
    // on its G-sensor option); returns it.
    QWidget* ShowMenu(const QPoint& globalPos);

    // The event types shown (all G-sensor kinds at first).
    std::set<uint8_t> Shown() const { return m_shown; }
    void SetShown(std::set<uint8_t> types);
    const std::vector<EventRecord>& Listed() const { return m_listed; }
    QTreeWidget* List() const { return m_list; }
    QBarSet* Counts() const { return m_counts; }

private:
    void Refresh();

    std::vector<EventRecord> m_events;
    uint32_t m_from = 0, m_to = 0;
    std::set<uint8_t> m_shown;
    std::vector<EventRecord> m_listed;
    std::function<QWidget*(QWidget*)> m_loadMenu;
    QWidget* m_menu = nullptr;
    QTreeWidget* m_list = nullptr;
    QChartView* m_view = nullptr;
    QBarSet* m_counts = nullptr;
    QBarCategoryAxis* m_kinds = nullptr;
    QValueAxis* m_axisY = nullptr;
    std::vector<QString> m_kindTexts;
    std::unique_ptr<CLanguageTable> m_language;  // the texts last shown
};

// The IO and urgent alarms of the played span: alarm inputs and urgent
// alarms, as the tab's menu chooses them (both at first).
class CIoAlarmWnd : public QWidget {
    Q_OBJECT
public:
    explicit CIoAlarmWnd(QWidget* parent = nullptr);
    void SetEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to);
    void Relabel(const CLanguageTable& language);
    // The tab's menu at a screen position: one checkable item per kind.
    QMenu* ShowMenu(const QPoint& globalPos);
    std::set<uint8_t> Shown() const { return m_shown; }
    void SetShown(std::set<uint8_t> types);
    const std::vector<EventRecord>& Listed() const { return m_listed; }
    QTreeWidget* List() const { return m_list; }

private:
    void Refresh();

    std::vector<EventRecord> m_events;
    uint32_t m_from = 0, m_to = 0;
    std::set<uint8_t> m_shown;
    std::vector<EventRecord> m_listed;
    QTreeWidget* m_list = nullptr;
    std::vector<QString> m_kindTexts;
};

class CTemperatureWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kNoValuesKey = "Driving_T_NoTemperature";
    explicit CTemperatureWnd(QWidget* parent = nullptr);
    void Relabel(const CLanguageTable& language);
    QString Text() const;

private:
    QLabel* m_label = nullptr;
};

}  // namespace velmor
