// A play window that changes between the main and the sub stream of its
// channel while playing: it goes on at the other stream's next key frame
// after the picture it showed last, and stays on its stream when the other
// cannot be had.
#include <gtest/gtest.h>

#include <mutex>

#include "player/playback/PlayLoop.h"
#include "player/playback/PlayRequest.h"
#include "tests/playback/FakeTicks.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kFrames = 75;      // 3 s at 25 a second, a key frame each second

std::vector<uint8_t> Picture(bool sub, uint32_t f)
{
    return fixtures::MakePayload(f + (sub ? 1000 : 0), f % 25 == 0 ? (sub ? 800 : 2000) : (sub ? 100 : 300) + f);
}

void WriteStream(fixtures::IBlockSink& sink, uint8_t channel, bool sub)
{
    fixtures::RecordingParams params;
    params.channel = channel;
    params.subStream = sub;
    params.encode = {uint8_t(sub ? 0 : 4), 0, 1, 0, 25};
    fixtures::CRecordWriter w(sink, params);
    for (uint32_t i = 0; i < kFrames; ++i) {
        const auto pic = Picture(sub, i);
        ASSERT_EQ(w.WriteFrame(i % 25 == 0 ? rkfs::kFrameI : rkfs::kFrameP, (uint64_t(kT0) * 1000 + i * 40) * 1000,
                               pic.data(), uint32_t(pic.size())),
                  fixtures::WriteResult::kWritten);
    }
    w.Close();
}

// Pictures shown and streams opened, with a hook inside Decode.
class CStreamSinks : public IPlayVideoSink {
public:
    bool Open(const SourceStream& s) override
    {
        opened.push_back(s.subStream);
        return true;
    }
    int Decode(const SourceFrame& frame) override
    {
        shown.push_back({frame.ms, fixtures::Crc32(frame.data, frame.length)});
        if (hook) hook(shown.size());
        return 0;
    }
    void ShowLastFrame() override {}
    void SetOsdText(const std::string&) override {}
    void Flush() override {}

    struct Shown {
        int64_t ms;
        uint32_t crc;
    };
    std::function<void(size_t)> hook;
    std::vector<Shown> shown;
    std::vector<bool> opened;
};

struct SwitchCase {
    const char* name;
    int channel;       // counted from 1
    bool startSub;     // the stream opened first
    size_t switchAt;   // pictures shown when the window wants the other stream
    bool canOpen;      // the other stream can be opened
    bool offerOpen;    // the window gives the loop a way to open streams
    int switches;
    int openCalls;
    // Pictures shown: first from the stream opened first, then from the other.
    uint32_t firstFrom, firstTo, thenFrom, thenTo;  // frame indexes, [from, to)
};

class StreamSwitch : public testing::TestWithParam<SwitchCase> {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new fixtures::CTempDir();
        fixtures::CContainerFileImage image(*s_dir / "fc00002.rpo", 2);
        WriteStream(image, 0, false);
        WriteStream(image, 0, true);
        WriteStream(image, 1, false);
        s_path = new std::filesystem::path(image.Path());
    }
    static void TearDownTestSuite()
    {
        delete s_path;
        delete s_dir;
    }
    static fixtures::CTempDir* s_dir;
    static std::filesystem::path* s_path;
    fixtures::CFakeTicks m_ticks;
};
fixtures::CTempDir* StreamSwitch::s_dir = nullptr;
std::filesystem::path* StreamSwitch::s_path = nullptr;

TEST_P(StreamSwitch, GoesOnAtTheOtherStreamsNextKeyFrame)
{
    const SwitchCase& c = GetParam();
    auto source = CFrameSource::OpenContainerFile(*s_path, c.channel,
                                                  c.startSub ? EStreamChoice::kSub : EStreamChoice::kMain);
    ASSERT_EQ(source->OpenResult(), EFrameResult::kOk) << source->ErrorText();
    CPlayShared shared(m_ticks);
    WindowStateCell state{EWindowState::kPlayFile};
    std::atomic<bool> wantSub{c.startSub};
    CStreamSinks sinks;
    int openCalls = 0;
    PlayLoopOptions options;
    options.source = EPlaySourceKind::kContainer;
    options.wantSub = &wantSub;
    if (c.offerOpen)
        options.openStream = [&](bool sub) {
            ++openCalls;
            EXPECT_EQ(sub, !c.startSub);
            const auto path = c.canOpen ? *s_path : *s_path / "gone";
            return CFrameSource::OpenContainerFile(path, c.channel, sub ? EStreamChoice::kSub : EStreamChoice::kMain);
        };
    CPlayLoop loop(shared, state, sinks, nullptr, options);
    sinks.hook = [&](size_t shown) {
        if (shown == c.switchAt) wantSub = !c.startSub;
    };
    const PlayLoopResult result = loop.Run(*source);

    EXPECT_EQ(result.end, EFrameResult::kEnd);
    EXPECT_EQ(result.streamSwitches, c.switches);
    EXPECT_EQ(openCalls, c.openCalls);
    std::vector<bool> opened = {c.startSub};
    if (c.switches) opened.push_back(!c.startSub);
    EXPECT_EQ(sinks.opened, opened);
    const size_t expected = (c.firstTo - c.firstFrom) + (c.thenTo - c.thenFrom);
    ASSERT_EQ(sinks.shown.size(), expected);
    size_t k = 0;
    for (uint32_t f = c.firstFrom; f < c.firstTo; ++f, ++k) {
        const auto pic = Picture(c.startSub, f);
        EXPECT_EQ(sinks.shown[k].ms, int64_t(f) * 40) << k;
        EXPECT_EQ(sinks.shown[k].crc, fixtures::Crc32(pic.data(), pic.size())) << k;
    }
    for (uint32_t f = c.thenFrom; f < c.thenTo; ++f, ++k) {
        const auto pic = Picture(!c.startSub, f);
        EXPECT_EQ(sinks.shown[k].ms, int64_t(f) * 40) << k;
        EXPECT_EQ(sinks.shown[k].crc, fixtures::Crc32(pic.data(), pic.size())) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, StreamSwitch,
    testing::Values(
        // Wanted after the picture of 360 ms: the sub stream's key frame of 1 s.
        SwitchCase{"MainToSub", 1, false, 10, true, true, 1, 1, 0, 10, 25, 75},
        // After 1160 ms: the main stream's key frame of 2 s.
        SwitchCase{"SubToMain", 1, true, 30, true, true, 1, 1, 0, 30, 50, 75},
        // On a key frame itself: that second is shown, the next one follows.
        SwitchCase{"OnAKeyFrame", 1, false, 26, true, true, 1, 1, 0, 26, 50, 75},
        // After the last key frame: nothing more of the other stream.
        SwitchCase{"AfterTheLastKeyFrame", 1, false, 60, true, true, 1, 1, 0, 60, 0, 0},
        SwitchCase{"OtherStreamGone", 1, false, 10, false, true, 0, 1, 0, 75, 0, 0},
        SwitchCase{"NoWayToOpen", 1, false, 10, true, false, 0, 0, 0, 75, 0, 0},
        SwitchCase{"ChannelWithoutSubStream", 2, false, 10, true, true, 0, 0, 0, 75, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velmor
