#include "common/LibraryLog.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <mutex>

#include "common/include/rkcommon.h"

namespace velmor {
namespace {

static_assert(kLogFailure == RK_LOG_FAILURE && kLogInfo == RK_LOG_INFO && kLogDebug == RK_LOG_DEBUG);
static_assert(std::is_same_v<LogCallback, RK_LOG_CALLBACK>);

constexpr size_t kLibraries = size_t(LogLibrary::Count);

struct Sink {
    std::mutex lock;
    LogCallback callback = nullptr;
    void* user = nullptr;
};

std::array<Sink, kLibraries>& Sinks()
{
    static std::array<Sink, kLibraries> sinks;
    return sinks;
}

std::array<std::string, kLibraries>& LastErrors()
{
    thread_local std::array<std::string, kLibraries> errors;
    return errors;
}

size_t IndexOf(LogLibrary library) { return std::min(size_t(library), kLibraries - 1); }

}  // namespace

void SetLogCallback(LogLibrary library, LogCallback callback, void* user)
{
    Sink& s = Sinks()[IndexOf(library)];
    std::lock_guard lock(s.lock);
    s.callback = callback;
    s.user = user;
}

bool HasLogCallback(LogLibrary library)
{
    Sink& s = Sinks()[IndexOf(library)];
    std::lock_guard lock(s.lock);
    return s.callback != nullptr;
}

void LogText(LogLibrary library, int level, const char* line)
{
    if (!line) return;
    if (level == kLogFailure) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        SetLastError(library, std::move(text));
    }
    Sink& s = Sinks()[IndexOf(library)];
    std::lock_guard lock(s.lock);
    if (s.callback) s.callback(level, line, s.user);
}

void LogFormatV(LogLibrary library, int level, const char* fmt, va_list args)
{
    // Lines longer than the buffer are cut, as the libraries' own buffers
    // always cut them.
    char line[2048];
    const int n = std::vsnprintf(line, sizeof line, fmt, args);
    if (n < 0) return;
    LogText(library, level, line);
}

void LogFormat(LogLibrary library, int level, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    LogFormatV(library, level, fmt, args);
    va_end(args);
}

const char* LastErrorText(LogLibrary library) { return LastErrors()[IndexOf(library)].c_str(); }

void SetLastError(LogLibrary library, std::string text) { LastErrors()[IndexOf(library)] = std::move(text); }

void ClearLastError(LogLibrary library) { LastErrors()[IndexOf(library)].clear(); }

}  // namespace velmor
