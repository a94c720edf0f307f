// The main frame: page buttons, title-bar buttons, the menu with the
// settings dialog and the about box, the hand-over poll and the orderly
// close.
#pragma once

#include <QWidget>

#include <map>
#include <optional>
#include <string>
#include <utility>

#include "player/export/ReportVerifier.h"

#include "player/ui/ActionTable.h"

class QMenu;
class QShortcut;
class QStackedWidget;
class QAction;

namespace velmor {

class CLogPage;
class CPlayWndDlg;
class CRKDrivingRecord;

class CMainFrame : public QWidget {
public:
    CMainFrame();
    ~CMainFrame() override;

    // "MainFrm_Btn_DrivingRecord", "MainFrm_Btn_PlayBack", "MainFrm_Btn_Log".
    bool ShowPage(const QString& button);
    static bool IsPageButton(const QString& name);
    // The keyboard shortcut of `key` ("Space", "Ctrl+O"), as the user presses
    // it; false when no shortcut has that key.
    bool PressKey(const QString& key);
    QString CurrentPage() const { return m_page; }

    // The close question and, when confirmed, the orderly end. False when
    // the user cancelled.
    bool RequestClose();

    void OpenSettings();
    void OpenAbout();
    // The menu's "verify an export": a report chosen, checked, the outcome shown.
    void OpenVerifyExport();
    QAction* VerifyExportAction() const { return m_actVerify; }
    // The check the menu item made last, handed over once.
    std::optional<ReportCheck> TakeLastVerify() { return std::exchange(m_lastVerify, std::nullopt); }
    void OpenSkin();
    void Relabel();

    QWidget* Frame() const { return m_frame; }
    CLogPage* LogPage() const { return m_log; }
    CPlayWndDlg* PlayWnd() const { return m_play; }
    CRKDrivingRecord* DrivingRecord() const { return m_driving; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void OnNotify(const QString& control, const QString& notification);
    void PollHandOver();
    void UpdateMaxButtons();
    void AddShortcuts();
    // The frame's background as the SKIN setting says.
    void ApplySkin(const std::string& skin);

    QWidget* m_frame = nullptr;
    QStackedWidget* m_pages = nullptr;
    CLogPage* m_log = nullptr;
    CPlayWndDlg* m_play = nullptr;
    CRKDrivingRecord* m_driving = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_actSet = nullptr;
    QAction* m_actAbout = nullptr;
    QAction* m_actVerify = nullptr;
    std::optional<ReportCheck> m_lastVerify;
    QString m_page;
    bool m_closing = false;
    int m_settingsListener = 0;
    CActionTable m_actions;
    std::map<QString, QShortcut*> m_shortcuts;
};

}  // namespace velmor
