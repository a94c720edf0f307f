#include "player/workspace/TimelineWnd.h"

#include <QHBoxLayout>
#include <QImage>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

#include "common/Trace.h"

namespace velmor {

namespace {

const QColor kBackground(30, 30, 30);
const QColor kScaleText(150, 150, 150);
const QColor kTickPen(100, 100, 100);
const QColor kLongTickPen(187, 2, 80);
const QColor kRowPen(43, 132, 103);
const QColor kBarColour(10, 99, 198);
const QColor kMarkColour(255, 200, 0);
constexpr int kHitSlop = 4;
constexpr int kEdge = 10;       // pixels from an edge where the slow auto-scroll starts
constexpr int kAutoScrollMs = 50;

QString Clock(int t)
{
    return QString::asprintf("%02d:%02d:%02d", t / 3600, t / 60 % 60, t % 60);
}

bool TimelineTraceOn()
{
    static CTraceSwitch s_switch("LangList", "Debug", 3600);
    return s_switch.Value() == 1;
}

}  // namespace

CTimelineWnd::CTimelineWnd(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumHeight(kTimelineScale + kTimelineBottom + 40);
    m_autoScroll = new QTimer(this);
    m_autoScroll->setInterval(kAutoScrollMs);
    QObject::connect(m_autoScroll, &QTimer::timeout, this, [this] { AutoScrollStep(m_autoScrollId); });
    m_model.Clear();
}

void CTimelineWnd::SetLabel(const QString& label)
{
    m_label = label;
    update();
}

void CTimelineWnd::SetMarks(int from, int to)
{
    m_markFrom = std::clamp(std::min(from, to), 0, kDaySeconds);
    m_markTo = std::clamp(std::max(from, to), 0, kDaySeconds);
    update();
}

std::pair<int, int> CTimelineWnd::Marks() const
{
    return {std::min(m_markFrom, m_markTo), std::max(m_markFrom, m_markTo)};
}

void CTimelineWnd::SetScrollOffset(int offset)
{
    m_model.SetScrollOffset(offset);
    update();
}

int CTimelineWnd::MarkX(int t) const
{
    const int p = m_model.Position(t);
    return p > 0 ? p : kTimelineMargin;
}

QImage CTimelineWnd::Draw() const
{
    const int drawWidth = m_model.DrawWidth();
    const int w = std::max(width(), drawWidth + kTimelineMargin);
    const int h = height();
    QImage img(std::max(1, w), std::max(1, h), QImage::Format_RGB32);
    img.fill(kBackground);
    if (drawWidth <= 0 || h <= kTimelineScale + kTimelineBottom) return img;

    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    QFont font = p.font();
    font.setPixelSize(11);
    p.setFont(font);

    // Scale: 24 steps over the view, labels on every fourth tick.
    const int viewStart = m_model.ViewStart(), viewEnd = m_model.ViewEnd();
    const int step = drawWidth / 24;
    for (int i = 0; i <= 24; ++i) {
        const int x = kTimelineMargin + i * step;
        if (i % 4 == 0) {
            p.setPen(QPen(kLongTickPen, 2));
            p.drawLine(x, kTimelineScale - 8, x, h - 15);
            if (i > 0) {
                const int t = i == 24 ? kDaySeconds : viewStart + int(int64_t(viewEnd - viewStart) * i / 24);
                p.setPen(kScaleText);
                const QString text = i == 24 ? QStringLiteral("24:00:00") : Clock(t);
                // Centred over its tick, but the last label stays whole at the right end.
                const int tw = p.fontMetrics().horizontalAdvance(text);
                const int left = std::min(x - tw / 2, w - tw - 1);
                p.drawText(QRect(left, 0, tw + 1, kTimelineScale - 8), Qt::AlignCenter, text);
            }
        } else if (i % 2 == 1) {
            p.setPen(QPen(kTickPen, 2));
            p.drawLine(x, kTimelineScale - 4, x, h - 10);
        } else {
            p.setPen(QPen(kTickPen, 2));
            p.drawLine(x, kTimelineScale - 4, x, kTimelineScale);
        }
    }

    // Rows and their bars.
    const auto rows = m_model.Rows();
    const int count = int(rows.size());
    m_hoveredRow = -1;
    if (count > 0) {
        const int rowH = (h - kTimelineScale - kTimelineBottom) / count;
        for (int r = 0; r < count; ++r) {
            const int top = kTimelineScale + r * rowH;
            p.setPen(QPen(kRowPen, 1));
            p.drawLine(0, top, w, top);
            p.setPen(kScaleText);
            p.drawText(QRect(0, top, kTimelineMargin, rowH), Qt::AlignCenter, QString::asprintf("%d", r + 1));
            if (m_lastY >= top && m_lastY < top + rowH) m_hoveredRow = r;
            for (const auto& bar : rows[size_t(r)]) {
                if (bar.start > bar.end) continue;
                int x1 = std::clamp(bar.x1, 0, drawWidth), x2 = std::clamp(bar.x2, 0, drawWidth);
                if (bar.start == bar.end) {
                    if (bar.start == 0) continue;
                    x2 = x1 + 1;
                }
                if (x2 <= x1) x2 = x1 + 1;  // a short recording still shows
                p.fillRect(QRect(kTimelineMargin + x1, top + 1, x2 - x1, rowH - 2), kBarColour);
            }
        }
        p.setPen(QPen(kRowPen, 1));
        p.drawLine(0, kTimelineScale + count * rowH, w, kTimelineScale + count * rowH);
    }

    // The two range marks: a line with a flag at the top of the rows.
    p.setPen(QPen(kMarkColour, 1));
    for (int t : {m_markFrom, m_markTo}) {
        const int x = MarkX(t);
        p.drawLine(x, kTimelineScale, x, h - 12);
        const QPoint flag[3] = {QPoint(x - 4, kTimelineScale), QPoint(x + 4, kTimelineScale), QPoint(x, kTimelineScale + 6)};
        p.setBrush(kMarkColour);
        p.drawPolygon(flag, 3);
    }

    // The cursor with its time, and its handle at the bottom.
    const int cx = kTimelineMargin + m_model.CursorX();
    p.setPen(QPen(Qt::white, 1));
    p.drawLine(cx, 20, cx, h);
    p.fillRect(QRect(cx - 3, h - 8, 7, 7), Qt::white);
    const int t = m_model.CursorTime();
    QString text = m_label.isEmpty() ? Clock(t) : m_label + "," + Clock(t);
    const int tw = p.fontMetrics().horizontalAdvance(text) + 4;
    const int scroll = m_model.ScrollOffset();
    const int visibleRight = scroll + width();
    int tx = cx - tw / 2;
    tx = std::max(scroll, std::min(tx, visibleRight - tw));
    tx = std::max(tx, 0);
    p.drawText(QRect(tx, kTimelineScale - 8, tw, 12), Qt::AlignCenter, text);
    return img;
}

QImage CTimelineWnd::Render() const
{
    const QImage full = Draw();
    QImage out(std::max(1, width()), std::max(1, height()), QImage::Format_RGB32);
    out.fill(kBackground);
    QPainter p(&out);
    const int scroll = m_model.ScrollOffset();
    // The drawing from the scroll offset; the row numbers stay put.
    p.drawImage(0, 0, full, scroll, 0, width(), height());
    p.drawImage(0, kTimelineScale, full, 0, kTimelineScale, kTimelineMargin, height() - kTimelineScale);
    return out;
}

void CTimelineWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.drawImage(0, 0, Render());
}

