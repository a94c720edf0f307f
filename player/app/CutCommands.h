// The control socket's "cut" command: the cut dialog filled from the
// command's fields and confirmed, so a command meets every check the dialog
// makes; it answers when the export has ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "player/workspace/CutPlan.h"

namespace velmor {

class CControlServer;
class CUiHost;

// ["cut", {"from":s,"to":s,"channels":[...],"format":"ifv"|"mp4"|"avi"|"gps"|"rkrec","combine":bool}]
// -> {"files":[...]}; events "cut-progress" {"percent"} and "cut-done"
// {"ok","files","error"}. `currentSource` tells what the page shows (none:
// the command is refused). The folder is the SaveFilePath setting.
// `markRange` (when given) first moves the page's range marks to the
// command's span, as the user drags them before pressing the cut button.
void AddCutCommands(CControlServer& control, CUiHost& host, std::function<std::optional<CutSource>()> currentSource,
                    std::function<void(uint32_t from, uint32_t to)> markRange);
// The same with the folder from `saveFolder` (tests, other hosts).
void AddCutCommands(CControlServer& control, CUiHost& host, std::function<std::optional<CutSource>()> currentSource,
                    std::function<std::filesystem::path()> saveFolder,
                    std::function<void(uint32_t from, uint32_t to)> markRange = {},
                    std::function<bool()> convertGps = {}, std::function<std::string()> caseUtcOffset = {});

}  // namespace velmor
