#include "player/workspace/TimelineModel.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace velmor {

void CTimelineModel::SetClientWidth(int width)
{
    std::lock_guard lock(m_mutex);
    if (width == m_width) return;
    m_width = std::max(0, width);
    Recompute();
}

int CTimelineModel::ClientWidth() const
{
    std::lock_guard lock(m_mutex);
    return m_width;
}

int CTimelineModel::DrawWidthLocked() const
{
    return m_width > kTimelineMargin ? (m_width - kTimelineMargin) * m_zoom : 0;
}

int CTimelineModel::DrawWidth() const
{
    std::lock_guard lock(m_mutex);
    return DrawWidthLocked();
}

int CTimelineModel::PositionLocked(int t) const
{
    const int64_t span = int64_t(m_viewEnd) - m_viewStart;
    if (m_width <= kTimelineMargin || span <= 0) return 0;
    if (t < m_viewStart) return kTimelineMargin;
    const int64_t w = m_width - kTimelineMargin;
    return int(w * (std::min(t, m_viewEnd) - int64_t(m_viewStart)) * m_zoom / span + kTimelineMargin);
}

int CTimelineModel::Position(int t) const
{
    std::lock_guard lock(m_mutex);
    return PositionLocked(t);
}

int CTimelineModel::TimeOfX(int x) const
{
    std::lock_guard lock(m_mutex);
    const int64_t drawWidth = DrawWidthLocked();
    if (drawWidth <= 0) return m_viewStart;
    // The pointer's place on the drawing; outside it the ends of the view.
    const int64_t p = int64_t(m_scroll) + x - kTimelineMargin;
    if (p < 0) return m_viewStart;
    if (p >= drawWidth) return m_viewEnd;
    return int(p * (int64_t(m_viewEnd) - m_viewStart) / drawWidth + m_viewStart);
}

void CTimelineModel::SetScrollOffset(int offset)
{
    std::lock_guard lock(m_mutex);
    m_scroll = std::max(0, offset);
}

int CTimelineModel::ScrollOffset() const
{
    std::lock_guard lock(m_mutex);
    return m_scroll;
}

void CTimelineModel::SetCursorLocked(int t)
{
    const int64_t drawWidth = DrawWidthLocked();
    if (t <= m_viewStart) {
        m_cursorX = 0;
        m_cursorTime = m_viewStart;
    } else if (t >= m_viewEnd) {
        m_cursorX = int(drawWidth);
        m_cursorTime = m_viewEnd;
    } else {
        m_cursorX = int(drawWidth * (int64_t(t) - m_viewStart) / (int64_t(m_viewEnd) - m_viewStart));
        m_cursorTime = t;
    }
}

void CTimelineModel::SetCursor(int t)
{
    std::lock_guard lock(m_mutex);
    SetCursorLocked(t);
}

void CTimelineModel::SetCursorX(int x)
{
    std::lock_guard lock(m_mutex);
    const int drawWidth = DrawWidthLocked();
    m_cursorX = std::clamp(x, 0, drawWidth);
    m_cursorTime = drawWidth > 0 ? int(int64_t(m_cursorX) * (int64_t(m_viewEnd) - m_viewStart) / drawWidth + m_viewStart)
                                 : m_viewStart;
}

void CTimelineModel::SetCursorFromClientX(int x)
{
    SetCursorX(ScrollOffset() + x - kTimelineMargin);
}

int CTimelineModel::CursorTime() const
{
    std::lock_guard lock(m_mutex);
    return m_cursorTime;
}

int CTimelineModel::CursorX() const
{
    std::lock_guard lock(m_mutex);
    return m_cursorX;
}

void CTimelineModel::SetRows(int count)
{
    std::lock_guard lock(m_mutex);
    m_rows.resize(size_t(std::clamp(count, 0, 255)));
}

int CTimelineModel::RowCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_rows.size());
}

std::vector<std::vector<TimelineBar>> CTimelineModel::Rows() const
{
    std::lock_guard lock(m_mutex);
    return m_rows;
}

