// A play window's worker and its queue of play requests: the periodic worker
// thread, the lock pair, the request kinds and the map that orders them, and
// the choice of reader for a file.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "index/format/SearchRecord.h"

namespace velmor {

// One critical section.
class Locker {
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

private:
    std::mutex m_mutex;
};

class CLockerGuard {
public:
    explicit CLockerGuard(Locker& locker) : m_locker(locker) { m_locker.Lock(); }
    ~CLockerGuard() { m_locker.Unlock(); }
    CLockerGuard(const CLockerGuard&) = delete;
    CLockerGuard& operator=(const CLockerGuard&) = delete;

private:
    Locker& m_locker;
};

// A thread that calls Step(arg) until told to stop, sleeping the interval
// between calls. A step that throws is reported and the loop goes on.
// Derived classes start it once they are fully built and stop and join it
// in their own destructor, so that no step runs on a half-destroyed object.
class CRKThread {
public:
    explicit CRKThread(void* arg = nullptr, int intervalMs = 1) : m_arg(arg), m_intervalMs(intervalMs) {}
    virtual ~CRKThread();
    CRKThread(const CRKThread&) = delete;
    CRKThread& operator=(const CRKThread&) = delete;

    // Derived classes start the thread once they are fully built.
    void Start();
    // Asks the thread to end after its current step; never waits.
    void RequestStop() { m_stop = true; }
    bool StopRequested() const { return m_stop; }
    // Waits for the thread to end; it must have been asked to.
    void Join();
    void SetInterval(int ms) { m_intervalMs = ms; }
    // True once the thread has left its loop (or never ran); Join then
    // returns at once.
    bool Ended() const;
    uint64_t ExceptionCount() const { return m_exceptions; }

protected:
    virtual void Step(void* arg) = 0;

private:
    void Body();

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
    void* m_arg;
    std::atomic<int> m_intervalMs;
    std::atomic<uint64_t> m_exceptions{0};
    std::thread m_thread;
};

// Request kinds.
enum EPlayRequestKind : int {
    kRequestPlayFile = 0,
    kRequestTimePlay = 1,
    kRequestCut = 2,
    kRequestTimePlayToEnd = 3,
    kRequestCutMp4 = 4,
    kRequestTimePlayAlt = 5,
    kRequestFolderFile = 6,
};

// Window states.
enum class EWindowState : int {
    kStop = 0,
    kPlayFile = 1,
    kPaused = 2,
    kIdle = 3,
    kTimePlay = 5,
    kCutting = 6,
    kClosing = 7,
};
using WindowStateCell = std::atomic<EWindowState>;

// A window that plays, is paused, or plays a file of its folder.
inline bool IsPlaying(EWindowState s)
{
    return s == EWindowState::kPlayFile || s == EWindowState::kPaused || s == EWindowState::kTimePlay;
}
// Asks a window to stop: an idle window stays idle and a closing one
// closing, whichever thread changes the state meanwhile.
inline void AskToStop(WindowStateCell& state)
{
    EWindowState s = state.load();
    while (s != EWindowState::kIdle && s != EWindowState::kClosing &&
           !state.compare_exchange_weak(s, EWindowState::kStop)) {
    }
}

// The state a window takes while a request of `kind` runs; none for a kind
// that is not known (the request is passed over).
std::optional<EWindowState> StateForRequest(int kind);

struct PlayRequest {
    StSearchRecord_t recordfileinfo{};
    int kind = kRequestPlayFile;
    std::string filePath;
    uint8_t flag = 0;
    std::string text1, text2;  // carried for clip cutting
};

using PlayRequestMap = std::map<uint32_t, PlayRequest>;

// A window's request map and current request under the window's lock.
class CPlayRequests {
public:
    // Replaces the map with a copy of `requests`.
    void Set(const PlayRequestMap& requests);
    // Inserts keyed by the request's start time; a request with the same key
    // replaces the queued one.
    void Add(const PlayRequest& request);
    void Clear();
    // Moves the whole map out (the window's map is empty afterwards).
    PlayRequestMap TakeAll();
    bool Empty();
    size_t Size();
    void SetCurrent(const PlayRequest& request);
    PlayRequest Current();

private:
    Locker m_lock;
    PlayRequestMap m_map;
    PlayRequest m_current;
};

// Time play after a slider release: of a channel's requests, those that
// start at or after `target` or hold it, keyed as before.
PlayRequestMap RequestsFromSecond(const PlayRequestMap& requests, uint32_t target);
// Folder play: one folder-file request per file, keyed 1, 2, 3 ... in the
// order given.
PlayRequestMap FolderRequests(const std::vector<std::filesystem::path>& files);

// Runs one step of a play window: takes the queued requests and runs them in
// key order through `run`, each with the window state set for its kind;
// folder files are followed by `delayMs` of `sleep`. The run ends early when
// the state becomes stop or closing. Returns the number of requests run.
size_t RunQueuedRequests(CPlayRequests& requests, WindowStateCell& state,
                         const std::function<void(const PlayRequest&)>& run, int delayMs,
                         const std::function<void(int)>& sleep);

// Stop and stop all without blocking the interface thread: every window is
// asked to end its play at once (Begin), then the interface looks again
// from a timer (Poll) and shows a busy state meanwhile. Windows that are not
// idle within the limit are reported as stuck (a reader on a slow or
// unplugged disk), to be detached from their window with their result
// ignored; nothing here ever waits.
class CStopWatch {
public:
    enum class EPoll { kWaiting, kAllIdle, kTimedOut };
    // `states` are the windows' states, index 0 = window 1; a window that is
    // neither idle nor closing gets state 0.
    void Begin(const std::vector<WindowStateCell*>& states, int64_t nowMs, int64_t limitMs = 3000);
    // kTimedOut fills `stuck` with the 1-based windows still busy.
    EPoll Poll(int64_t nowMs, std::vector<int>* stuck = nullptr) const;
    bool Active() const { return m_active; }
    void End() { m_active = false; }

private:
    std::vector<WindowStateCell*> m_states;
    int64_t m_start = 0, m_limit = 0;
    bool m_active = false;
};

// The reader a file is played with, decided by the extension of the file
// name alone (not the folders), without regard to case.
enum class EFileReader { kTtx, kRkRec, kIfv, kRpo, kMediaFile };
EFileReader ChooseReader(const std::filesystem::path& path);

}  // namespace velmor
