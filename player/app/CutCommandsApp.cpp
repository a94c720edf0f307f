// The cut command of the program: the folder is the SaveFilePath setting in
// force when the command runs, the correction of GPS exports ConvertGPS's,
// the offset from UTC its report states CaseUtcOffset's.
#include "player/app/CutCommands.h"
#include "player/app/VelmorApp.h"

namespace velmor {

void AddCutCommands(CControlServer& control, CUiHost& host, std::function<std::optional<CutSource>()> currentSource,
                    std::function<void(uint32_t from, uint32_t to)> markRange)
{
    AddCutCommands(control, host, std::move(currentSource),
                   [] { return std::filesystem::path(App().m_settings.Get().saveFilePath); }, std::move(markRange),
                   [] { return App().m_settings.Get().convertGps != 0; },
                   [] { return App().m_settings.Get().caseUtcOffset; });
}

}  // namespace velmor
