#include "player/playback/PlayClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

namespace velmor {

bool PlayTraceOn()
{
    static CTraceSwitch s_switch("LangList", "Debug", 3600);
    return s_switch.Value() == 1;
}

namespace {

class CSystemTicks : public ITickSource {
public:
    int64_t NowMs() override { return SteadyMilliseconds(); }
    void SleepMs(int64_t ms) override
    {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

}  // namespace

ITickSource& SystemTicks()
{
    static CSystemTicks s_ticks;
    return s_ticks;
}

int SpeedUp(int level) { return level >= 0 && level < kMaxSpeedLevel ? level + 1 : 0; }

int SlowDown(int level) { return level <= 0 && level > kMinSpeedLevel ? level - 1 : 0; }

const char* SpeedLabel(int level)
{
    switch (level) {
        case 1: return " X2";
        case 2: return " X4";
        case 3: return " X8";
        case 4: return " X16";
        case 5: return " X32";
        case -1: return " X1/2";
        case -2: return " X1/4";
        case -3: return " X1/8";
        case -4: return " X1/16";
        case -5: return " X1/32";
        default: return " X1";
    }
}

int CFrameSkipper::Threshold(int level, int layout)
{
    if (layout == kLayout2x2) {
        if (level <= 3) return 0;
        return level == 4 ? 1 : level == 5 ? 2 : 3;
    }
    if (level <= 2) return 0;
    return level == 3 ? 1 : level == 4 ? 2 : 3;
}

bool CFrameSkipper::Play(int level, int layout)
{
    const int threshold = Threshold(level, layout);
    if (threshold == 0) return true;
    if (m_counter >= threshold) {
        m_counter = 0;
        return true;
    }
    ++m_counter;
    return false;
}

bool CFrameSkipper::PlayIfv(int level, int layout, bool video, int frameType)
{
    if (Threshold(level, layout) == 0) return true;
    if (!video || frameType == 1) return false;
    return Play(level, layout);
}

int64_t CFramePacer::Interval(uint64_t pts)
{
    int64_t d = 33;
    if (pts != 0 && m_lastPts != 0 && pts > m_lastPts) d = int64_t(pts / 1000) - int64_t(m_lastPts / 1000);
    m_lastPts = pts;
    if (d > 1000) d = 33;
    return d;
}

int CFramePacer::WaitMs(uint64_t pts, int64_t nowMs, int level)
{
    const int64_t d = Interval(pts) + m_owedMs;
    m_owedMs = 0;
    const double due = double(d) / std::pow(2.0, level);
    const double since = double(nowMs) - m_lastRelease;
    m_due = m_released ? m_lastRelease + due : double(nowMs + 1);
    m_level = level;
    if (m_released && since < due) return int(due - since);
    return 1;
}

void CFramePacer::Released(int64_t nowMs)
{
    const double carry = m_held ? 0.0 : double(CarryMs(m_level));
    m_lastRelease = double(nowMs) - std::clamp(double(nowMs) - m_due, 0.0, carry);
    m_released = true;
    m_held = false;
}

bool CLagWatch::Shown(int64_t nowMs, int64_t mediaMs, int level)
{
    if (level != 0 || m_told) {
        m_started = false;
        return false;
    }
    if (!m_started || mediaMs < m_media0) {
        m_started = true;
        m_settled = false;
        m_wall0 = nowMs;
        m_media0 = mediaMs;
        return false;
    }
    if (!m_settled) {
        if (nowMs - m_wall0 < kSettleMs) return false;
        m_settled = true;
        m_wall0 = nowMs;
        m_media0 = mediaMs;
        return false;
    }
    const int64_t wall = nowMs - m_wall0;
    if (wall < kStretchMs) return false;
    const bool behind = double(mediaMs - m_media0) < kLeast * double(wall);
    m_wall0 = nowMs;
    m_media0 = mediaMs;
    m_told = behind;
    return behind;
}

void CPauseGate::Set()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
    }
    m_cv.notify_all();
}

void CPauseGate::Reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = false;
}

