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

#include "player/app/AppTrace.h"
#include "player/app/ControlServer.h"
#include "player/app/MainFrame.h"
#include "player/app/VelmorApp.h"
#include "player/playback/PlayWndDlg.h"
#include "player/workspace/DrivingRecord.h"

namespace velmor {

template <class T>
T* CSettingsDlg::Ctl(const char* name) const
{
    return CUiHost::Find<T>(m_dlg, name);
}

CSettingsDlg::CSettingsDlg(QWidget* parent)
{
    QWidget* w = App().m_host->Load("ProjectSet", parent);
    m_dlg = qobject_cast<QDialog*>(w);
    if (!m_dlg) {
        // The layout is missing: an empty dialog keeps the program going.
        delete w;
        m_dlg = new QDialog(parent);
    }
    Fill();
    App().m_host->Route(m_dlg, [this](const QString& c, const QString& n) { OnNotify(c, n); });
}

CSettingsDlg::~CSettingsDlg() { delete m_dlg; }

int CSettingsDlg::exec() { return m_dlg->exec(); }

void CSettingsDlg::Fill()
{
    const CSettings& s = App().m_settings;
    auto check = [&](const char* name, bool on) {
        if (auto* c = Ctl<QAbstractButton>(name)) c->setChecked(on);
    };
    auto combo = [&](const char* name, int index) {
        if (auto* c = Ctl<QComboBox>(name)) c->setCurrentIndex(index);
    };
    auto edit = [&](const char* name, const std::string& text) {
        if (auto* e = Ctl<QLineEdit>(name)) e->setText(QString::fromStdString(text));
    };
    combo("Project_Combox_Lang", s.language);
    check("Project_CheckBox_GPS", s.convertGps != 0);
    check("Project_CheckBox_MediaInfo", s.mediaInfo != 0);
    check("Project_CheckBox_VideoScale", s.videoScale != 0);
    check("Project_CheckBox_AlwaysMain", s.alwaysMain != 0);
    combo("Project_Combox_Map", s.mapType);
    edit("Project_Edit_GoogleKey", s.googleKey);
    edit("Project_Edit_MapInfoGst", s.gstFile);
    edit("Project_Edit_SnapPath", s.snapPath);
    edit("Project_Edit_Cut", s.saveFilePath);
    combo("Project_Combox_SnapType", s.snapPicFormat);
    for (int i = 0; i < 16; ++i) check(("Project_Check_" + std::to_string(i)).c_str(), (s.recordChn >> i) & 1);
    check("Project_Check_All", (s.recordChn & 0xFFFF) == 0xFFFF);
    check("Project_CheckBox_OSD", s.addOsd != 0);
    check("Project_CheckBox_EnableLowPass", s.lowPass != 0);
    if (auto* c = Ctl<QComboBox>("Project_Combox_LowPass")) c->setCurrentText(QString::fromStdString(FormatLowPass(s.lowPassValue)));
    check("Project_CheckBox_EnableNS", s.nsEnable != 0);
    if (auto* c = Ctl<QComboBox>("Project_Combox_NSValue")) c->setCurrentText(QString::number(s.nsValue));
    check("Project_CheckBox_ShowGeo", s.showGeo != 0);
    combo("Project_Speed_Unit", s.speedMph ? 1 : 0);
}

void CSettingsDlg::OnNotify(const QString& control, const QString& notification)
{
    auto& host = *App().m_host;
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
        const QString f = host.ChooseOpenFile(m_dlg, "gst File (*.gst)|*.gst");
        if (!f.isEmpty()) Ctl<QLineEdit>("Project_Edit_MapInfoGst")->setText(f);
    } else if (control == "Project_Btn_Snap" || control == "Project_Btn_Cut") {
        auto* e = Ctl<QLineEdit>(control == "Project_Btn_Snap" ? "Project_Edit_SnapPath" : "Project_Edit_Cut");
        const QString d = host.ChooseFolder(m_dlg, e->text());
        if (!d.isEmpty()) e->setText(d);
    }
}

