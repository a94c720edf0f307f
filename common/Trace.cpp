#include "common/Trace.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/AppPaths.h"
#include "common/IniFile.h"

namespace velmor {
namespace {

std::mutex g_outputLock;
std::function<void(const std::string&)> g_output;

void WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += w;
        n -= size_t(w);
    }
}

}  // namespace

int64_t SteadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

// The switches are asked before every traced line (several times per event
// of a 1.5 million event listing) and reread once an hour: the coarse clock
// answers from memory, where the precise one cost an eighth of the listing.
int64_t CoarseMilliseconds()
{
    timespec ts{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0) return SteadyMilliseconds();
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

CTraceSwitch::CTraceSwitch(std::string section, std::string key, int64_t rereadMs)
    : CTraceSwitch(std::move(section), std::move(key), rereadMs, {}, CoarseMilliseconds)
{
}

CTraceSwitch::CTraceSwitch(std::string section, std::string key, int64_t rereadMs, std::filesystem::path ini,
                           Clock clock)
    : m_section(std::move(section)), m_key(std::move(key)), m_rereadMs(rereadMs), m_ini(std::move(ini)),
      m_clock(std::move(clock))
{
}

int CTraceSwitch::Value()
{
    const int64_t now = m_clock();
    const int64_t last = m_lastReadMs.load(std::memory_order_relaxed);
    if (last == INT64_MIN || now - last > m_rereadMs) {
        const auto path = m_ini.empty() ? LanguageTablePath() : m_ini;
        m_value.store(CIniFile::Load(path).GetInt(m_section, m_key, 0), std::memory_order_relaxed);
        m_lastReadMs.store(now, std::memory_order_relaxed);
    }
    return m_value.load(std::memory_order_relaxed);
}

std::string FunctionName(const char* pretty)
{
    std::string_view s(pretty);
    size_t paren = s.find('(');
    if (paren != std::string_view::npos) s = s.substr(0, paren);
    size_t space = s.rfind(' ');
    if (space != std::string_view::npos) s = s.substr(space + 1);
    while (!s.empty() && (s.front() == '*' || s.front() == '&')) s.remove_prefix(1);
    return std::string(s);
}

void SetTraceOutput(std::function<void(const std::string&)> sink)
{
    std::lock_guard lock(g_outputLock);
    g_output = std::move(sink);
}

std::string FormatTraceLineV(const char* prefix, const char* file, int line, const char* prettyFunction,
                             const char* fmt, va_list args)
{
    char message[1038 + 1];
    int n = std::vsnprintf(message, sizeof message, fmt, args);
    size_t len = n < 0 ? 0 : std::min<size_t>(size_t(n), sizeof message - 1);
    while (len > 0 && (message[len - 1] == '\n' || message[len - 1] == '\r')) --len;

    const char* base = std::strrchr(file, '/');
    base = base ? base + 1 : file;
    std::string text;
    text.reserve(len + 128);
    text += prefix;
    text += base;
    text += '[';
    text += std::to_string(line);
    text += "]:";
    text += FunctionName(prettyFunction);
    text += ':';
    text.append(message, len);
    text += '\n';
    return text;
}

void WriteTraceLine(const std::string& text)
{
    std::lock_guard lock(g_outputLock);
    if (g_output)
        g_output(text);
    else
        WriteAll(STDERR_FILENO, text.data(), text.size());
}

void TraceLineV(const char* prefix, const char* file, int line, const char* prettyFunction, const char* fmt,
                va_list args)
{
    WriteTraceLine(FormatTraceLineV(prefix, file, line, prettyFunction, fmt, args));
}

void TraceLine(const char* prefix, const char* file, int line, const char* prettyFunction, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    TraceLineV(prefix, file, line, prettyFunction, fmt, args);
    va_end(args);
}

}  // namespace velmor
