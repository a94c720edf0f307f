// How each library hands its diagnostics to its caller: one log callback per
// library, and the text of the last failure per library and thread. Nothing
// here ever writes to standard output or standard error; a line logged while
// no callback is installed is dropped (a failure still becomes the last
// error text).
#pragma once

#include <cstdarg>
#include <exception>
#include <new>
#include <string>
#include <type_traits>

namespace velmor {

enum class LogLibrary : int { Store, Container, Index, Media, Ifv, Ttx, Count };

// Levels of a line, the same numbers in every library's public header.
enum LogLevel : int {
    kLogFailure = 0,  // why a call failed: also the last error text
    kLogInfo = 1,     // what a dump or a call reports besides failures
    kLogDebug = 2,    // step-by-step diagnostics
};

using LogCallback = void (*)(int level, const char* line, void* user);

// Installs (or, with null, removes) the callback of a library. Lines are
// delivered one call each, under a lock, so a callback sees no interleaving.
void SetLogCallback(LogLibrary library, LogCallback callback, void* user);

bool HasLogCallback(LogLibrary library);

// Delivers `line` unchanged (trailing line feed included where the text has
// one). A failure line becomes the calling thread's last error text, without
// its trailing line feed.
void LogText(LogLibrary library, int level, const char* line);
void LogFormatV(LogLibrary library, int level, const char* fmt, va_list args);
void LogFormat(LogLibrary library, int level, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

// The calling thread's last failure of a library: "" when there was none
// since the last ClearLastError. The pointer stays valid until this thread's
// next call into the same library.
const char* LastErrorText(LogLibrary library);
void SetLastError(LogLibrary library, std::string text);
void ClearLastError(LogLibrary library);

// Runs an exported call's body so that no exception crosses the library
// boundary: an exception gives `onError`, and its reason becomes the last
// error text of `library`. The result type is the body's.
template <typename F>
auto Guarded(LogLibrary library, std::invoke_result_t<F&> onError, F&& body) noexcept -> std::invoke_result_t<F&>
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(library, "out of memory");
    } catch (const std::exception& e) {
        SetLastError(library, e.what());
    } catch (...) {
        SetLastError(library, "unexpected failure");
    }
    return onError;
}

}  // namespace velmor
