#include "container/src/RpoTrace.h"

#include <cstdarg>

#include "common/LibraryLog.h"

namespace rkcontainer {

bool RpoTraceOn()
{
    static velmor::CTraceSwitch s_switch("LangList", "RpoDebug", 21600);
    return s_switch.Value() == 1;
}

void RpoTraceLine(const char* file, int line, const char* prettyFunction, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const std::string text = velmor::FormatTraceLineV("RK-CLIENT:", file, line, prettyFunction, fmt, args);
    va_end(args);
    if (velmor::HasLogCallback(velmor::LogLibrary::Container))
        velmor::LogText(velmor::LogLibrary::Container, velmor::kLogDebug, text.c_str());
    else
        velmor::WriteTraceLine(text);
}

}  // namespace rkcontainer
