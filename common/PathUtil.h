// Names the recorder writes are matched without regard to case: FAT does not
// keep case, and a copy on another file system keeps whatever case it had.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velmor {

// `dir/name` when it exists under that spelling, else the first entry of dir
// whose name equals `name` ignoring ASCII case, else `dir/name`.
std::filesystem::path FindNoCase(const std::filesystem::path& dir, std::string_view name);

// `s` with ASCII capitals made small; other bytes (code page or UTF-8
// sequences) are left as they are.
std::string Lower(std::string s);

}  // namespace velmor
