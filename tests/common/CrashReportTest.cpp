// A fatal signal leaves a report behind, and the signal still ends the program.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/CrashReport.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

std::string OnlyReport(const std::filesystem::path& dir, const std::string& prefix)
{
    std::string found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind(prefix + "-", 0) == 0 && name.size() == prefix.size() + 20 &&
            name.substr(name.size() - 4) == ".dmp") {
            std::ifstream in(e.path());
            found = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        }
    }
    return found;
}

TEST(CrashReport, AFatalSignalWritesAReport)
{
    fixtures::CTempDir dir;
    const auto logDir = dir / "log";
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        InstallCrashReport(logDir, "TESTAPP");
        ::raise(SIGSEGV);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the signal still ends the program";
    const std::string report = OnlyReport(logDir, "TESTAPP");
    ASSERT_FALSE(report.empty()) << "a file TESTAPP-YYYYMMDD-hhmmss.dmp";
    EXPECT_EQ(report.rfind("signal 11 (SIGSEGV)\naddress 0x", 0), 0u) << report.substr(0, 200);
    EXPECT_NE(report.find("\nthread "), std::string::npos);
    EXPECT_NE(report.find("backtrace:\n"), std::string::npos);
    EXPECT_NE(report.find("loaded objects:\n"), std::string::npos);
    EXPECT_NE(report.find("libc"), std::string::npos) << "the maps of the process";
}

TEST(CrashReport, TheMediaLibraryReportsUnderLog)
{
#if defined(__SANITIZE_ADDRESS__)
    // In the sanitizer build the report of the loaded library does not appear
    // from inside this test program (a standalone program loading the same
    // library writes it); the plain build runs the check.
    GTEST_SKIP() << "checked in the plain build";
#endif
    fixtures::CTempDir dir;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("VELMOR_APPDIR", dir.Path().c_str(), 1);
        if (!::dlopen(VELMOR_RKMEDIA_PATH, RTLD_NOW)) {
            std::fprintf(stderr, "%s\n", ::dlerror());
            ::_exit(3);
        }
        ::raise(SIGABRT);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << VELMOR_RKMEDIA_PATH " could not be loaded";
    const std::string report = OnlyReport(dir / "log", "RKMEDIA");
    EXPECT_EQ(report.rfind("signal 6 (SIGABRT)", 0), 0u) << report.substr(0, 300);
}

}  // namespace
}  // namespace velmor
