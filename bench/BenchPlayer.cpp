#include "bench/BenchPlayer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace velmor::bench {

using nlohmann::json;
namespace fs = std::filesystem;

double SecondsSince(BenchClock::time_point t0)
{
    return std::chrono::duration<double>(BenchClock::now() - t0).count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool CPlayer::Start(const PlayerStart& how)
{
    std::error_code ec;
    const fs::path program = fs::read_symlink("/proc/self/exe", ec).parent_path() / "velmor";
    m_dir = fs::temp_directory_path() / ("velmor-bench-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir / "profile");
    fs::create_directories(m_dir / "run");
    fs::permissions(m_dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    const fs::path socket = m_dir / "control.sock";
    m_events.clear();
    m_in.clear();
    m_started = BenchClock::now();
    m_pid = ::fork();
    if (m_pid == 0) {
        ::setenv("VELMOR_PROFILE_DIR", (m_dir / "profile").c_str(), 1);
        ::setenv("HOME", m_dir.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ::setenv("XDG_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
        for (const auto& [name, value] : how.env) ::setenv(name.c_str(), value.c_str(), 1);
        const int log = ::open((m_dir / "velmor.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        if (::chdir(m_dir.c_str()) != 0) ::_exit(126);
        if (how.file.empty())
            ::execl(program.c_str(), program.c_str(), "--control", socket.c_str(), static_cast<char*>(nullptr));
        else
            ::execl(program.c_str(), program.c_str(), "--control", socket.c_str(), how.file.c_str(),
                    static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const int tries = 15000 / std::max(1, how.connectPollMs);
    for (int i = 0; i < tries && m_fd < 0 && m_pid > 0; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket.c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            m_fd = fd;
            break;
        }
        ::close(fd);
        SleepMs(how.connectPollMs);
    }
    return m_fd >= 0;
}

void CPlayer::Close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) SleepMs(20);
        if (::waitpid(m_pid, nullptr, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    m_pid = -1;
    if (!m_dir.empty()) fs::remove_all(m_dir);
    m_dir.clear();
}

json CPlayer::Call(const json& command, double seconds)
{
    const std::string out = json({{"command", command}}).dump() + "\n";
    if (::send(m_fd, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size()))
        throw std::runtime_error("the program's control socket is gone");
    const auto until = BenchClock::now() + std::chrono::duration_cast<BenchClock::duration>(
                                               std::chrono::duration<double>(seconds));
    for (;;) {
        if (const size_t eol = m_in.find('\n'); eol != std::string::npos) {
            json reply = json::parse(m_in.substr(0, eol));
            m_in.erase(0, eol + 1);
            if (reply.contains("event")) {
                m_events.push_back({std::move(reply), BenchClock::now()});
                continue;
            }
            return reply;
        }
        if (BenchClock::now() > until) throw std::runtime_error("no reply to " + command.dump());
        timeval tv{0, 50000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n == 0) throw std::runtime_error("the program ended");
        if (n > 0) m_in.append(buf, size_t(n));
    }
}

json CPlayer::Must(const json& command, double seconds)
{
    json reply = Call(command, seconds);
    if (reply["error"] != "success") throw std::runtime_error(command.dump() + ": " + reply["error"].dump());
    return reply["data"];
}

void CPlayer::StopAll()
{
    Must({"stop"});
    WaitState(
        [](const json& s) {
            for (const auto& w : s["windows"])
                if (w["state"] != 3) return false;
            return !s["stopping"].get<bool>();
        },
        20, "all windows stopped", 20);
}

double CPlayer::ResidentMiB() const
{
    std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return -1;
}

}  // namespace velmor::bench
