#include "player/workspace/RKCalendar.h"

#include <QAbstractButton>
#include <QDate>
#include <QPalette>
#include <QVBoxLayout>

namespace velmor {

namespace {
QColor Argb(unsigned v)
{
    return QColor::fromRgba(QRgb(v));
}
}  // namespace

CRKCalendar::CRKCalendar(CUiHost& host, QWidget* parent) : QWidget(parent), m_host(host)
{
    setObjectName("calendarwnd");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_root = host.Load("Calendar", this);
    lay->addWidget(m_root);
    host.Route(m_root, [this](const QString& c, const QString& n) { OnNotify(c, n); });
    const QDate today = QDate::currentDate();
    m_year = today.year();
    m_month = today.month();
    Relabel();
    Refresh();
}

void CRKCalendar::Relabel()
{
    m_host.Relabel(m_root);
    Refresh();
}

void CRKCalendar::SetMarkedDays(std::set<int> days)
{
    m_marked = std::move(days);
    Refresh();
}

void CRKCalendar::ShowMonth(int year, int month)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12) return;
    m_year = year;
    m_month = month;
    Refresh();
}

void CRKCalendar::SelectDay(int year, int month, int day)
{
    if (day < 1 || day > DaysInMonth(year, month)) return;
    ShowMonth(year, month);
    m_day = day;
}

void CRKCalendar::Paint(QWidget* background, bool marked)
{
    if (!background) return;
    const QColor c = Argb(marked ? kCalendarMarkedColour : kCalendarPlainColour);
    background->setStyleSheet(QString("QFrame#%1 { background-color: rgba(%2,%3,%4,%5); }")
                                  .arg(background->objectName())
                                  .arg(c.red())
                                  .arg(c.green())
                                  .arg(c.blue())
                                  .arg(c.alpha()));
}

void CRKCalendar::Refresh()
{
    if (auto* y = CUiHost::Find<QAbstractButton>(m_root, "Calendar_Year_Bt")) y->setText(QString::number(m_year));
    for (int m = 1; m <= 12; ++m) {
        bool any = false;
        for (int d = 1; d <= 31 && !any; ++d) any = m_marked.count(m_year * 10000 + m * 100 + d) > 0;
        if (auto* prompt = CUiHost::Find<QWidget>(m_root, QString("Calendar_Month_Prompt%1").arg(m))) prompt->setVisible(any);
        QWidget* bg = CUiHost::Find<QWidget>(m_root, QString("Calendar_Hor_Month%1").arg(m));
        Paint(bg, any);
        if (auto* b = CUiHost::Find<QAbstractButton>(m_root, QString("Calendar_Month_Bt%1").arg(m))) {
            b->setCheckable(true);
            b->setChecked(m == m_month);
            b->setStyleSheet(m == m_month ? "background: transparent; border: 1px solid white; color: white;"
                                          : "background: transparent; border: none; color: white;");
        }
    }
    const auto cells = MonthCells(m_year, m_month, m_marked);
    for (int n = 1; n <= 42; ++n) {
        const CalendarCell& c = cells[size_t(n - 1)];
        QWidget* bg = CUiHost::Find<QWidget>(m_root, QString("Calendar_Day_Hor%1").arg(n));
        auto* b = CUiHost::Find<QAbstractButton>(m_root, QString("Calendar_Day_Bt%1").arg(n));
        QWidget* prompt = CUiHost::Find<QWidget>(m_root, QString("Calendar_Day_Prompt%1").arg(n));
        // Hidden cells keep their place in the grid so the weeks stay aligned.
        if (bg) {
            QSizePolicy sp = bg->sizePolicy();
            sp.setRetainSizeWhenHidden(true);
            bg->setSizePolicy(sp);
            bg->setVisible(c.visible);
        }
        if (b) b->setText(c.visible ? QString::asprintf("%d", c.day) : QString());
        if (prompt) prompt->setVisible(c.visible && c.marked);
        Paint(bg, c.visible && c.marked);
    }
}

void CRKCalendar::OnNotify(const QString& control, const QString& notification)
{
    if (notification != "click") return;
    if (control == "Calendar_Year_Bt1") {
        ShowMonth(m_year - 1, m_month);
    } else if (control == "Calendar_Year_Bt2") {
        ShowMonth(m_year + 1, m_month);
    } else if (control.startsWith("Calendar_Month_Bt")) {
        bool ok = false;
        const int m = control.mid(17).toInt(&ok);
        if (ok) ShowMonth(m_year, m);
    } else if (control.startsWith("Calendar_Day_Bt")) {
        bool ok = false;
        const int n = control.mid(15).toInt(&ok);
        if (!ok || n < 1 || n > 42) return;
        const CalendarCell c = MonthCells(m_year, m_month, m_marked)[size_t(n - 1)];
        // An empty day does nothing.
        if (!c.visible || !c.marked) return;
        m_day = c.day;
        if (m_onDay) m_onDay(m_year, m_month, c.day);
    }
}

}  // namespace velmor
