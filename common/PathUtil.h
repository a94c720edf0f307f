// Names the recorder writes are matched without regard to case: FAT does not
// keep case, and a copy on another file system keeps whatever case it had.
#pragma once

#include <filesystem>
#include <string_view>

namespace velmor {

// `dir/name` when it exists under that spelling, else the first entry of dir
// whose name equals `name` ignoring ASCII case, else `dir/name`.
std::filesystem::path FindNoCase(const std::filesystem::path& dir, std::string_view name);

}  // namespace velmor
