#include "player/export/ExportNames.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace velmor {
namespace {

std::tm Clock(uint32_t t)
{
    const std::time_t v = std::time_t(t);
    std::tm tm{};
    gmtime_r(&v, &tm);
    return tm;
}

std::vector<std::string> NameParts(const std::string& stem)
{
    std::vector<std::string> parts(1);
    for (char ch : stem) {
        if (ch == '_')
            parts.emplace_back();
        else
            parts.back() += ch;
    }
    return parts;
}

bool Digits(const std::string& text, size_t count)
{
    return text.size() == count && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string CutExtension(int format)
{
    static const char* const kExtensions[] = {".ifv", ".mp4", ".avi", ".gps", ".rkrec", "H264"};
    return format >= 0 && format < 6 ? kExtensions[format] : "";
}

std::string CutDayFolderName(uint32_t start)
{
    const std::tm tm = Clock(start);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return text;
}

std::optional<std::filesystem::path> MakeCutFolder(const std::filesystem::path& folder, uint32_t start,
                                                   std::error_code& ec)
{
    ec.clear();
    if (folder.empty()) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    const auto day = folder / CutDayFolderName(start);
    std::filesystem::create_directories(day, ec);
    if (ec) return std::nullopt;
    if (!std::filesystem::is_directory(day, ec)) {
        if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
        return std::nullopt;
    }
    return day;
}

std::string ClipBaseName(int channel, uint32_t start, uint32_t end, int type)
{
    const std::tm a = Clock(start), b = Clock(end);
    char text[96];
    std::snprintf(text, sizeof text, "AV%d_%02d%02d%02d_%02d%02d%02d_T%dC0_%02d%02d%02d", channel, a.tm_hour, a.tm_min,
                  a.tm_sec, b.tm_hour, b.tm_min, b.tm_sec, type, a.tm_hour, a.tm_min, a.tm_sec);
    return text;
}

std::string CombinedBaseName(uint32_t start, uint32_t end, int type)
{
    const std::tm a = Clock(start), b = Clock(end);
    char text[96];
    std::snprintf(text, sizeof text, "%02d%02d%02d_%02d%02d%02d_T%dC0_%02d%02d%02dCombin", a.tm_hour, a.tm_min,
                  a.tm_sec, b.tm_hour, b.tm_min, b.tm_sec, type, a.tm_hour, a.tm_min, a.tm_sec);
    return text;
}

std::optional<std::string> IfvClipBaseName(const std::string& sourceStem, uint32_t start, uint32_t end)
{
    const auto parts = NameParts(sourceStem);
    if (parts.size() != 5) return std::nullopt;
    const std::tm a = Clock(start), b = Clock(end);
    char times[32];
    std::snprintf(times, sizeof times, "%02d%02d%02d_%02d%02d%02d", a.tm_hour, a.tm_min, a.tm_sec, b.tm_hour,
                  b.tm_min, b.tm_sec);
    return parts[0] + "_" + times + "_" + parts[3] + "_" + parts[4];
}

std::optional<std::string> IfvExportBaseName(const std::string& sourceStem, int channel, uint32_t start, uint32_t end,
                                             int type)
{
    if (auto recorder = IfvClipBaseName(sourceStem, start, end)) return recorder;
    const auto parts = NameParts(sourceStem);
    if (parts.size() == 6 && Digits(parts[1], 8) && Digits(parts[2], 6) && Digits(parts[3], 8) && Digits(parts[4], 6))
        return ClipBaseName(channel, start, end, type);
    return std::nullopt;
}

std::filesystem::path FreePath(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) return path;
    const auto stem = path.stem().string(), ext = path.extension().string();
    for (int n = 2;; ++n) {
        auto candidate = path.parent_path() / (stem + "_" + std::to_string(n) + ext);
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return candidate;
    }
}

std::filesystem::path OverlayPath(const std::filesystem::path& clip)
{
    return FreePath(clip.parent_path() / (clip.stem().string() + kOverlaySuffix + clip.extension().string()));
}

std::string RecorderTimeText(uint32_t t)
{
    const std::tm tm = Clock(t);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text;
}

}  // namespace velmor
