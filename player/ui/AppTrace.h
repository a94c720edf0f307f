// The program's trace: key Debug of section LangList in the language table
// is the level from which messages are written (0: none), read again at
// most every 3.6 s.
#pragma once

#include <filesystem>

#include "common/Trace.h"

namespace velmor {

// Chooses the language table the switch is read from (the program's own
// resources); until then the one beside the executable.
void SetAppTraceTable(const std::filesystem::path& table);
bool AppTraceOn(int level);

// The four libraries' and the IFV library's diagnostics go into this trace:
// failures always, information and step-by-step lines as the switch says.
void RouteLibraryLogsToTrace();

}  // namespace velmor

#define APP_TRACE(level, fmt, ...)                                                                                  \
    do {                                                                                                            \
        if (::velmor::AppTraceOn(level))                                                                            \
            ::velmor::TraceLine("RK-CLIENT:", __FILE__, __LINE__, __PRETTY_FUNCTION__, fmt __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
