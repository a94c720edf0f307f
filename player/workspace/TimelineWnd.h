// The day's recordings per channel as bars on a zoomable time scale, with a
// cursor and two range marks; the page embeds it as "TimelineChild".
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "index/format/SearchRecord.h"

namespace velmor {

class CRKTimelineWnd : public QWidget {
public:
    explicit CRKTimelineWnd(QWidget* parent = nullptr);
    // One row per channel (channel n on row n-1; rows raised to 4 / 8), one bar per record;
    // the caller passes the records of ONE day (a record running past midnight ends at 24:00:00).
    void ShowTimelineWndByFile(const std::map<int, std::vector<StSearchRecord_t>>& channels);
    void Clear();                              // 4 empty rows
    int CursorTime() const;                    // seconds of the day under the cursor
    void SetCursorTime(int secondsOfDay);
    std::pair<int, int> MarkedRange() const;   // the two range marks, seconds of the day, first <= second
    void SetMarkedRange(int from, int to);
    void SetLabel(const QString& label);       // cursor text prefix
    int Zoom() const;
    void ZoomIn();
    void ZoomOut();
    void SetOnDoubleClick(std::function<void(int secondsOfDay)> fn);
    void SetOnCursorMoved(std::function<void(int secondsOfDay)> fn);

    // Kept by the stand-in until the real control arrives.
    std::map<int, std::vector<StSearchRecord_t>> m_records;
    int m_cursor = 0;
    std::pair<int, int> m_marked{0, 0};
    QString m_label;
    int m_zoom = 1;
    std::function<void(int)> m_onDoubleClick, m_onCursorMoved;
};

}  // namespace velmor
