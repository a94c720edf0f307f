#include "media/src/MediaGlobals.h"

#include <SDL2/SDL.h>

#include "common/CrashReport.h"

namespace rkmedia {

std::recursive_mutex& ProcessLock()
{
    static std::recursive_mutex lock;
    return lock;
}

namespace {

// 0 not tried, 1 ready, -1 failed. Audio and video are separate: a machine
// without a display still plays sound, and one without sound still shows.
bool InitOnce(int& state, Uint32 subsystem)
{
    std::lock_guard guard(ProcessLock());
    // The engine lives inside other programs: SDL must not take SIGINT and
    // SIGTERM from them (it would turn them into events nobody reads, and
    // the program would no longer end when asked to).
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (state == 0) state = SDL_InitSubSystem(subsystem) == 0 ? 1 : -1;
    return state == 1;
}

}  // namespace

bool EnsureSdlInitialized()
{
    static int state = 0;
    return InitOnce(state, SDL_INIT_AUDIO);
}

void EnsureCrashReport()
{
    static std::once_flag once;
    std::call_once(once, [] {
        try {
            velmor::InstallCrashReport(velmor::CrashReportDir("log"), "RKMEDIA");
        } catch (...) {
            // No report is better than no engine.
        }
    });
}

bool EnsureSdlVideo()
{
    static int state = 0;
    // Without graphics hardware the player draws with SDL's software
    // renderer; SDL would otherwise hand each window's pixels to a second,
    // GL-emulating renderer on the way to the screen, which costs more CPU
    // than the drawing itself. Windows with a hardware renderer never use
    // that path, so the setting only affects the software case.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    return InitOnce(state, SDL_INIT_VIDEO);
}

}  // namespace rkmedia
