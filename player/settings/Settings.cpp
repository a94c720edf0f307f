#include "player/settings/Settings.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "common/UtcOffset.h"
#include "player/settings/ConfigFile.h"

#include <algorithm>
#include <cmath>

namespace velmor {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(std::string_view bytes)
{
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        uint32_t v = uint8_t(bytes[i]) << 16;
        if (rest == 2) v |= uint8_t(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string Base64Decode(std::string_view text)
{
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v = Sextet(c);
        if (v < 0) break;
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += char((acc >> bits) & 0xFF);
        }
    }
    return out;
}

// Number texts in the file never follow the user's locale (a decimal comma
// would read back as a different value).
std::string FormatLowPass(double v)
{
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 1);
    return std::string(buf, res.ptr);
}

double ParseDecimal(std::string_view text, double def)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
    double v = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), v);
    return res.ec == std::errc() ? v : def;
}

void NormaliseLanguage(int stored, SettingsRecord& s)
{
    s.language = stored;
    if (stored <= 10) return;
    switch (stored) {
    case 1033:
        s.language = 2;
        s.mapType = 1;
        s.convertGps = 0;
        break;
    case 1028:
        s.language = 1;
        s.mapType = 1;
        s.convertGps = 1;
        break;
    case 2052:
        s.language = 0;
        s.mapType = 0;
        s.convertGps = 1;
        break;
    default:
        s.mapType = 0;
        s.convertGps = 1;
        break;
    }
}

SettingsRecord ReadSettings(const CIniFile& ini, const std::filesystem::path& defaultSnap,
                       const std::filesystem::path& defaultSave, bool* defaultsFilled)
{
    const char* sec = kConfigSection;
    SettingsRecord s;
    s.snapPath = ini.GetString(sec, "SnapPath", "");
    s.saveFilePath = ini.GetString(sec, "SaveFilePath", "");
    s.gstFile = ini.GetString(sec, "GSTFILE", "");
    s.mapType = ini.GetInt(sec, "MapType", 0);
    s.convertGps = ini.GetInt(sec, "ConvertGPS", 1);
    NormaliseLanguage(ini.GetInt(sec, "Language", 0), s);
    s.snapPicFormat = ini.GetInt(sec, "SnapPicFormat", 0);
    s.recordChn = ini.GetInt(sec, "RecordChn", 0xFFFF);
    if (s.recordChn == 0) s.recordChn = 0xFFFF;
    s.addOsd = ini.GetInt(sec, "ADDOSD", 0);
    s.mediaInfo = ini.GetInt(sec, "MEDIAINFO", 1);
    s.videoScale = ini.GetInt(sec, "VIDEOSCALE", 1);
    s.alwaysMain = ini.GetInt(sec, "ALWAYSMAIN", 0) != 0 ? 1 : 0;
    s.lowPass = ini.GetInt(sec, "LOWPASS", 0);
    s.lowPassValue = ParseDecimal(ini.GetString(sec, "LOWPASSVALUE", "0.8"), 0.0);
    s.nsEnable = ini.GetInt(sec, "NSENABLE", 0);
    s.nsValue = ini.GetInt(sec, "NSVALUE", 1);
    s.showGeo = ini.GetInt(sec, "SHOWGEO", 0);
    s.delayTime = ini.GetInt(sec, "DELAYTIME", 0);
    s.speedMph = ini.GetInt(sec, "SPEEDMPH", 0);
    s.googleKey = Base64Decode(ini.GetString(sec, "GOOGLEKEY", ""));
    s.voice = ini.GetInt(sec, "Voice", 0);
    s.equalize = ini.GetString(sec, "Equalize", "");
    s.skin = ini.GetString(sec, "SKIN", "");
    s.caseUtcOffset = ini.GetString(sec, "CaseUtcOffset", "");

    bool filled = false;
    if (s.snapPath.empty()) {
        s.snapPath = defaultSnap.string();
        filled = true;
    }
    if (s.saveFilePath.empty()) {
        s.saveFilePath = defaultSave.string();
        filled = true;
    }
    if (defaultsFilled) *defaultsFilled = filled;
    return s;
}

