// The frame loop over real recordings (an IFV file and a container file
// written by the test writers): pictures in order, paced by their time
// stamps and the speed, sound only at normal speed, one map record per
// second, and a stop that ends the loop promptly from every kind of wait.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "player/formats/IfvFile.h"
#include "player/playback/EqualizerText.h"
#include "player/playback/PlayLoop.h"
#include "player/playback/PlayRequest.h"
#include "tests/playback/FakeTicks.h"
#include "tests/support/AttachInfoWriter.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kFrames = 75;      // 3 s at 25 a second, a key frame each second

std::vector<uint8_t> Picture(uint32_t f) { return fixtures::MakePayload(f, f % 25 == 0 ? 2000 : 300 + f); }

std::array<uint8_t, 75> InfoRecord(uint32_t second)
{
    fixtures::AttachInfo info;
    info.time = kT0 + second;
    info.latitude = 22.5;
    info.longitude = 113.9;
    info.speed = 40;
    return fixtures::MakeAttachInfo(info);
}

std::filesystem::path WriteIfv(const std::filesystem::path& dir)
{
    const auto path = dir / "ch01.ifv";
    FILEHANDLE* f = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(RK_FileSetVideoParam(f, 352, 288, 25.0f, 0), 0);
    EXPECT_EQ(RK_FileSetAudioParam(f, 1, 16, 8000, 11, 320, 40), 0);
    EXPECT_EQ(RK_FileEnableAttach(f), 0);
    EXPECT_EQ(RK_FileSetStartTime(f, kT0), 0);
    const auto sound = fixtures::MakePayload(7, 320);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const uint32_t ms = i * 40;
        const auto pic = Picture(i);
        EXPECT_GT(RK_FileWriteVideoFrame(f, pic.data(), uint32_t(pic.size()), ms, i % 25 == 0 ? 5 : 1,
                                         (uint64_t(kT0) * 1000 + ms) * 1000, nullptr),
                  0);
        EXPECT_GT(RK_FileWriteAudioFrame(f, sound.data(), 320, ms, nullptr), 0);
        if (i % 25 == 0) {
            const auto rec = InfoRecord(i / 25);
            EXPECT_GT(RK_FileWriteAttachFrame(f, rec.data(), 75, ms, nullptr), 0);
        }
    }
    EXPECT_EQ(RK_CloseFile2(f), 0);
    return path;
}

std::filesystem::path WriteContainer(const std::filesystem::path& dir)
{
    fixtures::CContainerFileImage image(dir / "fc00001.rpo", 1);
    {
        fixtures::CRecordWriter w(image, fixtures::RecordingParams{});
        const auto sound = fixtures::MakePayload(7, 320);
        for (uint32_t i = 0; i < kFrames; ++i) {
            const uint64_t pts = (uint64_t(kT0) * 1000 + i * 40) * 1000;
            const auto pic = Picture(i);
            EXPECT_EQ(w.WriteFrame(i % 25 == 0 ? rkfs::kFrameI : rkfs::kFrameP, pts, pic.data(), uint32_t(pic.size())),
                      fixtures::WriteResult::kWritten);
            EXPECT_EQ(w.WriteFrame(rkfs::kFrameAudio, pts, sound.data(), 320), fixtures::WriteResult::kWritten);
            if (i % 25 == 0) {
                const auto rec = InfoRecord(i / 25);
                EXPECT_EQ(w.WriteFrame(rkfs::kFrameInfo, pts, rec.data(), 75), fixtures::WriteResult::kWritten);
            }
        }
        w.Close();
    }
    return image.Path();
}

// Keeps what the loop hands on; a hook runs inside Decode (the test's hand
// on the window while a picture is being shown).
class CRecordingSinks : public IPlayVideoSink, public IPlayAudioSink {
public:
    explicit CRecordingSinks(ITickSource& ticks) : m_ticks(ticks) {}
    bool Open(const SourceStream&) override { return ++opened, true; }
    int Decode(const SourceFrame& frame) override
    {
        if (failDecode) return -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            shownMs.push_back(frame.ms);
            shownAt.push_back(m_ticks.NowMs());
            crcs.push_back(fixtures::Crc32(frame.data, frame.length));
        }
        if (hook) hook(shownMs.size());
        return 0;
    }
    void ShowLastFrame() override { ++lastFrameShown; }
    void SetOsdText(const std::string&) override { ++osdTexts; }
    void Flush() override { ++flushed; }
    void PlayAudio(const SourceFrame&, int vol, bool eqOn, const RKPLAYER_EQ_PRESET& eq) override
    {
        ++audio;
        volume = vol;
        equalizerOn = eqOn;
        preamp = eq.preamp;
    }

    std::function<void(size_t shown)> hook;
    std::atomic<bool> failDecode{false};
    std::mutex m_mutex;
    std::vector<int64_t> shownMs, shownAt;
    std::vector<uint32_t> crcs;
    std::atomic<int> opened{0}, flushed{0}, audio{0}, osdTexts{0}, lastFrameShown{0}, volume{-1};
    std::atomic<bool> equalizerOn{false};
    std::atomic<float> preamp{0};

