// The frame loop of one play window: reads a recording through a frame
// source, keeps the window on the common clock, paces the pictures by their
// time stamps and the speed level, and hands pictures, sound and attached
// information on. The window implements the sinks; nothing here draws.
//
// A stop (state 0 or 7) is seen between frames and within every wait (the
// sync wait, the pause gate, a paused window, pacing), so a loop ends within
// one read and one 25 ms slice of the request; RequestStop never blocks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "player/playback/AttachPublisher.h"
#include "player/playback/FrameSource.h"
#include "player/playback/PlayClock.h"

namespace velmor {

class IPlayVideoSink {
public:
    virtual ~IPlayVideoSink() = default;
    // Prepares the decoder for the stream; false fails the play.
    virtual bool Open(const SourceStream& stream) = 0;
    // 0 when the picture was decoded and shown.
    virtual int Decode(const SourceFrame& frame) = 0;
    virtual void ShowLastFrame() = 0;
    virtual void SetOsdText(const std::string& gbkText) = 0;
    // End of play: the decoder gives out what it holds.
    virtual void Flush() = 0;
    // A frame passed over by the skipping rules of high speeds.
    virtual void Skipped() {}
};

class IPlayAudioSink {
public:
    virtual ~IPlayAudioSink() = default;
    // With the settings of the moment: volume and equalizer.
    virtual void PlayAudio(const SourceFrame& frame, int volume, bool equalizerOn,
                           const RKPLAYER_EQ_PRESET& equalizer) = 0;
};

enum class EPlaySourceKind { kContainer, kRecordFile, kIfv };

struct PlayLoopOptions {
    int window = 1;  // 1..16
    EPlaySourceKind source = EPlaySourceKind::kIfv;
    bool timePlay = false;  // a time-play request (kinds 1, 3, 5)
    uint32_t stopAt = 0;    // kind 3: the end of the time range; 0 none
    // An IFV file played as a file ends after the pictures its header counts
    // (0: no count): data past them is not the recording the header describes.
    uint32_t maxPictures = 0;
    bool audioOn = true;    // the window's sound
    std::function<bool()> wantOsd;  // on-screen text from the event map, asked per record
    EventTextLookup events;
    CAttachInfoQueue* attach = nullptr;  // the page's queue; nullptr without a page
    // Time play: how long a clock that does not move holds back a picture
    // of a later second before it goes anyway.
    int64_t clockStillMs = 10000;
    // A channel recorded in both streams: the stream the window wants (true:
    // the sub stream), looked at between frames, and the opening of the
    // channel's stream of that choice. Without both the stream never changes.
    const std::atomic<bool>* wantSub = nullptr;
    std::function<std::unique_ptr<CFrameSource>(bool sub)> openStream;
};

struct PlayLoopResult {
    EFrameResult end = EFrameResult::kOk;  // kEnd, a failure, or kOk when stopped
    bool stopped = false;
    std::string error;
    uint64_t shown = 0, skipped = 0, decodeErrors = 0, audio = 0, info = 0, published = 0;
    int streamSwitches = 0;
};

class CPlayLoop {
public:
    CPlayLoop(CPlayShared& shared, std::atomic<int>& state, IPlayVideoSink& video, IPlayAudioSink* audio,
              PlayLoopOptions options);

    // Plays the source until it ends, fails or the state becomes 0 or 7.
    PlayLoopResult Run(CFrameSource& source);

    // From any thread.
    void RequestStop();
    void SetSeekTarget(uint32_t second) { m_seekTarget = second; }

private:
    bool Stopped() const;
    // Sleeps `ms` in slices, looking at the state between them; false when stopped.
    bool SleepUnlessStopped(int64_t ms);
    bool SkipRules() const { return m_options.timePlay || m_options.source == EPlaySourceKind::kContainer; }
    // Holds a picture of `second` until the common clock reaches it; false when stopped.
    bool WaitForClock(uint32_t second);
    void ReportPosition(const SourceFrame& frame, uint32_t begin, int64_t totalMs);
    // The channel's other stream positioned on the key frame at or before
    // `second`, or null when it cannot be opened or has none there.
    std::unique_ptr<CFrameSource> OpenOtherStream(bool sub, uint32_t second);

    CPlayShared& m_shared;
    std::atomic<int>& m_state;
    IPlayVideoSink& m_video;
    IPlayAudioSink* m_audio;
    PlayLoopOptions m_options;
    std::atomic<uint32_t> m_seekTarget{0};
    CFramePacer m_pacer;
    CFrameSkipper m_skipper;
};

}  // namespace velmor