bool CTimelineModel::AddBar(int row, int start, int end, uint32_t value)
{
    std::lock_guard lock(m_mutex);
    if (row < 0 || row >= int(m_rows.size()) || start >= end || start > m_viewEnd || end < m_viewStart) return false;
    TimelineBar bar;
    bar.start = std::max(start, m_viewStart);
    bar.end = std::min(end, m_viewEnd);
    bar.value = value;
    bar.x1 = PositionLocked(bar.start) - kTimelineMargin;
    bar.x2 = PositionLocked(bar.end) - kTimelineMargin;
    m_rows[size_t(row)].push_back(bar);
    return true;
}

void CTimelineModel::Clear()
{
    std::lock_guard lock(m_mutex);
    m_rows.clear();
    m_rows.resize(4);
}

void CTimelineModel::Recompute()
{
    for (auto& row : m_rows)
        for (auto& bar : row) {
            bar.x1 = PositionLocked(bar.start) - kTimelineMargin;
            bar.x2 = PositionLocked(bar.end) - kTimelineMargin;
        }
    SetCursorLocked(m_cursorTime);
}

void CTimelineModel::ResetView()
{
    SetView(0, kDaySeconds);
}

void CTimelineModel::SetView(int start, int end)
{
    std::lock_guard lock(m_mutex);
    if (start >= end) return;
    m_viewStart = start;
    m_viewEnd = end;
    Recompute();
}

int CTimelineModel::ViewStart() const
{
    std::lock_guard lock(m_mutex);
    return m_viewStart;
}

int CTimelineModel::ViewEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_viewEnd;
}

bool CTimelineModel::SetZoom(int zoom)
{
    std::lock_guard lock(m_mutex);
    if (zoom < kMinZoom || zoom > kMaxZoom) return false;
    if (zoom == m_zoom) return true;
    m_zoom = zoom;
    Recompute();
    return true;
}

int CTimelineModel::Zoom() const
{
    std::lock_guard lock(m_mutex);
    return m_zoom;
}

int CTimelineModel::RowsFor(int channels)
{
    if (channels < 5) return 4;
    if (channels <= 8) return 8;
    return std::min(channels, 255);
}

int CTimelineModel::RowsFor(const std::map<int, std::vector<StSearchRecord_t>>& channels)
{
    // Channel n is drawn on row n-1: a result of channels 1 and 7 needs 7
    // rows, not 2, or channel 7 would vanish.
    int rows = int(channels.size());
    for (const auto& [channel, records] : channels) rows = std::max(rows, std::min(channel, 255));
    return RowsFor(rows);
}

std::vector<std::string> CTimelineModel::Fill(const std::map<int, std::vector<StSearchRecord_t>>& channels)
{
    std::vector<std::string> lines;
    Clear();
    SetRows(RowsFor(channels));
    ResetView();
    int earliest = kDaySeconds;
    bool any = false;
    for (const auto& [channel, records] : channels) {
        for (const auto& r : records) {
            lines.push_back(RecordLogLine(r));
            const uint32_t begin = r.beginTime.get(), end = r.endTime.get();
            const int start = SecondsOfDay(begin);
            // A recording that runs past midnight ends at 24:00:00 on this day.
            const int stop = DayOf(end) != DayOf(begin) && end > begin ? kDaySeconds : SecondsOfDay(end);
            if (AddBar(channel - 1, start, stop, 255)) {
                earliest = std::min(earliest, start);
                any = true;
            }
        }
    }
    SetCursor(any ? earliest : 0);
    return lines;
}

std::string RecordLogLine(const StSearchRecord_t& r)
{
    char line[256];
    const std::string label(LabelOf(r));
    std::snprintf(line, sizeof line,
                  "car_num:%s,chnno:%u,diskno:%u,endtime:%u,fileno:%u,imageformat:%u,offset:%u,ptn_no:%u,size:%u,"
                  "start_time:%u,stream_flag:%u,type:%u\n",
                  label.c_str(), unsigned(r.channel), unsigned(r.diskNo), r.endTime.get(), unsigned(r.fileNo.get()),
                  unsigned(r.byte1), r.beginOffset.get(), unsigned(r.folderNo), r.length.get(),
                  r.beginTime.get(), unsigned(r.byte2), unsigned(r.flags));
    return line;
}

int SecondsOfDay(uint32_t t)
{
    return int(t % uint32_t(kDaySeconds));
}

int DayOf(uint32_t t)
{
    const time_t v = time_t(t);
    struct tm tm {};
    gmtime_r(&v, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

}  // namespace velmor
