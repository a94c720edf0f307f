#include "common/IniFile.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "common/CodePage.h"

namespace velmor {
namespace {

std::string_view Trim(std::string_view s)
{
    const char* ws = " \t\r\n\v\f";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string DecodeProfileText(std::string_view bytes)
{
    auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (starts("\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), false);
    if (starts("\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), true);
    if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
    // Without a mark, text that is valid UTF-8 is taken as such; the
    // recorder's code page is the fallback. GBK text that happens to be valid
    // UTF-8 is vanishingly rare for real Chinese text.
    if (IsValidUtf8(bytes)) return std::string(bytes);
    return GbkToUtf8(bytes);
}

CIniFile CIniFile::Load(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(bytes);
}

CIniFile CIniFile::Parse(std::string_view bytes)
{
    CIniFile ini;
    const std::string text = DecodeProfileText(bytes);
    Section* current = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string_view line = Trim(std::string_view(text).substr(pos, eol - pos));
        pos = eol + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string_view name = Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            current = nullptr;
            for (auto& s : ini.m_sections)
                if (EqualsNoCase(s.name, name)) current = &s;
            if (!current) {
                ini.m_sections.push_back({std::string(name), {}});
                current = &ini.m_sections.back();
            }
            continue;
        }
        if (!current) continue;
        size_t eq = line.find('=');
        std::string_view key = Trim(eq == std::string_view::npos ? line : line.substr(0, eq));
        std::string_view value = eq == std::string_view::npos ? std::string_view{} : Trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        bool seen = false;
        for (auto& [k, v] : current->entries)
            if (EqualsNoCase(k, key)) seen = true;
        if (!seen) current->entries.emplace_back(std::string(key), std::string(value));
    }
    return ini;
}

const CIniFile::Section* CIniFile::Find(std::string_view section) const
{
    for (const auto& s : m_sections)
        if (EqualsNoCase(s.name, section)) return &s;
    return nullptr;
}

std::optional<std::string> CIniFile::Get(std::string_view section, std::string_view key) const
{
    const Section* s = Find(section);
    if (!s) return std::nullopt;
    for (const auto& [k, v] : s->entries)
        if (EqualsNoCase(k, key)) return v;
    return std::nullopt;
}

std::string CIniFile::GetString(std::string_view section, std::string_view key, std::string_view def) const
{
    auto v = Get(section, key);
    return v ? *v : std::string(def);
}

int CIniFile::GetInt(std::string_view section, std::string_view key, int def) const
{
    auto v = Get(section, key);
    if (!v) return def;
    const char* p = v->c_str();
    bool neg = false;
    if (*p == '-' || *p == '+') neg = (*p++ == '-');
    long long n = 0;
    while (*p >= '0' && *p <= '9' && n <= 0x7FFFFFFFLL) n = n * 10 + (*p++ - '0');
    if (n > 0x7FFFFFFFLL) n = 0x7FFFFFFFLL;
    return static_cast<int>(neg ? -n : n);
}

bool CIniFile::HasSection(std::string_view section) const { return Find(section) != nullptr; }

std::vector<std::string> CIniFile::Keys(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const Section* s = Find(section))
        for (const auto& [k, v] : s->entries) keys.push_back(k);
    return keys;
}

}  // namespace velmor