void CTimelineWnd::resizeEvent(QResizeEvent*)
{
    m_model.SetClientWidth(width());
}

void CTimelineWnd::mousePressEvent(QMouseEvent* e)
{
    const int x = int(e->position().x()), y = int(e->position().y());
    m_lastY = y;
    if (e->button() != Qt::LeftButton || y < kTimelineScale || x < kTimelineMargin) return;
    grabMouse();
    const int content = m_model.ScrollOffset() + x;
    const bool nearFrom = std::abs(content - MarkX(m_markFrom)) <= kHitSlop;
    const bool nearTo = std::abs(content - MarkX(m_markTo)) <= kHitSlop;
    const bool nearCursor = std::abs(content - (kTimelineMargin + m_model.CursorX())) <= kHitSlop;
    // Where a mark and the cursor overlap, the marks' flags take the marks
    // and the rest of the line takes the cursor.
    const bool onFlags = y < kTimelineScale + 12;
    if ((nearFrom || nearTo) && (onFlags || !nearCursor)) {
        m_drag = nearFrom ? EDrag::kLeftMark : EDrag::kRightMark;
    } else if (nearCursor) {
        m_drag = EDrag::kCursor;
    } else {
        m_model.SetCursorFromClientX(x);
        if (m_onCursorMoved) m_onCursorMoved(m_model.CursorTime());
    }
    update();
}

