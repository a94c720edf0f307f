// Reading of INI files with the semantics of Windows private profiles:
// section and key names compare case-insensitively, the first section and the
// first key of a name win, surrounding blanks are trimmed and one pair of
// matching quotes around a value is removed. The file may be UTF-16 (LE or BE,
// with BOM), UTF-8 (with or without BOM) or the recorder's code page (GBK);
// values come back as UTF-8.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmor {

class CIniFile {
public:
    // An unreadable or missing file gives an empty profile, as with Windows.
    static CIniFile Load(const std::filesystem::path& path);
    static CIniFile Parse(std::string_view bytes);

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key, std::string_view def) const;
    // Like GetPrivateProfileInt: the value's leading decimal integer; a value
    // that does not start with one reads as 0; a missing key gives `def`.
    int GetInt(std::string_view section, std::string_view key, int def) const;

    bool HasSection(std::string_view section) const;
    std::vector<std::string> Keys(std::string_view section) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
    };
    const Section* Find(std::string_view section) const;
    std::vector<Section> m_sections;
};

// Decodes INI file bytes to UTF-8 by the rules above.
std::string DecodeProfileText(std::string_view bytes);

bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace velmor