private:
    ITickSource& m_ticks;
};

enum class Rec { kIfv, kContainer };

class PlayLoopTest : public ::testing::Test {
protected:
    std::unique_ptr<CFrameSource> Open(Rec rec)
    {
        if (rec == Rec::kIfv) return CFrameSource::OpenIfvFile(WriteIfv(m_dir.Path()), 1);
        return CFrameSource::OpenContainerFile(WriteContainer(m_dir.Path()), 1);
    }
    fixtures::CTempDir m_dir;
    fixtures::CFakeTicks m_ticks;
};

TEST_F(PlayLoopTest, FramesInOrderPacedBySpeed)
{
    struct Row {
        Rec rec;
        int level;
        int64_t interval;  // ms between pictures
        int published;     // map records
        bool sound;
    };
    const Row rows[] = {
        {Rec::kIfv, 0, 40, 3, true},        {Rec::kIfv, 1, 20, 3, false},  {Rec::kIfv, -1, 80, 3, false},
        {Rec::kContainer, 0, 40, 3, true},  {Rec::kContainer, 2, 10, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.rec == Rec::kIfv ? "ifv" : "container") << " level " << r.level);
        auto source = Open(r.rec);
        ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
        CPlayShared shared(m_ticks);
        shared.speedLevel = r.level;
        shared.volume = 60;
        shared.SetEqualizer(true, *EqualizerPreset(3));
        shared.SetWindowTime(1, kT0 + 500);  // left from an earlier file: must not hold this one
        CAttachInfoQueue attach;
        WindowStateCell state{EWindowState::kPlayFile};
        CRecordingSinks sinks(m_ticks);
        PlayLoopOptions options;
        options.source = r.rec == Rec::kIfv ? EPlaySourceKind::kIfv : EPlaySourceKind::kContainer;
        options.attach = &attach;
        CPlayLoop loop(shared, state, sinks, &sinks, options);
        const PlayLoopResult result = loop.Run(*source);

        EXPECT_EQ(result.end, EFrameResult::kEnd);
        EXPECT_FALSE(result.stopped);
        ASSERT_EQ(sinks.shownMs.size(), kFrames);
        for (uint32_t i = 0; i < kFrames; ++i) {
            EXPECT_EQ(sinks.shownMs[i], int64_t(i) * 40) << i;
            const auto pic = Picture(i);
            EXPECT_EQ(sinks.crcs[i], fixtures::Crc32(pic.data(), pic.size())) << i;
            if (i > 0) {
                EXPECT_EQ(sinks.shownAt[i] - sinks.shownAt[i - 1], r.interval) << i;
            }
        }
        EXPECT_EQ(sinks.audio.load(), r.sound ? int(kFrames) : 0);
        if (r.sound) {
            EXPECT_EQ(sinks.volume.load(), 60);
            EXPECT_TRUE(sinks.equalizerOn.load());
            EXPECT_EQ(sinks.preamp.load(), 6.0f);
        }
        EXPECT_EQ(sinks.lastFrameShown.load(), 0);  // never held back by the sync wait
        EXPECT_EQ(result.info, 3u);
        EXPECT_EQ(sinks.osdTexts.load(), 3);  // at every speed
        EXPECT_EQ(int(result.published), r.published);
        for (int s = 0; s < r.published; ++s) EXPECT_EQ(attach.Pop()->time.get(), kT0 + uint32_t(s));
        EXPECT_EQ(sinks.flushed.load(), 1);
        EXPECT_EQ(shared.WindowTime(1), kT0 + 2);
        EXPECT_EQ(shared.CurrTime(), kT0 + 2);
        // The last progress record is the reset at the end of play.
        ProgressRecord rec, last;
        size_t records = 0;
        while (shared.TakeProgress(rec)) last = rec, ++records;
        EXPECT_EQ(records, kFrames + 1);
        EXPECT_EQ(last.totalMs, 0);
    }
}

