// What all players of a process share: the process-wide lock and the one
// initialisation of SDL.
#pragma once

#include <mutex>

namespace rkmedia {

// Held while a player binds its window and opens its decoder, while an audio
// decoder is set up, while SDL is initialised and while the sound output is
// created or its filters are reset.
std::recursive_mutex& ProcessLock();

// Initialises SDL's audio and video once per process (under the process
// lock); true when SDL is usable. Later calls return the first result.
bool EnsureSdlInitialized();

}  // namespace rkmedia
