// The values every play window shares and the rules that keep sixteen windows
// on one clock: speed levels, frame skipping, pacing by time stamps, the wait
// of a window that runs ahead, the pause gate, the progress texts and where a
// drag of the progress slider lands. Nothing here draws; time comes from an
// ITickSource so that the rules can be run without sleeping.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "common/Trace.h"
#include "media/include/rkmedia.h"

namespace velmor {

bool PlayTraceOn();

}  // namespace velmor

#define PLAY_TRACE(fmt, ...)                                                                                         \
    do {                                                                                                             \
        if (::velmor::PlayTraceOn())                                                                                 \
            ::velmor::TraceLine("RK-CLIENT:", __FILE__, __LINE__, __PRETTY_FUNCTION__, fmt __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)

namespace velmor {

// Milliseconds and sleeping. The system one uses the monotonic clock; tests
// use one whose sleeps only move its clock on.
class ITickSource {
public:
    virtual ~ITickSource() = default;
    virtual int64_t NowMs() = 0;
    virtual void SleepMs(int64_t ms) = 0;
};
ITickSource& SystemTicks();

// ---- Speed ----------------------------------------------------------------
constexpr int kMinSpeedLevel = -5;
constexpr int kMaxSpeedLevel = 5;

// Faster: 0,1..5 and then back to normal; from any slower level straight to normal.
int SpeedUp(int level);
// Slower: 0,-1..-5 and then back to normal; from any faster level straight to normal.
int SlowDown(int level);
// " X2" .. " X32", " X1/2" .. " X1/32", " X1".
const char* SpeedLabel(int level);

// Layout modes of the window set.
// How the window set plays: one file, a time range, or a container file
// whose channels share its time line.
enum class EPlayType : int { kSingleFile = 0, kTime = 1, kContainerFile = 5 };

enum ELayoutMode : int { kLayout1 = 0, kLayout2x2 = 1, kLayout3x3 = 2, kLayout4x4 = 3 };

// Frame skipping at high speed (container files and time play): the 2x2
// layout plays every frame up to X8, the others up to X4; above that only
// every (threshold+1)-th frame is played.
class CFrameSkipper {
public:
    // True when the frame is to be played.
    bool Play(int level, int layout);
    // IFV time play: above the skipping level every frame that is not video
    // and every video frame of type 1 is dropped outright; other pictures
    // go through the counter.
    bool PlayIfv(int level, int layout, bool video, int frameType);
    void Reset() { m_counter = 0; }
    int Counter() const { return m_counter; }

    static int Threshold(int level, int layout);  // 0: every frame is played

private:
    int m_counter = 0;
};

// Spaces the pictures of one window by their time stamps: D ms after the
// previous release at normal speed, D/2^n at level n, D*2^n at level -n; a
// window that falls behind waits 1 ms. The time already spent since the
// last release (reading, decoding, drawing) is wall time, so it is deducted
// after the interval is scaled: taken off D before scaling, every
// millisecond of decoding counted 1/32 ms at X32, and a 1080p window ran at
// about X23 while its clock said X32. Frames passed over by the skipping
// rules still owe their intervals, so skipping never speeds the recording
// up beyond its level.
class CFramePacer {
public:
    // The wait before the frame with time stamp `pts` (us) may be released.
    int WaitMs(uint64_t pts, int64_t nowMs, int level);
    // A video frame passed over without being released: its interval is
    // added to the next release's.
    void Passed(uint64_t pts) { m_owedMs += Interval(pts); }
    // Remembers the moment the frame was released. A release comes late
    // when a sleep overshoots its request (at X32, 32 times a second), when
    // the frame before took longer than its interval (a key frame's decoding
    // at high speed) or when the machine stalls; not made up, the recording
    // fell 5 % behind at X32. Lateness up to CarryMs(level) is taken off
    // the next wait, more is not made up: at normal speed the carry is well
    // below a frame interval, so pictures never come in a burst.
    void Released(int64_t nowMs);
    // The user paused before this release: that time is not lateness to
    // make up. (A window held for the common clock does make up the slice
    // it noticed the clock late by: otherwise every held window fell
    // behind a little at each second and all of them ran slow.)
    void Held() { m_held = true; }
    void Reset()
    {
        m_lastPts = 0;
        m_lastRelease = 0;
        m_released = false;
        m_owedMs = 0;
        m_due = 0;
        m_held = false;
    }

    static constexpr int64_t kCarryMs = 20;
    // kCarryMs at normal and slow speeds, doubled with every faster level.
    static int64_t CarryMs(int level) { return kCarryMs << std::clamp(level, 0, 5); }

private:
    // D for the frame with time stamp `pts` (33 ms without a usable previous
    // stamp or across a gap of more than a second); `pts` becomes the previous.
    int64_t Interval(uint64_t pts);

    uint64_t m_lastPts = 0;
    double m_lastRelease = 0;  // ms; lateness carried makes it fractional
    bool m_released = false;
    int64_t m_owedMs = 0;
    double m_due = 0;  // when the frame last waited for was due
    int m_level = 0;
    bool m_held = false;
};

// Whether a window keeps up at normal speed: over each stretch of 5 s of
// wall time, the recording must advance at least 90 % as far. Decoders that
// cannot keep up make the pacer release every picture a little late; each
// lateness is small, but the recording drifts behind the clock. Pauses,
// seeks and other speeds start a new stretch. The first 2 s after a start
// do not count: windows starting together (sixteen channels of a time play)
// are slow for a moment while their decoders and renderers come up.
class CLagWatch {
public:
    static constexpr int64_t kSettleMs = 2000;
    static constexpr int64_t kStretchMs = 5000;
    static constexpr double kLeast = 0.9;

    // A picture at recording time `mediaMs` shown at `nowMs`, at `level`.
    // True once: at the end of the first stretch that fell behind.
    bool Shown(int64_t nowMs, int64_t mediaMs, int level);
    // The stretch so far does not count (pause, seek, stream switch, a wait for the clock).
    void Restart() { m_started = false; }
    bool Told() const { return m_told; }

private:
    bool m_started = false, m_settled = false, m_told = false;
    int64_t m_wall0 = 0, m_media0 = 0;
};

// The pause gate: a manual-reset event every play loop passes before each
// frame. Waiting ends when the gate is open or the caller's stop test says so.
class CPauseGate {
public:
    void Set();
    void Reset();
    bool IsSet() const;
    // True when the gate was open, false when `stopped` ended the wait; the
    // stop test is looked at whenever Wake is called and every 25 ms.
    bool Wait(const std::function<bool()>& stopped);
    void Wake();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = true;
};

// One progress record a play window posts to the window set.
struct ProgressRecord {
    int64_t positionMs = 0;
    int64_t totalMs = 0;
    int percent = 0;  // -1 stands for 0
};

constexpr int kMaxWindows = 16;

// The process-wide play values of the window set.
class CPlayShared {
public:
    explicit CPlayShared(ITickSource& ticks = SystemTicks()) : m_ticks(ticks) {}

    ITickSource& Ticks() { return m_ticks; }

    std::atomic<int> speedLevel{0};
    std::atomic<int> layout{kLayout1};
    std::atomic<EPlayType> playType{EPlayType::kSingleFile};
    std::atomic<bool> mute{false};
    std::atomic<int> volume{0};
    std::atomic<uint32_t> lastAttachKey{0};
    CPauseGate pauseGate;

    // The equalizer every audio frame is played with (the equalizer window
    // sets it on the interface thread).
    void SetEqualizer(bool on, const RKPLAYER_EQ_PRESET& record);
    bool Equalizer(RKPLAYER_EQ_PRESET& record) const;

    // The common clock.
    uint32_t CurrTime() const;
    void SetCurrTime(uint32_t t);
    uint32_t RangeStart() const { return m_rangeStart; }
    uint32_t EndTime() const { return m_endTime; }
    void SetRange(uint32_t start, uint32_t end) { m_rangeStart = start; m_endTime = end; }

    // Window times (index 1..16; 0 = takes no part in the clock).
    void SetWindowTime(int window, uint32_t t);
    uint32_t WindowTime(int window) const;
    // The common clock becomes the smallest non-zero window time (or
    // pending picture, below); false (clock unchanged) when no window takes
    // part.
    bool Recompute();
    // A window may show its next frame when it takes no part in the clock or
    // is not ahead of it.
    bool MayProceed(int window) const;
    // A window holding a picture of `second` until the clock comes to it
    // (0: none). It counts for the clock like a window time, so the
    // earliest held picture goes first when every window is between
    // recordings.
    void SetPendingTime(int window, uint32_t second);

    // The sync wait of a window ahead of the clock, one look at a time:
    // true when the window may go on now. A window never waits more than
    // about 3 s at a time: the shared wait stamp is set on the first wait
    // and a look more than 3000 ms after it lets the window go.
    bool SyncWaitDone(int window);
    int64_t WaitStamp() const { return m_waitStamp; }
    void ClearWaitStamp() { m_waitStamp = 0; }

    // Progress: queue a record; the window set takes them on its own thread.
    void SetProgressNotify(std::function<void()> notify);
    void PostProgress(int64_t positionMs, int64_t totalMs, bool singleFile);
    bool TakeProgress(ProgressRecord& out);
    void ClearProgress();
    int LastPercent() const { return m_lastPercent; }
    void SetLastPercent(int p) { m_lastPercent = p; }

    // Back to the state of a stopped window set: the stop button ends the
    // play range too; a stop before a restart (a seek in time play, a new
    // plan) keeps the range and the clock that the restart is computed from.
    enum class EStopKind { kStopButton, kBeforeRestart };
    void ResetAfterStop(EStopKind kind = EStopKind::kStopButton);

private:
    ITickSource& m_ticks;
    mutable std::mutex m_eqLock;
    bool m_eqOn = false;
    RKPLAYER_EQ_PRESET m_eq{{'f', 'l', 'a', 't'}, 10, 12.0f, {}};
    mutable std::mutex m_syncLock;  // guards the clock and the window times
    uint32_t m_currTime = 0;
    std::array<uint32_t, kMaxWindows + 1> m_windowTime{};
    std::array<uint32_t, kMaxWindows + 1> m_pendingTime{};
    std::atomic<uint32_t> m_rangeStart{0}, m_endTime{0};
    std::atomic<int64_t> m_waitStamp{0};
    std::atomic<int> m_lastPercent{-1};
    std::mutex m_progressLock;
    std::deque<ProgressRecord> m_progress;
    std::function<void()> m_notify;
};

// Percent of the progress slider: single-file play by position, time play by
// the common clock within the range; the slider never moves back in time play.
// An empty total or range gives 0 rather than a division by zero.
int ProgressPercent(bool singleFile, int64_t positionMs, int64_t totalMs, uint32_t currTime, uint32_t rangeStart,
                    uint32_t endTime, int lastPercent);

// "00:01:02/00:05:00 X1"; an empty progress reads "00:00:00/00:00:00 X1".
std::string ProgressLabel(uint32_t currTime, uint32_t rangeStart, uint32_t endTime, int level);
std::string EmptyProgressLabel(int level);

// Where a release of the progress slider at `slider` percent lands, in seconds.
uint32_t SeekTargetSecond(uint32_t rangeStart, uint32_t endTime, int slider);
// The slider value under a click at x (0..width-1) of a groove `width`
// pixels wide running from `min` to `max`, to the nearest step.
int SliderValueAt(int x, int width, int min, int max);

// What a slider release does for a play type: 0 and 5 seek the playing
// windows in place, 1 restarts the play set at the target, others nothing.
enum class ESeekAction { kNone, kSeekWindows, kRestartPlaySet };
ESeekAction SeekActionFor(EPlayType playType);

// Window (1..16) that shows a channel (1..16) in a layout; 0 when none does.
int WindowForChannel(int layout, int channel);
// Layout of time play from the highest channel of the play set.
int LayoutForChannels(int highestChannel);
// Whether a window plays the sub stream of a channel recorded in both: the
// small windows of the 3x3 and 4x4 layouts do, unless the window is
// enlarged or the user wants the main stream always.
bool PlaysSubStream(int layout, bool enlarged, bool alwaysMain);

}  // namespace velmor
