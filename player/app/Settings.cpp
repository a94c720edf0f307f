#include "player/app/Settings.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "player/app/ConfigFile.h"

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

void NormaliseLanguage(int stored, CSettings& s)
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

CSettings ReadSettings(const CIniFile& ini, const std::filesystem::path& defaultSnap,
                       const std::filesystem::path& defaultSave, bool* defaultsFilled)
{
    const char* sec = kConfigSection;
    CSettings s;
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

bool WriteSettings(const std::filesystem::path& file, const CSettings& s, std::string* error)
{
    CProfileEditor ed;
    if (!ed.Load(file)) {
        if (error) *error = "cannot read " + file.string();
        return false;
    }
    const char* sec = kConfigSection;
    auto num = [&](const char* key, int v) { ed.Set(sec, key, std::to_string(v)); };
    ed.Set(sec, "SnapPath", s.snapPath);
    ed.Set(sec, "SaveFilePath", s.saveFilePath);
    num("MapType", s.mapType);
    num("ConvertGPS", s.convertGps);
    num("Language", s.language);
    num("SnapPicFormat", s.snapPicFormat);
    num("RecordChn", s.recordChn);
    num("ADDOSD", s.addOsd);
    num("MEDIAINFO", s.mediaInfo);
    num("VIDEOSCALE", s.videoScale);
    num("ALWAYSMAIN", s.alwaysMain);
    num("LOWPASS", s.lowPass);
    ed.Set(sec, "LOWPASSVALUE", FormatLowPass(s.lowPassValue));
    num("NSENABLE", s.nsEnable);
    num("NSVALUE", s.nsValue);
    num("SHOWGEO", s.showGeo);
    num("SPEEDMPH", s.speedMph);
    // A key the user cleared must not come back from the file at the next start.
    if (!s.googleKey.empty())
        ed.Set(sec, "GOOGLEKEY", Base64Encode(s.googleKey));
    else
        ed.Remove(sec, "GOOGLEKEY");
    return ed.Save(file, error);
}

bool WritePlaySettings(const std::filesystem::path& file, const CSettings& s, std::string* error)
{
    CProfileEditor ed;
    if (!ed.Load(file)) {
        if (error) *error = "cannot read " + file.string();
        return false;
    }
    ed.Set(kConfigSection, "Equalize", s.equalize);
    ed.Set(kConfigSection, "Voice", std::to_string(s.voice));
    ed.Set(kConfigSection, "MEDIAINFO", std::to_string(s.mediaInfo));
    return ed.Save(file, error);
}

}  // namespace velmor
