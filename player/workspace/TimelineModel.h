// The timeline's geometry without widgets: where a time of the day lies on
// the drawing, which time a pixel stands for, the cursor, the zoom and the
// channel rows with their bars. The widgets paint what this holds; the
// search thread may fill it while the user-interface thread paints, so every
// member is guarded by one mutex.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "index/format/SearchRecord.h"

namespace velmor {

inline constexpr int kTimelineMargin = 20;   // column of row numbers, not scrolled
inline constexpr int kTimelineScale = 24;    // height of the time scale
inline constexpr int kTimelineBottom = 20;   // space under the last row
inline constexpr int kDaySeconds = 86400;
inline constexpr int kMinZoom = 1;
inline constexpr int kMaxZoom = 15;

struct TimelineBar {
    int x1 = 0, x2 = 0;        // pixels from the margin
    int start = 0, end = 0;    // seconds of the day, clipped to the view
    uint32_t value = 0;
};

class CTimelineModel {
public:
    // The client width the drawing is laid out for.
    void SetClientWidth(int width);
    int ClientWidth() const;
    // zoom x (client width - margin); 0 while there is no room to draw.
    int DrawWidth() const;

    // Pixel column (client x at scroll 0) of a time of the day; 0 without room to draw.
    int Position(int t) const;
    // The time a client x stands for, with the scroll offset in force.
    int TimeOfX(int x) const;

    void SetScrollOffset(int offset);
    int ScrollOffset() const;

    void SetCursor(int t);
    // A click at client x: the cursor goes under the pointer.
    void SetCursorFromClientX(int x);
    // Moves the cursor to x pixels from the margin (drawing coordinates).
    void SetCursorX(int x);
    int CursorTime() const;
    int CursorX() const;

    // Rows grow or shrink to `count` (0..255), new rows empty.
    void SetRows(int count);
    int RowCount() const;
    std::vector<std::vector<TimelineBar>> Rows() const;
    // False when dropped: no such row, empty bar, or outside the view.
    bool AddBar(int row, int start, int end, uint32_t value);
    // No bars, 4 empty rows.
    void Clear();
    // The whole day, positions recomputed.
    void ResetView();
    void SetView(int start, int end);
    int ViewStart() const;
    int ViewEnd() const;

    // False (nothing changes) outside 1..15.
    bool SetZoom(int zoom);
    int Zoom() const;

    // Rows for a result: at least every channel number present, then raised
    // to 4 below 5 and to 8 from 5 to 8.
    static int RowsFor(const std::map<int, std::vector<StSearchRecord_t>>& channels);
    static int RowsFor(int channels);

    // Rows, bars and cursor from the records of one day; the log lines of
    // the records in order.
    std::vector<std::string> Fill(const std::map<int, std::vector<StSearchRecord_t>>& channels);

private:
    int PositionLocked(int t) const;
    int DrawWidthLocked() const;
    void SetCursorLocked(int t);
    void Recompute();

    mutable std::mutex m_mutex;
    int m_width = 0;
    int m_viewStart = 0, m_viewEnd = 100;
    int m_zoom = 1;
    int m_scroll = 0;
    int m_cursorTime = 0;
    int m_cursorX = 0;
    std::vector<std::vector<TimelineBar>> m_rows;
};

// The trace line of one record, with its line feed.
std::string RecordLogLine(const StSearchRecord_t& record);

// Seconds of the day of a recorder time (taken as UTC), and its day as YYYYMMDD.
int SecondsOfDay(uint32_t t);
int DayOf(uint32_t t);

}  // namespace velmor
