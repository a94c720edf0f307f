// The reader's diagnostic trace: written only while key RpoDebug of section
// LangList in the language table reads 1, re-read every 21,600 ms.
#pragma once

#include "common/Trace.h"

namespace rkcontainer {

bool RpoTraceOn();

}  // namespace rkcontainer

#define RPO_TRACE(fmt, ...)                                                                                     \
    do {                                                                                                        \
        if (::rkcontainer::RpoTraceOn())                                                                        \
            ::velmor::TraceLine("RK-CLIENT:", __FILE__, __LINE__, __PRETTY_FUNCTION__, fmt __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
