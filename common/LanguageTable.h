// The language table "Language/SvrLanguage.ini": every visible text is looked
// up by key in section "Lang" + language index (or "Lang" + a language name).
// Section LangList holds the table's switches; its key Language names the
// index used until the program's settings choose one. A missing table or key
// gives an empty text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/AppPaths.h"
#include "common/IniFile.h"

namespace velmor {

class CLanguageTable {
public:
    // Texts are at most this many characters.
    static constexpr size_t kMaxTextChars = 259;

    CLanguageTable() = default;  // no table: every text is empty
    explicit CLanguageTable(CIniFile ini) : m_ini(std::move(ini)) { SelectIndex(m_ini.GetInt("LangList", "Language", 0)); }

    static CLanguageTable Load(const std::filesystem::path& path = LanguageTablePath())
    {
        return CLanguageTable(CIniFile::Load(path));
    }

    void SelectIndex(int index) { m_section = "Lang" + std::to_string(index); }
    const std::string& Section() const { return m_section; }

    std::string Text(std::string_view key) const { return Limit(m_ini.GetString(m_section, key, "")); }
    std::string Text(std::string_view key, std::string_view languageName) const
    {
        return Limit(m_ini.GetString("Lang" + std::string(languageName), key, ""));
    }

private:
    // Cuts after kMaxTextChars characters, never inside one (the values are UTF-8).
    static std::string Limit(std::string text)
    {
        size_t chars = 0;
        for (size_t i = 0; i < text.size(); ++i) {
            if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
            if (++chars > kMaxTextChars) {
                text.resize(i);
                break;
            }
        }
        return text;
    }

    CIniFile m_ini;
    std::string m_section = "Lang0";
};

}  // namespace velmor
