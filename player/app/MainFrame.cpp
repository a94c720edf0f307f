#include "player/app/MainFrame.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QShortcut>
#include <QSlider>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "player/ui/AppTrace.h"
#include "player/app/LogPage.h"
#include "player/app/SettingsDlg.h"
#include "player/app/Skin.h"
#include "player/app/VerifyExport.h"
#include "player/app/VelmorApp.h"
#include "player/playback/PlayWndDlg.h"
#include "player/workspace/DrivingRecord.h"

namespace velmor {
namespace {

const char* const kPageButtons[] = {"MainFrm_Btn_DrivingRecord", "MainFrm_Btn_PlayBack", "MainFrm_Btn_Log"};
// The play-back button shows the driving-record page too, with the video
// area given the whole width: one play window set serves both.
const int kPageIndex[] = {0, 0, 1};

constexpr int kHandOverTimer = 500;

}  // namespace

CMainFrame::CMainFrame()
{
    auto& app = App();
    setWindowTitle("Velmor Player");
    setObjectName("CRKMainFrmDlg");
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    m_frame = app.m_host->Load("MainFrmPlay", this);
    lay->addWidget(m_frame);

    m_pages = CUiHost::Find<QStackedWidget>(m_frame, "MainFrm_Pages");
    if (!m_pages) {
        m_pages = new QStackedWidget(m_frame);
        m_frame->layout() ? m_frame->layout()->addWidget(m_pages) : void();
    }
    while (m_pages->count() > 0) m_pages->removeWidget(m_pages->widget(0));
    m_driving = new CRKDrivingRecord(*app.m_host, app.m_settings, m_pages);
    m_play = m_driving->PlayWnd();
    m_pages->addWidget(m_driving);
    m_log = new CLogPage(*App().m_host, m_pages);
    m_pages->addWidget(m_log);
    // The log page lists the recorder log of whatever was searched last.
    m_driving->AddOnSearchDone([this](const SearchOutcome& outcome) {
        if (outcome.ok) m_log->SetSources(LogFolders(outcome));
    });

    m_menu = new QMenu(this);
    m_menu->setObjectName("MainfrmMenu");
    m_actSet = m_menu->addAction(QString());
    m_actSet->setObjectName("Mainfrm_Menu_SystemSet");
    m_actVerify = m_menu->addAction(QString());
    m_actVerify->setObjectName("Mainfrm_Menu_VerifyExport");
    m_actAbout = m_menu->addAction(QString());
    m_actAbout->setObjectName("Mainfrm_Menu_About");
    connect(m_actSet, &QAction::triggered, this, [this] { OpenSettings(); });
    connect(m_actAbout, &QAction::triggered, this, [this] { OpenAbout(); });
    connect(m_actVerify, &QAction::triggered, this, [this] { OpenVerifyExport(); });

    app.m_host->Route(m_frame, [this](const QString& c, const QString& n) { OnNotify(c, n); });
    ApplySkin(app.m_settings.Get().skin);
    m_settingsListener = app.m_settings.Subscribe([this](const SettingsRecord& before, const SettingsRecord& now) {
        if (before.skin != now.skin) ApplySkin(now.skin);
    });
    ShowPage(kPageButtons[0]);
    Relabel();
    resize(1280, 800);
    app.m_host->SetTimer(this, kHandOverTimer, 500, [this] { PollHandOver(); });
    AddShortcuts();
}

CMainFrame::~CMainFrame() { App().m_settings.Unsubscribe(m_settingsListener); }

void CMainFrame::AddShortcuts()
{
    // The frame's own: what its keys do when the page's buttons cannot.
    m_actions.Add({"MainFrm_FullScreen", [this] { isFullScreen() ? showNormal() : showFullScreen(); }, {"F11"}, {}});
    m_actions.Add({"MainFrm_LeaveFullScreen", [this] { showNormal(); }, {"Esc"}, [this] { return isFullScreen(); }});
    m_actions.Add({"MainFrm_Open",
                   [this] {
                       const QString f = App().m_host->ChooseOpenFile(
                           this, "Recordings (*.ifv *.rpo *.rkrec *.grec *.IFV *.RPO *.RKREC *.GREC)|*.ifv;*.rpo;*.rkrec;*.grec|");
                       if (!f.isEmpty()) App().OpenFromOutside(f.toStdString());
                   },
                   {"Ctrl+O"},
                   {}});
    // Each key does what the buttons of the visible page do, else the frame's own.
    std::vector<std::string> keys = m_play->Actions().Keys();
    for (const std::string& k : m_actions.Keys())
        if (std::find(keys.begin(), keys.end(), k) == keys.end()) keys.push_back(k);
    for (const std::string& key : keys) {
        auto* sc = new QShortcut(QKeySequence(QString::fromStdString(key)), this);
        sc->setContext(Qt::WindowShortcut);
        connect(sc, &QShortcut::activated, this, [this, key] {
            if (!m_play->Actions().RunKey(key)) m_actions.RunKey(key);
        });
        m_shortcuts[sc->key().toString()] = sc;
    }
}

bool CMainFrame::PressKey(const QString& key)
{
    const auto it = m_shortcuts.find(QKeySequence(key).toString());
    if (it == m_shortcuts.end()) return false;
    Q_EMIT it->second->activated();
    return true;
}

void CMainFrame::Relabel()
{
    App().m_host->Relabel(this);
    m_actSet->setText(App().Text("Main_Menu_SystemSet"));
    m_actAbout->setText(App().Text("Main_Menu_About"));
    m_actVerify->setText(App().Text("Main_Menu_VerifyExport"));
    if (m_log) m_log->Relabel();
    if (m_driving) m_driving->Relabel();
}

bool CMainFrame::IsPageButton(const QString& name)
{
    return std::find(std::begin(kPageButtons), std::end(kPageButtons), name) != std::end(kPageButtons);
}

bool CMainFrame::ShowPage(const QString& button)
{
    for (int i = 0; i < int(std::size(kPageButtons)); ++i) {
        if (button != kPageButtons[i]) continue;
        m_pages->setCurrentIndex(kPageIndex[i]);
        if (kPageIndex[i] == 0) m_driving->SetSidePanelsVisible(i == 0);
        m_page = button;
        for (int j = 0; j < int(std::size(kPageButtons)); ++j) {
            if (auto* b = CUiHost::Find<QAbstractButton>(m_frame, kPageButtons[j])) {
                b->setCheckable(true);
                b->setChecked(i == j);
            }
        }
        return true;
    }
    return false;
}

void CMainFrame::OnNotify(const QString& control, const QString& notification)
{
    if (notification != "click") return;
    if (control.startsWith("MainFrm_Btn_")) {
        ShowPage(control);
    } else if (control == "MainFrm_BtClose") {
        close();
    } else if (control == "MainFrm_BtMin") {
        showMinimized();
    } else if (control == "MainFrm_BtMax") {
        showMaximized();
    } else if (control == "MainFrm_BtRestore") {
        showNormal();
    } else if (control == "MainFrm_BtSet") {
        auto* b = CUiHost::Find<QWidget>(m_frame, control);
        m_menu->popup(b ? b->mapToGlobal(QPoint(0, b->height())) : QCursor::pos());
    } else if (control == "MainFrm_BtSKin") {
        OpenSkin();
    }
}

void CMainFrame::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange) UpdateMaxButtons();
    QWidget::changeEvent(event);
}

