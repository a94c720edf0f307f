// The library's log callback and last error text, over the shared holder.
#include "common/LibraryLog.h"
#include "media/include/rkmedia.h"

extern "C" RKMEDIA_API void RKPLAYER_SetLogCallback(RK_LOG_CALLBACK callback, void* user)
{
    velmor::SetLogCallback(velmor::LogLibrary::Media, callback, user);
}

extern "C" RKMEDIA_API const char* RKPLAYER_GetLastErrorText(void) { return velmor::LastErrorText(velmor::LogLibrary::Media); }
