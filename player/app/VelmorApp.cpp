#include "player/app/VelmorApp.h"

#include <QApplication>
#include <QJsonObject>
#include <QWidget>

#include <cstdio>

#include "player/app/AppTrace.h"
#include "player/app/ControlServer.h"
#include "player/app/MainFrame.h"

namespace velmor {

CVelmorApp& CVelmorApp::Get()
{
    static CVelmorApp app;
    return app;
}

void CVelmorApp::OpenFromOutside(const std::string& path)
{
    // No page plays it yet: the path is kept and told, so that nothing
    // handed over is lost without a word.
    m_pendingOpen.push_back(path);
    APP_TRACE(1, "open from outside: %s", path.c_str());
    std::fprintf(stderr, "velmor: open from outside: %s\n", path.c_str());
    if (m_control) m_control->PushEvent("open-request", QJsonObject{{"path", QString::fromStdString(path)}});
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
    return WriteSettings(m_folders.ConfigFile(), m_settings, error);
}

}  // namespace velmor
