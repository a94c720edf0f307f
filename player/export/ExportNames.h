// Where an export goes and what its files are called: a sub-folder per start
// day under the chosen folder, and names built from the span, the channel and
// the record type, as the operator knows them from the recorder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

namespace velmor {

// Output formats of a cut, by the cut dialog's format index.
enum class ECutFormat { kIfv = 0, kMp4 = 1, kAvi = 2, kGps = 3, kRkrec = 4 };

// The extension of format index `format` (".ifv", ".mp4", ".avi", ".gps",
// ".rkrec", and "H264" for index 5); empty for any other index.
std::string CutExtension(int format);

// "YYYY-MM-DD" of `start` (the recorder's clock, no zone shift).
std::string CutDayFolderName(uint32_t start);

// Creates `folder`/"YYYY-MM-DD" when missing and returns it; nothing and `ec`
// set when either cannot be made.
std::optional<std::filesystem::path> MakeCutFolder(const std::filesystem::path& folder, uint32_t start,
                                                   std::error_code& ec);

// "AV%d_%02d%02d%02d_%02d%02d%02d_T%dC0_%02d%02d%02d": channel, start and end
// time of day, record type, start time of day.
std::string ClipBaseName(int channel, uint32_t start, uint32_t end, int type);

// "%02d%02d%02d_%02d%02d%02d_T%dC0_%02d%02d%02dCombin": the combined video.
std::string CombinedBaseName(uint32_t start, uint32_t end, int type);

// A cut of an IFV file whose name (without extension) has the recorder's five
// "_"-separated parts: first part, start and end time of day, fourth and
// fifth part. Nothing when the name has another number of parts.
std::optional<std::string> IfvClipBaseName(const std::string& sourceStem, uint32_t start, uint32_t end);

// The name (without extension) of every export made from an IFV recording
// named `sourceStem`, whatever the output format: the recorder's five-part
// form above; a client download's six-part name
// (x_YYYYMMDD_HHMMSS_YYYYMMDD_HHMMSS_chNN) carries nothing an operator
// matches the recorder's files by, so it gets the clip name of every other
// source. Nothing for any other name: the export must then fail untouched.
std::optional<std::string> IfvExportBaseName(const std::string& sourceStem, int channel, uint32_t start, uint32_t end,
                                             int type);

// The failure of an IFV export whose source name has neither form.
inline constexpr const char* kIfvNameError = "Cut_Name_Error";

// `path` itself when no file of that name exists, else the first free
// "<stem>_2<ext>", "<stem>_3<ext>", ...: an export never replaces a file.
std::filesystem::path FreePath(const std::filesystem::path& path);

// The copy of a clip with its on-screen text burned in lies beside the clip:
// "<stem>_overlay<ext>", made free as FreePath makes names.
inline constexpr const char* kOverlaySuffix = "_overlay";
std::filesystem::path OverlayPath(const std::filesystem::path& clip);

// "YYYY-MM-DD hh:mm:ss" of a recorder time.
std::string RecorderTimeText(uint32_t t);

}  // namespace velmor
