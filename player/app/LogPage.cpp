#include "player/app/LogPage.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include "common/LanguageTable.h"
#include "player/ui/UiHost.h"
#include "player/export/SpreadSheet.h"

namespace velmor {
namespace {

// The type entries in the order of the combo box, and the main type each selects (-1: all).
struct TypeEntry {
    const char* name;
    int mainType;
};
constexpr TypeEntry kTypes[] = {{"Log_ComBox_All", -1},     {"Log_ComBox_Alarm", 0},  {"Log_ComBox_Abnormal", 3},
                                {"Log_ComBox_Local", 1},    {"Log_ComBox_Remote", 2}, {"Log_ComBox_3G", 5}};

QDateTime FromRecorder(uint32_t s) { return QDateTime::fromSecsSinceEpoch(s, QTimeZone::utc()); }
uint32_t ToRecorder(const QDateTime& t) { return uint32_t(std::max<qint64>(0, t.toSecsSinceEpoch())); }

}  // namespace

CLogPage::CLogPage(CUiHost& host, QWidget* parent) : QWidget(parent), m_host(host)
{
    setObjectName("CRecordLog");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_ui = m_host.Load("Log", this);
    lay->addWidget(m_ui);
    m_list = CUiHost::Find<QTableWidget>(m_ui, "Log_List");
    if (m_list) {
        m_list->setColumnCount(4);
        m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_list->horizontalHeader()->setStretchLastSection(true);
        m_list->verticalHeader()->hide();
        m_list->setWordWrap(false);
    }
    for (const char* name : {"Log_Label_StartTime", "Log_Label_EndTime"}) {
        if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, name)) {
            d->setTimeSpec(Qt::UTC);
            d->setDisplayFormat("yyyy-MM-dd HH:mm:ss");
        }
    }
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_StartTime")) d->setDateTime(FromRecorder(kLogQueryStart));
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_EndTime")) d->setDateTime(FromRecorder(DefaultLogQuery().end));
    m_host.Route(m_ui, [this](const QString& c, const QString& n) { OnNotify(c, n); });
    Relabel();
}

const CLanguageTable& CLogPage::Language() const
{
    static const CLanguageTable none;
    return m_host.Language() ? *m_host.Language() : none;
}

void CLogPage::Relabel()
{
    m_host.Relabel(m_ui);
    Fill();  // the content texts are language texts too
}

int CLogPage::SetSources(const std::vector<std::filesystem::path>& folders)
{
    std::vector<LogEntry> entries;
    const int n = LoadFolderLogs(folders, Language(), entries);
    {
        std::lock_guard lock(m_mutex);
        m_sources = folders;
        m_all = std::move(entries);
        m_shown = m_all;
    }
    Fill();
    return n;
}

int CLogPage::LoadFolder(const std::filesystem::path& folder)
{
    if (SetSources({folder}) == 0) {
        m_lastFolderLoad = -1;
        m_host.Message(this, "Log_Msg_NoLog");
        return -1;
    }
    return m_lastFolderLoad = QueryControls();
}

bool CLogPage::SetFilterControls(const QString& typeEntry, uint32_t from, uint32_t to)
{
    int index = -1;
    for (int i = 0; i < int(std::size(kTypes)); ++i)
        if (typeEntry == kTypes[i].name) index = i;
    if (index < 0) return false;
    if (auto* c = CUiHost::Find<QComboBox>(m_ui, "Log_ComBox_Type")) c->setCurrentIndex(index);
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_StartTime")) d->setDateTime(FromRecorder(from));
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_EndTime")) d->setDateTime(FromRecorder(to));
    return true;
}

int CLogPage::QueryControls()
{
    auto* c = CUiHost::Find<QComboBox>(m_ui, "Log_ComBox_Type");
    const int i = c ? std::clamp(c->currentIndex(), 0, int(std::size(kTypes)) - 1) : 0;
    auto* from = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_StartTime");
    auto* to = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_EndTime");
    return Query(kTypes[i].name, from ? ToRecorder(from->dateTime()) : kLogQueryStart,
                 to ? ToRecorder(to->dateTime()) : DefaultLogQuery().end);
}

