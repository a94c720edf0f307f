#include "common/PathUtil.h"

#include <algorithm>
#include <system_error>

#include "common/IniFile.h"

namespace velmor {

std::filesystem::path FindNoCase(const std::filesystem::path& dir, std::string_view name)
{
    std::error_code ec;
    auto exact = dir / std::string(name);
    if (std::filesystem::exists(exact, ec)) return exact;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (EqualsNoCase(it->path().filename().native(), name)) return it->path();
    }
    return exact;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c); });
    return s;
}

}  // namespace velmor
