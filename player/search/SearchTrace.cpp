#include "player/search/SearchTrace.h"

namespace velmor {

bool SearchTraceOn()
{
    static CTraceSwitch s_switch("LangList", "Debug", 3600);
    return s_switch.Value() == 1;
}

}  // namespace velmor
