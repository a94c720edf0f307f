#include "player/app/SettingsDlg.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QJsonValue>
#include <QLineEdit>

#include <cmath>
#include <functional>
#include <map>

#include "player/ui/AppTrace.h"
#include "player/ui/UiHost.h"

namespace velmor {

template <class T>
T* CSettingsDlg::Ctl(const char* name) const
{
    return CUiHost::Find<T>(m_dlg, name);
}

CSettingsDlg::CSettingsDlg(CUiHost& host, CSettings& settings, SettingsDlgHooks hooks, QWidget* parent)
    : m_host(host), m_settings(settings), m_hooks(std::move(hooks))
{
    QWidget* w = m_host.Load("ProjectSet", parent);
    m_dlg = qobject_cast<QDialog*>(w);
    if (!m_dlg) {
        // The layout is missing: an empty dialog keeps the program going.
        delete w;
        m_dlg = new QDialog(parent);
    }
    Fill();
    m_host.Route(m_dlg, [this](const QString& c, const QString& n) { OnNotify(c, n); });
}

CSettingsDlg::~CSettingsDlg() { delete m_dlg; }

int CSettingsDlg::exec() { return m_dlg->exec(); }

namespace {

QString ChannelBox(int i) { return QString("Project_Check_%1").arg(i); }

}  // namespace

void CSettingsDlg::Fill()
{
    const SettingsRecord s = m_settings.Get();
    for (const SettingKey& k : SettingKeys()) {
        if (k.controlKind == ESettingControl::kNone) continue;
        PutControl(k, GetSetting(s, k));
    }
    if (auto* c = Ctl<QAbstractButton>("Project_Check_All")) c->setChecked((s.recordChn & 0xFFFF) == 0xFFFF);
}

void CSettingsDlg::PutControl(const SettingKey& k, const SettingValue& v)
{
    const double number = std::holds_alternative<double>(v) ? std::get<double>(v) : 0.0;
    switch (k.controlKind) {
    case ESettingControl::kNone: break;
    case ESettingControl::kCheck:
        if (auto* c = Ctl<QAbstractButton>(k.control)) c->setChecked(number != 0);
        break;
    case ESettingControl::kComboIndex:
        if (auto* c = Ctl<QComboBox>(k.control)) c->setCurrentIndex(int(number));
        break;
    case ESettingControl::kComboText:
        if (auto* c = Ctl<QComboBox>(k.control))
            c->setCurrentText(k.kind == ESettingKind::kReal ? QString::fromStdString(FormatLowPass(number))
                                                            : QString::number(int(number)));
        break;
    case ESettingControl::kEdit:
        if (auto* e = Ctl<QLineEdit>(k.control))
            e->setText(QString::fromStdString(std::holds_alternative<std::string>(v) ? std::get<std::string>(v) : ""));
        break;
    case ESettingControl::kChannels:
        for (int i = 0; i < 16; ++i)
            if (auto* c = Ctl<QAbstractButton>(ChannelBox(i).toUtf8().constData())) c->setChecked((int(number) >> i) & 1);
        break;
    }
}

bool CSettingsDlg::TakeControl(const SettingKey& k, SettingsRecord& s) const
{
    SettingValue v;
    switch (k.controlKind) {
    case ESettingControl::kNone: return false;
    case ESettingControl::kCheck: {
        auto* c = Ctl<QAbstractButton>(k.control);
        if (!c) return false;
        v = c->isChecked() ? 1.0 : 0.0;
        break;
    }
    case ESettingControl::kComboIndex: {
        auto* c = Ctl<QComboBox>(k.control);
        if (!c || c->currentIndex() < 0) return false;
        v = double(c->currentIndex());
        break;
    }
    case ESettingControl::kComboText: {
        auto* c = Ctl<QComboBox>(k.control);
        if (!c) return false;
        v = ParseDecimal(c->currentText().toStdString(), std::get<double>(GetSetting(s, k)));
        break;
    }
    case ESettingControl::kEdit: {
        auto* e = Ctl<QLineEdit>(k.control);
        if (!e) return false;
        v = e->text().toStdString();
        break;
    }
    case ESettingControl::kChannels: {
        int mask = 0;
        for (int i = 0; i < 16; ++i)
            if (auto* c = Ctl<QAbstractButton>(ChannelBox(i).toUtf8().constData()); c && c->isChecked()) mask |= 1 << i;
        v = double(mask);
        break;
    }
    }
    // A control offers only values the key takes; one that does not keeps
    // the value in force.
    return SetSetting(s, k, v);
}

void CSettingsDlg::OnNotify(const QString& control, const QString& notification)
{
    CUiHost& host = m_host;
    if (notification != "click") return;
    if (control == "Project_Btn_OK") {
        Apply();
        m_dlg->accept();
    } else if (control == "Project_Btn_Cancel") {
        m_dlg->reject();
    } else if (control == "Project_Check_All") {
        const bool on = Ctl<QAbstractButton>("Project_Check_All")->isChecked();
        for (int i = 0; i < 16; ++i)
            if (auto* c = Ctl<QAbstractButton>(("Project_Check_" + std::to_string(i)).c_str())) c->setChecked(on);
    } else if (control == "Project_Btn_MapInfoFile") {
        const QString f = host.ChooseOpenFile(m_dlg, "MBTiles File (*.mbtiles)|*.mbtiles|gst File (*.gst)|*.gst|All Files (*.*)|*.*||");
        if (!f.isEmpty()) Ctl<QLineEdit>("Project_Edit_MapInfoGst")->setText(f);
    } else if (control == "Project_Btn_Snap" || control == "Project_Btn_Cut") {
        auto* e = Ctl<QLineEdit>(control == "Project_Btn_Snap" ? "Project_Edit_SnapPath" : "Project_Edit_Cut");
        const QString d = host.ChooseFolder(m_dlg, e->text());
        if (!d.isEmpty()) e->setText(d);
    }
}

void CSettingsDlg::Apply()
{
    SettingsRecord next = m_settings.Get();
    for (const SettingKey& k : SettingKeys()) TakeControl(k, next);
    // The store tells every window that uses a changed key: the language
    // relabels, the map reloads, playing windows take the new values.
    for (const std::string& key : m_settings.Apply(next)) APP_TRACE(1, "%s changed", key.c_str());
    std::string error;
    if (m_hooks.save && !m_hooks.save(&error)) {
        APP_TRACE(1, "write settings: %s", error.c_str());
        m_host.MessageText(m_dlg, QString::fromStdString(error));
        return;
    }
    if (m_hooks.applied) m_hooks.applied();
    m_host.Message(m_dlg, "ProjectSet_Msg_Set");
}

bool CSettingsDlg::SetControls(const QJsonObject& values, QString* error)
{
    // Checked whole first: one wrong value refuses the set and moves no control.
    SettingsRecord scratch = m_settings.Get();
    std::vector<std::pair<const SettingKey*, SettingValue>> puts;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const SettingKey* k = FindSettingKey(it.key().toStdString());
        if (!k || !k->editable || k->controlKind == ESettingControl::kNone) {
            *error = "unknown or read-only setting: " + it.key();
            return false;
        }
        const QJsonValue v = it.value();
        SettingValue value;
        if (v.isString())
            value = v.toString().toStdString();
        else if (v.isBool() && k->kind == ESettingKind::kBool)
            value = v.toBool() ? 1.0 : 0.0;
        else if (v.isDouble())
            value = v.toDouble();
        else
            value = std::string();  // never accepted by a number key
        if (!SetSetting(scratch, *k, value) || (v.isString() && k->kind != ESettingKind::kText)) {
            *error = "wrong value for " + it.key();
            return false;
        }
        puts.emplace_back(k, value);
    }
    for (const auto& [k, value] : puts) PutControl(*k, value);
    return true;
}

QJsonObject SettingsJson(const SettingsRecord& s)
{
    QJsonObject out;
    for (const SettingKey& k : SettingKeys()) {
        const SettingValue v = GetSetting(s, k);
        if (std::holds_alternative<std::string>(v))
            out[k.key] = QString::fromStdString(std::get<std::string>(v));
        else if (k.kind == ESettingKind::kReal)
            out[k.key] = std::get<double>(v);
        else
            out[k.key] = int(std::get<double>(v));
    }
    return out;
}

}  // namespace velmor
