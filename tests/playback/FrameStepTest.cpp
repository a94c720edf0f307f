// Frame stepping in a paused window over a real container recording (a key
// frame each second, 25 pictures a second, sound and map records between):
// the picture on screen after each step, what each step cost in decoding,
// that the decoder only ever gets whole groups in order, and that play goes
// on from the picture stepped to.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "player/playback/PlayLoop.h"
#include "player/playback/PlayRequest.h"
#include "tests/playback/FakeTicks.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kFrames = 75;      // 0 .. 2960 ms
constexpr int64_t kBase = int64_t(kT0) * 1000;

std::filesystem::path WriteRecording(const std::filesystem::path& dir)
{
    fixtures::CContainerFileImage image(dir / "fc00001.rpo", 1);
    fixtures::CRecordWriter w(image, fixtures::RecordingParams{});
    const auto sound = fixtures::MakePayload(7, 320);
    const auto info = fixtures::MakePayload(9, 75);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const uint64_t pts = (uint64_t(kT0) * 1000 + i * 40) * 1000;
        const auto pic = fixtures::MakePayload(i, 200 + i);
        EXPECT_EQ(w.WriteFrame(i % 25 == 0 ? rkfs::kFrameI : rkfs::kFrameP, pts, pic.data(), uint32_t(pic.size())),
                  fixtures::WriteResult::kWritten);
        EXPECT_EQ(w.WriteFrame(rkfs::kFrameAudio, pts, sound.data(), 320), fixtures::WriteResult::kWritten);
        if (i % 25 == 0)
            EXPECT_EQ(w.WriteFrame(rkfs::kFrameInfo, pts, info.data(), 75), fixtures::WriteResult::kWritten);
    }
    w.Close();
    return image.Path();
}

// A decoder as a window has one: each picture needs the one before it in its
// group, and kept pictures come back without decoding, becoming the last
// picture, which the window shows again while it waits.
class CDecoderSink : public IPlayVideoSink {
public:
    bool Open(const SourceStream&) override { return true; }
    int Decode(const SourceFrame& frame) override
    {
        std::lock_guard lock(m_mutex);
        if (!frame.key && frame.ms != m_newest + 40) broken = true;
        m_newest = m_last = frame.ms;
        ++decoded;
        if (m_draw) {
            screen = frame.ms;
            drawn.push_back(frame.ms);
        }
        if (hook) hook(drawn.size());
        return 0;
    }
    void ShowLastFrame() override
    {
        std::lock_guard lock(m_mutex);
        screen = m_last;
    }
    void SetOsdText(const std::string&) override {}
    void Flush() override {}
    void ShowDecoded(bool show) override { m_draw = show; }
    bool KeepPicture(int64_t at) override
    {
        std::lock_guard lock(m_mutex);
        EXPECT_EQ(at, kBase + m_newest) << "kept under another picture's time";
        m_kept[at] = m_newest;
        return true;
    }
    bool ShowKeptPicture(int64_t at) override
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_kept.find(at);
        if (it == m_kept.end()) return false;
        screen = m_last = it->second;
        return true;
    }
    void DropKeptPictures() override
    {
        std::lock_guard lock(m_mutex);
        m_kept.clear();
    }
    void PictureShownAt(int64_t at) override { shownAt = at; }

    std::function<void(size_t drawn)> hook;
    std::atomic<int64_t> screen{-1}, shownAt{-1};
    std::atomic<int> decoded{0};
    std::atomic<bool> broken{false};
    std::vector<int64_t> drawn;

private:
    std::mutex m_mutex;
    int64_t m_newest = -1;  // what the next picture is decoded from
    int64_t m_last = -1;    // the last picture decoded or shown again
    bool m_draw = true;
    std::map<int64_t, int64_t> m_kept;
};

class FrameStepTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_source = CFrameSource::OpenContainerFile(WriteRecording(m_dir.Path()), 1);
        ASSERT_EQ(m_source->OpenResult(), EFrameResult::kOk);
        PlayLoopOptions options;
        options.source = EPlaySourceKind::kContainer;
        options.stepped = [this](int64_t at) {
            std::lock_guard lock(m_mutex);
            m_stepped.push_back(at);
            m_cv.notify_all();
        };
        m_loop = std::make_unique<CPlayLoop>(m_shared, m_state, m_sink, nullptr, options);
        // Paused on the picture at 1200 ms, the sixth of the second group.
        m_sink.hook = [this, paused = false](size_t drawn) mutable {
            if (drawn != 31 || paused) return;
            paused = true;
            m_state = EWindowState::kPaused;
        };
        m_thread = std::thread([this] { m_result = m_loop->Run(*m_source); });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (m_sink.screen != 1200 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(m_sink.screen.load(), 1200);
    }
    void TearDown() override
    {
        if (m_thread.joinable()) {
            m_loop->RequestStop();
            m_thread.join();
        }
    }
    // The picture on screen after the step, or -1 when the loop did not answer.
    int64_t Step(EStepKind kind, int64_t at = 0)
    {
        std::unique_lock lock(m_mutex);
        const size_t before = m_stepped.size();
        m_loop->RequestStep({kind, kBase + at});
        if (!m_cv.wait_for(lock, std::chrono::seconds(10), [&] { return m_stepped.size() > before; })) return -1;
        EXPECT_EQ(m_stepped.back(), kBase + m_sink.screen) << "the time told is not the picture shown";
        return m_sink.screen;
    }
    // Plays on to the end: every picture from `first` on is drawn, in order.
    void ExpectPlayFrom(int64_t first)
    {
        m_state = EWindowState::kPlayFile;
        m_thread.join();
        EXPECT_EQ(m_result.end, EFrameResult::kEnd);
        std::vector<int64_t> expected;
        for (int64_t ms = first; ms <= 2960; ms += 40) expected.push_back(ms);
        EXPECT_EQ(std::vector<int64_t>(m_sink.drawn.begin() + 31, m_sink.drawn.end()), expected);
        EXPECT_FALSE(m_sink.broken.load());
    }

    fixtures::CTempDir m_dir;
    fixtures::CFakeTicks m_ticks;
    CPlayShared m_shared{m_ticks};
    WindowStateCell m_state{EWindowState::kPlayFile};
    CDecoderSink m_sink;
    std::unique_ptr<CFrameSource> m_source;
    std::unique_ptr<CPlayLoop> m_loop;
    std::thread m_thread;
    PlayLoopResult m_result;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int64_t> m_stepped;
};

TEST_F(FrameStepTest, EachStepShowsItsPictureAndDecodesOnlyWhatItMust)
{
    struct Row {
        const char* name;
        EStepKind kind;
        int64_t at;
        int64_t screen;  // ms after the begin second
        int decodes;     // pictures the step decoded
    };
    const Row rows[] = {
        {"next", EStepKind::kNext, 0, 1240, 1},
        {"back to the picture paused on: kept", EStepKind::kPrevious, 0, 1200, 0},
        {"back past it: its group decoded from the key frame", EStepKind::kPrevious, 0, 1160, 5},
        {"back within the group: kept", EStepKind::kPrevious, 0, 1120, 0},
        {"a moment between pictures: the one before it", EStepKind::kTo, 1010, 1000, 0},
        {"back into the first group: decoded whole", EStepKind::kPrevious, 0, 960, 25},
        {"next: the key frame read ahead", EStepKind::kNext, 0, 1000, 1},
        {"to a later moment: decoded on to it", EStepKind::kTo, 2100, 2080, 27},
        {"past the end: the last picture", EStepKind::kTo, 9000, 2960, 22},
        {"next at the end: stays", EStepKind::kNext, 0, 2960, 0},
        {"before the start: the first picture", EStepKind::kTo, -5000, 0, 1},
        {"previous at the start: stays", EStepKind::kPrevious, 0, 0, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const int before = m_sink.decoded;
        EXPECT_EQ(Step(r.kind, r.at), r.screen);
        EXPECT_EQ(m_sink.decoded - before, r.decodes);
        EXPECT_EQ(m_sink.shownAt.load(), kBase + r.screen);
        EXPECT_FALSE(m_sink.broken.load()) << "a picture decoded without the one before it";
    }
    EXPECT_EQ(m_sink.drawn.size(), 31u) << "steps drew pictures they did not show";
}

// Play goes on from the picture on screen: after a step back within the
// group the decoder, which is ahead, decodes the group again unseen up to it.
TEST_F(FrameStepTest, PlayGoesOnFromThePictureSteppedBackTo)
{
    ASSERT_EQ(Step(EStepKind::kPrevious), 1160);
    ASSERT_EQ(Step(EStepKind::kPrevious), 1120);
    ExpectPlayFrom(1160);
}

TEST_F(FrameStepTest, PlayGoesOnFromThePictureSteppedForwardTo)
{
    ASSERT_EQ(Step(EStepKind::kTo, 2000), 2000);
    ExpectPlayFrom(2040);
}

}  // namespace
}  // namespace velmor