void CSettingsDlg::Apply()
{
    auto& app = App();
    CSettings& s = app.m_settings;
    auto checked = [&](const char* name) {
        auto* c = Ctl<QAbstractButton>(name);
        return c && c->isChecked() ? 1 : 0;
    };
    auto index = [&](const char* name, int def) {
        auto* c = Ctl<QComboBox>(name);
        return c && c->currentIndex() >= 0 ? c->currentIndex() : def;
    };
    auto text = [&](const char* name, const std::string& def) {
        auto* e = Ctl<QLineEdit>(name);
        return e ? e->text().toStdString() : def;
    };

    // 1. Language: every caption follows at once.
    if (int lang = index("Project_Combox_Lang", s.language); lang != s.language) {
        s.language = lang;
        app.SelectLanguage(lang);
    }
    // 2.-4. The pages that use these read them again when they change.
    if (int v = checked("Project_CheckBox_GPS"); v != s.convertGps) {
        s.convertGps = v;
        APP_TRACE(1, "ConvertGPS -> %d", v);
        if (app.m_mainFrame && app.m_mainFrame->DrivingRecord()) app.m_mainFrame->DrivingRecord()->SetConvertGps(v != 0);
    }
    if (int v = checked("Project_CheckBox_MediaInfo"); v != s.mediaInfo) {
        s.mediaInfo = v;
        APP_TRACE(1, "MEDIAINFO -> %d", v);
    }
    if (int v = checked("Project_CheckBox_VideoScale"); v != s.videoScale) {
        s.videoScale = v;
        APP_TRACE(1, "VIDEOSCALE -> %d", v);
    }
    if (int v = checked("Project_CheckBox_AlwaysMain"); v != s.alwaysMain) {
        s.alwaysMain = v;
        APP_TRACE(1, "ALWAYSMAIN -> %d", v);
        // Windows playing now change their stream at their next key frame.
        if (app.m_mainFrame && app.m_mainFrame->PlayWnd()) app.m_mainFrame->PlayWnd()->SetAlwaysMain(v != 0);
    }
    // 5. Map: a new key or map file reloads the page; a new type also
    // switches the map area.
    const int mapType = index("Project_Combox_Map", s.mapType);
    const std::string key = text("Project_Edit_GoogleKey", s.googleKey);
    const std::string gst = text("Project_Edit_MapInfoGst", s.gstFile);
    bool reloadMap = false;
    if (mapType == s.mapType) {
        if (!EqualsNoCase(key, s.googleKey) || !EqualsNoCase(gst, s.gstFile)) {
            s.googleKey = key;
            s.gstFile = gst;
            APP_TRACE(1, "map reload");
            reloadMap = true;
        }
    } else {
        s.mapType = mapType;
        s.googleKey = key;
        s.gstFile = gst;
        APP_TRACE(1, "map type -> %d", mapType);
        reloadMap = true;
    }
    if (reloadMap && app.m_mainFrame && app.m_mainFrame->DrivingRecord()) {
        MapPageOptions map;
        map.mapType = s.mapType;
        map.language = s.language;
        map.googleKey = s.googleKey;
        map.gstFile = s.gstFile;
        map.convertGps = s.convertGps != 0;
        app.m_mainFrame->DrivingRecord()->LoadMap(map);
    }
    // 6.
    s.snapPath = text("Project_Edit_SnapPath", s.snapPath);
    s.saveFilePath = text("Project_Edit_Cut", s.saveFilePath);
    s.snapPicFormat = index("Project_Combox_SnapType", s.snapPicFormat);
    // 7.
    int chn = 0;
    for (int i = 0; i < 16; ++i)
        if (checked(("Project_Check_" + std::to_string(i)).c_str())) chn |= 1 << i;
    s.recordChn = chn;
    // 8.
    s.addOsd = checked("Project_CheckBox_OSD");
    s.lowPass = checked("Project_CheckBox_EnableLowPass");
    if (auto* c = Ctl<QComboBox>("Project_Combox_LowPass")) s.lowPassValue = c->currentText().toDouble();
    s.nsEnable = checked("Project_CheckBox_EnableNS");
    if (auto* c = Ctl<QComboBox>("Project_Combox_NSValue")) s.nsValue = c->currentText().toInt();
    s.showGeo = checked("Project_CheckBox_ShowGeo");
    s.speedMph = index("Project_Speed_Unit", 0) == 1 ? 1 : 0;
    // 9.
    std::string error;
    if (!app.SaveSettings(&error)) {
        APP_TRACE(1, "write settings: %s", error.c_str());
        app.m_host->MessageText(m_dlg, QString::fromStdString(error));
        return;
    }
    if (app.m_control) app.m_control->PushEvent("settings-applied");
    app.m_host->Message(m_dlg, "ProjectSet_Msg_Set");
}

namespace {

enum class Kind { Int, Bool, Text, Real };
struct KeyRule {
    const char* key;
    Kind kind;
    int min = 0, max = 0;
};

const KeyRule kEditable[] = {
    {"Language", Kind::Int, 0, 2},       {"ConvertGPS", Kind::Bool},          {"MEDIAINFO", Kind::Bool},
    {"VIDEOSCALE", Kind::Bool},          {"MapType", Kind::Int, 0, 2},        {"GOOGLEKEY", Kind::Text},
    {"ALWAYSMAIN", Kind::Bool},
    {"GSTFILE", Kind::Text},             {"SnapPath", Kind::Text},            {"SaveFilePath", Kind::Text},
    {"SnapPicFormat", Kind::Int, 0, 2},  {"RecordChn", Kind::Int, 0, 65535},  {"ADDOSD", Kind::Bool},
    {"LOWPASS", Kind::Bool},             {"LOWPASSVALUE", Kind::Real},        {"NSENABLE", Kind::Bool},
    {"NSVALUE", Kind::Int, 0, 4},        {"SHOWGEO", Kind::Bool},             {"SPEEDMPH", Kind::Bool},
};

}  // namespace