bool CPauseGate::IsSet() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open;
}

void CPauseGate::Wake() { m_cv.notify_all(); }

bool CPauseGate::Wait(const std::function<bool()>& stopped)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_open) {
        if (stopped && stopped()) return false;
        m_cv.wait_for(lock, std::chrono::milliseconds(25));
    }
    return true;
}

void CPlayShared::SetEqualizer(bool on, const RKPLAYER_EQ_PRESET& record)
{
    std::lock_guard<std::mutex> lock(m_eqLock);
    m_eqOn = on;
    m_eq = record;
}

bool CPlayShared::Equalizer(RKPLAYER_EQ_PRESET& record) const
{
    std::lock_guard<std::mutex> lock(m_eqLock);
    record = m_eq;
    return m_eqOn;
}

uint32_t CPlayShared::CurrTime() const
{
    std::lock_guard<std::mutex> lock(m_syncLock);
    return m_currTime;
}

void CPlayShared::SetCurrTime(uint32_t t)
{
    std::lock_guard<std::mutex> lock(m_syncLock);
    m_currTime = t;
}

void CPlayShared::SetWindowTime(int window, uint32_t t)
{
    if (window < 1 || window > kMaxWindows) return;
    std::lock_guard<std::mutex> lock(m_syncLock);
    m_windowTime[size_t(window)] = t;
}

uint32_t CPlayShared::WindowTime(int window) const
{
    if (window < 1 || window > kMaxWindows) return 0;
    std::lock_guard<std::mutex> lock(m_syncLock);
    return m_windowTime[size_t(window)];
}

bool CPlayShared::Recompute()
{
    std::lock_guard<std::mutex> lock(m_syncLock);
    uint32_t smallest = 0;
    // A window holding back a picture until the clock comes to it counts
    // with that picture's second: the others do not run on past it.
    for (int w = 1; w <= kMaxWindows; ++w)
        for (const uint32_t t : {m_windowTime[size_t(w)], m_pendingTime[size_t(w)]})
            if (t != 0 && (smallest == 0 || t < smallest)) smallest = t;
    if (smallest == 0) return false;
    m_currTime = smallest;
    return true;
}

bool CPlayShared::MayProceed(int window) const
{
    std::lock_guard<std::mutex> lock(m_syncLock);
    const uint32_t t = window >= 1 && window <= kMaxWindows ? m_windowTime[size_t(window)] : 0;
    return t == 0 || t <= m_currTime;
}

void CPlayShared::SetPendingTime(int window, uint32_t second)
{
    if (window < 1 || window > kMaxWindows) return;
    std::lock_guard<std::mutex> lock(m_syncLock);
    m_pendingTime[size_t(window)] = second;
}

bool CPlayShared::SyncWaitDone(int window)
{
    if (MayProceed(window)) return true;
    const int64_t now = m_ticks.NowMs();
    int64_t stamp = m_waitStamp.load();
    if (stamp == 0) {
        m_waitStamp = now;
        return false;
    }
    if (now > stamp + 3000) {
        m_waitStamp = now;
        return true;
    }
    return false;
}

void CPlayShared::SetProgressNotify(std::function<void()> notify)
{
    std::lock_guard<std::mutex> lock(m_progressLock);
    m_notify = std::move(notify);
}

void CPlayShared::PostProgress(int64_t positionMs, int64_t totalMs, bool singleFile)
{
    if (singleFile && totalMs > 0) SetCurrTime(m_rangeStart + uint32_t(positionMs / 1000));
    int percent = ProgressPercent(singleFile, positionMs, totalMs, CurrTime(), m_rangeStart, m_endTime, m_lastPercent);
    m_lastPercent = percent;
    if (percent == 0) percent = -1;
    std::function<void()> notify;
    {
        std::lock_guard<std::mutex> lock(m_progressLock);
        m_progress.push_back({positionMs, totalMs, percent});
        notify = m_notify;
    }
    if (notify) notify();
}

bool CPlayShared::TakeProgress(ProgressRecord& out)
{
    std::lock_guard<std::mutex> lock(m_progressLock);
    if (m_progress.empty()) return false;
    out = m_progress.front();
    m_progress.pop_front();
    return true;
}

