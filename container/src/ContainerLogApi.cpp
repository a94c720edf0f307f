// The library's log callback and last error text, over the shared holder.
#include "common/LibraryLog.h"
#include "container/include/rkcontainer.h"

extern "C" RKCONTAINER_API void RKCONTAINER_SetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Container, callback, user);
}

extern "C" RKCONTAINER_API const char* RKCONTAINER_GetLastErrorText(void) { return velmor::LastErrorText(velmor::LogLibrary::Container); }
