// The process-wide settings record: section CONFIG of the configuration
// file, with its defaults and the normalisation of the stored values.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "common/IniFile.h"

namespace velmor {

struct CSettings {
    std::string snapPath;      // SnapPath
    std::string saveFilePath;  // SaveFilePath
    std::string gstFile;       // GSTFILE (only read)
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
};

inline constexpr const char* kConfigSection = "CONFIG";

// Reads the record from a profile. `defaultsFilled` tells that SnapPath or
// SaveFilePath was empty and took its default folder, so the caller writes
// the settings once.
CSettings ReadSettings(const CIniFile& ini, const std::filesystem::path& defaultSnap,
                       const std::filesystem::path& defaultSave, bool* defaultsFilled = nullptr);

// The stored Language value as a section index; 1033, 1028 and 2052 (the
// language codes older files hold) also choose the map and the conversion.
void NormaliseLanguage(int stored, CSettings& s);

// Writes every key the settings dialog edits (not GSTFILE, DELAYTIME,
// Voice, Equalize); GOOGLEKEY Base64-encoded, and removed when empty.
bool WriteSettings(const std::filesystem::path& file, const CSettings& s, std::string* error = nullptr);
// Writes Equalize, Voice and MEDIAINFO (the play controls' keys, at close).
bool WritePlaySettings(const std::filesystem::path& file, const CSettings& s, std::string* error = nullptr);

// "%.1f" of the low-pass coefficient, and the reading of a decimal text
// (`def` when it does not start with a number), both without regard to the
// user's locale.
std::string FormatLowPass(double v);
double ParseDecimal(std::string_view text, double def);

std::string Base64Encode(std::string_view bytes);
// Stops at the first character outside the alphabet or at padding.
std::string Base64Decode(std::string_view text);

}  // namespace velmor