bool CSettingsDlg::SetControls(const QJsonObject& values, QString* error)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        const KeyRule* rule = nullptr;
        for (const auto& r : kEditable)
            if (it.key() == r.key) rule = &r;
        if (!rule) {
            *error = "unknown or read-only setting: " + it.key();
            return false;
        }
        const QJsonValue v = it.value();
        const bool integral = v.isDouble() && std::floor(v.toDouble()) == v.toDouble();
        bool ok = true;
        switch (rule->kind) {
        case Kind::Text: ok = v.isString(); break;
        case Kind::Real: ok = v.isDouble() && v.toDouble() >= 0.0 && v.toDouble() <= 1.0; break;
        case Kind::Bool: ok = v.isBool() || (integral && (v.toInt() == 0 || v.toInt() == 1)); break;
        case Kind::Int: ok = integral && v.toDouble() >= rule->min && v.toDouble() <= rule->max; break;
        }
        if (!ok) {
            *error = "wrong value for " + it.key();
            return false;
        }
    }
    auto intOf = [&](const char* key) { return values[key].isBool() ? int(values[key].toBool()) : values[key].toInt(); };
    auto check = [&](const char* key, const char* name) {
        if (values.contains(key))
            if (auto* c = Ctl<QAbstractButton>(name)) c->setChecked(intOf(key) != 0);
    };
    auto combo = [&](const char* key, const char* name) {
        if (values.contains(key))
            if (auto* c = Ctl<QComboBox>(name)) c->setCurrentIndex(intOf(key));
    };
    auto edit = [&](const char* key, const char* name) {
        if (values.contains(key))
            if (auto* e = Ctl<QLineEdit>(name)) e->setText(values[key].toString());
    };
    combo("Language", "Project_Combox_Lang");
    check("ConvertGPS", "Project_CheckBox_GPS");
    check("MEDIAINFO", "Project_CheckBox_MediaInfo");
    check("VIDEOSCALE", "Project_CheckBox_VideoScale");
    check("ALWAYSMAIN", "Project_CheckBox_AlwaysMain");
    combo("MapType", "Project_Combox_Map");
    edit("GOOGLEKEY", "Project_Edit_GoogleKey");
    edit("GSTFILE", "Project_Edit_MapInfoGst");
    edit("SnapPath", "Project_Edit_SnapPath");
    edit("SaveFilePath", "Project_Edit_Cut");
    combo("SnapPicFormat", "Project_Combox_SnapType");
    if (values.contains("RecordChn"))
        for (int i = 0; i < 16; ++i)
            if (auto* c = Ctl<QAbstractButton>(("Project_Check_" + std::to_string(i)).c_str()))
                c->setChecked((intOf("RecordChn") >> i) & 1);
    check("ADDOSD", "Project_CheckBox_OSD");
    check("LOWPASS", "Project_CheckBox_EnableLowPass");
    if (values.contains("LOWPASSVALUE"))
        if (auto* c = Ctl<QComboBox>("Project_Combox_LowPass"))
            c->setCurrentText(QString::fromStdString(FormatLowPass(values["LOWPASSVALUE"].toDouble())));
    check("NSENABLE", "Project_CheckBox_EnableNS");
    if (values.contains("NSVALUE"))
        if (auto* c = Ctl<QComboBox>("Project_Combox_NSValue")) c->setCurrentText(QString::number(intOf("NSVALUE")));
    check("SHOWGEO", "Project_CheckBox_ShowGeo");
    combo("SPEEDMPH", "Project_Speed_Unit");
    return true;
}

QJsonObject SettingsJson()
{
    const CSettings& s = App().m_settings;
    auto str = [](const std::string& v) { return QString::fromStdString(v); };
    return QJsonObject{
        {"SnapPath", str(s.snapPath)},   {"SaveFilePath", str(s.saveFilePath)}, {"GSTFILE", str(s.gstFile)},
        {"MapType", s.mapType},          {"ConvertGPS", s.convertGps},         {"Language", s.language},
        {"SnapPicFormat", s.snapPicFormat}, {"RecordChn", s.recordChn},        {"ADDOSD", s.addOsd},
        {"MEDIAINFO", s.mediaInfo},      {"VIDEOSCALE", s.videoScale},         {"ALWAYSMAIN", s.alwaysMain},
        {"LOWPASS", s.lowPass},
        {"LOWPASSVALUE", s.lowPassValue}, {"NSENABLE", s.nsEnable},            {"NSVALUE", s.nsValue},
        {"SHOWGEO", s.showGeo},          {"DELAYTIME", s.delayTime},           {"SPEEDMPH", s.speedMph},
        {"GOOGLEKEY", str(s.googleKey)}, {"Voice", s.voice},                   {"Equalize", str(s.equalize)},
    };
}

}  // namespace velmor
