#include "player/playback/Snapshot.h"

#include <cstdio>
#include <string>

namespace velmor {

const char* SnapshotExtension(int format)
{
    switch (format) {
        case 1: return ".png";
        case 2: return ".bmp";
        default: return ".jpg";
    }
}

std::filesystem::path SnapshotPath(const std::filesystem::path& folder, const std::tm& local, int format,
                                   const std::function<bool(const std::filesystem::path&)>& exists)
{
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    const auto taken = [&](const std::filesystem::path& p) {
        if (exists) return exists(p);
        std::error_code ec;
        return std::filesystem::exists(p, ec);
    };
    const char* ext = SnapshotExtension(format);
    std::filesystem::path path = folder / (std::string(stamp) + ext);
    for (int n = 2; taken(path); ++n) path = folder / (std::string(stamp) + "_" + std::to_string(n) + ext);
    return path;
}

}  // namespace velmor