void CTimelineWnd::mouseMoveEvent(QMouseEvent* e)
{
    const int x = int(e->position().x()), y = int(e->position().y());
    m_lastY = y;
    if (m_drag == EDrag::kNone) {
        update();
        return;
    }
    if (y < 0 || y > height() || x < -kTimelineMargin || x > width() + kTimelineMargin) {
        Release();
        return;
    }
    const int t = m_model.TimeOfX(x);
    switch (m_drag) {
    case EDrag::kLeftMark: m_markFrom = t; break;
    case EDrag::kRightMark: m_markTo = t; break;
    case EDrag::kCursor:
        m_model.SetCursorFromClientX(x);
        if (m_onCursorMoved) m_onCursorMoved(m_model.CursorTime());
        break;
    case EDrag::kNone: break;
    }
    if (x < 0) StartAutoScroll(kTimerScrollLeftFar);
    else if (x < kTimelineMargin + kEdge) StartAutoScroll(kTimerScrollLeft);
    else if (x > width()) StartAutoScroll(kTimerScrollRightFar);
    else if (x > width() - kEdge) StartAutoScroll(kTimerScrollRight);
    else StopAutoScroll();
    update();
}

void CTimelineWnd::mouseReleaseEvent(QMouseEvent*)
{
    Release();
}

void CTimelineWnd::mouseDoubleClickEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && m_onDoubleClick) m_onDoubleClick(m_model.CursorTime());
}

void CTimelineWnd::Release()
{
    m_drag = EDrag::kNone;
    StopAutoScroll();
    if (QWidget::mouseGrabber() == this) releaseMouse();
    update();
}

void CTimelineWnd::StartAutoScroll(int id)
{
    if (m_autoScrollId == id) return;
    m_autoScrollId = id;
    m_autoScroll->start();
}

void CTimelineWnd::StopAutoScroll()
{
    m_autoScrollId = 0;
    m_autoScroll->stop();
}

void CTimelineWnd::AutoScrollStep(int timerId)
{
    int step = 0;
    switch (timerId) {
    case kTimerScrollLeft: step = -10; break;
    case kTimerScrollRight: step = 10; break;
    case kTimerScrollLeftFar: step = -100; break;
    case kTimerScrollRightFar: step = 100; break;
    default: return;
    }
    const int maxOffset = std::max(0, m_model.DrawWidth() - (width() - kTimelineMargin));
    const int offset = std::clamp(m_model.ScrollOffset() + step, 0, maxOffset);
    if (m_onScrollRequest) m_onScrollRequest(offset);
    else SetScrollOffset(offset);
    update();
}

CMyTimelineWnd::CMyTimelineWnd(QWidget* parent) : QWidget(parent)
{
    m_timeline = new CTimelineWnd(this);
    m_scroll = new QScrollBar(Qt::Horizontal, this);
    m_scroll->hide();
    m_zoomIn = new QToolButton(this);
    m_zoomIn->setObjectName("Timeline_Btn_ZoomIn");
    m_zoomIn->setText("+");
    m_zoomIn->setProperty("commandId", kCmdZoomIn);
    m_zoomOut = new QToolButton(this);
    m_zoomOut->setObjectName("Timeline_Btn_ZoomOut");
    m_zoomOut->setText("-");
    m_zoomOut->setProperty("commandId", kCmdZoomOut);
    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(m_zoomIn);
    buttons->addWidget(m_zoomOut);
    buttons->addStretch();
    auto* left = new QVBoxLayout;
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    left->addWidget(m_timeline, 1);
    left->addWidget(m_scroll);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addLayout(left, 1);
    row->addLayout(buttons);
    QObject::connect(m_zoomIn, &QToolButton::clicked, this, [this] { OnCommand(kCmdZoomIn); });
    QObject::connect(m_zoomOut, &QToolButton::clicked, this, [this] { OnCommand(kCmdZoomOut); });
    QObject::connect(m_scroll, &QScrollBar::valueChanged, this, [this](int v) { m_timeline->SetScrollOffset(v); });
    m_timeline->SetOnScrollRequest([this](int offset) {
        if (m_scroll->isVisible() || m_scroll->maximum() > 0) m_scroll->setValue(offset);
        else m_timeline->SetScrollOffset(offset);
    });
}