// At high speeds the skipping rules pass frames over by count; a picture
// whose reference was passed over is never decoded (it would show broken),
// and every key frame after such a loss is taken.
TEST_F(PlayLoopTest, AnIfvFileEndsAfterThePicturesItsHeaderCounts)
{
    // 0: no count known; a count past the pictures there are ends with them.
    for (const uint32_t count : {0u, 5u, uint32_t(kFrames), uint32_t(kFrames) + 3}) {
        SCOPED_TRACE(count);
        auto source = Open(Rec::kIfv);
        ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
        CPlayShared shared(m_ticks);
        WindowStateCell state{EWindowState::kPlayFile};
        CRecordingSinks sinks(m_ticks);
        PlayLoopOptions options;
        options.maxPictures = count;
        CPlayLoop loop(shared, state, sinks, &sinks, options);
        const PlayLoopResult result = loop.Run(*source);
        EXPECT_EQ(result.end, EFrameResult::kEnd);
        EXPECT_EQ(sinks.shownMs.size(), count && count < kFrames ? size_t(count) : size_t(kFrames));
    }
}

TEST_F(PlayLoopTest, SkippingNeverDecodesAPictureWhoseReferenceWasPassedOver)
{
    for (int level : {3, 4, 5}) {
        SCOPED_TRACE(testing::Message() << "level " << level);
        auto source = Open(Rec::kContainer);
        ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
        CPlayShared shared(m_ticks);
        shared.speedLevel = level;
        shared.layout = kLayout3x3;
        WindowStateCell state{EWindowState::kPlayFile};
        CRecordingSinks sinks(m_ticks);
        PlayLoopOptions options;
        options.source = EPlaySourceKind::kContainer;
        CPlayLoop loop(shared, state, sinks, &sinks, options);
        const PlayLoopResult result = loop.Run(*source);
        EXPECT_EQ(result.end, EFrameResult::kEnd);
        ASSERT_FALSE(sinks.shownMs.empty());
        EXPECT_GT(result.skipped, 0u);
        std::set<int64_t> shown(sinks.shownMs.begin(), sinks.shownMs.end());
        for (int64_t key : {0, 1000, 2000}) EXPECT_TRUE(shown.count(key)) << key;
        for (int64_t ms : shown)
            if (ms % 1000 != 0) {
                EXPECT_TRUE(shown.count(ms - 40)) << "picture at " << ms << " without its reference";
            }
    }
}

TEST_F(PlayLoopTest, StopEndsTheLoopPromptlyFromEveryWait)
{
    enum class Hold { kPaused, kGateClosed, kSlowPacing };
    struct Row {
        const char* name;
        Hold hold;
        size_t at;  // pictures shown before the hold
    };
    const Row rows[] = {{"paused window", Hold::kPaused, 30},
                        {"closed pause gate", Hold::kGateClosed, 30},
                        {"X1/32 pacing on the real clock", Hold::kSlowPacing, 1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto source = Open(Rec::kIfv);
        ASSERT_EQ(source->OpenResult(), EFrameResult::kOk);
        ITickSource& ticks = r.hold == Hold::kSlowPacing ? SystemTicks() : m_ticks;
        CPlayShared shared(ticks);
        WindowStateCell state{EWindowState::kPlayFile};
        CRecordingSinks sinks(ticks);
        std::atomic<bool> held{false};
        if (r.hold == Hold::kSlowPacing) shared.speedLevel = kMinSpeedLevel;  // 1280 ms between pictures
        sinks.hook = [&](size_t shown) {
            if (shown != r.at) return;
            if (r.hold == Hold::kPaused) state = EWindowState::kPaused;
            if (r.hold == Hold::kGateClosed) shared.pauseGate.Reset();
            held = true;
        };
        CPlayLoop loop(shared, state, sinks, &sinks, PlayLoopOptions{});
        PlayLoopResult result;
        std::thread player([&] { result = loop.Run(*source); });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!held && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(held.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

        const auto asked = std::chrono::steady_clock::now();
        loop.RequestStop();  // returns at once
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(50));
        player.join();
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));

        EXPECT_TRUE(result.stopped);
        EXPECT_EQ(state.load(), EWindowState::kStop);
        EXPECT_EQ(sinks.shownMs.size(), r.at);
        EXPECT_EQ(sinks.flushed.load(), 1);
        if (r.hold == Hold::kPaused) {
            EXPECT_GT(sinks.lastFrameShown.load(), 0);
        }
    }
}

