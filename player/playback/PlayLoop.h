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
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "player/playback/AttachPublisher.h"
#include "player/playback/FrameSource.h"
#include "player/playback/PlayClock.h"
#include "player/playback/PlayRequest.h"
#include "player/search/SourceKind.h"

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
    // The pictures have fallen behind at normal speed for a stretch: the
    // decoder cannot keep up. Told once a play.
    virtual void FallingBehind() {}

    // Frame stepping. With false, pictures are decoded without being drawn.
    virtual void ShowDecoded(bool /*show*/) {}
    // Keeps the picture just decoded under its time; false when it cannot.
    virtual bool KeepPicture(int64_t /*at*/) { return false; }
    // Shows the picture kept under `at` again; false when none is.
    virtual bool ShowKeptPicture(int64_t /*at*/) { return false; }
    virtual void DropKeptPictures() {}
    // The recorder time (ms since 1970) of the picture now on screen.
    virtual void PictureShownAt(int64_t /*at*/) {}
};

class IPlayAudioSink {
public:
    virtual ~IPlayAudioSink() = default;
    // With the settings of the moment: volume and equalizer.
    virtual void PlayAudio(const SourceFrame& frame, int volume, bool equalizerOn,
                           const RKPLAYER_EQ_PRESET& equalizer) = 0;
};

enum class EPlaySourceKind { kContainer, kRecordFile, kIfv };

// How a play request is read: the reader, the stream of the file that holds
// the channel, and the loop's kind. Decided from the request alone (the
// file's name, the record's source kind), never from the file's bytes.
struct LoopReaderChoice {
    ESourceKind reader = ESourceKind::kUnknown;  // kUnknown: the request is no play (a cut)
    int streamChannel = 1;  // the channel opened in the file
    EPlaySourceKind loopKind = EPlaySourceKind::kIfv;
    bool timePlay = false;
    bool toRangeEnd = false;  // stops at the end of the time range
    // An IFV file played as a file ends after the pictures its header counts.
    bool headerCountsPictures = false;
};
LoopReaderChoice ChooseLoopReader(int requestKind, uint8_t recordSource, int channel,
                                  const std::filesystem::path& path);

// A frame step asked of a paused window: the next or the previous picture,
// or the picture of a moment (the one at or before it), which keeps windows
// of other frame rates on the common clock.
enum class EStepKind { kNext, kPrevious, kTo };
struct StepOrder {
    EStepKind kind = EStepKind::kNext;
    int64_t at = 0;  // kTo: recorder time, ms since 1970
};

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
    // After each frame step, with the recorder time of the picture shown
    // (-1: none), on the loop's thread.
    std::function<void(int64_t at)> stepped;
};

struct PlayLoopResult {
    EFrameResult end = EFrameResult::kOk;  // kEnd, a failure, or kOk when stopped
    bool stopped = false;
    std::string error;
    uint64_t shown = 0, skipped = 0, decodeErrors = 0, audio = 0, info = 0, published = 0;
    int streamSwitches = 0;
    int behind = 0;  // times the pictures were found falling behind at X1 (at most once)
};

class CPlayLoop {
public:
    CPlayLoop(CPlayShared& shared, WindowStateCell& state, IPlayVideoSink& video, IPlayAudioSink* audio,
              PlayLoopOptions options);

    // Plays the source until it ends, fails or the state becomes 0 or 7.
    PlayLoopResult Run(CFrameSource& source);

