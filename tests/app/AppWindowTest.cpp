// The real program on a virtual display, driven through its control socket
// as a script would drive it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
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

#include "tests/support/LogWriter.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

class AppWindowTest : public ::testing::Test {
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
            ::setenv("XDG_RUNTIME_DIR", (m_dir / "run").c_str(), 1);
            // Leaks of the toolkit's font and display caches are not ours;
            // a fatal signal is the program's own crash report's to handle.
            ::setenv("ASAN_OPTIONS", "detect_leaks=0:handle_segv=0", 1);
            if (::chdir(m_dir.c_str()) != 0) ::_exit(126);
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

    fs::path m_program, m_dir, m_socket;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_in;
    std::vector<json> m_events;
};

TEST_F(AppWindowTest, DefaultsLanguageSwitchScreenshotAndOrderlyQuit)
{
    StartControlled();
    const std::string profile = (m_dir / "profile").string();
    json r = Call(R"({"command":["get","settings"],"request_id":7})");
    EXPECT_EQ(r["request_id"], 7);
    EXPECT_EQ(r["error"], "success");
    const json defaults = {
        {"SnapPath", profile + "/SnapFile"}, {"SaveFilePath", profile + "/BackUpFile"}, {"GSTFILE", ""},
        {"MapType", 0}, {"ConvertGPS", 1}, {"Language", 0}, {"SnapPicFormat", 0}, {"RecordChn", 65535},
        {"ADDOSD", 0}, {"MEDIAINFO", 1}, {"VIDEOSCALE", 1}, {"LOWPASS", 0}, {"LOWPASSVALUE", 0.8},
        {"NSENABLE", 0}, {"NSVALUE", 1}, {"SHOWGEO", 0}, {"DELAYTIME", 0}, {"SPEEDMPH", 0},
        {"GOOGLEKEY", ""}, {"Voice", 0}, {"Equalize", ""}};
    EXPECT_EQ(r["data"], defaults);
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["data"], "日志");

    // Bad lines get an error and the connection stays.
    EXPECT_NE(Call("not json")["error"], "success");
    EXPECT_NE(Call("[1,2]")["error"], "success");
    EXPECT_NE(Call(R"({"command":["get","settings"],"pad":")" + std::string(70000, 'x') + R"("})")["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["error"], "success");
    // One wrong key refuses the whole set.
    r = Call(R"({"command":["settings",{"Language":2,"NoSuchKey":1}]})");
    EXPECT_NE(r["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["data"]["Language"], 0);

    r = Call(R"({"command":["settings",{"Language":2,"RecordChn":32771,"GOOGLEKEY":"k e y"}]})");
    EXPECT_EQ(r["error"], "success");
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"Information","text":"The settings have been saved."}])"));
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["data"], "Log");
    r = Call(R"({"command":["get","settings"]})");
    EXPECT_EQ(r["data"]["RecordChn"], 32771);
    EXPECT_EQ(r["data"]["GOOGLEKEY"], "k e y");

    const fs::path shot = m_dir / "frame.png";
    r = Call(R"({"command":["screenshot",")" + shot.string() + R"("]})");
    EXPECT_EQ(r["error"], "success");
    std::ifstream png(shot, std::ios::binary);
    std::string magic(8, '\0');
    png.read(magic.data(), 8);
    EXPECT_EQ(magic, "\x89PNG\r\n\x1A\n");

    r = Call(R"({"command":["quit"]})");
    EXPECT_EQ(r["error"], "success");
    ASSERT_EQ(r["messages"].size(), 1u);
    EXPECT_EQ(r["messages"][0]["text"], "Close the player? Playback in progress will stop.");
    EXPECT_EQ(WaitExit(m_pid, 10000), 0);
    m_pid = -1;
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(AppWindowTest, SecondStartHandsItsPathOverAndEnds)
{
    StartControlled();
    // Without a path, or with one the player does not open, the second start just ends.
    EXPECT_EQ(WaitExit(Spawn({}), 10000), 0);
    EXPECT_EQ(WaitExit(Spawn({"notes.txt"}), 10000), 0);
    EXPECT_EQ(WaitExit(Spawn({"ifv/CH02.IFV"}), 10000), 0);
    // Polled every 500 ms: taken within a second of the second start's end.
    const auto handed = std::chrono::steady_clock::now();
    std::string line;
    ASSERT_TRUE(ReadLine(line, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - handed, std::chrono::milliseconds(1000));
    EXPECT_EQ(json::parse(line), json({{"event", "open-request"}, {"path", (m_dir / "ifv/CH02.IFV").string()}}));
    EXPECT_FALSE(ReadLine(line, 700));  // the text or path above came once
}

TEST_F(AppWindowTest, FatalSignalLeavesACrashReport)
{
    StartControlled();
    ::kill(m_pid, SIGSEGV);
    EXPECT_EQ(WaitExit(m_pid, 10000), 128 + SIGSEGV);
    m_pid = -1;
    std::string report;
    for (const auto& e : fs::directory_iterator(m_dir / "profile"))
        if (e.path().filename().string().rfind("RKPLAYER-", 0) == 0 && e.path().extension() == ".dmp") {
            std::ifstream in(e.path());
            report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    EXPECT_NE(report.find("backtrace:"), std::string::npos) << report;
    // The next start is not kept out by what the killed one left.
    fs::remove(m_socket);
    ::close(m_fd);
    m_fd = -1;
    StartControlled();
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["error"], "success");
}

TEST_F(AppWindowTest, LogPageNarrowsAndExports)
{
    using velmor::fixtures::MakeLogRecord;
    constexpr uint32_t t0 = 1796119200;  // 2026-12-01 10:00:00
    fs::create_directories(m_dir / "disk");
    velmor::fixtures::WriteLogFile(m_dir / "disk" / "LOG.BIN",
                                   {MakeLogRecord(0x00, t0, "door"), MakeLogRecord(0x10, t0 + 60, "key on"),
                                    MakeLogRecord(0x12, t0 + 120, "admin"), MakeLogRecord(0x20, t0 + 180, "net")});
    StartControlled();
    const std::string source = (m_dir / "disk").string();
    struct Case {
        std::string query;
        int rows;
    };
    const Case cases[] = {
        {R"({"source":")" + source + R"(","type":"Log_ComBox_All"})", 4},
        {R"({"type":"Log_ComBox_Alarm"})", 1},
        {R"({"type":"Log_ComBox_Remote"})", 1},
        {R"({"type":"Log_ComBox_All","from":1796119260,"to":1796119320})", 2},
        {R"({"type":"Log_ComBox_Local"})", 2},
    };
    for (const auto& c : cases) {
        json r = Call(R"({"command":["log_query",)" + c.query + "]}");
        EXPECT_EQ(r["error"], "success") << c.query;
        EXPECT_EQ(r["data"]["rows"], c.rows) << c.query;
    }
    EXPECT_NE(Call(R"({"command":["log_query",{"type":"Log_ComBox_Nothing"}]})")["error"], "success");

    json r = Call(R"({"command":["log_export",")" + (m_dir / "local.csv").string() + R"("]})");
    EXPECT_EQ(r["data"]["path"], (m_dir / "local.csv").string());
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"提示","text":"日志导出成功。"}])"));
    std::ifstream in(m_dir / "local.csv", std::ios::binary);
    std::string csv{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::erase(csv, '\r');
    EXPECT_EQ(csv, "序号,时间,内容,备注\n1,2026-12-01 10:01:00 ,开机,key on\n2,2026-12-01 10:02:00 ,本地登录,admin\n");

    r = Call(R"({"command":["log_export",")" + (m_dir / "local.xls").string() + R"("]})");
    EXPECT_EQ(r["data"]["path"], (m_dir / "local.xlsx").string());
    std::ifstream xlsx(m_dir / "local.xlsx", std::ios::binary);
    std::string magic(4, '\0');
    xlsx.read(magic.data(), 4);
    EXPECT_EQ(magic, std::string("PK\x03\x04", 4));

    r = Call(R"({"command":["log_export",")" + (m_dir / "no/such/dir/x.csv").string() + R"("]})");
    EXPECT_NE(r["error"], "success");
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"提示","text":"日志导出失败。"}])"));
}

}  // namespace
