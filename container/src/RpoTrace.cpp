#include "container/src/RpoTrace.h"

namespace rkcontainer {

bool RpoTraceOn()
{
    static velmor::CTraceSwitch s_switch("LangList", "RpoDebug", 21600);
    return s_switch.Value() == 1;
}

}  // namespace rkcontainer
