// The scripts bound for the map page: kept in order while the page loads,
// handed out together once it has loaded, and the last ones run remembered.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace velmor {

class CScriptQueue {
public:
    static constexpr size_t kKeepRun = 200;      // scripts remembered as run
    static constexpr size_t kMaxWaiting = 100000; // a page that never loads cannot grow the queue without end

    // A new page is on its way: scripts still waiting are dropped (they were
    // meant for the old page) and new ones wait until SetLoaded(true).
    void Reset();
    // The page finished loading (true) or failed (false). A failed page
    // takes no scripts: the waiting ones are dropped and later ones too,
    // until the next Reset.
    void SetLoaded(bool ok);
    bool Loaded() const;

    // Adds one script. False when it was dropped (failed page, or the
    // waiting queue full); the oldest waiting scripts are never replaced.
    bool Push(std::string script);
    // Once the page has loaded: every waiting script in order, now counted as run.
    std::vector<std::string> TakeReady();

    size_t Waiting() const;
    std::vector<std::string> Run() const;  // oldest first, at most kKeepRun

private:
    enum class EState { kLoading, kLoaded, kFailed };
    mutable std::mutex m_mutex;
    EState m_state = EState::kLoading;
    std::deque<std::string> m_waiting;
    std::deque<std::string> m_run;
};

}  // namespace velmor