bool WriteSettings(const std::filesystem::path& file, const SettingsRecord& s, std::string* error)
{
    CProfileEditor ed;
    if (!ed.Load(file)) {
        if (error) *error = "cannot read " + file.string();
        return false;
    }
    const char* sec = kConfigSection;
    for (const SettingKey& k : SettingKeys()) {
        if (!k.editable) continue;
        const SettingValue v = GetSetting(s, k);
        if (std::string_view(k.key) == "GOOGLEKEY") {
            // A key the user cleared must not come back from the file at the next start.
            if (!s.googleKey.empty())
                ed.Set(sec, k.key, Base64Encode(s.googleKey));
            else
                ed.Remove(sec, k.key);
        } else if (std::string_view(k.key) == "CaseUtcOffset") {
            // Files of profiles that never declared one stay as they were.
            if (!s.caseUtcOffset.empty())
                ed.Set(sec, k.key, s.caseUtcOffset);
            else
                ed.Remove(sec, k.key);
        } else if (k.kind == ESettingKind::kReal) {
            ed.Set(sec, k.key, FormatLowPass(std::get<double>(v)));
        } else if (k.kind == ESettingKind::kText) {
            ed.Set(sec, k.key, std::get<std::string>(v));
        } else {
            ed.Set(sec, k.key, std::to_string(int(std::get<double>(v))));
        }
    }
    return ed.Save(file, error);
}

bool WritePlaySettings(const std::filesystem::path& file, const SettingsRecord& s, std::string* error)
{
    CProfileEditor ed;
    if (!ed.Load(file)) {
        if (error) *error = "cannot read " + file.string();
        return false;
    }
    ed.Set(kConfigSection, "Equalize", s.equalize);
    ed.Set(kConfigSection, "SKIN", s.skin);
    ed.Set(kConfigSection, "Voice", std::to_string(s.voice));
    ed.Set(kConfigSection, "MEDIAINFO", std::to_string(s.mediaInfo));
    return ed.Save(file, error);
}

namespace {

using R = SettingsRecord;
using K = ESettingKind;
using C = ESettingControl;

// Empty (nothing declared) or an offset from UTC.
bool AcceptsUtcOffset(std::string_view text) { return text.empty() || ParseUtcOffset(text).has_value(); }

// In the order the file has always been written in.
const SettingKey kKeys[] = {
    {"SnapPath", K::kText, 0, 0, &R::snapPath, "Project_Edit_SnapPath", C::kEdit},
    {"SaveFilePath", K::kText, 0, 0, &R::saveFilePath, "Project_Edit_Cut", C::kEdit},
    {"MapType", K::kInt, 0, 2, &R::mapType, "Project_Combox_Map", C::kComboIndex},
    {"GSTFILE", K::kText, 0, 0, &R::gstFile, "Project_Edit_MapInfoGst", C::kEdit},
    {"ConvertGPS", K::kBool, 0, 1, &R::convertGps, "Project_CheckBox_GPS", C::kCheck},
    {"Language", K::kInt, 0, 2, &R::language, "Project_Combox_Lang", C::kComboIndex},
    {"SnapPicFormat", K::kInt, 0, 2, &R::snapPicFormat, "Project_Combox_SnapType", C::kComboIndex},
    {"RecordChn", K::kInt, 0, 65535, &R::recordChn, "Project_Check_", C::kChannels},
    {"ADDOSD", K::kBool, 0, 1, &R::addOsd, "Project_CheckBox_OSD", C::kCheck},
    {"MEDIAINFO", K::kBool, 0, 1, &R::mediaInfo, "Project_CheckBox_MediaInfo", C::kCheck},
    {"VIDEOSCALE", K::kBool, 0, 1, &R::videoScale, "Project_CheckBox_VideoScale", C::kCheck},
    {"ALWAYSMAIN", K::kBool, 0, 1, &R::alwaysMain, "Project_CheckBox_AlwaysMain", C::kCheck},
    {"LOWPASS", K::kBool, 0, 1, &R::lowPass, "Project_CheckBox_EnableLowPass", C::kCheck},
    {"LOWPASSVALUE", K::kReal, 0, 10, &R::lowPassValue, "Project_Combox_LowPass", C::kComboText},
    {"NSENABLE", K::kBool, 0, 1, &R::nsEnable, "Project_CheckBox_EnableNS", C::kCheck},
    {"NSVALUE", K::kInt, 0, 4, &R::nsValue, "Project_Combox_NSValue", C::kComboText},
    {"SHOWGEO", K::kBool, 0, 1, &R::showGeo, "Project_CheckBox_ShowGeo", C::kCheck},
    {"SPEEDMPH", K::kBool, 0, 1, &R::speedMph, "Project_Speed_Unit", C::kComboIndex},
    {"GOOGLEKEY", K::kText, 0, 0, &R::googleKey, "Project_Edit_GoogleKey", C::kEdit},
    {"CaseUtcOffset", K::kText, 0, 0, &R::caseUtcOffset, "Project_Edit_CaseUtcOffset", C::kEdit, true,
     AcceptsUtcOffset},
    {"DELAYTIME", K::kInt, 0, 0, &R::delayTime, nullptr, C::kNone, false},
    {"Voice", K::kInt, 0, 100, &R::voice, nullptr, C::kNone, false},
    {"Equalize", K::kText, 0, 0, &R::equalize, nullptr, C::kNone, false},
    {"SKIN", K::kText, 0, 0, &R::skin, nullptr, C::kNone, false},
};

}  // namespace

