// The settings dialog: its controls show the settings in force; OK puts
// them in force through the settings store and writes them.
#pragma once

#include <QJsonObject>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "player/settings/Settings.h"

class QDialog;

namespace velmor {

class CUiHost;

// What OK does beyond the store: writing the file, and telling who listens.
struct SettingsDlgHooks {
    std::function<bool(std::string* error)> save;
    std::function<void()> applied;
};

class CSettingsDlg {
public:
    CSettingsDlg(CUiHost& host, CSettings& settings, SettingsDlgHooks hooks, QWidget* parent);
    ~CSettingsDlg();

    int exec();
    // OK: applies the controls in the dialog's order, writes and tells.
    void Apply();

    // Puts the values of `values` (keys of the configuration file) into the
    // controls, as the user would type and tick them. Refuses the whole set
    // (and changes nothing) on an unknown key or a value of the wrong kind.
    bool SetControls(const QJsonObject& values, QString* error);

    QDialog* Dialog() const { return m_dlg; }

private:
    void Fill();
    // One key's value into its control, and its control's value into `s`.
    void PutControl(const SettingKey& k, const SettingValue& v);
    bool TakeControl(const SettingKey& k, SettingsRecord& s) const;
    void OnNotify(const QString& control, const QString& notification);
    template <class T>
    T* Ctl(const char* name) const;

    CUiHost& m_host;
    CSettings& m_settings;
    SettingsDlgHooks m_hooks;
    QDialog* m_dlg = nullptr;
};

// The settings in force as the control socket reports them.
QJsonObject SettingsJson(const SettingsRecord& s);

}  // namespace velmor
