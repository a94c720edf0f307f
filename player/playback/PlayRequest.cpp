#include "player/playback/PlayRequest.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>

#include "player/playback/PlayClock.h"

namespace velmor {

CRKThread::~CRKThread()
{
    m_stop = true;
    Join();
}

void CRKThread::Start()
{
    if (m_thread.joinable()) return;
    m_thread = std::thread([this] { Body(); });
}

void CRKThread::Join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

bool CRKThread::Ended() const { return !m_thread.joinable() || m_ended.load(); }

void CRKThread::Body()
{
    struct Mark {
        std::atomic<bool>& ended;
        ~Mark() { ended = true; }
    } mark{m_ended};
    while (!m_stop) {
        try {
            Step(m_arg);
        } catch (...) {
            ++m_exceptions;
            PLAY_TRACE("pRKThread Exception");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(m_intervalMs.load()));
        std::this_thread::yield();
    }
}

std::optional<EWindowState> StateForRequest(int kind)
{
    switch (kind) {
        case kRequestPlayFile:
        case kRequestFolderFile: return EWindowState::kPlayFile;
        case kRequestTimePlay:
        case kRequestTimePlayToEnd:
        case kRequestTimePlayAlt: return EWindowState::kTimePlay;
        case kRequestCut:
        case kRequestCutMp4: return EWindowState::kCutting;
        default: return std::nullopt;
    }
}

void CPlayRequests::Set(const PlayRequestMap& requests)
{
    CLockerGuard guard(m_lock);
    m_map = requests;
}

void CPlayRequests::Add(const PlayRequest& request)
{
    CLockerGuard guard(m_lock);
    m_map[request.recordfileinfo.beginTime.get()] = request;
}

void CPlayRequests::Clear()
{
    CLockerGuard guard(m_lock);
    m_map.clear();
}

PlayRequestMap CPlayRequests::TakeAll()
{
    CLockerGuard guard(m_lock);
    PlayRequestMap taken;
    taken.swap(m_map);
    return taken;
}

bool CPlayRequests::Empty()
{
    CLockerGuard guard(m_lock);
    return m_map.empty();
}

size_t CPlayRequests::Size()
{
    CLockerGuard guard(m_lock);
    return m_map.size();
}

void CPlayRequests::SetCurrent(const PlayRequest& request)
{
    CLockerGuard guard(m_lock);
    m_current = request;
}

PlayRequest CPlayRequests::Current()
{
    CLockerGuard guard(m_lock);
    return m_current;
}

PlayRequestMap RequestsFromSecond(const PlayRequestMap& requests, uint32_t target)
{
    PlayRequestMap kept;
    for (const auto& [key, request] : requests) {
        const uint32_t begin = request.recordfileinfo.beginTime.get();
        const uint32_t end = request.recordfileinfo.endTime.get();
        if (begin >= target || (begin <= target && target <= end)) kept.emplace(key, request);
    }
    return kept;
}

PlayRequestMap FolderRequests(const std::vector<std::filesystem::path>& files)
{
    PlayRequestMap map;
    uint32_t key = 0;
    for (const auto& file : files) {
        PlayRequest r;
        r.kind = kRequestFolderFile;
        r.filePath = file.string();
        map.emplace(++key, std::move(r));
    }
    return map;
}

size_t RunQueuedRequests(CPlayRequests& requests, WindowStateCell& state,
                         const std::function<void(const PlayRequest&)>& run, int delayMs,
                         const std::function<void(int)>& sleep)
{
    PlayRequestMap local = requests.TakeAll();
    size_t ran = 0;
    for (const auto& [key, request] : local) {
        const EWindowState s = state.load();
        if (s == EWindowState::kStop || s == EWindowState::kClosing) break;
        const std::optional<EWindowState> next = StateForRequest(request.kind);
        if (!next) continue;
        requests.SetCurrent(request);
        // A stop asked for between the check and here must not be lost.
        EWindowState expected = s;
        if (!state.compare_exchange_strong(expected, *next)) break;
        run(request);
        ++ran;
        if (request.kind == kRequestFolderFile && delayMs > 0 && sleep) sleep(delayMs);
        const EWindowState after = state.load();
        if (after == EWindowState::kStop || after == EWindowState::kClosing) break;
    }
    return ran;
}

void CStopWatch::Begin(const std::vector<WindowStateCell*>& states, int64_t nowMs, int64_t limitMs)
{
    m_states = states;
    m_start = nowMs;
    m_limit = limitMs;
    m_active = true;
    for (WindowStateCell* state : m_states) {
        if (state) AskToStop(*state);
    }
}

CStopWatch::EPoll CStopWatch::Poll(int64_t nowMs, std::vector<int>* stuck) const
{
    std::vector<int> busy;
    for (size_t i = 0; i < m_states.size(); ++i)
        if (m_states[i] && m_states[i]->load() != EWindowState::kIdle && m_states[i]->load() != EWindowState::kClosing)
            busy.push_back(int(i) + 1);
    if (busy.empty()) return EPoll::kAllIdle;
    if (nowMs - m_start <= m_limit) return EPoll::kWaiting;
    if (stuck) *stuck = std::move(busy);
    return EPoll::kTimedOut;
}

EFileReader ChooseReader(const std::filesystem::path& path)
{
    std::string ext = path.filename().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    static const std::pair<const char*, EFileReader> kTests[] = {
        {".grec", EFileReader::kTtx}, {".rkrec", EFileReader::kRkRec}, {".ifv", EFileReader::kIfv},
        {".rpo", EFileReader::kRpo}};
    for (const auto& [e, reader] : kTests)
        if (ext == e) return reader;
    return EFileReader::kMediaFile;
}

}  // namespace velmor
