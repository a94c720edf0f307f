#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "player/formats/CustomMp4File.h"

namespace ifv {

namespace {
std::atomic<FILE*> g_stream{nullptr};
}

void SetMessageStream(FILE* stream) { g_stream.store(stream); }

void Message(const char* fmt, ...)
{
    FILE* out = g_stream.load();
    if (!out) out = stdout;
    va_list args;
    va_start(args, fmt);
    std::vfprintf(out, fmt, args);
    va_end(args);
    std::fflush(out);
}

void DebugOutput(const char* text)
{
    // One write per line so that lines of several threads never interleave.
    const std::string line = std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace ifv
