#include "player/playback/PlayLoop.h"

#include <algorithm>
#include <iterator>

#include "player/playback/PlayRequest.h"

namespace velmor {

namespace {

constexpr int64_t kWaitSliceMs = 25;

ESourceKind SourceKindOfReader(EFileReader reader)
{
    switch (reader) {
        case EFileReader::kTtx: return ESourceKind::kGrecFile;
        case EFileReader::kRkRec: return ESourceKind::kBackupRecordFile;
        case EFileReader::kIfv: return ESourceKind::kIfvFile;
        case EFileReader::kRpo: return ESourceKind::kContainerFile;
        case EFileReader::kMediaFile: return ESourceKind::kMediaFile;
    }
    return ESourceKind::kUnknown;
}

EPlaySourceKind LoopKindOf(ESourceKind kind)
{
    switch (kind) {
        case ESourceKind::kContainerFile: return EPlaySourceKind::kContainer;
        case ESourceKind::kBackupRecordFile: return EPlaySourceKind::kRecordFile;
        default: return EPlaySourceKind::kIfv;
    }
}

}  // namespace

LoopReaderChoice ChooseLoopReader(int requestKind, uint8_t recordSource, int channel,
                                  const std::filesystem::path& path)
{
    LoopReaderChoice c;
    if (channel < 1) channel = 1;
    if (requestKind == kRequestPlayFile || requestKind == kRequestFolderFile) {
        c.reader = SourceKindOfReader(ChooseReader(path));
        c.streamChannel = channel;
    } else if (requestKind == kRequestTimePlay || requestKind == kRequestTimePlayToEnd ||
               requestKind == kRequestTimePlayAlt) {
        c.timePlay = true;
        c.toRangeEnd = requestKind == kRequestTimePlayToEnd;
        const bool container = recordSource == kSourceContainerFile || recordSource == kSourceContainerPartition;
        c.reader = container ? ESourceKind::kContainerFile : ESourceKind::kIfvFile;
        if (recordSource == kSourceSingleIfv && ChooseReader(path) == EFileReader::kTtx)
            c.reader = ESourceKind::kGrecFile;
        // A file of one recording holds its channel as its only stream: the
        // record's channel picks the window, not the stream.
        c.streamChannel = container ? channel : 1;
    } else {
        return c;  // cuts run through the export job, not through a play window
    }
    c.loopKind = LoopKindOf(c.reader);
    c.headerCountsPictures = c.reader == ESourceKind::kIfvFile && !c.timePlay;
    return c;
}

CPlayLoop::CPlayLoop(CPlayShared& shared, WindowStateCell& state, IPlayVideoSink& video, IPlayAudioSink* audio,
                     PlayLoopOptions options)
    : m_shared(shared), m_state(state), m_video(video), m_audio(audio), m_options(std::move(options))
{
}

bool CPlayLoop::Stopped() const
{
    const EWindowState s = m_state.load();
    return s == EWindowState::kStop || s == EWindowState::kClosing;
}

void CPlayLoop::RequestStop()
{
    AskToStop(m_state);
    m_shared.pauseGate.Wake();
    m_stepAsked.notify_all();
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

void CPlayLoop::ReportPosition(int64_t positionMs, uint32_t begin, int64_t totalMs)
{
    // A stopped loop's last picture is no time of the window any more: its
    // clock was taken back by the stop, and a restart may have set a new one.
    if (m_state.load() == EWindowState::kStop) return;
    const int64_t position = std::max<int64_t>(positionMs, 0);
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
    LoopState st;
    st.src = &first;
    if (Begin(st)) {
        while (!Stopped()) {
            if (!WaitForTurn()) break;
            EStep step = ApplySeek(st);
            if (step == EStep::kGoOn) step = FollowStreamChoice(st);
            SourceFrame frame;
            if (step == EStep::kGoOn) step = ReadNext(st, frame);
            const int level = m_shared.speedLevel.load();
            if (step == EStep::kGoOn) step = PassOver(st, frame, level);
            if (step == EStep::kEnd) break;
            if (step == EStep::kNextFrame) continue;
            switch (frame.kind) {
                case EFrameKind::kAudio: PlaySound(st, frame, level); break;
                case EFrameKind::kInfo: TakeInformation(st, frame, level); break;
                case EFrameKind::kVideo: step = ShowPicture(st, frame, level); break;
            }
            if (step == EStep::kEnd) break;
        }
        Finish(st);
    }
    m_seekTarget = 0;
    return std::move(st.result);
}

// Checks the source and prepares the decoder and the clock; false (with the
// result filled) when the recording cannot be played.
bool CPlayLoop::Begin(LoopState& st)
{
    PlayLoopResult& result = st.result;
    if (st.src->OpenResult() != EFrameResult::kOk) {
        result.end = st.src->OpenResult();
        result.error = st.src->ErrorText();
        return false;
    }
    st.stream = st.src->Stream();
    if (st.stream.end < st.stream.begin) {
        PLAY_TRACE("Time Error:%u-%u", st.stream.begin, st.stream.end);
        result.end = EFrameResult::kOpenFailed;
        result.error = "the recording ends before it starts";
        return false;
    }
    if (!m_video.Open(st.stream)) {
        result.end = EFrameResult::kOpenFailed;
        result.error = "the decoder could not be prepared";
        return false;
    }
    st.totalMs = (int64_t(st.stream.end) - st.stream.begin + 1) * 1000;
    if (!m_options.timePlay) {
        // A time left from an earlier file would hold this one in the sync wait.
        m_shared.SetWindowTime(m_options.window, st.stream.begin);
        m_shared.SetRange(st.stream.begin, st.stream.end);
        m_shared.SetCurrTime(st.stream.begin);
    }
    m_shared.SetLastPercent(0);
    if (m_options.stopAt) st.src->SetLastSecond(m_options.stopAt);
    m_seekTarget = 0;
    m_pacer.Reset();
    m_skipper.Reset();
    m_lag = CLagWatch();
    return true;
}

// The sync wait of the skipping sources, then the pause gate; false when stopped.
bool CPlayLoop::WaitForTurn()
{
    if (SkipRules()) {
        while (!m_shared.SyncWaitDone(m_options.window)) {
            m_video.ShowLastFrame();
            if (!SleepUnlessStopped(kWaitSliceMs)) return false;
        }
    }
    if (!m_shared.pauseGate.IsSet()) {
        m_pacer.Held();
        m_lag.Restart();
    }
    return m_shared.pauseGate.Wait([this] { return Stopped(); });
}

CPlayLoop::EStep CPlayLoop::ApplySeek(LoopState& st)
{
    const uint32_t target = m_seekTarget.exchange(0);
    if (!target) return EStep::kGoOn;
    st.pending = false;
    if (st.src->Seek(target) != EFrameResult::kOk) {
        PLAY_TRACE("Seek I frame Error");
    } else if (const SourceStream now = st.src->Stream();
               now.width != st.stream.width || now.height != st.stream.height || now.h265 != st.stream.h265) {
        st.stream = now;
        if (!m_video.Open(st.stream)) {
            // Ended as a failure, not as a finished recording.
            st.result.end = EFrameResult::kOpenFailed;
            st.result.error = "the decoder could not be prepared";
            return EStep::kEnd;
        }
    }
    st.started = false;
    m_pacer.Reset();
    m_lag.Restart();
    st.lastShownAt = st.resumeAfter = -1;
    st.seekedTo = target;
    st.picturesRead = 0;
    return EStep::kGoOn;
}

// A channel recorded in both streams follows the window's choice between frames.
CPlayLoop::EStep CPlayLoop::FollowStreamChoice(LoopState& st)
{
    if (!m_options.wantSub || !m_options.openStream || !st.stream.hasMainStream || !st.stream.hasSubStream)
        return EStep::kGoOn;
    const bool want = m_options.wantSub->load();
    if (want == st.stream.subStream) {
        st.refusedSub = -1;
        return EStep::kGoOn;
    }
    if (int(want) == st.refusedSub) return EStep::kGoOn;
    uint32_t second = st.stream.begin;
    if (st.lastShownAt >= 0)
        second = uint32_t(st.lastShownAt / 1000);
    else if (st.seekedTo)
        second = st.seekedTo;
    else if (m_options.timePlay)
        second = std::max(m_shared.CurrTime(), st.stream.begin);
    auto next = OpenOtherStream(want, second);
    if (!next) {
        st.refusedSub = int(want);
        return EStep::kGoOn;
    }
    PLAY_TRACE("window %d: %s stream from %u", m_options.window, want ? "sub" : "main", second);
    st.switched = std::move(next);
    st.src = st.switched.get();
    st.pending = false;
    st.stream = st.src->Stream();
    // The decoder follows the new picture size; the common clock and the
    // window's time are left as they are.
    if (!m_video.Open(st.stream)) {
        st.result.end = EFrameResult::kOpenFailed;
        st.result.error = "the decoder could not be prepared";
        return EStep::kEnd;
    }
    st.started = false;
    st.resumeAfter = st.lastShownAt;
    m_pacer.Reset();
    m_lag.Restart();
    ++st.result.streamSwitches;
    st.refusedSub = -1;
    return EStep::kGoOn;
}

CPlayLoop::EStep CPlayLoop::ReadNext(LoopState& st, SourceFrame& frame)
{
    const EFrameResult r = ReadFrame(st, frame);
    if (r != EFrameResult::kOk) {
        st.result.end = r;
        if (r != EFrameResult::kEnd) {
            st.result.error = st.src->ErrorText();
            PLAY_TRACE("read Frame Error");
        }
        return EStep::kEnd;
    }
    if (frame.kind == EFrameKind::kVideo && m_options.maxPictures && ++st.picturesRead > m_options.maxPictures) {
        PLAY_TRACE("the header's %u pictures are played", m_options.maxPictures);
        st.result.end = EFrameResult::kEnd;
        return EStep::kEnd;
    }
    return EStep::kGoOn;
}

// The frames not to be played: those the other stream already showed after
// a switch, and those the skipping rules of the speed pass over.
CPlayLoop::EStep CPlayLoop::PassOver(LoopState& st, const SourceFrame& frame, int level)
{
    const bool video = frame.kind == EFrameKind::kVideo;
    if (st.resumeAfter >= 0) {
        if (int64_t(st.stream.begin) * 1000 + frame.ms <= st.resumeAfter) return EStep::kNextFrame;
        if (!video || !frame.key) return EStep::kNextFrame;
        st.resumeAfter = -1;
    }
    if (!SkipRules()) return EStep::kGoOn;
    const int layout = m_shared.layout.load();
    bool play = m_options.timePlay && m_options.source == EPlaySourceKind::kIfv
                    ? m_skipper.PlayIfv(level, layout, video, frame.type)
                    : m_skipper.Play(level, layout);
    // A decoder waiting for its first picture takes every key frame:
    // dropping them by count could pass over all of them.
    if (!play && !st.started && video && frame.key) play = true;
    if (video) {
        if (frame.key) {
            if (st.referenceLost) play = true;  // a key frame heals the group
            st.referenceLost = !play;
        } else if (!play) {
            st.referenceLost = true;
        } else if (st.referenceLost) {
            play = false;
        }
    }
    if (play) return EStep::kGoOn;
    ++st.result.skipped;
    if (video) m_pacer.Passed(frame.pts);
    m_video.Skipped();
    m_shared.Recompute();
    return EStep::kNextFrame;
}

// Sound plays at X1 only, after the first picture, with the volume and
// equalizer of the moment.
void CPlayLoop::PlaySound(LoopState& st, const SourceFrame& frame, int level)
{
    if (!st.started || m_shared.mute.load() || !m_options.audioOn || level != 0 || !m_audio) return;
    RKPLAYER_EQ_PRESET eq;
    const bool eqOn = m_shared.Equalizer(eq);
    m_audio->PlayAudio(frame, m_shared.volume.load(), eqOn, eq);
    ++st.result.audio;
}

void CPlayLoop::TakeInformation(LoopState& st, const SourceFrame& frame, int level)
{
    if (!st.started) return;
    ++st.result.info;
    const auto info = LoadAttachInfo(frame.data, frame.length);
    if (!info) return;
    if (m_options.attach && PublishAttachInfo(*info, m_options.source == EPlaySourceKind::kIfv, level,
                                              m_shared.lastAttachKey, *m_options.attach))
        ++st.result.published;
    std::string text;
    if (m_options.wantOsd && m_options.wantOsd() && m_options.attach)
        text = OsdText(info->time.get(), m_options.events);
    m_video.SetOsdText(text);
}

CPlayLoop::EStep CPlayLoop::ShowPicture(LoopState& st, const SourceFrame& frame, int level)
{
    if (!st.started && !frame.key) return EStep::kGoOn;
    st.started = true;
    // Time play: a recording that begins after the common clock (a channel
    // that started later, the next file after a gap) waits for the clock
    // before its first picture, taking no part in the clock meanwhile, so
    // the windows stay in step instead of leaking ahead a frame at a time.
    // Pictures that follow on are kept in step by the sync wait.
    if (m_options.timePlay) {
        const uint32_t second = st.stream.begin + uint32_t(std::max<int64_t>(frame.ms, 0) / 1000);
        if (st.shownSecond == 0 || second > st.shownSecond + 1) {
            if (!WaitForClock(second)) return EStep::kEnd;
            m_lag.Restart();
        }
        st.shownSecond = second;
    }
    ITickSource& ticks = m_shared.Ticks();
    const int wait = m_pacer.WaitMs(frame.pts, ticks.NowMs(), level);
    if (!SleepUnlessStopped(wait)) return EStep::kEnd;
    m_pacer.Released(ticks.NowMs());
    const int rc = m_video.Decode(frame);
    if (rc != 0) {
        PLAY_TRACE("Decode Error:%d", rc);
        ++st.result.decodeErrors;
        // The recording has still come this far: a window whose pictures
        // fail (references dropped at high speed, a damaged stretch) must
        // not hold the other windows back.
        ReportPosition(frame.ms, st.stream.begin, st.totalMs);
        return EStep::kGoOn;
    }
    ++st.result.shown;
    st.lastShownAt = st.decodedAt = FrameAt(st, frame);
    m_video.PictureShownAt(st.lastShownAt);
    st.seekedTo = 0;
    if (m_lag.Shown(ticks.NowMs(), st.lastShownAt, level)) {
        PLAY_TRACE("window %d: the pictures fall behind at X1", m_options.window);
        ++st.result.behind;
        m_video.FallingBehind();
    }
    ReportPosition(frame.ms, st.stream.begin, st.totalMs);
    HoldWhilePaused(st);
    return EStep::kGoOn;
}

// ---- Frame stepping --------------------------------------------------------

void CPlayLoop::RequestStep(const StepOrder& order)
{
    {
        std::lock_guard lock(m_stepLock);
        m_step = order;
    }
    m_stepAsked.notify_all();
}

void CPlayLoop::ClearSteps()
{
    std::lock_guard lock(m_stepLock);
    m_step.reset();
}

std::optional<StepOrder> CPlayLoop::TakeStep()
{
    std::lock_guard lock(m_stepLock);
    std::optional<StepOrder> order;
    order.swap(m_step);
    return order;
}

EFrameResult CPlayLoop::ReadFrame(LoopState& st, SourceFrame& frame)
{
    if (st.pending) {
        st.pending = false;
        frame = st.pendingFrame;
        frame.data = st.pendingBytes.data();
        return EFrameResult::kOk;
    }
    return st.src->Read(frame);
}

void CPlayLoop::HoldBack(LoopState& st, const SourceFrame& frame)
{
    // The frame may be the one read ahead before: its bytes are already here.
    if (frame.data != st.pendingBytes.data()) st.pendingBytes.assign(frame.data, frame.data + frame.length);
    st.pendingFrame = frame;
    st.pending = true;
}

void CPlayLoop::HoldWhilePaused(LoopState& st)
{
    while (m_state.load() == EWindowState::kPaused) {
        m_lag.Restart();
        m_pacer.Held();
        if (const auto order = TakeStep()) {
            RunStep(st, *order);
            continue;
        }
        m_video.ShowLastFrame();
        // A step is taken as soon as it is asked, not at the next slice.
        std::unique_lock lock(m_stepLock);
        m_stepAsked.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs),
                             [this] { return m_step.has_value() || Stopped(); });
    }
    ClearSteps();
    if (!st.stepped) return;
    st.stepped = false;
    // Stepped back within the group, the decoder is ahead of the picture on
    // screen: play goes on from that picture, so its group is decoded again
    // unseen up to it, and the frame after it is read first.
    if (!Stopped() && st.lastShownAt >= 0 && st.lastShownAt < st.decodedAt) DecodeGroupOf(st, st.lastShownAt);
    m_video.ShowDecoded(true);
    ForgetKept(st);
    m_pacer.Reset();
    m_lag.Restart();
}

