#include "tests/support/ReadOnlyView.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace velmor::fixtures {
namespace {

constexpr int kUnavailable = 97;

bool WriteFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

// In the child: a private mount namespace where `dir` is read-only.
bool EnterReadOnlyView(const std::filesystem::path& dir)
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0) {
        if (::unshare(CLONE_NEWNS) != 0) return false;
    } else {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        WriteFile("/proc/self/setgroups", "deny");
        if (!WriteFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1\n")) return false;
        if (!WriteFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1\n")) return false;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return false;
    if (::mount(nullptr, dir.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0) return false;
    // The view must really refuse writing before anything is judged by it.
    const auto probe = dir / ".velmor-write-probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.c_str());
        return false;
    }
    return errno == EROFS;
}

}  // namespace

ReadOnlyRun RunWithReadOnlyView(const std::filesystem::path& dir, const std::function<int()>& body)
{
    ReadOnlyRun run;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        run.why = "fork failed";
        return run;
    }
    if (pid == 0) {
        if (!EnterReadOnlyView(dir)) ::_exit(kUnavailable);
        int rc = 1;
        try {
            rc = body();
        } catch (...) {
            rc = 2;
        }
        std::fflush(nullptr);
        ::_exit(rc == kUnavailable ? 1 : rc);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kUnavailable) {
        run.why = "no private read-only mount can be made here";
        return run;
    }
    run.available = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

}  // namespace velmor::fixtures
