// The trace sink: one line per message on standard error, in the form
// PREFIX + "file.cpp[line]:Class::Method" + ":" + message, switched by a key of
// the language table that is read again after a fixed interval.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace velmor {

class CTraceSwitch {
public:
    using Clock = std::function<int64_t()>;  // milliseconds, monotonic

    CTraceSwitch(std::string section, std::string key, int64_t rereadMs);
    // For tests: another settings file and another clock.
    CTraceSwitch(std::string section, std::string key, int64_t rereadMs, std::filesystem::path ini, Clock clock);

    // The switch value, read from the settings file on first use and again
    // once more than the interval has passed since the last reading. The
    // members are atomics: racing readers may both read the file, and either
    // result is one the file held.
    int Value();

private:
    std::string m_section;
    std::string m_key;
    int64_t m_rereadMs;
    std::filesystem::path m_ini;  // empty: the language table of the application folder
    Clock m_clock;
    std::atomic<int> m_value{0};
    std::atomic<int64_t> m_lastReadMs{INT64_MIN};
};

int64_t SteadyMilliseconds();

// "int CSingleRpoFile::Open(const char*)" -> "CSingleRpoFile::Open".
std::string FunctionName(const char* prettyFunction);

// Formats at most 1038 characters of message, ends it with exactly one line
// feed and writes the whole line with one write() so lines of several threads
// never interleave.
std::string FormatTraceLineV(const char* prefix, const char* file, int line, const char* prettyFunction,
                             const char* fmt, va_list args);
// Writes one formatted line to where trace lines go.
void WriteTraceLine(const std::string& text);
void TraceLineV(const char* prefix, const char* file, int line, const char* prettyFunction, const char* fmt,
                va_list args);
void TraceLine(const char* prefix, const char* file, int line, const char* prettyFunction, const char* fmt, ...)
    __attribute__((format(printf, 5, 6)));

// Where trace lines go; standard error unless a test captures them.
void SetTraceOutput(std::function<void(const std::string&)> sink);

}  // namespace velmor