TEST_F(PlayLoopTest, SeekLandsOnTheKeyFrameAtOrBefore)
{
    auto source = Open(Rec::kContainer);
    CPlayShared shared(m_ticks);
    WindowStateCell state{EWindowState::kPlayFile};
    CRecordingSinks sinks(m_ticks);
    PlayLoopOptions options;
    options.source = EPlaySourceKind::kContainer;
    CPlayLoop loop(shared, state, sinks, &sinks, options);
    sinks.hook = [&](size_t shown) {
        if (shown == 5) loop.SetSeekTarget(SeekTargetSecond(kT0, kT0 + 2, 60));  // second 1
    };
    const PlayLoopResult result = loop.Run(*source);
    EXPECT_EQ(result.end, EFrameResult::kEnd);
    ASSERT_EQ(sinks.shownMs.size(), 5u + 50u);
    EXPECT_EQ(sinks.shownMs[4], 160);
    EXPECT_EQ(sinks.shownMs[5], 1000);
    EXPECT_EQ(sinks.shownMs.back(), 2960);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// Time play of a channel whose recording begins 10 s after the common clock:
// its first picture waits for the clock, while the window takes no part in
// it; alone on the clock it goes on at once.
TEST_F(PlayLoopTest, ARecordingAheadOfTheClockWaitsForIt)
{
    enum class Clock { kMoves, kAlone, kStuck };
    for (const Clock c : {Clock::kMoves, Clock::kAlone, Clock::kStuck}) {
        const bool others = c != Clock::kAlone;
        SCOPED_TRACE(int(c));
        auto source = Open(Rec::kContainer);
        ASSERT_EQ(source->OpenResult(), EFrameResult::kOk);
        // Real time: the wait is watched from this thread.
        CPlayShared shared(SystemTicks());
        shared.SetRange(kT0 - 10, kT0 + 3);
        shared.SetCurrTime(kT0 - 10);
        shared.SetWindowTime(1, kT0 - 10);
        if (others) shared.SetWindowTime(2, kT0 - 10);
        WindowStateCell state{EWindowState::kTimePlay};
        CRecordingSinks sinks(SystemTicks());
        // X8 in 2x2 plays every picture, 5 ms apart.
        shared.speedLevel = 3;
        shared.layout = kLayout2x2;
        PlayLoopOptions options;
        options.timePlay = true;
        options.source = EPlaySourceKind::kContainer;
        options.clockStillMs = 1500;
        CPlayLoop loop(shared, state, sinks, &sinks, options);
        PlayLoopResult result;
        std::thread player([&] { result = loop.Run(*source); });
        const auto began = std::chrono::steady_clock::now();
        const auto waitFor = [](const std::function<bool()>& done) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!done() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        if (c == Clock::kMoves) {
            waitFor([&] { return sinks.lastFrameShown >= 20; });
            EXPECT_TRUE(sinks.shownMs.empty()) << "no picture before the clock reaches it";
            EXPECT_EQ(shared.WindowTime(1), 0u) << "a waiting window does not hold the clock back";
            EXPECT_EQ(shared.CurrTime(), kT0 - 10);
            // The other window plays on to one second before the recording.
            shared.SetWindowTime(2, kT0 - 1);
            shared.Recompute();
        }
        if (others) {
            // Then the other window's recording ends and this one plays alone.
            waitFor([&] {
                std::lock_guard<std::mutex> lock(sinks.m_mutex);
                return !sinks.shownMs.empty();
            });
            shared.SetWindowTime(2, 0);
            shared.Recompute();
        }
        player.join();
        EXPECT_EQ(result.end, EFrameResult::kEnd);
        EXPECT_GT(sinks.shownMs.size(), 0u);
        EXPECT_EQ(sinks.shownMs.front(), 0);
        if (c == Clock::kAlone) {
            EXPECT_EQ(sinks.lastFrameShown.load(), 0);
        }
        // A clock that never moves holds the picture for the limit, no longer.
        if (c == Clock::kStuck) {
            EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1450));
        }
    }
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// Pictures that fail to decode still move the window's clock on: a window
// whose decoder fails must not hold the others back.
TEST_F(PlayLoopTest, FailedPicturesStillMoveTheWindowClock)
{
    auto source = Open(Rec::kContainer);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kOk);
    CPlayShared shared(m_ticks);
    WindowStateCell state{EWindowState::kPlayFile};
    CRecordingSinks sinks(m_ticks);
    sinks.failDecode = true;
    PlayLoopOptions options;
    options.source = EPlaySourceKind::kContainer;
    CPlayLoop loop(shared, state, sinks, &sinks, options);
    const PlayLoopResult result = loop.Run(*source);
    EXPECT_EQ(result.end, EFrameResult::kEnd);
    EXPECT_EQ(result.shown, 0u);
    EXPECT_EQ(result.decodeErrors, kFrames);
    EXPECT_EQ(shared.WindowTime(1), kT0 + 2);  // the last picture, at 2.96 s
    EXPECT_EQ(shared.CurrTime(), kT0 + 2);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

