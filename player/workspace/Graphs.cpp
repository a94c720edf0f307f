#include "player/workspace/Graphs.h"

#include <QAbstractButton>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QSplitter>
#include <QTreeWidget>
#include <QUiLoader>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>

#include "common/LanguageTable.h"
#include "common/AppFolders.h"
#include "player/workspace/GSensorEvents.h"

namespace velmor {

namespace {

QString TimeText(uint32_t t)
{
    // Recorder times are wall-clock seconds: shown without a zone shift.
    const std::time_t tt = t;
    std::tm tm{};
    gmtime_r(&tt, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return QString::fromLatin1(text);
}

// The text of a language key, or the key itself where the table has none.
QString KeyText(const CLanguageTable& language, const char* key)
{
    const std::string t = language.Text(key);
    return t.empty() ? QString::fromLatin1(key) : QString::fromStdString(t);
}

// The event lists of the G-sensor and IO tabs: time, what, channel.
QTreeWidget* MakeEventList(const char* name)
{
    auto* list = new QTreeWidget;
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setColumnCount(3);
    list->header()->setStretchLastSection(true);
    return list;
}

void RelabelEventList(QTreeWidget* list, const CLanguageTable& language, const std::vector<GSensorKind>& kinds,
                      std::vector<QString>& kindTexts)
{
    list->setHeaderLabels({KeyText(language, "GSensor_List_Time"), KeyText(language, "GSensor_List_Event"),
                           KeyText(language, "GSensor_List_Channel")});
    kindTexts.clear();
    for (const auto& k : kinds) kindTexts.push_back(KeyText(language, k.option));
}

// An event without a description of its own is named by its kind.
void FillEventList(QTreeWidget* list, const std::vector<EventRecord>& events, const std::vector<GSensorKind>& kinds,
                   const std::vector<QString>& kindTexts)
{
    list->clear();
    for (const auto& e : events) {
        QString what = QString::fromStdString(e.description);
        if (what.isEmpty())
            for (size_t i = 0; i < kinds.size() && i < kindTexts.size(); ++i)
                if (kinds[i].type == e.type) what = kindTexts[i];
        list->addTopLevelItem(new QTreeWidgetItem({TimeText(e.beginTime), what, QString::number(int(e.channel) + 1)}));
    }
    list->resizeColumnToContents(0);
    list->resizeColumnToContents(1);
}

QChartView* MakeView(QChart* chart, QWidget* parent)
{
    chart->legend()->hide();
    chart->setMargins(QMargins(2, 2, 2, 2));
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

CLanguageTable ProgramLanguage() { return CLanguageTable::Load(); }

}  // namespace

// ---- speed ----

CSpeedGraphWnd::CSpeedGraphWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("SpeedGraphWnd");
    auto* chart = new QChart;
    m_series = new QLineSeries(chart);
    m_series->setName("Series");
    m_series->setPointsVisible(false);
    chart->addSeries(m_series);
    m_axisX = new QValueAxis(chart);
    m_axisX->setRange(0, CSpeedGraphModel::kSpan);
    m_axisX->setTickType(QValueAxis::TicksDynamic);
    m_axisX->setTickAnchor(0);
    m_axisX->setTickInterval(10);
    m_axisX->setLabelFormat("%d");
    m_axisX->setGridLineVisible(true);
    auto* axisY = new QValueAxis(chart);
    axisY->setRange(0, 200);
    axisY->setLabelFormat("%d");
    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    m_series->attachAxis(m_axisX);
    m_series->attachAxis(axisY);
    m_view = MakeView(chart, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
}

void CSpeedGraphWnd::AddPoint(double seconds, double value)
{
    bool grown = false;
    if (!m_model.AddPoint(seconds, value, &grown)) return;
    const auto& p = m_model.Points().back();
    m_series->append(p.first, p.second);
    if (grown) m_axisX->setRange(m_model.Range().first, m_model.Range().second);
}

void CSpeedGraphWnd::Clear()
{
    m_model.Clear();
    m_series->clear();
    m_axisX->setRange(m_model.Range().first, m_model.Range().second);
}

std::vector<std::pair<double, double>> CSpeedGraphWnd::Points() const { return m_model.Points(); }

std::pair<double, double> CSpeedGraphWnd::Range() const { return {m_axisX->min(), m_axisX->max()}; }

QChart* CSpeedGraphWnd::Chart() const { return m_view->chart(); }

// ---- G-sensor ----

CGSensorWnd::CGSensorWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("GSensorWnd");
    for (const auto& k : GSensorKinds()) {
        m_shown.insert(k.type);
        m_kindTexts.push_back(QString::fromLatin1(k.option));
    }
    m_list = MakeEventList("GSensorList");

    auto* chart = new QChart;
    auto* series = new QBarSeries(chart);
    m_counts = new QBarSet("Events", series);
    series->append(m_counts);
    chart->addSeries(series);
    m_kinds = new QBarCategoryAxis(chart);
    m_axisY = new QValueAxis(chart);
    m_axisY->setLabelFormat("%d");
    m_axisY->setTickType(QValueAxis::TicksDynamic);
    m_axisY->setTickAnchor(0);
    m_axisY->setTickInterval(1);
    m_axisY->setRange(0, 1);
    chart->addAxis(m_kinds, Qt::AlignBottom);
    chart->addAxis(m_axisY, Qt::AlignLeft);
    series->attachAxis(m_kinds);
    series->attachAxis(m_axisY);
    m_view = MakeView(chart, nullptr);

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(m_list);
    split->addWidget(m_view);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    m_view->setMinimumHeight(160);
    m_kinds->setLabelsAngle(-30);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(split);

    m_loadMenu = [](QWidget* menuParent) -> QWidget* {
        const CAppFolders folders = ResolveAppFolders(QCoreApplication::applicationDirPath().toStdString());
        QFile file(QString::fromStdString((folders.SkinDir() / "GSensorMenu.ui").string()));
        if (!file.open(QIODevice::ReadOnly)) return nullptr;
        QUiLoader loader;
        return loader.load(&file, menuParent);
    };
    Relabel(ProgramLanguage());
    Refresh();
}

CGSensorWnd::~CGSensorWnd() = default;

void CGSensorWnd::Relabel(const CLanguageTable& language)
{
    if (&language != m_language.get()) m_language = std::make_unique<CLanguageTable>(language);
    RelabelEventList(m_list, language, GSensorKinds(), m_kindTexts);
    if (m_menu) {
        for (auto* b : m_menu->findChildren<QAbstractButton*>()) {
            const QVariant key = b->property("langKey");
            if (key.isValid()) b->setText(KeyText(language, key.toString().toUtf8().constData()));
        }
    }
    Refresh();
}

void CGSensorWnd::SetMenuLoader(std::function<QWidget*(QWidget*)> load)
{
    m_loadMenu = std::move(load);
    delete m_menu;
    m_menu = nullptr;
}

QWidget* CGSensorWnd::ShowMenu(const QPoint& globalPos)
{
    if (!m_menu && m_loadMenu) {
        m_menu = m_loadMenu(this);
        if (!m_menu) return nullptr;
        m_menu->setWindowFlags(Qt::Popup);
        for (const auto& k : GSensorKinds()) {
            auto* option = m_menu->findChild<QAbstractButton*>(QString::fromLatin1(k.option));
            if (!option) continue;
            option->setCheckable(true);
            const uint8_t type = k.type;
            connect(option, &QAbstractButton::toggled, this, [this, type](bool on) {
                std::set<uint8_t> shown = m_shown;
                if (on)
                    shown.insert(type);
                else
                    shown.erase(type);
                SetShown(std::move(shown));
            });
        }
        Relabel(*m_language);  // the menu in the language the window shows
    }
    if (!m_menu) return nullptr;
    for (const auto& k : GSensorKinds()) {
        if (auto* option = m_menu->findChild<QAbstractButton*>(QString::fromLatin1(k.option))) {
            const QSignalBlocker block(option);
            option->setChecked(m_shown.count(k.type) != 0);
        }
    }
    m_menu->adjustSize();
    m_menu->move(globalPos);
    m_menu->show();
    return m_menu;
}

void CGSensorWnd::SetShown(std::set<uint8_t> types)
{
    m_shown = std::move(types);
    Refresh();
}

void CGSensorWnd::SetEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to)
{
    m_events = events;
    m_from = from;
    m_to = to;
    Refresh();
}

void CGSensorWnd::Refresh()
{
    m_listed = SelectGSensorEvents(m_events, m_from, m_to, m_shown);
    FillEventList(m_list, m_listed, GSensorKinds(), m_kindTexts);
    const std::vector<int> counts = CountByKind(m_listed);
    QStringList categories;
    m_counts->remove(0, m_counts->count());
    const auto& kinds = GSensorKinds();
    int most = 1;
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (!m_shown.count(kinds[i].type)) continue;
        categories << (i < m_kindTexts.size() ? m_kindTexts[i] : QString::fromLatin1(kinds[i].option));
        m_counts->append(counts[i]);
        most = std::max(most, counts[i]);
    }
    m_kinds->clear();
    m_kinds->append(categories);
    // Whole counts only: at most about five ticks, one apart at least.
    m_axisY->setTickInterval(std::max(1, (most + 4) / 5));
    m_axisY->setRange(0, most);
}

