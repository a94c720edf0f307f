#include "media/src/MediaGlobals.h"

#include <SDL2/SDL.h>

namespace rkmedia {

std::recursive_mutex& ProcessLock()
{
    static std::recursive_mutex lock;
    return lock;
}

bool EnsureSdlInitialized()
{
    // Once per process: a second process initialises SDL for itself.
    static int state = 0;  // 0 not tried, 1 ready, -1 failed
    std::lock_guard guard(ProcessLock());
    if (state == 0) state = SDL_Init(SDL_INIT_AUDIO | SDL_INIT_VIDEO) == 0 ? 1 : -1;
    return state == 1;
}

}  // namespace rkmedia