void CMainFrame::UpdateMaxButtons()
{
    const bool max = isMaximized();
    if (auto* b = CUiHost::Find<QWidget>(m_frame, "MainFrm_BtMax")) b->setVisible(!max);
    if (auto* b = CUiHost::Find<QWidget>(m_frame, "MainFrm_BtRestore")) b->setVisible(max);
}

void CMainFrame::PollHandOver()
{
    if (auto path = App().m_instance.TakeHandOver()) App().OpenFromOutside(*path);
}

void CMainFrame::OpenSettings()
{
    App().MakeSettingsDlg(this)->exec();
}

void CMainFrame::OpenVerifyExport()
{
    CUiHost& host = *App().m_host;
    const QString path = host.ChooseOpenFile(this, "Export report (*.json)|*.json|All Files (*.*)|*.*||");
    if (path.isEmpty()) return;
    const std::filesystem::path report = path.toStdString();
    m_lastVerify = VerifyWhileResponsive(report);
    host.MessageText(this, VerifyMessageText(host, report, *m_lastVerify));
}

void CMainFrame::OpenAbout()
{
    auto& host = *App().m_host;
    QWidget* w = host.Load("About", this);
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) {
        delete w;
        return;
    }
    host.Route(dlg, [dlg](const QString& c, const QString& n) {
        if (c == "About_Btn_Close" && n == "click") dlg->accept();
    });
    dlg->exec();
    delete dlg;
}

