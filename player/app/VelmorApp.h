// The program's process-wide state: folders, settings, language table, the
// one-instance guard and the user-interface host, created in the start-up
// order and released in reverse.
#pragma once

#include <QString>

class QWidget;

#include <deque>
#include <memory>
#include <string>

#include "common/LanguageTable.h"
#include "common/AppFolders.h"
#include "player/settings/Settings.h"
#include "player/app/SingleInstance.h"
#include "player/ui/UiHost.h"

namespace velmor {

class CMainFrame;
class CControlServer;
class CSettingsDlg;

class CVelmorApp {
public:
    static CVelmorApp& Get();

    CAppFolders m_folders;
    // The one store of the settings in force (read where used, never copied).
    CSettings m_settings;
    CLanguageTable m_language;
    CSingleInstance m_instance;
    std::unique_ptr<CUiHost> m_host;
    CMainFrame* m_mainFrame = nullptr;
    CControlServer* m_control = nullptr;
    std::string m_commandLinePath;

    // Paths given from outside (command line, a second start), kept for the
    // driving-record page, which takes them once it exists.
    std::deque<std::string> m_pendingOpen;
    void OpenFromOutside(const std::string& path);

    // The language section in force; every open window is re-labelled.
    void SelectLanguage(int index);
    void RelabelAll();

    // Writes the settings dialog's keys; false with `error` on failure.
    bool SaveSettings(std::string* error = nullptr);
    // The settings dialog over this program's store, host and file.
    std::unique_ptr<CSettingsDlg> MakeSettingsDlg(QWidget* parent);

    QString Text(const char* key) const { return QString::fromStdString(m_language.Text(key)); }

private:
    CVelmorApp() = default;
};

inline CVelmorApp& App() { return CVelmorApp::Get(); }

}  // namespace velmor
