// The library's log callback and last error text, over the shared holder.
#include "common/LibraryLog.h"
#include "store/include/rkstore.h"

extern "C" RKSTORE_API void RKSFS_SetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Store, callback, user);
}

extern "C" RKSTORE_API const char* RKSFS_GetLastErrorText(void) { return velmor::LastErrorText(velmor::LogLibrary::Store); }
