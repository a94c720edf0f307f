// Where a snapshot of a play window is written: the snapshot folder, the
// local time to the second and the extension of the chosen picture format.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>

namespace velmor {

// ".jpg" for 0, ".png" for 1, ".bmp" for 2; any other format is JPEG.
const char* SnapshotExtension(int format);

// folder/YYYYMMDDhhmmss.ext, or with "_2", "_3" ... before the extension
// while a file of that name exists: a second snapshot within the same
// second never replaces the first.
std::filesystem::path SnapshotPath(const std::filesystem::path& folder, const std::tm& local, int format,
                                   const std::function<bool(const std::filesystem::path&)>& exists = {});

}  // namespace velmor
