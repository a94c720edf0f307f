// Step-by-step diagnostics of the sound side: handed to the
// media library's log callback at debug level; behaviour never depends on them.
#pragma once

#include <cstdarg>

#include "common/LibraryLog.h"

namespace rkmedia {

[[gnu::format(printf, 1, 2)]] inline void AudioDiag(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    velmor::LogFormatV(velmor::LogLibrary::Media, velmor::kLogDebug, format, args);
    va_end(args);
}

}  // namespace rkmedia
