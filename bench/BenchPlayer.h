// The real program, started with a profile of its own and driven through its
// control socket as a script drives it. Needs a display.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velmor::bench {

using BenchClock = std::chrono::steady_clock;

double SecondsSince(BenchClock::time_point t0);
void SleepMs(int ms);

struct PlayerStart {
    std::vector<std::pair<std::string, std::string>> env;  // set in the program's environment
    std::string file;     // a recording given on the command line
    int connectPollMs = 50;
};

// A line the program pushed without being asked, and when it came.
struct PlayerEvent {
    nlohmann::json body;
    BenchClock::time_point at;
};

class CPlayer {
public:
    CPlayer() = default;
    ~CPlayer() { Close(); }
    CPlayer(const CPlayer&) = delete;
    CPlayer& operator=(const CPlayer&) = delete;

    // Starts the program; false when it never opened its control socket.
    bool Start(const PlayerStart& how = {});
    void Close();

    // The reply to one command; throws when none comes within `seconds`.
    nlohmann::json Call(const nlohmann::json& command, double seconds = 20);
    // A command that must succeed.
    nlohmann::json Must(const nlohmann::json& command, double seconds = 20);
    nlohmann::json State() { return Must({"get", "state"}); }

    // Polls the state until `done` holds; the last state, or throws after `seconds`.
    template <class F>
    nlohmann::json WaitState(F done, double seconds, const char* what, int pollMs = 2)
    {
        const auto t0 = BenchClock::now();
        for (;;) {
            nlohmann::json s = State();
            if (done(s)) return s;
            if (SecondsSince(t0) > seconds) throw std::runtime_error(std::string("never came: ") + what);
            SleepMs(pollMs);
        }
    }

    void StopAll();

    pid_t Pid() const { return m_pid; }
    BenchClock::time_point Started() const { return m_started; }
    // Resident set of the program in MiB (VmRSS of /proc/PID/status); negative when unknown.
    double ResidentMiB() const;
    const std::vector<PlayerEvent>& Events() const { return m_events; }

private:
    std::filesystem::path m_dir;
    pid_t m_pid = -1;
    int m_fd = -1;
    std::string m_in;
    BenchClock::time_point m_started{};
    std::vector<PlayerEvent> m_events;
};

}  // namespace velmor::bench
