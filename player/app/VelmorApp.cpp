#include "player/app/VelmorApp.h"

#include <QApplication>
#include <QJsonObject>
#include <QWidget>

#include <cstdio>

#include "player/ui/AppTrace.h"
#include "player/app/ControlServer.h"
#include "player/app/MainFrame.h"
#include "player/app/SettingsDlg.h"
#include "player/ui/UiHost.h"
#include "player/playback/PlayWndDlg.h"
#include "player/workspace/DrivingRecord.h"

namespace velmor {

CVelmorApp& CVelmorApp::Get()
{
    static CVelmorApp app;
    return app;
}

void CVelmorApp::OpenFromOutside(const std::string& path)
{
    APP_TRACE(1, "open from outside: %s", path.c_str());
    if (m_control) m_control->PushEvent("open-request", QJsonObject{{"path", QString::fromStdString(path)}});
    CPlayWndDlg* play = m_mainFrame ? m_mainFrame->PlayWnd() : nullptr;
    if (!play) {
        // The windows are not built yet: the path waits for them.
        m_pendingOpen.push_back(path);
        return;
    }
    m_mainFrame->ShowPage("MainFrm_Btn_PlayBack");
    std::string error;
    if (!m_mainFrame->DrivingRecord()->PlayOneRecordFile(path, &error))
        m_host->TellOpenFailed(m_mainFrame, path, error);
}

void CVelmorApp::SelectLanguage(int index)
{
    m_language.SelectIndex(index);
    RelabelAll();
}

void CVelmorApp::RelabelAll()
{
    if (!m_host) return;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != m_mainFrame) m_host->Relabel(w);
    if (m_mainFrame) m_mainFrame->Relabel();
}

bool CVelmorApp::SaveSettings(std::string* error)
{
    return WriteSettings(m_folders.ConfigFile(), m_settings.Get(), error);
}

std::unique_ptr<CSettingsDlg> CVelmorApp::MakeSettingsDlg(QWidget* parent)
{
    SettingsDlgHooks hooks;
    hooks.save = [this](std::string* error) { return SaveSettings(error); };
    hooks.applied = [this] {
        if (m_control) m_control->PushEvent("settings-applied");
    };
    return std::make_unique<CSettingsDlg>(*m_host, m_settings, std::move(hooks), parent);
}

}  // namespace velmor
