// The libraries report through log callbacks; the program writes what they
// report into its own trace.
#include <string>

#include "container/include/rkcontainer.h"
#include "index/include/rkindex.h"
#include "media/include/rkmedia.h"
#include "player/ui/AppTrace.h"
#include "player/formats/IfvFile.h"
#include "store/include/rkstore.h"

namespace velmor {
namespace {

void LibraryLineToTrace(int level, const char* line, void* /*user*/)
{
    if (!line) return;
    if (level > RK_LOG_FAILURE && !AppTraceOn(level)) return;
    std::string text(line);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    WriteTraceLine(text + '\n');
}

}  // namespace

void RouteLibraryLogsToTrace()
{
    RKSFS_SetLogCallback(LibraryLineToTrace, nullptr);
    RKCONTAINER_SetLogCallback(LibraryLineToTrace, nullptr);
    RKFile_SetLogCallback(LibraryLineToTrace, nullptr);
    RKPLAYER_SetLogCallback(LibraryLineToTrace, nullptr);
    RK_FileSetLogCallback(LibraryLineToTrace, nullptr);
}

}  // namespace velmor
