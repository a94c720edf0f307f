#include "common/AppPaths.h"

#include <cstdlib>
#include <system_error>

namespace velmor {

std::filesystem::path ApplicationDir()
{
    if (const char* dir = std::getenv("VELMOR_APPDIR"); dir && *dir) return dir;
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec);
    return exe.parent_path();
}

std::filesystem::path LanguageTablePath() { return ApplicationDir() / "Language" / "SvrLanguage.ini"; }

}  // namespace velmor
