// A clock for play tests: sleeping only moves it on, and every sleep is kept.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "player/playback/PlayClock.h"

namespace velmor::fixtures {

class CFakeTicks : public ITickSource {
public:
    explicit CFakeTicks(int64_t start = 1000) : m_now(start) {}
    int64_t NowMs() override { return m_now; }
    void SleepMs(int64_t ms) override
    {
        m_now += ms;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_sleeps.size() < 100000) m_sleeps.push_back(ms);
        }
        std::this_thread::yield();
    }
    void Advance(int64_t ms) { m_now += ms; }
    std::vector<int64_t> Sleeps()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sleeps;
    }

private:
    std::atomic<int64_t> m_now;
    std::mutex m_mutex;
    std::vector<int64_t> m_sleeps;
};

}  // namespace velmor::fixtures