void CMyTimelineWnd::OnCommand(int id)
{
    if (id == kCmdZoomIn) ZoomIn();
    else if (id == kCmdZoomOut) ZoomOut();
}

void CMyTimelineWnd::ZoomIn()
{
    const int z = m_timeline->Model().Zoom();
    if (z <= kMaxZoom - 1) SetZoom(z + 1);
}

void CMyTimelineWnd::ZoomOut()
{
    const int z = m_timeline->Model().Zoom();
    if (z >= kMinZoom + 1) SetZoom(z - 1);
}

void CMyTimelineWnd::SetZoom(int zoom)
{
    if (!m_timeline->Model().SetZoom(zoom)) return;
    UpdateScrollBar();
    // Keep the cursor in sight: the new drawing scrolls to centre it.
    const int visible = m_timeline->width() - kTimelineMargin;
    m_scroll->setValue(std::clamp(m_timeline->Model().CursorX() - visible / 2, 0, m_scroll->maximum()));
    m_timeline->SetScrollOffset(m_scroll->value());
}

void CMyTimelineWnd::UpdateScrollBar()
{
    const int visible = std::max(0, m_timeline->width() - kTimelineMargin);
    const int maxOffset = std::max(0, m_timeline->Model().DrawWidth() - visible);
    m_scroll->setRange(0, maxOffset);
    m_scroll->setPageStep(std::max(1, visible));
    m_scroll->setSingleStep(10);
    const bool show = m_timeline->Model().Zoom() > 1;
    m_scroll->setVisible(show);
    if (!show) {
        m_scroll->setValue(0);
        m_timeline->SetScrollOffset(0);
    }
}

void CMyTimelineWnd::wheelEvent(QWheelEvent* e)
{
    const int dy = e->angleDelta().y();
    if (dy > 0) ZoomIn();
    else if (dy < 0) ZoomOut();
    e->accept();
}

void CMyTimelineWnd::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    m_timeline->Model().SetClientWidth(m_timeline->width());
    UpdateScrollBar();
}

CRKTimelineWnd::CRKTimelineWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("TimelineChild");
    m_holder = new CMyTimelineWnd(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_holder);
}

void CRKTimelineWnd::ShowTimelineWndByFile(const std::map<int, std::vector<StSearchRecord_t>>& channels)
{
    const auto lines = Timeline()->Model().Fill(channels);
    if (TimelineTraceOn())
        for (const auto& line : lines) TraceLine("RK-CLIENT:", __FILE__, __LINE__, __PRETTY_FUNCTION__, "%s", line.c_str());
    QMetaObject::invokeMethod(this, [this] { Timeline()->update(); }, Qt::QueuedConnection);
}

void CRKTimelineWnd::Clear()
{
    Timeline()->Model().Clear();
    Timeline()->update();
}

int CRKTimelineWnd::CursorTime() const
{
    return Timeline()->Model().CursorTime();
}

void CRKTimelineWnd::SetCursorTime(int secondsOfDay)
{
    Timeline()->Model().SetCursor(secondsOfDay);
    Timeline()->update();
}

std::pair<int, int> CRKTimelineWnd::MarkedRange() const
{
    return Timeline()->Marks();
}

void CRKTimelineWnd::SetMarkedRange(int from, int to)
{
    Timeline()->SetMarks(from, to);
}

void CRKTimelineWnd::SetLabel(const QString& label)
{
    Timeline()->SetLabel(label);
}

int CRKTimelineWnd::Zoom() const
{
    return Timeline()->Model().Zoom();
}

void CRKTimelineWnd::ZoomIn()
{
    m_holder->ZoomIn();
}

void CRKTimelineWnd::ZoomOut()
{
    m_holder->ZoomOut();
}

void CRKTimelineWnd::SetOnDoubleClick(std::function<void(int)> fn)
{
    Timeline()->SetOnDoubleClick(std::move(fn));
}

void CRKTimelineWnd::SetOnCursorMoved(std::function<void(int)> fn)
{
    Timeline()->SetOnCursorMoved(std::move(fn));
}

}  // namespace velmor
