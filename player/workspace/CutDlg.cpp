#include "player/workspace/CutDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

#include "common/LanguageTable.h"
#include "player/export/GpsExport.h"

namespace velmor {

CCutProgress::CCutProgress(CUiHost& host, QWidget* parent) : QDialog(parent), m_host(host)
{
    setObjectName("CCutProgress");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_root = host.Load("CutProgress", this);
    lay->addWidget(m_root);
    host.Relabel(m_root);
    setWindowTitle(host.Text("CutProgress_Label_Title"));
    host.Route(m_root, [this](const QString& c, const QString& n) {
        if (c == "CutProgress_Btn_Close" && n == "click") AskStop();
    });
    SetPercent(0);
}

void CCutProgress::SetPercent(int percent)
{
    m_percent = std::clamp(percent, 0, 100);
    if (auto* total = CUiHost::Find<QLabel>(m_root, "CutProgress_Label_totalprog"))
        total->setText(QString::asprintf("%d%s", m_percent, "%"));
    if (auto* file = CUiHost::Find<QLabel>(m_root, "CutProgress_Label_backupfile1"))
        file->setText(QString::asprintf("%d%%", m_percent));
    if (auto* bar = CUiHost::Find<QProgressBar>(m_root, "CutProgress_progress_Data1")) bar->setValue(m_percent);
}

void CCutProgress::AskStop()
{
    if (m_host.Message(this, "Cut_Msg_Cancel", QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes)
        return;
    if (m_onStop) m_onStop();
}

void CCutProgress::closeEvent(QCloseEvent* e)
{
    // Closing the window is the close button: it asks, and the export ends
    // the window once it has stopped.
    e->ignore();
    AskStop();
}

CCutDlg::CCutDlg(CUiHost& host, CutSource source, std::filesystem::path defaultFolder, QWidget* parent)
    : QDialog(parent), m_host(host), m_source(std::move(source))
{
    setObjectName("CRKCutDlg");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_root = host.Load("CutDlg", this);
    lay->addWidget(m_root);
    host.Relabel(m_root);
    setWindowTitle(host.Text("Cut_Label_Title"));
    for (int n = 1; n <= 16; ++n) {
        if (auto* box = CUiHost::Find<QCheckBox>(m_root, QString("Cut_Option_Chn%1").arg(n))) {
            const bool has = std::find(m_source.channels.begin(), m_source.channels.end(), n) != m_source.channels.end();
            box->setEnabled(has);
            box->setChecked(has);
        }
    }
    if (auto* all = CUiHost::Find<QCheckBox>(m_root, "Cut_Option_All")) all->setChecked(!m_source.channels.empty());
    SetRange(m_source.from, m_source.to);
    SetFolder(defaultFolder);
    SetFormat(EExportFormat::kMp4);
    host.Route(m_root, [this](const QString& c, const QString& n) { OnNotify(c, n); });
}

CCutDlg::~CCutDlg()
{
    if (m_job) m_job->Cancel();
    if (m_worker.joinable()) m_worker.join();
}

void CCutDlg::SetRange(uint32_t from, uint32_t to)
{
    if (auto* s = CUiHost::Find<QDateTimeEdit>(m_root, "Cut_DateTime_Start")) {
        s->setTimeSpec(Qt::UTC);
        s->setDateTime(QDateTime::fromSecsSinceEpoch(from, Qt::UTC));
    }
    if (auto* e = CUiHost::Find<QDateTimeEdit>(m_root, "Cut_DateTime_End")) {
        e->setTimeSpec(Qt::UTC);
        e->setDateTime(QDateTime::fromSecsSinceEpoch(to, Qt::UTC));
    }
}

void CCutDlg::SetChannels(const std::vector<int>& channels)
{
    for (int n = 1; n <= 16; ++n)
        if (auto* box = CUiHost::Find<QCheckBox>(m_root, QString("Cut_Option_Chn%1").arg(n)))
            box->setChecked(box->isEnabled() && std::find(channels.begin(), channels.end(), n) != channels.end());
}

void CCutDlg::SetAllChannels(bool on)
{
    for (int n = 1; n <= 16; ++n)
        if (auto* box = CUiHost::Find<QCheckBox>(m_root, QString("Cut_Option_Chn%1").arg(n)))
            if (box->isEnabled()) box->setChecked(on);
}

std::vector<int> CCutDlg::EnabledChannels() const
{
    std::vector<int> out;
    for (int n = 1; n <= 16; ++n)
        if (auto* box = CUiHost::Find<QCheckBox>(m_root, QString("Cut_Option_Chn%1").arg(n)))
            if (box->isEnabled()) out.push_back(n);
    return out;
}

void CCutDlg::SetFormat(EExportFormat format)
{
    if (auto* combo = CUiHost::Find<QComboBox>(m_root, "Cut_Combo_Format")) {
        const int i = CutFormatIndex(format);
        if (i >= 0 && i < combo->count()) combo->setCurrentIndex(i);
    }
}

void CCutDlg::SetWithAudio(bool on)
{
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Audio_option")) box->setChecked(on);
}

void CCutDlg::SetCombine(bool on)
{
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Enable_Combine")) box->setChecked(on);
}

void CCutDlg::SetOverlay(bool on)
{
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Enable_Overlay")) box->setChecked(on);
}

void CCutDlg::SetFolder(const std::filesystem::path& folder)
{
    if (auto* edit = CUiHost::Find<QLineEdit>(m_root, "Cut_Edit_Path")) edit->setText(QString::fromStdString(folder.string()));
}

CutChoice CCutDlg::Choice() const
{
    CutChoice c;
    if (auto* s = CUiHost::Find<QDateTimeEdit>(m_root, "Cut_DateTime_Start"))
        c.from = uint32_t(std::clamp<qint64>(s->dateTime().toSecsSinceEpoch(), 0, UINT32_MAX));
    if (auto* e = CUiHost::Find<QDateTimeEdit>(m_root, "Cut_DateTime_End"))
        c.to = uint32_t(std::clamp<qint64>(e->dateTime().toSecsSinceEpoch(), 0, UINT32_MAX));
    for (int n = 1; n <= 16; ++n)
        if (auto* box = CUiHost::Find<QCheckBox>(m_root, QString("Cut_Option_Chn%1").arg(n)))
            if (box->isEnabled() && box->isChecked()) c.channels.push_back(n);
    if (auto* combo = CUiHost::Find<QComboBox>(m_root, "Cut_Combo_Format")) c.format = CutFormatAt(combo->currentIndex());
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Audio_option")) c.withAudio = box->isChecked();
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Enable_Combine")) c.combine = box->isChecked();
    if (auto* box = CUiHost::Find<QCheckBox>(m_root, "Cut_Enable_Overlay")) c.overlay = box->isChecked();
    if (auto* edit = CUiHost::Find<QLineEdit>(m_root, "Cut_Edit_Path")) c.folder = edit->text().trimmed().toStdString();
    c.type = m_type;
    if (const CLanguageTable* language = m_host.Language()) c.gpsHeader = GpsHeaderLine(*language);
    c.convertGps = m_convertGps;
    c.speedMph = m_speedMph;
    c.caseUtcOffset = m_caseUtcOffset;
    return c;
}

bool CCutDlg::Start()
{
    if (Running()) return false;
    m_refusal.clear();
    const CutPlan plan = PlanCut(m_source, Choice());
    if (!plan.ok) {
        m_refusal = plan.messageKey;
        m_host.Message(this, plan.messageKey.c_str());
        return false;
    }
    if (m_worker.joinable()) m_worker.join();
    m_finished = false;
    m_result = {};
    m_progress = std::make_unique<CCutProgress>(m_host, this);
    m_progress->SetOnStop([this] { Cancel(); });
    m_job = std::make_unique<CExportJob>(plan.request, [this](EExportStep step, int percent) {
        // 100 belongs to the finished export; the window shows it with the result.
        const int shown = step == EExportStep::kDone ? 99 : std::min(percent, 99);
        CUiHost::Post(this, [this, shown] {
            if (m_finished) return;
            if (m_progress) m_progress->SetPercent(shown);
            if (m_onProgress) m_onProgress(shown);
        });
    });
    if (m_showProgress) m_progress->show();
    CExportJob* job = m_job.get();
    m_worker = std::thread([this, job] {
        ExportJobResult result = job->Run();
        CUiHost::Post(this, [this, result = std::move(result)]() mutable { OnFinished(std::move(result)); });
    });
    return true;
}

void CCutDlg::Cancel()
{
    if (m_job) m_job->Cancel();
}

void CCutDlg::OnFinished(ExportJobResult result)
{
    if (m_worker.joinable()) m_worker.join();
    m_result = std::move(result);
    m_finished = true;
    if (m_result.ok) {
        m_progress->SetPercent(100);
        if (m_onProgress) m_onProgress(100);
    }
    m_progress->hide();
    if (m_showFinal) {
        if (m_result.ok) m_host.Message(this, "Cut_Msg_Suc");
        else if (m_result.failure == EExportFailure::kStopped) m_host.Message(this, "Cut_Msg_Stopped");
        else m_host.MessageText(this, m_host.Text("Cut_Msg_Fail") + " " + QString::fromStdString(m_result.error));
    }
    if (m_onDone) m_onDone(m_result);
}

bool CCutDlg::WaitDone(int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!m_finished && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!m_finished) QThread::msleep(5);
    }
    return m_finished;
}

void CCutDlg::OnNotify(const QString& control, const QString& notification)
{
    if (notification != "click") return;
    if (control == "Cut_Btn_OK") {
        Start();
    } else if (control == "Cut_Btn_Cancel") {
        if (Running()) m_progress->AskStop();
        else reject();
    } else if (control == "Cut_Option_All") {
        if (auto* all = CUiHost::Find<QCheckBox>(m_root, "Cut_Option_All")) SetAllChannels(all->isChecked());
    } else if (control == "Cut_Btn_Path") {
        const QString start = Choice().folder.empty() ? QString() : QString::fromStdString(Choice().folder.string());
        const QString chosen = m_host.ChooseFolder(this, start);
        if (!chosen.isEmpty()) SetFolder(chosen.toStdString());
    } else if (control == "Cut_Btn_OpenFolder") {
        const auto folder = Choice().folder;
        if (!folder.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
    }
}

}  // namespace velmor