int CLogPage::Query(const QString& typeEntry, uint32_t from, uint32_t to)
{
    int mainType = -2;
    int comboIndex = 0;
    for (int i = 0; i < int(std::size(kTypes)); ++i)
        if (typeEntry == kTypes[i].name) {
            mainType = kTypes[i].mainType;
            comboIndex = i;
        }
    if (mainType == -2) return -1;
    if (auto* c = CUiHost::Find<QComboBox>(m_ui, "Log_ComBox_Type")) {
        const QSignalBlocker block(c);
        c->setCurrentIndex(comboIndex);
    }
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_StartTime")) d->setDateTime(FromRecorder(from));
    if (auto* d = CUiHost::Find<QDateTimeEdit>(m_ui, "Log_Label_EndTime")) d->setDateTime(FromRecorder(to));
    {
        std::lock_guard lock(m_mutex);
        m_shown.clear();
        for (const auto& e : m_all) {
            if (mainType >= 0 && (e.type >> 4) != mainType) continue;
            if (e.time < from || e.time > to) continue;
            m_shown.push_back(e);
        }
        for (size_t i = 0; i < m_shown.size(); ++i) {
            m_shown[i].number = int(i + 1);
            m_shown[i].numberText = std::to_string(i + 1);
        }
    }
    Fill();
    return RowCount();
}

int CLogPage::RowCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_shown.size());
}

void CLogPage::Fill()
{
    if (!m_list) return;
    std::lock_guard lock(m_mutex);
    const CLanguageTable& lang = Language();
    m_list->setRowCount(int(m_shown.size()));
    for (int r = 0; r < int(m_shown.size()); ++r) {
        const auto& e = m_shown[size_t(r)];
        const std::string content = e.contentKey && *e.contentKey ? lang.Text(e.contentKey) : e.content;
        const std::string cells[] = {e.numberText, e.timeText, content, e.remark};
        for (int c = 0; c < 4; ++c) m_list->setItem(r, c, new QTableWidgetItem(QString::fromStdString(cells[c])));
    }
    m_list->resizeColumnsToContents();
    m_list->resizeRowsToContents();
    if (auto* l = CUiHost::Find<QLabel>(m_ui, "Log_Label_Count"))
        l->setText(m_host.Text("Log_Label_Count") + " " + QString::number(m_shown.size()));
}

std::filesystem::path CLogPage::Export(const std::filesystem::path& file, std::string* error)
{
    const CLanguageTable& lang = Language();
    CSpreadSheet sheet(file, "Log", true);
    bool ok = sheet.IsOpen();
    if (ok) {
        ok = sheet.AddHeaders({lang.Text("Log_List_Index"), lang.Text("Log_List_Time"),
                               lang.Text("Log_List_Content"), lang.Text("Log_List_Remarks")});
        std::lock_guard lock(m_mutex);
        for (const auto& e : m_shown) {
            if (!ok) break;
            const std::string content = e.contentKey && *e.contentKey ? lang.Text(e.contentKey) : e.content;
            ok = sheet.AddRow({e.numberText, e.timeText, content, e.remark});
        }
    }
    ok = ok && sheet.Commit();
    m_host.Message(this, ok ? "Log_T_OutDataSuccess" : "Log_T_OutDataFailed");
    if (!ok) {
        if (error) *error = sheet.LastError().empty() ? "export failed" : sheet.LastError();
        return {};
    }
    return sheet.File();
}

void CLogPage::OnNotify(const QString& control, const QString& notification)
{
    if (notification != "click") return;
    if (control == "Log_Btn_Query" || control == "Log_Btn_Search") {
        QueryControls();
    } else if (control == "Log_Btn_SelDir") {
        const QString dir = m_host.ChooseFolder(this, QString());
        if (!dir.isEmpty()) LoadFolder(dir.toStdString());
    } else if (control == "Log_Btn_Export" || control == "Log_Btn_Out") {
        QString filter;
        const QString f = m_host.ChooseSaveFile(
            this, "csv File (*.csv)|*.csv|txt File (*.txt)|*.txt|xls File (*.xls)|*.xls|", ".csv", &filter);
        if (!f.isEmpty()) Export(f.toStdString(), nullptr);
    }
}

}  // namespace velmor
