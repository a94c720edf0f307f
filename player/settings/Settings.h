// The settings: section CONFIG of the configuration file as a record, with
// its defaults and the normalisation of the stored values; the one table of
// its keys; and the one store of the values in force, which tells its
// listeners of every change.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "common/IniFile.h"

namespace velmor {

struct SettingsRecord {
    std::string snapPath;      // SnapPath
    std::string saveFilePath;  // SaveFilePath
    std::string gstFile;       // GSTFILE: the offline map's tile file
    int mapType = 0;           // MapType
    int convertGps = 1;        // ConvertGPS
    int language = 0;          // Language, as a section index
    int snapPicFormat = 0;     // SnapPicFormat
    int recordChn = 0xFFFF;    // RecordChn, bit i = channel i + 1
    int addOsd = 0;            // ADDOSD
    int mediaInfo = 1;         // MEDIAINFO
    int videoScale = 1;        // VIDEOSCALE
    int alwaysMain = 0;        // ALWAYSMAIN: no sub streams in the large layouts
    int lowPass = 0;           // LOWPASS
    double lowPassValue = 0.8; // LOWPASSVALUE
    int nsEnable = 0;          // NSENABLE
    int nsValue = 1;           // NSVALUE
    int showGeo = 0;           // SHOWGEO
    int delayTime = 0;         // DELAYTIME (only read)
    int speedMph = 0;          // SPEEDMPH
    std::string googleKey;     // GOOGLEKEY, decoded
    int voice = 0;             // Voice
    std::string equalize;      // Equalize
    std::string skin;          // SKIN: "FFRRGGBB" frame colour or a background's name; empty: the frame's own
    // CaseUtcOffset: the offset from UTC the user declares for the case's
    // recorder clock ("+08:00"), stated in export reports; empty: unknown.
    std::string caseUtcOffset;
};

inline constexpr const char* kConfigSection = "CONFIG";

// Reads the record from a profile. `defaultsFilled` tells that SnapPath or
// SaveFilePath was empty and took its default folder, so the caller writes
// the settings once.
SettingsRecord ReadSettings(const CIniFile& ini, const std::filesystem::path& defaultSnap,
                       const std::filesystem::path& defaultSave, bool* defaultsFilled = nullptr);

// The stored Language value as a section index; 1033, 1028 and 2052 (the
// language codes older files hold) also choose the map and the conversion.
void NormaliseLanguage(int stored, SettingsRecord& s);

// Writes every key the settings dialog edits (the table's editable keys:
// not DELAYTIME, Voice, Equalize); GOOGLEKEY Base64-encoded, and removed
// when empty.
bool WriteSettings(const std::filesystem::path& file, const SettingsRecord& s, std::string* error = nullptr);
// Writes Equalize, Voice, MEDIAINFO and SKIN (the play controls' and the
// skin window's keys, at close).
bool WritePlaySettings(const std::filesystem::path& file, const SettingsRecord& s, std::string* error = nullptr);

// "%.1f" of the low-pass coefficient, and the reading of a decimal text
// (`def` when it does not start with a number), both without regard to the
// user's locale.
std::string FormatLowPass(double v);
double ParseDecimal(std::string_view text, double def);

std::string Base64Encode(std::string_view bytes);
// Stops at the first character outside the alphabet or at padding.
std::string Base64Decode(std::string_view text);

// One key of section CONFIG: its name, the kind and range of its values,
// the record's field and the settings dialog's control that edits it. The
// dialog's fill and apply, the control socket's checks and its "get
// settings" answer and the writing of the file all walk this table.
enum class ESettingKind { kInt, kBool, kText, kReal };
enum class ESettingControl {
    kNone,        // not in the dialog
    kCheck,       // a check box: 0 or 1
    kComboIndex,  // a choice list: the index
    kComboText,   // a choice list: the number its text shows
    kEdit,        // a line edit
    kChannels,    // "Project_Check_0".."Project_Check_15": bit i for box i
};
struct SettingKey {
    const char* key;
    ESettingKind kind;
    int min = 0, max = 0;  // kInt, and kReal's range (min..max in tenths)
    std::variant<int SettingsRecord::*, double SettingsRecord::*, std::string SettingsRecord::*> field;
    const char* control = nullptr;
    ESettingControl controlKind = ESettingControl::kNone;
    bool editable = true;  // the dialog and the control socket may change it
    bool (*accepts)(std::string_view text) = nullptr;  // a text key's own rule
};
std::span<const SettingKey> SettingKeys();
const SettingKey* FindSettingKey(std::string_view key);

// A value as the control socket carries it: a number or a text.
using SettingValue = std::variant<double, std::string>;
SettingValue GetSetting(const SettingsRecord& s, const SettingKey& k);
// False (and the record unchanged) when the value has the wrong kind or lies
// outside the key's range; a bool key takes 0 or 1, a text key with a rule
// only the texts it accepts.
bool SetSetting(SettingsRecord& s, const SettingKey& k, const SettingValue& v);

// The keys whose values differ between two records, in table order.
std::vector<std::string> ChangedKeys(const SettingsRecord& a, const SettingsRecord& b);

// The one store of the settings in force. The user-interface thread applies
// a new record (the settings dialog's OK, the play controls' volume and
// equalizer); every listener is told at once, in the order they
// subscribed, so a change reaches the windows that are already playing.
// Play threads read an immutable snapshot: a record once handed out never
// changes under them, and the generation tells them a newer one exists.
class CSettings {
public:
    using Listener = std::function<void(const SettingsRecord& before, const SettingsRecord& now)>;

    explicit CSettings(SettingsRecord initial = {});

    std::shared_ptr<const SettingsRecord> Snapshot() const;
    SettingsRecord Get() const { return *Snapshot(); }
    uint64_t Generation() const { return m_generation.load(); }

    // Puts `next` in force and tells the listeners when anything changed.
    // Returns the keys that changed.
    std::vector<std::string> Apply(const SettingsRecord& next);
    // Changes one or more fields of the record in force.
    std::vector<std::string> Change(const std::function<void(SettingsRecord&)>& edit);

    int Subscribe(Listener listener);
    void Unsubscribe(int id);

private:
    mutable std::mutex m_lock;
    std::shared_ptr<const SettingsRecord> m_record;
    std::atomic<uint64_t> m_generation{1};
    std::map<int, Listener> m_listeners;
    int m_nextId = 1;
};

}  // namespace velmor