void CPlayShared::ClearProgress()
{
    std::lock_guard<std::mutex> lock(m_progressLock);
    m_progress.clear();
}

void CPlayShared::ResetAfterStop(EStopKind kind)
{
    speedLevel = 0;
    m_waitStamp = 0;
    if (kind == EStopKind::kStopButton) {
        m_rangeStart = 0;
        m_endTime = 0;
        SetCurrTime(0);
    }
    m_lastPercent = 0;
    lastAttachKey = 0;
    mute = volume.load() == 0;
    ClearProgress();
}

int ProgressPercent(bool singleFile, int64_t positionMs, int64_t totalMs, uint32_t currTime, uint32_t rangeStart,
                    uint32_t endTime, int lastPercent)
{
    if (singleFile) {
        if (totalMs <= 0 || positionMs <= 0) return 0;
        return int(double(positionMs) / double(totalMs) * 100.0);
    }
    int percent = 0;
    if (endTime > rangeStart && currTime > rangeStart)
        percent = int(double(currTime - rangeStart) / double(endTime - rangeStart) * 100.0);
    if (lastPercent >= 0 && lastPercent <= 100 && percent < lastPercent) percent = lastPercent;
    return percent;
}

namespace {

std::string Hms(uint32_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

}  // namespace

std::string ProgressLabel(uint32_t currTime, uint32_t rangeStart, uint32_t endTime, int level)
{
    const uint32_t pos = currTime >= rangeStart ? currTime - rangeStart : 0;
    const uint32_t total = endTime >= rangeStart ? endTime - rangeStart : 0;
    return Hms(pos) + "/" + Hms(total) + SpeedLabel(level);
}

std::string EmptyProgressLabel(int level) { return std::string("00:00:00/00:00:00") + SpeedLabel(level); }

int SliderValueAt(int x, int width, int min, int max)
{
    if (width <= 1 || max <= min) return min;
    const int64_t span = int64_t(max) - min;
    const int64_t pos = std::clamp<int64_t>(x, 0, width - 1);
    return int(min + (pos * span * 2 + (width - 1)) / (2 * int64_t(width - 1)));
}

uint32_t SeekTargetSecond(uint32_t rangeStart, uint32_t endTime, int slider)
{
    if (slider < 0) slider = 0;
    if (slider > 100) slider = 100;
    const double span = endTime > rangeStart ? double(endTime - rangeStart) : 0.0;
    const double target = double(rangeStart) + span * slider / 100.0;
    PLAY_TRACE("dbDrageValue:%f", target);
    return uint32_t(target);
}

ESeekAction SeekActionFor(EPlayType playType)
{
    if (playType == EPlayType::kSingleFile || playType == EPlayType::kContainerFile) return ESeekAction::kSeekWindows;
    if (playType == EPlayType::kTime) return ESeekAction::kRestartPlaySet;
    return ESeekAction::kNone;
}

int WindowForChannel(int layout, int channel)
{
    static const int k2x2[] = {1, 2, 5, 6};
    static const int k3x3[] = {1, 2, 3, 5, 6, 7, 9, 10, 11};
    if (channel < 1) return 0;
    switch (layout) {
        case kLayout1: return channel == 1 ? 1 : 0;
        case kLayout2x2: return channel <= 4 ? k2x2[channel - 1] : 0;
        case kLayout3x3: return channel <= 9 ? k3x3[channel - 1] : 0;
        case kLayout4x4: return channel <= kMaxWindows ? channel : 0;
        default: return 0;
    }
}

bool PlaysSubStream(int layout, bool enlarged, bool alwaysMain)
{
    return !alwaysMain && !enlarged && (layout == kLayout3x3 || layout == kLayout4x4);
}

int LayoutForChannels(int highestChannel)
{
    if (highestChannel <= 4) return kLayout2x2;
    if (highestChannel <= 9) return kLayout3x3;
    return kLayout4x4;
}

}  // namespace velmor
