// The reader's diagnostic trace: written only while key RpoDebug of section
// LangList in the language table reads 1, re-read every 21,600 ms.
#pragma once

#include "common/Trace.h"

namespace rkcontainer {

bool RpoTraceOn();

// One trace line: to the library's log callback (debug level) where the
// caller installed one, to the debug-output channel otherwise.
void RpoTraceLine(const char* file, int line, const char* prettyFunction, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace rkcontainer

#define RPO_TRACE(fmt, ...)                                                                                     \
    do {                                                                                                        \
        if (::rkcontainer::RpoTraceOn())                                                                        \
            ::rkcontainer::RpoTraceLine(__FILE__, __LINE__, __PRETTY_FUNCTION__, fmt __VA_OPT__(, ) __VA_ARGS__);    \
    } while (0)
