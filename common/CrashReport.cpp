#include "common/CrashReport.h"

#include <execinfo.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#include "common/AppPaths.h"

namespace velmor {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Everything the handler needs is prepared here: it must not allocate.
char g_dir[4096];
char g_prefix[64];
long g_utcOffset = 0;  // seconds east of UTC at installation
struct sigaction g_previous[kSignalCount];
bool g_installed = false;

void Put(int fd, const char* s)
{
    size_t n = std::strlen(s);
    while (n > 0) {
        ssize_t w = ::write(fd, s, n);
        if (w <= 0) return;
        s += w;
        n -= size_t(w);
    }
}

// Decimal or hexadecimal text of a number, without the C library.
void PutNumber(int fd, unsigned long long v, int base, int width = 0)
{
    char buf[32];
    int i = 31;
    buf[i] = 0;
    do {
        buf[--i] = "0123456789abcdef"[v % unsigned(base)];
        v /= unsigned(base);
        --width;
    } while (v > 0 || width > 0);
    Put(fd, buf + i);
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, int& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(yoe + era * 400 + (m <= 2));
}

void Append(char*& p, const char* end, const char* s)
{
    while (*s && p < end) *p++ = *s++;
}

void AppendNumber(char*& p, const char* end, unsigned v, int width)
{
    char digits[16];
    int n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v > 0 || n < width);
    while (n > 0 && p < end) *p++ = digits[--n];
}

void CopyFile(int to, const char* from)
{
    int fd = ::open(from, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buf[4096];
    for (;;) {
        ssize_t r = ::read(fd, buf, sizeof buf);
        if (r <= 0) break;
        ssize_t off = 0;
        while (off < r) {
            ssize_t w = ::write(to, buf + off, size_t(r - off));
            if (w <= 0) break;
            off += w;
        }
    }
    ::close(fd);
}

void WriteReport(int sig, siginfo_t* info)
{
    const time_t now = ::time(nullptr) + g_utcOffset;
    int year;
    unsigned month, day;
    CivilFromDays((long long)(now / 86400), year, month, day);
    const unsigned secs = unsigned(now % 86400);

    char path[4096 + 128];
    char* p = path;
    const char* end = path + sizeof path - 1;
    Append(p, end, g_dir);
    *p = 0;
    ::mkdir(path, 0755);
    Append(p, end, "/");
    Append(p, end, g_prefix);
    Append(p, end, "-");
    AppendNumber(p, end, unsigned(year), 4);
    AppendNumber(p, end, month, 2);
    AppendNumber(p, end, day, 2);
    Append(p, end, "-");
    AppendNumber(p, end, secs / 3600, 2);
    AppendNumber(p, end, secs / 60 % 60, 2);
    AppendNumber(p, end, secs % 60, 2);
    Append(p, end, ".dmp");
    *p = 0;

    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    Put(fd, "signal ");
    PutNumber(fd, unsigned(sig), 10);
    Put(fd, " (");
    Put(fd, sig == SIGSEGV ? "SIGSEGV" : sig == SIGBUS ? "SIGBUS" : sig == SIGILL ? "SIGILL" : sig == SIGFPE ? "SIGFPE" : "SIGABRT");
    Put(fd, ")\naddress 0x");
    PutNumber(fd, reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr), 16);
    Put(fd, "\nprocess ");
    PutNumber(fd, unsigned(::getpid()), 10);
    Put(fd, "\nthread ");
    PutNumber(fd, (unsigned long long)::syscall(SYS_gettid), 10);
    Put(fd, "\n\nbacktrace:\n");
    void* frames[64];
    const int n = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, n, fd);
    Put(fd, "\nloaded objects:\n");
    CopyFile(fd, "/proc/self/maps");
    ::close(fd);
}

void OnFatalSignal(int sig, siginfo_t* info, void* context)
{
    static volatile sig_atomic_t busy = 0;
    if (!busy) {
        busy = 1;
        WriteReport(sig, info);
    }
    // Hand the signal on as if we had never been here.
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] != sig) continue;
        const struct sigaction& prev = g_previous[i];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) {
                prev.sa_sigaction(sig, info, context);
                return;
            }
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
            prev.sa_handler(sig);
            return;
        }
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void InstallCrashReport(const std::filesystem::path& dir, const char* prefix)
{
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    std::strncpy(g_dir, dir.c_str(), sizeof g_dir - 1);
    std::strncpy(g_prefix, prefix, sizeof g_prefix - 1);
    const time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    g_utcOffset = local.tm_gmtoff;
    // Load the unwinder now: the first backtrace() may allocate.
    void* probe[2];
    ::backtrace(probe, 2);
    if (g_installed) return;
    g_installed = true;
    struct sigaction action {};
    action.sa_sigaction = OnFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &action, &g_previous[i]);
}

std::filesystem::path CrashReportDir(const char* sub)
{
    const auto app = ApplicationDir();
    if (::access(app.c_str(), W_OK) == 0) return app / sub;
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::filesystem::path base = data && *data ? std::filesystem::path(data)
                                               : std::filesystem::path(home ? home : "/tmp") / ".local" / "share";
    return base / "velmor" / sub;
}

}  // namespace velmor
