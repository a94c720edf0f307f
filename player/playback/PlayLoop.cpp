#include "player/playback/PlayLoop.h"

#include <algorithm>

#include "player/playback/PlayRequest.h"

namespace velmor {

namespace {

constexpr int64_t kWaitSliceMs = 25;

}  // namespace

CPlayLoop::CPlayLoop(CPlayShared& shared, std::atomic<int>& state, IPlayVideoSink& video, IPlayAudioSink* audio,
                     PlayLoopOptions options)
    : m_shared(shared), m_state(state), m_video(video), m_audio(audio), m_options(std::move(options))
{
}

bool CPlayLoop::Stopped() const
{
    const int s = m_state.load();
    return s == kStateStop || s == kStateClosing;
}

void CPlayLoop::RequestStop()
{
    // An idle window stays idle; a closing one stays closing.
    int s = m_state.load();
    while (s != kStateClosing && s != kStateIdle && !m_state.compare_exchange_weak(s, kStateStop)) {
    }
    m_shared.pauseGate.Wake();
}

bool CPlayLoop::SleepUnlessStopped(int64_t ms)
{
    ITickSource& ticks = m_shared.Ticks();
    do {
        if (Stopped()) return false;
        const int64_t slice = std::min(ms, kWaitSliceMs);
        ticks.SleepMs(slice);
        ms -= slice;
    } while (ms > 0);
    return !Stopped();
}

bool CPlayLoop::WaitForClock(uint32_t second)
{
    const int w = m_options.window;
    if (second <= m_shared.CurrTime() + 1) return true;
    const uint32_t own = m_shared.WindowTime(w);
    m_shared.SetWindowTime(w, 0);
    m_shared.SetPendingTime(w, second);
    m_shared.Recompute();
    // A clock that stands still for long (the window that holds it is stuck
    // on a slow disk) lets the picture go rather than freeze this window.
    ITickSource& ticks = m_shared.Ticks();
    uint32_t clock = m_shared.CurrTime();
    int64_t moved = ticks.NowMs();
    bool go = true;
    while (second > m_shared.CurrTime() + 1) {
        if (m_shared.CurrTime() != clock) {
            clock = m_shared.CurrTime();
            moved = ticks.NowMs();
        } else if (ticks.NowMs() - moved > m_options.clockStillMs) {
            break;
        }
        m_video.ShowLastFrame();
        if (!SleepUnlessStopped(kWaitSliceMs)) {
            m_shared.SetWindowTime(w, own);
            go = false;
            break;
        }
        m_shared.Recompute();
    }
    m_shared.SetPendingTime(w, 0);
    return go;
}

void CPlayLoop::ReportPosition(const SourceFrame& frame, uint32_t begin, int64_t totalMs)
{
    // A stopped loop's last picture is no time of the window any more: its
    // clock was taken back by the stop, and a restart may have set a new one.
    if (m_state.load() == kStateStop) return;
    const int64_t position = std::max<int64_t>(frame.ms, 0);
    m_shared.SetWindowTime(m_options.window, begin + uint32_t(position / 1000));
    // A single file's progress is its own position, clock or not (a media
    // file whose timeline starts at second 0 takes no part in the clock).
    if (!m_shared.Recompute() && m_options.timePlay) return;
    m_shared.PostProgress(position, totalMs, !m_options.timePlay);
}

std::unique_ptr<CFrameSource> CPlayLoop::OpenOtherStream(bool sub, uint32_t second)
{
    std::unique_ptr<CFrameSource> next = m_options.openStream(sub);
    if (!next || next->OpenResult() != EFrameResult::kOk) {
        PLAY_TRACE("stream switch: %s", next ? next->ErrorText().c_str() : "no reader");
        return nullptr;
    }
    if (next->Seek(std::max(second, next->Stream().begin)) != EFrameResult::kOk) {
        PLAY_TRACE("stream switch: %s", next->ErrorText().c_str());
        return nullptr;
    }
    if (m_options.stopAt) next->SetLastSecond(m_options.stopAt);
    return next;
}

PlayLoopResult CPlayLoop::Run(CFrameSource& first)
{
    // The source being read: the one given, or the channel's other stream
    // after a switch.
    CFrameSource* src = &first;
    std::unique_ptr<CFrameSource> switched;
    PlayLoopResult result;
    if (src->OpenResult() != EFrameResult::kOk) {
        result.end = src->OpenResult();
        result.error = src->ErrorText();
        return result;
    }
    SourceStream stream = src->Stream();
    if (stream.end < stream.begin) {
        PLAY_TRACE("Time Error:%u-%u", stream.begin, stream.end);
        result.end = EFrameResult::kOpenFailed;
        result.error = "the recording ends before it starts";
        return result;
    }
    if (!m_video.Open(stream)) {
        result.end = EFrameResult::kOpenFailed;
        result.error = "the decoder could not be prepared";
        return result;
    }
    const int64_t totalMs = (int64_t(stream.end) - stream.begin + 1) * 1000;
    if (!m_options.timePlay) {
        // A time left from an earlier file would hold this one in the sync wait.
        m_shared.SetWindowTime(m_options.window, stream.begin);
        m_shared.SetRange(stream.begin, stream.end);
        m_shared.SetCurrTime(stream.begin);
    }
    m_shared.SetLastPercent(0);
    if (m_options.stopAt) src->SetLastSecond(m_options.stopAt);
    m_seekTarget = 0;
    m_pacer.Reset();
    m_skipper.Reset();
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
    const auto stopped = [this] { return Stopped(); };

    while (!Stopped()) {
        if (SkipRules()) {
            bool go = true;
            while (!m_shared.SyncWaitDone(m_options.window)) {
                m_video.ShowLastFrame();
                if (!SleepUnlessStopped(kWaitSliceMs)) {
                    go = false;
                    break;
                }
            }
            if (!go) break;
        }
        if (!m_shared.pauseGate.IsSet()) m_pacer.Held();
        if (!m_shared.pauseGate.Wait(stopped)) break;

        if (const uint32_t target = m_seekTarget.exchange(0)) {
            if (src->Seek(target) != EFrameResult::kOk) {
                PLAY_TRACE("Seek I frame Error");
            } else if (src->Stream().width != stream.width || src->Stream().height != stream.height ||
                       src->Stream().h265 != stream.h265) {
                stream = src->Stream();
                if (!m_video.Open(stream)) break;
            }
            started = false;
            m_pacer.Reset();
            lastShownAt = resumeAfter = -1;
            seekedTo = target;
            picturesRead = 0;
        }

        if (m_options.wantSub && m_options.openStream && stream.hasMainStream && stream.hasSubStream) {
            const bool want = m_options.wantSub->load();
            if (want != stream.subStream && int(want) != refusedSub) {
                uint32_t second = stream.begin;
                if (lastShownAt >= 0)
                    second = uint32_t(lastShownAt / 1000);
                else if (seekedTo)
                    second = seekedTo;
                else if (m_options.timePlay)
                    second = std::max(m_shared.CurrTime(), stream.begin);
                if (auto next = OpenOtherStream(want, second)) {
                    PLAY_TRACE("window %d: %s stream from %u", m_options.window, want ? "sub" : "main", second);
                    switched = std::move(next);
                    src = switched.get();
                    stream = src->Stream();
                    // The decoder follows the new picture size; the common
                    // clock and the window's time are left as they are.
                    if (!m_video.Open(stream)) {
                        result.end = EFrameResult::kOpenFailed;
                        result.error = "the decoder could not be prepared";
                        break;
                    }
                    started = false;
                    resumeAfter = lastShownAt;
                    m_pacer.Reset();
                    ++result.streamSwitches;
                    refusedSub = -1;
                } else {
                    refusedSub = int(want);
                }
            } else if (want == stream.subStream) {
                refusedSub = -1;
            }
        }

        SourceFrame frame;
        const EFrameResult r = src->Read(frame);
        if (r != EFrameResult::kOk) {
            result.end = r;
            if (r != EFrameResult::kEnd) {
                result.error = src->ErrorText();
                PLAY_TRACE("read Frame Error");
            }
            break;
        }

        if (frame.kind == EFrameKind::kVideo && m_options.maxPictures && ++picturesRead > m_options.maxPictures) {
            PLAY_TRACE("the header's %u pictures are played", m_options.maxPictures);
            result.end = EFrameResult::kEnd;
            break;
        }

        if (resumeAfter >= 0) {
            // The frames the other stream already showed.
            if (int64_t(stream.begin) * 1000 + frame.ms <= resumeAfter) continue;
            if (frame.kind != EFrameKind::kVideo || !frame.key) continue;
            resumeAfter = -1;
        }

        const int level = m_shared.speedLevel.load();
        if (SkipRules()) {
            const int layout = m_shared.layout.load();
            bool play = m_options.timePlay && m_options.source == EPlaySourceKind::kIfv
                                  ? m_skipper.PlayIfv(level, layout, frame.kind == EFrameKind::kVideo, frame.type)
                                  : m_skipper.Play(level, layout);
            // A decoder waiting for its first picture takes every key
            // frame: dropping them by count could pass over all of them.
            if (!play && !started && frame.kind == EFrameKind::kVideo && frame.key) play = true;
            if (frame.kind == EFrameKind::kVideo) {
                if (frame.key) {
                    if (referenceLost) play = true;  // a key frame heals the group
                    referenceLost = !play;
                } else if (!play) {
                    referenceLost = true;
                } else if (referenceLost) {
                    play = false;
                }
            }
            if (!play) {
                ++result.skipped;
                if (frame.kind == EFrameKind::kVideo) m_pacer.Passed(frame.pts);
                m_video.Skipped();
                m_shared.Recompute();
                continue;
            }
        }

        switch (frame.kind) {
            case EFrameKind::kAudio:
                if (started && !m_shared.mute.load() && m_options.audioOn && level == 0 && m_audio) {
                    RKPLAYER_EQ_PRESET eq;
                    const bool eqOn = m_shared.Equalizer(eq);
                    m_audio->PlayAudio(frame, m_shared.volume.load(), eqOn, eq);
                    ++result.audio;
                }
                break;
            case EFrameKind::kInfo: {
                if (!started) break;
                ++result.info;
                const auto info = LoadAttachInfo(frame.data, frame.length);
                if (!info) break;
                if (m_options.attach &&
                    PublishAttachInfo(*info, m_options.source == EPlaySourceKind::kIfv, level,
                                      m_shared.lastAttachKey, *m_options.attach))
                    ++result.published;
                std::string text;
                if (m_options.wantOsd && m_options.wantOsd() && m_options.attach) text = OsdText(info->time.get(), m_options.events);
                m_video.SetOsdText(text);
                break;
            }
            case EFrameKind::kVideo: {
                if (!started && !frame.key) break;
                started = true;
                // Time play: a recording that begins after the common clock
                // (a channel that started later, the next file after a gap)
                // waits for the clock before its first picture, taking no
                // part in the clock meanwhile, so the windows stay in step
                // instead of leaking ahead a frame at a time. Pictures that
                // follow on are kept in step by the sync wait.
                if (m_options.timePlay) {
                    const uint32_t second = stream.begin + uint32_t(std::max<int64_t>(frame.ms, 0) / 1000);
                    if ((shownSecond == 0 || second > shownSecond + 1) && !WaitForClock(second)) break;
                    shownSecond = second;
                }
                ITickSource& ticks = m_shared.Ticks();
                const int wait = m_pacer.WaitMs(frame.pts, ticks.NowMs(), level);
                if (!SleepUnlessStopped(wait)) break;
                m_pacer.Released(ticks.NowMs());
                const int rc = m_video.Decode(frame);
                if (rc != 0) {
                    PLAY_TRACE("Decode Error:%d", rc);
                    ++result.decodeErrors;
                    // The recording has still come this far: a window whose
                    // pictures fail (references dropped at high speed, a
                    // damaged stretch) must not hold the other windows back.
                    ReportPosition(frame, stream.begin, totalMs);
                    break;
                }
                ++result.shown;
                lastShownAt = int64_t(stream.begin) * 1000 + frame.ms;
                seekedTo = 0;
                while (m_state.load() == kStatePaused) {
                    m_pacer.Held();
                    m_video.ShowLastFrame();
                    m_shared.Ticks().SleepMs(kWaitSliceMs);
                }
                ReportPosition(frame, stream.begin, totalMs);
                break;
            }
        }
    }

    result.stopped = Stopped();
    if (result.stopped) result.end = EFrameResult::kOk;
    m_video.Flush();
    m_shared.Recompute();
    if (m_state.load() != kStateClosing) m_shared.PostProgress(0, 0, !m_options.timePlay);
    m_seekTarget = 0;
    return result;
}

}  // namespace velmor