// The reader is chosen from the request alone: the kind, the record's
// source and the file's name.
TEST(LoopReaderChoiceTest, FromTheRequest)
{
    struct Row {
        int request;
        uint8_t source;
        int channel;
        const char* file;
        ESourceKind reader;
        int streamChannel;
        EPlaySourceKind loop;
        bool timePlay, toEnd, headerCount;
    };
    const Row rows[] = {
        {kRequestPlayFile, 0, 3, "a/CH03.IFV", ESourceKind::kIfvFile, 3, EPlaySourceKind::kIfv, false, false, true},
        {kRequestFolderFile, 0, 0, "b/x.rkrec", ESourceKind::kBackupRecordFile, 1, EPlaySourceKind::kRecordFile,
         false, false, false},
        {kRequestPlayFile, 0, 2, "fc00001.rpo", ESourceKind::kContainerFile, 2, EPlaySourceKind::kContainer, false,
         false, false},
        {kRequestPlayFile, 0, 1, "clip.mp4", ESourceKind::kMediaFile, 1, EPlaySourceKind::kIfv, false, false, false},
        {kRequestPlayFile, 0, 1, "car.grec", ESourceKind::kGrecFile, 1, EPlaySourceKind::kIfv, false, false, false},
        // Time play: container records read their channel's stream; a file
        // of one recording is read as stream 1, whatever its channel.
        {kRequestTimePlay, kSourceContainerPartition, 4, "fc00002.rpo", ESourceKind::kContainerFile, 4,
         EPlaySourceKind::kContainer, true, false, false},
        {kRequestTimePlayToEnd, kSourceContainerFile, 2, "x.rpo", ESourceKind::kContainerFile, 2,
         EPlaySourceKind::kContainer, true, true, false},
        {kRequestTimePlayAlt, kSourceDownloadTree, 5, "ch05.ifv", ESourceKind::kIfvFile, 1, EPlaySourceKind::kIfv,
         true, false, false},
        {kRequestTimePlay, kSourceSingleIfv, 2, "t.GREC", ESourceKind::kGrecFile, 1, EPlaySourceKind::kIfv, true,
         false, false},
        // A grec name on a source of IFV files is still an IFV file.
        {kRequestTimePlay, kSourceIndexDisk, 2, "t.grec", ESourceKind::kIfvFile, 1, EPlaySourceKind::kIfv, true,
         false, false},
        {kRequestCut, kSourceIndexDisk, 1, "a.ifv", ESourceKind::kUnknown, 1, EPlaySourceKind::kIfv, false, false,
         false},
        {kRequestCutMp4, kSourceIndexDisk, 1, "a.ifv", ESourceKind::kUnknown, 1, EPlaySourceKind::kIfv, false, false,
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.request << " " << int(r.source) << " " << r.file);
        const LoopReaderChoice c = ChooseLoopReader(r.request, r.source, r.channel, r.file);
        EXPECT_EQ(c.reader, r.reader);
        EXPECT_EQ(c.streamChannel, r.streamChannel);
        EXPECT_EQ(c.loopKind, r.loop);
        EXPECT_EQ(c.timePlay, r.timePlay);
        EXPECT_EQ(c.toRangeEnd, r.toEnd);
        EXPECT_EQ(c.headerCountsPictures, r.headerCount);
    }
}