// ---- IO and urgent alarms ----

CIoAlarmWnd::CIoAlarmWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("IoAlarmWnd");
    for (const auto& k : IoAlarmKinds()) {
        m_shown.insert(k.type);
        m_kindTexts.push_back(QString::fromLatin1(k.option));
    }
    m_list = MakeEventList("IoAlarmList");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->addWidget(m_list);
}

void CIoAlarmWnd::SetEvents(const std::vector<EventRecord>& events, uint32_t from, uint32_t to)
{
    m_events = events;
    m_from = from;
    m_to = to;
    Refresh();
}

void CIoAlarmWnd::SetShown(std::set<uint8_t> types)
{
    m_shown = std::move(types);
    Refresh();
}

void CIoAlarmWnd::Relabel(const CLanguageTable& language)
{
    RelabelEventList(m_list, language, IoAlarmKinds(), m_kindTexts);
    Refresh();
}

QMenu* CIoAlarmWnd::ShowMenu(const QPoint& globalPos)
{
    auto* menu = new QMenu(this);
    menu->setObjectName("warningMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto& kinds = IoAlarmKinds();
    for (size_t i = 0; i < kinds.size(); ++i) {
        QAction* a = menu->addAction(i < m_kindTexts.size() ? m_kindTexts[i] : QString::fromLatin1(kinds[i].option));
        a->setObjectName(kinds[i].option);
        a->setCheckable(true);
        a->setChecked(m_shown.count(kinds[i].type) != 0);
        const uint8_t type = kinds[i].type;
        connect(a, &QAction::toggled, this, [this, type](bool on) {
            std::set<uint8_t> shown = m_shown;
            if (on)
                shown.insert(type);
            else
                shown.erase(type);
            SetShown(std::move(shown));
        });
    }
    menu->popup(globalPos);
    return menu;
}

void CIoAlarmWnd::Refresh()
{
    m_listed = SelectEvents(m_events, m_from, m_to, m_shown);
    FillEventList(m_list, m_listed, IoAlarmKinds(), m_kindTexts);
}

// ---- temperature ----

CTemperatureWnd::CTemperatureWnd(QWidget* parent) : QWidget(parent)
{
    setObjectName("TemperatureWnd");
    m_label = new QLabel(this);
    m_label->setObjectName("Temperature_Label_NoValues");
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    Relabel(ProgramLanguage());
}

void CTemperatureWnd::Relabel(const CLanguageTable& language)
{
    m_label->setText(QString::fromStdString(language.Text(kNoValuesKey)));
}

QString CTemperatureWnd::Text() const { return m_label->text(); }

}  // namespace velmor