void CPlayLoop::ForgetKept(LoopState& st)
{
    st.kept.clear();
    m_video.DropKeptPictures();
}

void CPlayLoop::RunStep(LoopState& st, const StepOrder& order)
{
    if (!st.stepped) {
        st.stepped = true;
        m_video.ShowDecoded(false);
        // The picture on screen starts the group the steps go through.
        ForgetKept(st);
        if (st.lastShownAt >= 0 && m_video.KeepPicture(st.lastShownAt)) st.kept.push_back(st.lastShownAt);
    }
    const int64_t now = st.lastShownAt;
    switch (order.kind) {
        case EStepKind::kNext: StepForward(st, 0, true); break;
        case EStepKind::kPrevious:
            if (now >= 0) StepBackTo(st, now - 1);
            break;
        case EStepKind::kTo:
            if (order.at >= now)
                StepForward(st, order.at, false);
            else
                StepBackTo(st, order.at);
            break;
    }
    PLAY_TRACE("window %d: stepped to %lld", m_options.window, static_cast<long long>(st.lastShownAt));
    if (m_options.stepped) m_options.stepped(st.lastShownAt);
}

void CPlayLoop::ShowStepPicture(LoopState& st, int64_t at)
{
    if (!m_video.ShowKeptPicture(at)) m_video.ShowLastFrame();
    st.lastShownAt = at;
    m_video.PictureShownAt(at);
    ReportPosition(at - int64_t(st.stream.begin) * 1000, st.stream.begin, st.totalMs);
}

