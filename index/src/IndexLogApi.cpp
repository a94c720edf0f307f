// The library's log callback and last error text, over the shared holder.
#include "common/LibraryLog.h"
#include "index/include/rkindex.h"

extern "C" RKINDEX_API void RKFile_SetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Index, callback, user);
}

extern "C" RKINDEX_API const char* RKFile_GetLastErrorText(void) { return velmor::LastErrorText(velmor::LogLibrary::Index); }
