#include "common/AppFolders.h"

#include <cstdlib>
#include <system_error>

namespace velmor {
namespace {

std::filesystem::path EnvPath(const char* name)
{
    const char* v = std::getenv(name);
    return (v && *v) ? std::filesystem::path(v) : std::filesystem::path();
}

bool IsDir(const std::filesystem::path& p)
{
    std::error_code ec;
    return std::filesystem::is_directory(p, ec);
}

}  // namespace

CAppFolders ResolveAppFolders(const std::filesystem::path& exeDir)
{
    CAppFolders f;
    f.exeDir = exeDir;
    // An installed program finds its resources in <prefix>/share/velmor.
    const auto shared = exeDir.parent_path() / "share" / "velmor";
    f.resources = (!IsDir(exeDir / "skin") && IsDir(shared / "skin")) ? shared : exeDir;

    if (auto profile = EnvPath("VELMOR_PROFILE_DIR"); !profile.empty()) {
        f.settings = f.data = std::filesystem::absolute(profile);
        f.profileOverride = true;
    } else if (IsDir(exeDir / "Congfig")) {
        f.settings = f.data = exeDir;
    } else {
        auto home = EnvPath("HOME");
        auto config = EnvPath("XDG_CONFIG_HOME");
        auto data = EnvPath("XDG_DATA_HOME");
        if (config.empty()) config = home / ".config";
        if (data.empty()) data = home / ".local" / "share";
        f.settings = config / "velmor";
        f.data = data / "velmor";
    }
    return f;
}

CAppFolders ResolveOwnAppFolders()
{
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ResolveAppFolders(ec ? std::filesystem::current_path(ec) : exe.parent_path());
}

}  // namespace velmor
