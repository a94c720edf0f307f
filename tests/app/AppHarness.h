// The real program on a virtual display, with a profile of its own, driven
// through its control socket as a script would drive it.
#pragma once

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace velmor::apptest {

using nlohmann::json;
namespace fs = std::filesystem;

class AppHarness : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* bin = std::getenv("VELMOR_BIN");
        ASSERT_NE(bin, nullptr);
        m_program = fs::path(bin) / "velmor";
        m_dir = fs::temp_directory_path() / ("velmor-app-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "profile");
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all, fs::perm_options::replace);
        m_socket = m_dir / "control.sock";
    }
    void TearDown() override
    {
        if (m_fd >= 0) ::close(m_fd);
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        fs::remove_all(m_dir);
    }

    // Runs velmor with this test's own profile and home; returns the pid.
    pid_t Spawn(const std::vector<std::string>& args)
    {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("VELMOR_PROFILE_DIR", (m_dir / "profile").c_str(), 1);
            ::setenv("HOME", m_dir.c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            ::setenv("SDL_AUDIODRIVER", "dummy", 1);
            ::setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
            // CI runs as root, where the map page's browser sandbox cannot start.
            ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
            ::setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 1);
            ::setenv("XDG_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
            // Leaks of the toolkit's font and display caches are not ours;
            // a fatal signal is the program's own crash report's to handle.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0:handle_segv=0:new_delete_type_mismatch=0", 1);
            if (::chdir(m_dir.c_str()) != 0) ::_exit(126);
            if (m_captureStderr) {
                const int fd = ::open((m_dir / "stderr.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
                if (fd >= 0) ::dup2(fd, STDERR_FILENO);
            }
            std::vector<char*> argv{const_cast<char*>(m_program.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(m_program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }

    void StartControlled()
    {
        m_pid = Spawn({"--control", m_socket.string()});
        for (int i = 0; i < 300 && m_fd < 0; ++i) {
            int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", m_socket.c_str());
            if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                m_fd = fd;
                break;
            }
            ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_GE(m_fd, 0) << "velmor did not open its control socket";
    }

    // One line from the program, waiting at most `ms`.
    bool ReadLine(std::string& line, int ms = 10000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (size_t eol = m_in.find('\n'); eol != std::string::npos) {
                line = m_in.substr(0, eol);
                m_in.erase(0, eol + 1);
                return true;
            }
            if (std::chrono::steady_clock::now() > until) return false;
            timeval tv{0, 50000};
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            char buf[4096];
            ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n == 0) return false;
            if (n > 0) m_in.append(buf, size_t(n));
        }
    }

    // The reply to `request`; events that come first are kept in m_events.
    json Call(const std::string& request)
    {
        const std::string out = request + "\n";
        EXPECT_EQ(::send(m_fd, out.data(), out.size(), MSG_NOSIGNAL), ssize_t(out.size()));
        std::string line;
        while (ReadLine(line)) {
            json j = json::parse(line);
            if (j.contains("event")) {
                m_events.push_back(j);
                continue;
            }
            return j;
        }
        ADD_FAILURE() << "no reply to " << request;
        return json();
    }

    int WaitExit(pid_t pid, int ms)
    {
        for (int waited = 0; waited < ms; waited += 20) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    // What the program wrote to standard error (with m_captureStderr set before it starts).
    std::string Stderr() const
    {
        std::ifstream in(m_dir / "stderr.log", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    bool m_captureStderr = false;
    fs::path m_program, m_dir, m_socket;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_in;
    std::vector<json> m_events;
};

}  // namespace velmor::apptest
