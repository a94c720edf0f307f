#include "player/settings/ConfigFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/CodePage.h"
#include "common/IniFile.h"

namespace velmor {
namespace {

bool ReadAll(const std::filesystem::path& file, std::string& bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string_view TrimView(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool HasSection(std::string_view text)
{
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        auto line = TrimView(text.substr(pos, eol - pos));
        if (!line.empty() && line.front() == '[' && line.find(']') != std::string_view::npos) return true;
        pos = eol + 1;
    }
    return false;
}

// Chinese text in UTF-8 is three bytes a character; many pairs of GBK bytes
// are also valid two-byte UTF-8. So only valid UTF-8 without any two-byte
// sequence is taken as UTF-8, everything else as the code page.
bool LooksLikeUtf8(std::string_view bytes)
{
    if (!IsValidUtf8(bytes)) return false;
    for (unsigned char c : bytes)
        if ((c & 0xE0) == 0xC0) return false;
    return true;
}

void SetError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

}  // namespace

std::string Utf8ToUtf16LeWithBom(std::string_view utf8)
{
    std::string out("\xFF\xFE", 2);
    out.reserve(2 + utf8.size() * 2);
    auto put = [&](uint32_t unit) {
        out.push_back(char(unit & 0xFF));
        out.push_back(char(unit >> 8));
    };
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c >> 5) == 6 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (utf8[i + 1] & 0x3F);
            len = 2;
        } else if ((c >> 4) == 14 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((utf8[i + 1] & 0x3Fu) << 6) | (utf8[i + 2] & 0x3F);
            len = 3;
        } else if ((c >> 3) == 30 && i + 3 < utf8.size()) {
            cp = ((c & 0x07u) << 18) | ((utf8[i + 1] & 0x3Fu) << 12) | ((utf8[i + 2] & 0x3Fu) << 6) |
                 (utf8[i + 3] & 0x3F);
            len = 4;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string* error)
{
    // The new text goes to "<name>tmp" beside the file so that the rename
    // stays on one file system; a crash at any point leaves either the old
    // file or the complete new one.
    auto tmp = file;
    tmp += "tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        SetError(error, "cannot create " + tmp.string() + ": " + std::strerror(errno));
        return false;
    }
    const char* p = bytes.data();
    size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= size_t(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.c_str(), file.c_str()) != 0) {
        SetError(error, "cannot write " + file.string() + ": " + std::strerror(ok ? errno : savedErrno));
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename itself is made durable through the folder.
    int dir = ::open(file.parent_path().empty() ? "." : file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

ConfigConversion MakeConfigUnicode(const std::filesystem::path& file, std::string* error)
{
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return ConfigConversion::Missing;
    std::string bytes;
    if (!ReadAll(file, bytes)) {
        SetError(error, "cannot read " + file.string());
        return ConfigConversion::Failed;
    }
    auto starts = [&](std::string_view bom) { return std::string_view(bytes).substr(0, bom.size()) == bom; };
    if (starts("\xFF\xFE") || starts("\xFE\xFF") || starts("\xEF\xBB\xBF")) return ConfigConversion::Unchanged;

    std::string text;
    if (LooksLikeUtf8(bytes)) {
        text = bytes;
    } else {
        text = GbkToUtf8(bytes);
        // A replacement character that the file did not hold means bytes
        // that are not code-page text: such a file is left alone.
        if (text.find("\xEF\xBF\xBD") != std::string::npos) {
            SetError(error, file.string() + " is neither UTF-8 nor code-page text");
            return ConfigConversion::Failed;
        }
    }
    if (!HasSection(text)) text.insert(0, "[CONFIG]\n");
    if (!ReplaceFileAtomically(file, Utf8ToUtf16LeWithBom(text), error)) return ConfigConversion::Failed;
    return ConfigConversion::Converted;
}

bool CProfileEditor::Load(const std::filesystem::path& file)
{
    m_lines.clear();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return true;
    std::string bytes;
    if (!ReadAll(file, bytes)) return false;
    const std::string text = DecodeProfileText(bytes);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = text.substr(pos, eol - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        m_lines.push_back(std::move(line));
        pos = eol + 1;
    }
    return true;
}

void CProfileEditor::Set(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string entry = std::string(key) + "=" + std::string(value);
    bool inSection = false;
    size_t sectionEnd = std::string::npos;  // index after the last entry line of the section
    for (size_t i = 0; i < m_lines.size(); ++i) {
        auto line = TrimView(m_lines[i]);
        if (!line.empty() && line.front() == '[') {
            if (inSection) break;  // only the first section of the name counts
            size_t close = line.find(']');
            auto name = TrimView(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
            inSection = EqualsNoCase(name, section);
            if (inSection) sectionEnd = i + 1;
            continue;
        }
        if (!inSection) continue;
        if (line.empty() || line.front() == ';') continue;
        sectionEnd = i + 1;
        size_t eq = line.find('=');
        if (EqualsNoCase(TrimView(eq == std::string_view::npos ? line : line.substr(0, eq)), key)) {
            m_lines[i] = entry;
            return;
        }
    }
    if (sectionEnd == std::string::npos) {
        m_lines.push_back("[" + std::string(section) + "]");
        m_lines.push_back(entry);
    } else {
        m_lines.insert(m_lines.begin() + std::ptrdiff_t(sectionEnd), entry);
    }
}

void CProfileEditor::Remove(std::string_view section, std::string_view key)
{
    bool inSection = false;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        auto line = TrimView(m_lines[i]);
        if (!line.empty() && line.front() == '[') {
            if (inSection) return;
            size_t close = line.find(']');
            inSection = EqualsNoCase(TrimView(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1)), section);
            continue;
        }
        if (!inSection || line.empty() || line.front() == ';') continue;
        size_t eq = line.find('=');
        if (EqualsNoCase(TrimView(eq == std::string_view::npos ? line : line.substr(0, eq)), key)) {
            m_lines.erase(m_lines.begin() + std::ptrdiff_t(i));
            return;
        }
    }
}

std::string CProfileEditor::Text() const
{
    std::string text;
    for (const auto& line : m_lines) text += line + "\r\n";
    return text;
}

bool CProfileEditor::Save(const std::filesystem::path& file, std::string* error) const
{
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    return ReplaceFileAtomically(file, Utf8ToUtf16LeWithBom(Text()), error);
}

}  // namespace velmor
