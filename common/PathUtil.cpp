#include "common/PathUtil.h"

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

}  // namespace velmor