void CMainFrame::ApplySkin(const std::string& skin)
{
    if (QWidget* bg = CUiHost::Find<QWidget>(m_frame, "Mainfrm_BG")) {
        bg->setStyleSheet(QString::fromStdString(SkinStyleSheet(skin)));
        bg->setProperty("bkcolor", skin.empty() ? QVariant() : QVariant(QString::fromStdString(skin)));
    }
}

void CMainFrame::OpenSkin()
{
    auto& host = *App().m_host;
    QWidget* w = host.Load("ColorWnd", this);
    auto* dlg = qobject_cast<QDialog*>(w);
    if (!dlg) {
        delete w;
        return;
    }
    // The swatches and the backgrounds, each a button named as the value it keeps.
    if (auto* grid = CUiHost::Find<QWidget>(dlg, "ColorWnd_Tab_Colour"); grid && qobject_cast<QGridLayout*>(grid->layout())) {
        auto* layout = static_cast<QGridLayout*>(grid->layout());
        const int row = layout->rowCount();
        int n = 0;
        for (const std::string& colour : SkinSwatches()) {
            auto* swatch = new QPushButton(grid);
            swatch->setObjectName(QString::fromStdString("colour_" + colour));
            swatch->setFixedSize(28, 20);
            swatch->setStyleSheet("background-color: #" + QString::fromStdString(colour.substr(2)) + ";");
            layout->addWidget(swatch, row + n / 6, n % 6);
            ++n;
        }
    }
    if (auto* tab = CUiHost::Find<QWidget>(dlg, "ColorWnd_Tab_Picture"); tab && tab->layout()) {
        for (const SkinBackground& bk : SkinBackgrounds()) {
            if (CUiHost::Find<QWidget>(tab, bk.name)) continue;
            auto* button = new QPushButton(tab);
            button->setObjectName(bk.name);
            button->setMinimumHeight(36);
            button->setStyleSheet(QString("QPushButton { background: %1; }").arg(bk.style));
            tab->layout()->addWidget(button);
        }
    }
    auto* r = CUiHost::Find<QSlider>(dlg, "AdjustColorSliderR");
    auto* g = CUiHost::Find<QSlider>(dlg, "AdjustColorSliderG");
    auto* b = CUiHost::Find<QSlider>(dlg, "AdjustColorSliderB");
    int red = 255, green = 255, blue = 255;
    if (QWidget* bg = CUiHost::Find<QWidget>(m_frame, "Mainfrm_BG"); !SkinRgb(App().m_settings.Get().skin, &red, &green, &blue) && bg) {
        const QColor current = bg->palette().color(QPalette::Window);
        red = current.red();
        green = current.green();
        blue = current.blue();
    }
    if (r && g && b) {
        const QSignalBlocker br(r), bgl(g), bb(b);
        r->setValue(red);
        g->setValue(green);
        b->setValue(blue);
    }
    // The choice is a setting: the frame follows it, and it lasts to the next start.
    auto keep = [](std::string skin) { App().m_settings.Change([&](SettingsRecord& s) { s.skin = std::move(skin); }); };
    host.Route(dlg, [=](const QString& c, const QString& n) {
        if (n == "valuechanged" && r && g && b) {
            keep(SkinColour(r->value(), g->value(), b->value()));
        } else if (n == "click" && c.startsWith("colour_")) {
            keep(c.mid(7).toStdString());
        } else if (n == "click" && c.startsWith("bk_")) {
            keep(c == "bk_001" ? std::string() : c.toStdString());
        } else if (c == "ColorWnd_Btn_Close" && n == "click") {
            dlg->accept();
        }
    });
    host.Relabel(dlg);
    dlg->exec();
    delete dlg;
}

bool CMainFrame::RequestClose()
{
    if (m_closing) return true;
    auto& app = App();
    if (app.m_host->Message(this, "Main_Msg_Close", QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) !=
        QMessageBox::Ok)
        return false;
    m_closing = true;
    // Playback stops with the play windows' own teardown; the play
    // controls' keys (kept in the settings as they change) last to the next run.
    std::string error;
    if (!WritePlaySettings(app.m_folders.ConfigFile(), app.m_settings.Get(), &error))
        APP_TRACE(1, "write settings: %s", error.c_str());
    app.m_host->KillTimer(this, kHandOverTimer);
    // Our own process ends in order: the loop returns, main() releases.
    QTimer::singleShot(100, qApp, &QApplication::quit);
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_closing || RequestClose())
        event->accept();
    else
        event->ignore();
}

}  // namespace velmor