std::span<const SettingKey> SettingKeys() { return kKeys; }

const SettingKey* FindSettingKey(std::string_view key)
{
    for (const SettingKey& k : kKeys)
        if (key == k.key) return &k;
    return nullptr;
}

SettingValue GetSetting(const SettingsRecord& s, const SettingKey& k)
{
    return std::visit(
        [&](auto member) -> SettingValue {
            using T = std::decay_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, std::string>)
                return s.*member;
            else
                return double(s.*member);
        },
        k.field);
}

bool SetSetting(SettingsRecord& s, const SettingKey& k, const SettingValue& v)
{
    if (k.kind == ESettingKind::kText) {
        if (!std::holds_alternative<std::string>(v)) return false;
        if (k.accepts && !k.accepts(std::get<std::string>(v))) return false;
        s.*std::get<std::string SettingsRecord::*>(k.field) = std::get<std::string>(v);
        return true;
    }
    if (!std::holds_alternative<double>(v)) return false;
    const double d = std::get<double>(v);
    if (!std::isfinite(d)) return false;
    if (k.kind == ESettingKind::kReal) {
        if (d < k.min / 10.0 || d > k.max / 10.0) return false;
        s.*std::get<double SettingsRecord::*>(k.field) = d;
        return true;
    }
    if (std::floor(d) != d || d < k.min || d > k.max) return false;
    s.*std::get<int SettingsRecord::*>(k.field) = int(d);
    return true;
}

std::vector<std::string> ChangedKeys(const SettingsRecord& a, const SettingsRecord& b)
{
    std::vector<std::string> out;
    for (const SettingKey& k : kKeys)
        if (GetSetting(a, k) != GetSetting(b, k)) out.push_back(k.key);
    return out;
}

CSettings::CSettings(SettingsRecord initial) : m_record(std::make_shared<const SettingsRecord>(std::move(initial))) {}

std::shared_ptr<const SettingsRecord> CSettings::Snapshot() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_record;
}

std::vector<std::string> CSettings::Apply(const SettingsRecord& next)
{
    std::shared_ptr<const SettingsRecord> before;
    std::vector<Listener> listeners;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        before = m_record;
        m_record = std::make_shared<const SettingsRecord>(next);
        for (const auto& [id, l] : m_listeners) listeners.push_back(l);
    }
    std::vector<std::string> changed = ChangedKeys(*before, next);
    if (changed.empty()) return changed;
    ++m_generation;
    // Told outside the lock: a listener reads the store again, or applies.
    for (const Listener& l : listeners) l(*before, next);
    return changed;
}

std::vector<std::string> CSettings::Change(const std::function<void(SettingsRecord&)>& edit)
{
    SettingsRecord next = Get();
    edit(next);
    return Apply(next);
}

int CSettings::Subscribe(Listener listener)
{
    std::lock_guard<std::mutex> lock(m_lock);
    const int id = m_nextId++;
    m_listeners.emplace(id, std::move(listener));
    return id;
}

void CSettings::Unsubscribe(int id)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_listeners.erase(id);
}

}  // namespace velmor
