// The program's own configuration file: the one-time conversion of a
// code-page file to UTF-16, and an editor that changes keys in place and
// writes the whole file back without ever leaving it half written.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velmor {

enum class ConfigConversion {
    Missing,    // no file: nothing to do
    Unchanged,  // already UTF-16 or UTF-8 with a byte-order mark
    Converted,  // code-page text rewritten as UTF-16 LE with a mark
    Failed,     // unreadable, unconvertible or not writable: left as it was
};

// A file without a byte-order mark is taken as code-page text (GBK), unless
// it is valid UTF-8 made of ASCII and three- or four-byte characters (a file
// edited on this platform), which is kept as such instead of being decoded
// twice. Text without any section gains a first
// line "[CONFIG]". The new file is written beside the old one, flushed and
// renamed over it.
ConfigConversion MakeConfigUnicode(const std::filesystem::path& file, std::string* error = nullptr);

// UTF-8 text as UTF-16 LE bytes with a byte-order mark.
std::string Utf8ToUtf16LeWithBom(std::string_view utf8);

// Writes `bytes` to a new file beside `file`, flushes it to disk and renames
// it over `file`; on failure the old file stays and the new one is removed.
bool ReplaceFileAtomically(const std::filesystem::path& file, std::string_view bytes, std::string* error = nullptr);

// The lines of a profile file, edited with private-profile rules (section
// and key names compare case-insensitively; the first of a name wins).
class CProfileEditor {
public:
    // A missing file gives an empty profile; false when it exists but cannot be read.
    bool Load(const std::filesystem::path& file);
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the first entry of the key in the first section of the name.
    void Remove(std::string_view section, std::string_view key);
    std::string Text() const;
    // Saved as UTF-16 LE with a mark, like the converted file.
    bool Save(const std::filesystem::path& file, std::string* error = nullptr) const;

private:
    std::vector<std::string> m_lines;
};

}  // namespace velmor