void CPlayLoop::StepForward(LoopState& st, int64_t limit, bool one)
{
    // The kept pictures after the one on screen come first: they were
    // decoded one after another, up to the decoder's newest.
    const auto after = std::upper_bound(st.kept.begin(), st.kept.end(), st.lastShownAt);
    if (one && after != st.kept.end()) return ShowStepPicture(st, *after);
    if (!one && !st.kept.empty() && limit < st.kept.back()) {
        const auto upto = std::upper_bound(st.kept.begin(), st.kept.end(), limit);
        if (upto != st.kept.begin() && *(upto - 1) > st.lastShownAt) ShowStepPicture(st, *(upto - 1));
        return;
    }
    DecodeOnward(st, limit, one);
    if (st.decodedAt > st.lastShownAt) ShowStepPicture(st, st.decodedAt);
}

bool CPlayLoop::DecodeOnward(LoopState& st, int64_t limit, bool one)
{
    for (;;) {
        if (Stopped()) return false;
        SourceFrame frame;
        // The end (or damage) sticks in the source: play, when it goes on, meets it too.
        if (ReadFrame(st, frame) != EFrameResult::kOk) return false;
        if (frame.kind == EFrameKind::kInfo) {
            TakeInformation(st, frame, 0);
            continue;
        }
        if (frame.kind != EFrameKind::kVideo) continue;
        const int64_t at = FrameAt(st, frame);
        if (!one && at > limit) {
            HoldBack(st, frame);
            return true;
        }
        if (!st.started && !frame.key) continue;
        st.started = true;
        // A key frame begins the next group: the one before is let go.
        if (frame.key) ForgetKept(st);
        if (m_video.Decode(frame) != 0) {
            ++st.result.decodeErrors;
            continue;
        }
        st.decodedAt = at;
        if (m_video.KeepPicture(at)) {
            st.kept.push_back(at);
        } else {
            // Without it the kept times would skip a picture: start over from this one.
            ForgetKept(st);
        }
        if (one) return true;
    }
}

