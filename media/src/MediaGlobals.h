// What all players of a process share: the process-wide lock and the one
// initialisation of SDL.
#pragma once

#include <mutex>

namespace rkmedia {

// Held while a player binds its window and opens its decoder, while an audio
// decoder is set up, while SDL is initialised and while the sound output is
// created or its filters are reset.
std::recursive_mutex& ProcessLock();

// Initialises SDL and its audio once per process (under the process lock);
// true when SDL audio is usable. Later calls return the first result. A
// second process initialises SDL for itself.
bool EnsureSdlInitialized();

// Initialises SDL's video once per process; false without a display.
bool EnsureSdlVideo();

// Installs the library's crash report ("log/RKMEDIA-….dmp" beside the
// program) once per process, when the first engine object is made rather
// than when the library is loaded: a host that sets up its own crash
// handling first (a program, a test runner, a fuzzer) keeps it, since the
// report hands every signal on to the handler it found.
void EnsureCrashReport();

}  // namespace rkmedia
