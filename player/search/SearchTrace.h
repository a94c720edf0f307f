// The player's trace for the record searches: written while key Debug of
// section LangList in the language table is 1 (the searches trace at level
// 1), re-read every 3600 ms.
#pragma once

#include "common/Trace.h"

namespace velmor {

bool SearchTraceOn();

}  // namespace velmor

#define SEARCH_TRACE(fmt, ...)                                                                                      \
    do {                                                                                                            \
        if (::velmor::SearchTraceOn())                                                                              \
            ::velmor::TraceLine("RK-CLIENT:", __FILE__, __LINE__, __PRETTY_FUNCTION__, fmt __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