bool CPlayLoop::StepBackTo(LoopState& st, int64_t at)
{
    if (!st.kept.empty() && st.kept.front() <= at) {
        const auto upto = std::upper_bound(st.kept.begin(), st.kept.end(), at);
        ShowStepPicture(st, *(upto - 1));
        return true;
    }
    if (DecodeGroupOf(st, at)) return true;
    // Nothing before could be decoded (damage): back to the picture that was shown.
    const int64_t shown = st.lastShownAt;
    if (shown >= 0 && DecodeGroupOf(st, shown)) return false;
    // Not even that: play goes on from the next key frame.
    st.started = false;
    return false;
}

bool CPlayLoop::DecodeGroupOf(LoopState& st, int64_t at)
{
    const int64_t begin = st.stream.begin;
    int64_t second = std::clamp<int64_t>(at / 1000, begin, st.stream.end);
    // A key frame later in the second than the moment asked for is no
    // start: the second before is tried, for at most a minute of recording.
    for (int tries = 0; tries < 60 && second >= begin && !Stopped(); ++tries, --second) {
        st.pending = false;
        if (st.src->Seek(uint32_t(second)) != EFrameResult::kOk) continue;
        SourceFrame key;
        EFrameResult r;
        while ((r = st.src->Read(key)) == EFrameResult::kOk && key.kind != EFrameKind::kVideo) {
        }
        if (r != EFrameResult::kOk || !key.key) continue;
        const int64_t keyAt = FrameAt(st, key);
        // The recording's first picture stands for any moment before it.
        if (keyAt > at && second > begin) continue;
        ForgetKept(st);
        st.started = true;
        if (m_video.Decode(key) != 0) {
            ++st.result.decodeErrors;
            continue;
        }
        st.decodedAt = keyAt;
        if (m_video.KeepPicture(keyAt)) st.kept.push_back(keyAt);
        if (keyAt <= at) DecodeOnward(st, at, false);
        ShowStepPicture(st, st.decodedAt);
        return true;
    }
    return false;
}

void CPlayLoop::Finish(LoopState& st)
{
    st.result.stopped = Stopped();
    if (st.result.stopped) st.result.end = EFrameResult::kOk;
    m_video.Flush();
    m_shared.Recompute();
    if (m_state.load() != EWindowState::kClosing) m_shared.PostProgress(0, 0, !m_options.timePlay);
}

}  // namespace velmor
