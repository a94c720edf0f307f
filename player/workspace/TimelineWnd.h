// The timeline of one day: CTimelineWnd draws the scale, the channel rows,
// their bars, the two range marks and the cursor, and handles the mouse;
// CMyTimelineWnd adds the horizontal scroll bar and the zoom; CRKTimelineWnd
// is the control the driving-record page embeds ("TimelineChild").
#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "index/format/SearchRecord.h"
#include "player/workspace/TimelineModel.h"

class QScrollBar;
class QTimer;
class QToolButton;

namespace velmor {

inline constexpr int kTimerScrollLeft = 20001;      // 10 pixels
inline constexpr int kTimerScrollRight = 20002;     // 10 pixels
inline constexpr int kTimerScrollLeftFar = 20003;   // 100 pixels
inline constexpr int kTimerScrollRightFar = 20004;  // 100 pixels
inline constexpr int kCmdZoomIn = 1004;
inline constexpr int kCmdZoomOut = 1005;

class CTimelineWnd : public QWidget {
public:
    explicit CTimelineWnd(QWidget* parent = nullptr);

    CTimelineModel& Model() { return m_model; }
    const CTimelineModel& Model() const { return m_model; }

    void SetLabel(const QString& label);
    void SetMarks(int from, int to);  // seconds of the day
    std::pair<int, int> Marks() const;
    // The scroll offset, as the scroll bar sets it.
    void SetScrollOffset(int offset);
    // The window asks its holder to scroll (edge auto-scroll); the holder
    // moves its scroll bar, which sets the offset back.
    void SetOnScrollRequest(std::function<void(int offset)> fn) { m_onScrollRequest = std::move(fn); }
    void SetOnCursorMoved(std::function<void(int)> fn) { m_onCursorMoved = std::move(fn); }
    void SetOnDoubleClick(std::function<void(int)> fn) { m_onDoubleClick = std::move(fn); }

    // The whole picture as painted (for tests and screenshots).
    QImage Render() const;
    // The auto-scroll timer running now (20001..20004), 0 when none.
    int AutoScrollTimer() const { return m_autoScrollId; }
    // One step of an auto-scroll timer, as its tick does it.
    void AutoScrollStep(int timerId);
    int HoveredRow() const { return m_hoveredRow; }

    enum class EDrag { kNone, kLeftMark, kRightMark, kCursor };
    EDrag Dragging() const { return m_drag; }

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    QImage Draw() const;  // the whole drawing, zoom x (width - margin) + margin wide
    int MarkX(int t) const;
    void StartAutoScroll(int id);
    void StopAutoScroll();
    void Release();

    CTimelineModel m_model;
    QString m_label;
    int m_markFrom = 0, m_markTo = 0;
    int m_lastY = -1;
    mutable int m_hoveredRow = -1;
    EDrag m_drag = EDrag::kNone;
    int m_autoScrollId = 0;
    QTimer* m_autoScroll = nullptr;
    std::function<void(int)> m_onScrollRequest;
    std::function<void(int)> m_onCursorMoved;
    std::function<void(int)> m_onDoubleClick;
};

class CMyTimelineWnd : public QWidget {
public:
    explicit CMyTimelineWnd(QWidget* parent = nullptr);
    CTimelineWnd* Timeline() const { return m_timeline; }
    QScrollBar* ScrollBar() const { return m_scroll; }
    void ZoomIn();
    void ZoomOut();
    void SetZoom(int zoom);
    // The zoom buttons' commands (1004 in, 1005 out).
    void OnCommand(int id);

protected:
    void wheelEvent(QWheelEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void UpdateScrollBar();

    CTimelineWnd* m_timeline;
    QScrollBar* m_scroll;
    QToolButton* m_zoomIn;
    QToolButton* m_zoomOut;
};

class CRKTimelineWnd : public QWidget {
public:
    explicit CRKTimelineWnd(QWidget* parent = nullptr);

    // One row per channel (channel n on row n-1; rows raised to 4 / 8), one
    // bar per record of ONE day; a record running past midnight ends at 24:00:00.
    // Safe from the search thread: the repaint is queued.
    void ShowTimelineWndByFile(const std::map<int, std::vector<StSearchRecord_t>>& channels);
    void Clear();
    int CursorTime() const;
    void SetCursorTime(int secondsOfDay);
    std::pair<int, int> MarkedRange() const;
    void SetMarkedRange(int from, int to);
    void SetLabel(const QString& label);
    int Zoom() const;
    void ZoomIn();
    void ZoomOut();
    void SetOnDoubleClick(std::function<void(int secondsOfDay)> fn);
    void SetOnCursorMoved(std::function<void(int secondsOfDay)> fn);

    CMyTimelineWnd* Holder() const { return m_holder; }
    CTimelineWnd* Timeline() const { return m_holder->Timeline(); }

private:
    CMyTimelineWnd* m_holder;
};

}  // namespace velmor
