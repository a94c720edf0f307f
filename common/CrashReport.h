// A crash report instead of a silent death: on a fatal signal, a file
// "<dir>/<prefix>-YYYYMMDD-hhmmss.dmp" (local time) with the signal, the
// faulting address, the thread, a backtrace and the loaded objects. The
// handler only uses async-signal-safe calls apart from the backtrace, whose
// library is loaded beforehand; it then hands the signal on to whatever
// handler was installed before it.
#pragma once

#include <filesystem>

namespace velmor {

// Installs the handler for SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT.
// `dir` is created when the report is written. Installing again replaces
// the folder and prefix.
void InstallCrashReport(const std::filesystem::path& dir, const char* prefix);

// The folder for reports of a program: `sub` inside the application folder
// when that folder is writable, else inside the user's data folder.
std::filesystem::path CrashReportDir(const char* sub);

}  // namespace velmor
