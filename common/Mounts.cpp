#include "common/Mounts.h"

#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

namespace velmor {
namespace {

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size()) {
            const std::string oct = s.substr(i + 1, 3);
            if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
                out += char(std::stoi(oct, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

}  // namespace

bool ParseMountLine(const std::string& line, std::string* mountPoint, std::string* type, std::string* source,
                    bool* writable)
{
    // id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;) fields.push_back(f);
    size_t dash = 5;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (fields.size() < 5 || dash + 2 >= fields.size()) return false;
    *mountPoint = Unescape(fields[4]);
    *type = fields[dash + 1];
    *source = Unescape(fields[dash + 2]);
    if (writable) {
        const auto rw = [](const std::string& options) { return options == "rw" || options.rfind("rw,", 0) == 0; };
        *writable = rw(fields[5]) && (dash + 3 >= fields.size() || rw(fields[dash + 3]));
    }
    return true;
}

std::string MountedDeviceOf(const std::filesystem::path& dir)
{
    std::error_code ec;
    const auto wanted = std::filesystem::weakly_canonical(dir, ec);
    if (ec) return {};
    std::ifstream in("/proc/self/mountinfo");
    std::string found;
    for (std::string line; std::getline(in, line);) {
        std::string point, type, source;
        if (!ParseMountLine(line, &point, &type, &source) || std::filesystem::path(point) != wanted) continue;
        // A later mount at the same place hides an earlier one.
        found = type == "vfat" || type == "exfat" || type == "msdos" ? source : std::string();
    }
    return found;
}

}  // namespace velmor
