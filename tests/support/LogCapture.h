// Collects the lines a library hands its log callback, in order, while
// started: what a test used to read from standard output.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmor::fixtures {

template <typename Setter>
class CLogCapture {
public:
    explicit CLogCapture(Setter set) : m_set(set) {}
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;
    ~CLogCapture() { m_set(nullptr, nullptr); }

    void Start()
    {
        {
            std::lock_guard lock(m_lock);
            m_lines.clear();
        }
        m_set(&CLogCapture::Receive, this);
    }

    // Stops and returns the lines joined as they came, each with its level.
    std::string Take(std::vector<std::pair<int, std::string>>* lines = nullptr)
    {
        m_set(nullptr, nullptr);
        std::lock_guard lock(m_lock);
        std::string text;
        for (const auto& l : m_lines) text += l.second;
        if (lines) *lines = std::move(m_lines);
        m_lines.clear();
        return text;
    }

private:
    static void Receive(int level, const char* line, void* user)
    {
        auto* self = static_cast<CLogCapture*>(user);
        std::lock_guard lock(self->m_lock);
        self->m_lines.emplace_back(level, line);
    }

    Setter m_set;
    std::mutex m_lock;
    std::vector<std::pair<int, std::string>> m_lines;
};

// Runs `body` with file descriptor 1 on a pipe and returns what reached it
// (up to the pipe's capacity, far above any line a library would print).
template <typename F>
std::string StandardOutputOf(F&& body)
{
    std::fflush(stdout);
    int fds[2];
    if (::pipe(fds) != 0) return "(no pipe)";
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(fds[1], STDOUT_FILENO);
    body();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(fds[1]);
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    ::close(fds[0]);
    return text;
}

}  // namespace velmor::fixtures