    // From any thread.
    void RequestStop();
    void SetSeekTarget(uint32_t second) { m_seekTarget = second; }
    // From any thread: taken while the window is paused; a newer order
    // replaces one not yet taken. ClearSteps forgets it (play goes on).
    void RequestStep(const StepOrder& order);
    void ClearSteps();

private:
    // Everything one run keeps between frames.
    struct LoopState {
        // The source being read: the one given, or the channel's other
        // stream after a switch (owned by `switched`).
        CFrameSource* src = nullptr;
        std::unique_ptr<CFrameSource> switched;
        SourceStream stream;
        int64_t totalMs = 0;
        PlayLoopResult result;
        // The decoder has had its first key frame since the start, a seek or a switch.
        bool started = false;
        // A picture passed over by the skipping rules is a reference the next
        // ones of its group need: decoding them would show a broken picture,
        // so they are passed over too, and the next key frame is taken.
        bool referenceLost = false;
        uint32_t shownSecond = 0;
        // The recorder time of the last picture shown (ms since 1970), and after
        // a stream switch the time up to which the new stream's frames are
        // passed over: it goes on at its next key frame after that picture.
        int64_t lastShownAt = -1, resumeAfter = -1;
        // A stream asked for and not to be had (no key frame at that second):
        // not tried again until the window wants the other one.
        int refusedSub = -1;
        uint32_t seekedTo = 0;  // a seek's second until a picture is shown after it
        // Pictures read since the start or the last seek: a seek starts the count
        // again, so that the header's count bounds the reading and never cuts it short.
        uint32_t picturesRead = 0;
        // Frame stepping: the times of the pictures kept since the key frame
        // of the group stepped through, in decoding order; the last is the
        // decoder's newest picture.
        std::vector<int64_t> kept;
        bool stepped = false;  // pictures were stepped through in this pause
        int64_t decodedAt = -1;  // the time of the decoder's newest picture
        // A frame a step read ahead and did not want yet: it is read first.
        bool pending = false;
        SourceFrame pendingFrame;
        std::vector<uint8_t> pendingBytes;
    };
    // What a step leaves the loop to do.
    enum class EStep { kGoOn, kNextFrame, kEnd };

    // The steps of one pass, in their order.
    bool Begin(LoopState& st);
    bool WaitForTurn();
    EStep ApplySeek(LoopState& st);
    EStep FollowStreamChoice(LoopState& st);
    EStep ReadNext(LoopState& st, SourceFrame& frame);
    EStep PassOver(LoopState& st, const SourceFrame& frame, int level);
    void PlaySound(LoopState& st, const SourceFrame& frame, int level);
    void TakeInformation(LoopState& st, const SourceFrame& frame, int level);
    EStep ShowPicture(LoopState& st, const SourceFrame& frame, int level);
    void Finish(LoopState& st);

    // The frame a step read ahead, else the source's next.
    EFrameResult ReadFrame(LoopState& st, SourceFrame& frame);
    void HoldBack(LoopState& st, const SourceFrame& frame);
    // The paused window: steps when asked, and after the pause the decoder
    // is brought back to the picture on screen.
    void HoldWhilePaused(LoopState& st);
    std::optional<StepOrder> TakeStep();
    void RunStep(LoopState& st, const StepOrder& order);
    // Shows the next picture (`one`), or the picture at or before `limit`.
    void StepForward(LoopState& st, int64_t limit, bool one);
    // Shows the picture at or before `at`, from the kept group or by decoding
    // the group that holds it; false when no group could be decoded.
    bool StepBackTo(LoopState& st, int64_t at);
    bool DecodeGroupOf(LoopState& st, int64_t at);
    // Decodes, unseen, the frames after the decoder's newest picture: one
    // picture, or up to `limit`. False at the end of the recording.
    bool DecodeOnward(LoopState& st, int64_t limit, bool one);
    void ShowStepPicture(LoopState& st, int64_t at);
    void ForgetKept(LoopState& st);
    static int64_t FrameAt(const LoopState& st, const SourceFrame& frame)
    {
        return int64_t(st.stream.begin) * 1000 + frame.ms;
    }

    bool Stopped() const;
    // Sleeps `ms` in slices, looking at the state between them; false when stopped.
    bool SleepUnlessStopped(int64_t ms);
    bool SkipRules() const { return m_options.timePlay || m_options.source == EPlaySourceKind::kContainer; }
    // Holds a picture of `second` until the common clock reaches it; false when stopped.
    bool WaitForClock(uint32_t second);
    void ReportPosition(int64_t positionMs, uint32_t begin, int64_t totalMs);
    // The channel's other stream positioned on the key frame at or before
    // `second`, or null when it cannot be opened or has none there.
    std::unique_ptr<CFrameSource> OpenOtherStream(bool sub, uint32_t second);

    CPlayShared& m_shared;
    WindowStateCell& m_state;
    IPlayVideoSink& m_video;
    IPlayAudioSink* m_audio;
    PlayLoopOptions m_options;
    std::atomic<uint32_t> m_seekTarget{0};
    CFramePacer m_pacer;
    CFrameSkipper m_skipper;
    CLagWatch m_lag;
    std::mutex m_stepLock;
    std::condition_variable m_stepAsked;  // a paused window waits on it between its redraws
    std::optional<StepOrder> m_step;  // under m_stepLock
};

}  // namespace velmor
