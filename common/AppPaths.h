// Where the program's own files are: the folder of the executable, unless
// VELMOR_APPDIR names another (tests, portable copies kept elsewhere).
#pragma once

#include <filesystem>

namespace velmor {

std::filesystem::path ApplicationDir();

// "Language/SvrLanguage.ini" in the application folder.
std::filesystem::path LanguageTablePath();

}  // namespace velmor