// Key pictures 40 ms apart from kT0, as many as asked; with `resizeOnSeek`
// the pictures are larger after a seek.
class CKeyPictureSource : public CFrameSource {
public:
    CKeyPictureSource(uint32_t pictures, bool resizeOnSeek) : m_pictures(pictures), m_resize(resizeOnSeek)
    {
        m_stream.begin = kT0;
        m_stream.end = kT0 + pictures / 25;
        m_stream.width = 352;
        m_stream.height = 288;
        Opened(EFrameResult::kOk);
    }

private:
    EFrameResult DoSeek(uint32_t) override
    {
        if (m_resize) {
            m_stream.width = 704;
            m_stream.height = 576;
        }
        return EFrameResult::kOk;
    }
    EFrameResult DoRead(SourceFrame& frame) override
    {
        if (m_next == m_pictures) return EFrameResult::kEnd;
        frame.kind = EFrameKind::kVideo;
        frame.key = true;
        frame.ms = int64_t(m_next) * 40;
        frame.pts = (uint64_t(kT0) * 1000 + uint64_t(frame.ms)) * 1000;
        frame.data = m_byte;
        frame.length = 1;
        ++m_next;
        return EFrameResult::kOk;
    }
    uint32_t m_pictures, m_next = 0;
    bool m_resize;
    uint8_t m_byte[1] = {0};
};

class CRefusingSinks : public CRecordingSinks {
public:
    using CRecordingSinks::CRecordingSinks;
    bool Open(const SourceStream& s) override { return ++opened, s.width == 352; }
};

TEST_F(PlayLoopTest, ADecoderThatCannotFollowASeekEndsThePlayAsAFailure)
{
    CKeyPictureSource source(250, true);
    CPlayShared shared(m_ticks);
    WindowStateCell state{EWindowState::kPlayFile};
    CRefusingSinks sinks(m_ticks);
    CPlayLoop loop(shared, state, sinks, &sinks, PlayLoopOptions{});
    sinks.hook = [&](size_t shown) {
        if (shown == 2) loop.SetSeekTarget(kT0 + 5);
    };
    const PlayLoopResult result = loop.Run(source);
    EXPECT_EQ(result.end, EFrameResult::kOpenFailed);
    EXPECT_EQ(result.error, "the decoder could not be prepared");
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(sinks.opened.load(), 2);
    EXPECT_EQ(sinks.shownMs.size(), 2u);
}

}  // namespace
}  // namespace velmor

namespace velmor {
namespace {

class CSlowSinks : public CRecordingSinks {
public:
    CSlowSinks(fixtures::CFakeTicks& ticks, int64_t decodeMs) : CRecordingSinks(ticks), m_clock(ticks), m_decodeMs(decodeMs)
    {
    }
    int Decode(const SourceFrame& frame) override
    {
        m_clock.Advance(m_decodeMs);
        return CRecordingSinks::Decode(frame);
    }
    void FallingBehind() override { ++behind; }
    std::atomic<int> behind{0};

private:
    fixtures::CFakeTicks& m_clock;
    int64_t m_decodeMs;
};

// A decoder slower than the pictures come is told once; one that keeps up,
// and any decoder at another speed, never.
TEST_F(PlayLoopTest, ADecoderThatCannotKeepUpAtNormalSpeedIsToldOnce)
{
    struct Row {
        int64_t decodeMs;
        int level;
        int told;
    };
    const Row rows[] = {{60, 0, 1}, {20, 0, 0}, {39, 0, 0}, {60, 1, 0}, {120, -1, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.decodeMs << " ms at level " << r.level);
        CKeyPictureSource source(500, false);
        CPlayShared shared(m_ticks);
        shared.speedLevel = r.level;
        WindowStateCell state{EWindowState::kPlayFile};
        CSlowSinks sinks(m_ticks, r.decodeMs);
        CPlayLoop loop(shared, state, sinks, &sinks, PlayLoopOptions{});
        const PlayLoopResult result = loop.Run(source);
        EXPECT_EQ(result.end, EFrameResult::kEnd);
        EXPECT_EQ(sinks.shownMs.size(), 500u);
        EXPECT_EQ(sinks.behind.load(), r.told);
        EXPECT_EQ(result.behind, r.told);
    }
}

}  // namespace
}  // namespace velmor
