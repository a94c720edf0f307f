#include <cstdarg>
#include <string>

#include "common/LibraryLog.h"
#include "player/formats/CustomMp4File.h"

namespace ifv {

namespace {

void LogAt(int level, const char* fmt, va_list args)
{
    velmor::LogFormatV(velmor::LogLibrary::Ifv, level, fmt, args);
}

}  // namespace

void Message(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    LogAt(velmor::kLogFailure, fmt, args);
    va_end(args);
}

void Info(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    LogAt(velmor::kLogInfo, fmt, args);
    va_end(args);
}

void DebugOutput(const char* text)
{
    const std::string line = std::string(text) + "\n";
    velmor::LogText(velmor::LogLibrary::Ifv, velmor::kLogDebug, line.c_str());
}

}  // namespace ifv
