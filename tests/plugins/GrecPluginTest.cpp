// The grec reader plugin loaded as the player loads it, on files made by the
// grec writer: what goes in comes out, frame by frame, and seeks land on the
// key frame at or before the second asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <tuple>

extern "C" {
#include <libavutil/log.h>
}

#include "common/AppPaths.h"
#include "player/formats/TtxLibrary.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/ReadOnlyView.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kOriginUs = 1765188000ull * 1000000;  // 2025-12-08 10:00:00

fs::path BinDir()
{
    const char* bin = std::getenv("VELMOR_BIN");
    return bin && *bin ? fs::path(bin) : ApplicationDir();
}

CTtxLibrary& Plugin()
{
    static CTtxLibrary library({BinDir()}, false);
    return library;
}

struct ReadFrame {
    int type = -1;
    bool key = false;
    uint64_t timeUs = 0;
    std::vector<uint8_t> data;
};

// Every frame from the reading position to the end; the last code in *end.
std::vector<ReadFrame> ReadAll(CTtxFile& file, int* end = nullptr, size_t limit = SIZE_MAX)
{
    std::vector<ReadFrame> frames;
    std::vector<uint8_t> buffer(AVFILE_MAX_FRAME_SIZE);
    int rc = 0;
    while (frames.size() < limit) {
        AVFILE_FRAME head{};
        rc = file.Library().FEReadFrame(file.Slot(), buffer.data(), uint32_t(buffer.size()), &head);
        if (rc <= 0) break;
        EXPECT_EQ(head.length, uint32_t(rc));
        frames.push_back({head.type, head.key != 0, head.timeUs, {buffer.begin(), buffer.begin() + rc}});
    }
    if (end) *end = rc;
    return frames;
}

int KindOf(GrecWriteFrame::Kind kind)
{
    return kind == GrecWriteFrame::kVideo ? AVFILE_FRAME_VIDEO
           : kind == GrecWriteFrame::kAudio ? AVFILE_FRAME_AUDIO
                                            : AVFILE_FRAME_INFO;
}

// Frames as the file keeps them: by time, and at one time video, sound,
// record (the order of their tracks).
std::vector<const GrecWriteFrame*> FileOrder(const std::vector<GrecWriteFrame>& written)
{
    std::vector<const GrecWriteFrame*> order;
    for (const auto& f : written) order.push_back(&f);
    std::stable_sort(order.begin(), order.end(), [](const GrecWriteFrame* a, const GrecWriteFrame* b) {
        return std::tie(a->ms, a->kind) < std::tie(b->ms, b->kind);
    });
    return order;
}

void ExpectSameFrame(const GrecWriteFrame& want, const ReadFrame& got, size_t index)
{
    SCOPED_TRACE("frame " + std::to_string(index));
    ASSERT_EQ(got.type, KindOf(want.kind));
    EXPECT_EQ(got.timeUs, kOriginUs + uint64_t(want.ms) * 1000);
    EXPECT_EQ(got.key, want.kind == GrecWriteFrame::kVideo && want.key);
    if (want.kind == GrecWriteFrame::kVideo)
        EXPECT_EQ(SplitAnnexB(got.data), SplitAnnexB(want.data));  // the same NAL units, byte for byte
    else
        EXPECT_EQ(got.data, want.data);
}

class GrecPlugin : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(Plugin().Loaded()) << Plugin().Error();
        s_dir = new CTempDir("grec-plugin");
        GrecLayout layout;
        layout.width = 96;
        layout.height = 64;
        layout.originUs = kOriginUs;
        layout.terminal = "T-0042";
        layout.vehicle = "LU-B 1234";
        layout.audioEncoding = 7;
        layout.withInfoTrack = true;
        s_frames = MakeGrecClipFrames(layout, 10, 50);  // a key frame every 2 s
        s_path = *s_dir / "clip.grec";
        WriteGrecFile(s_path, layout, s_frames);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { ASSERT_EQ(m_file.Open(s_path), AVFILE_OK) << m_file.Error(); }

    static CTempDir* s_dir;
    static fs::path s_path;
    static std::vector<GrecWriteFrame> s_frames;
    CTtxFile m_file{Plugin()};
};
CTempDir* GrecPlugin::s_dir = nullptr;
fs::path GrecPlugin::s_path;
std::vector<GrecWriteFrame> GrecPlugin::s_frames;

TEST_F(GrecPlugin, FileInformationIsTheWrittenOne)
{
    AVFILE_FILE_INFO info{};
    ASSERT_EQ(Plugin().FEGetFileInfo(m_file.Slot(), &info), AVFILE_OK);
    EXPECT_EQ(info.beginTime, kOriginUs);
    EXPECT_EQ(info.endTime, kOriginUs + 10000000);  // the last picture lasts until 10 s
    EXPECT_EQ(info.width, 96);
    EXPECT_EQ(info.height, 64);
    EXPECT_EQ(info.videoCompress, AVFILE_VIDEO_H264);
    EXPECT_EQ(info.frameRate, 25);
    EXPECT_EQ(info.hasAudio, 1);
    EXPECT_EQ(info.hasInfo, 1);

    AVFILE_WAVE_FORMAT wave{};
    ASSERT_EQ(Plugin().FEGetWaveFormat(m_file.Slot(), &wave), AVFILE_OK);
    EXPECT_EQ(wave.encoding, 7);
    EXPECT_EQ(wave.rateCode, 0);
    EXPECT_EQ(wave.sampleRate, 8000);
    EXPECT_EQ(wave.channels, 1);
    EXPECT_EQ(wave.bitsPerSample, 8);

    AVFILE_TERMINAL_INFO terminal;
    std::memset(&terminal, 0x55, sizeof terminal);
    ASSERT_EQ(Plugin().FEGetTerminalInfo(m_file.Slot(), &terminal), AVFILE_OK);
    EXPECT_STREQ(terminal.terminal, "T-0042");
    EXPECT_STREQ(terminal.vehicle, "LU-B 1234");
    EXPECT_EQ(terminal.vehicle[31], 0);
}

TEST_F(GrecPlugin, EveryFrameComesBackExactlyInFileOrder)
{
    int end = -99;
    const auto got = ReadAll(m_file, &end);
    EXPECT_EQ(end, 0) << m_file.Error();
    const auto want = FileOrder(s_frames);
    ASSERT_EQ(got.size(), want.size());
    ASSERT_EQ(want.size(), 250u + 500u + 10u);
    for (size_t i = 0; i < got.size(); ++i) ExpectSameFrame(*want[i], got[i], i);
    // The end sticks.
    std::vector<uint8_t> buffer(16);
    AVFILE_FRAME head{};
    EXPECT_EQ(Plugin().FEReadFrame(m_file.Slot(), buffer.data(), 16, &head), 0);
}

TEST_F(GrecPlugin, KeyFramesCarryTheirParameterSetsOnce)
{
    const auto got = ReadAll(m_file);
    int keys = 0;
    for (const auto& f : got) {
        if (f.type != AVFILE_FRAME_VIDEO || !f.key) continue;
        ++keys;
        const auto nals = SplitAnnexB(f.data);
        ASSERT_GE(nals.size(), 3u);
        EXPECT_EQ(nals[0][0] & 0x1F, 7) << "SPS first";
        EXPECT_EQ(nals[1][0] & 0x1F, 8) << "then PPS";
        EXPECT_EQ(std::count_if(nals.begin(), nals.end(), [](const auto& n) { return (n[0] & 0x1F) == 7; }), 1);
        EXPECT_EQ(f.data[0], 0);
        EXPECT_EQ(f.data[1], 0);
    }
    EXPECT_EQ(keys, 5);
}

TEST_F(GrecPlugin, SeekLandsOnTheKeyFrameAtOrBeforeTheTime)
{
    struct Case {
        int64_t offsetMs;  // from the origin; negative: before it
        uint32_t keyMs;
    } const cases[] = {
        {-5000, 0}, {0, 0}, {1999, 0}, {2000, 2000}, {3500, 2000}, {7999, 6000}, {8000, 8000}, {9999, 8000},
        {10000, 8000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offsetMs));
        const uint64_t t = uint64_t(int64_t(kOriginUs) + c.offsetMs * 1000);
        ASSERT_EQ(Plugin().FESeekIFrame(m_file.Slot(), t), AVFILE_OK) << m_file.Error();
        const auto got = ReadAll(m_file, nullptr, 4);
        ASSERT_EQ(got.size(), 4u);
        EXPECT_EQ(got[0].type, AVFILE_FRAME_VIDEO);
        EXPECT_TRUE(got[0].key);
        EXPECT_EQ(got[0].timeUs, kOriginUs + uint64_t(c.keyMs) * 1000);
        // What follows is the file from there on, nothing older.
        const auto want = FileOrder(s_frames);
        auto it = std::find_if(want.begin(), want.end(), [&](const GrecWriteFrame* f) {
            return f->kind == GrecWriteFrame::kVideo && f->ms == c.keyMs;
        });
        ASSERT_NE(it, want.end());
        for (size_t i = 0; i < got.size(); ++i) ExpectSameFrame(**(it + long(i)), got[i], i);
    }
}

TEST_F(GrecPlugin, SeekAfterTheEndIsARangeErrorAndKeepsTheHandleUsable)
{
    EXPECT_EQ(Plugin().FESeekIFrame(m_file.Slot(), kOriginUs + 10000001), AVFILE_ERR_RANGE);
    EXPECT_NE(std::string(Plugin().GetLastErrorText()).find("after the file's end"), std::string::npos);
    ASSERT_EQ(Plugin().FESeekBegin(m_file.Slot()), AVFILE_OK);
    const auto got = ReadAll(m_file, nullptr, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].timeUs, kOriginUs);
    EXPECT_TRUE(got[0].key);
}

TEST_F(GrecPlugin, SeekBeginStartsOverAfterReading)
{
    const auto first = ReadAll(m_file, nullptr, 100);
    ASSERT_EQ(Plugin().FESeekBegin(m_file.Slot()), AVFILE_OK);
    const auto again = ReadAll(m_file, nullptr, 100);
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(again[i].timeUs, first[i].timeUs);
        EXPECT_EQ(again[i].data, first[i].data);
    }
}

TEST_F(GrecPlugin, AFrameLargerThanTheBufferStaysNext)
{
    std::vector<uint8_t> small(10, 0xEE);
    AVFILE_FRAME head{};
    ASSERT_EQ(Plugin().FEReadFrame(m_file.Slot(), small.data(), 10, &head), AVFILE_ERR_BUFFER);
    const uint32_t need = head.length;
    EXPECT_GT(need, 10u);
    EXPECT_EQ(small, std::vector<uint8_t>(10, 0xEE)) << "nothing written into a short buffer";
    const auto got = ReadAll(m_file, nullptr, 1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].data.size(), need);
    EXPECT_EQ(got[0].timeUs, kOriginUs);
}

TEST_F(GrecPlugin, SlotRulesAreKept)
{
    AVFILE_HANDLE other = m_file.Slot()[0];
    EXPECT_EQ(Plugin().FEOpenFile(&other, s_path.c_str()), AVFILE_ERR_ARGUMENT) << "slot already holds a file";
    AVFILE_HANDLE slot = nullptr;
    ASSERT_EQ(Plugin().FEOpenFile(&slot, s_path.c_str()), AVFILE_OK);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(Plugin().FECloseFile(&slot), AVFILE_OK);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(Plugin().FECloseFile(&slot), AVFILE_ERR_ARGUMENT);
    AVFILE_FILE_INFO info{};
    EXPECT_EQ(Plugin().FEGetFileInfo(&slot, &info), AVFILE_ERR_ARGUMENT);
    EXPECT_EQ(Plugin().FEGetFileInfo(nullptr, &info), AVFILE_ERR_ARGUMENT);
    EXPECT_EQ(Plugin().FEGetFileInfo(m_file.Slot(), nullptr), AVFILE_ERR_ARGUMENT);
    EXPECT_EQ(Plugin().FEOpenFile(&slot, nullptr), AVFILE_ERR_ARGUMENT);
    EXPECT_EQ(slot, nullptr);
}

TEST_F(GrecPlugin, UseCountNeverGoesBelowZeroAndHandlesOutliveIt)
{
    const int before = Plugin().Initialize();
    EXPECT_EQ(Plugin().Initialize(), before + 1);
    EXPECT_EQ(Plugin().UnInitialize(), before);
    EXPECT_EQ(Plugin().UnInitialize(), before - 1);
    for (int i = 0; i < before + 2; ++i) Plugin().UnInitialize();
    EXPECT_EQ(Plugin().UnInitialize(), 0);
    EXPECT_EQ(ReadAll(m_file, nullptr, 3).size(), 3u) << "an open file stays readable";
}

TEST_F(GrecPlugin, ReadsFromAReadOnlyMount)
{
    const fs::path path = s_path;
    const ReadOnlyRun run = RunWithReadOnlyView(s_dir->Path(), [path] {
        CTtxFile file(Plugin());
        if (file.Open(path) != AVFILE_OK) return 1;
        int end = -1;
        const auto frames = ReadAll(file, &end);
        return frames.size() == 760 && end == 0 ? 0 : 2;
    });
    if (!run.available) GTEST_SKIP() << run.why;
    EXPECT_EQ(run.exitCode, 0);
}

TEST_F(GrecPlugin, FailuresAndFfmpegLinesGoToTheLogCallbackNotToStandardError)
{
    std::vector<std::pair<int, std::string>> lines;
    Plugin().SetLogCallback(
        [](int level, const char* line, void* user) {
            static_cast<std::vector<std::pair<int, std::string>>*>(user)->emplace_back(level, line);
        },
        &lines);
    const fs::path junk = *s_dir / "junk.grec";
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("JUNK", f);
    std::fclose(f);
    testing::internal::CaptureStderr();
    AVFILE_HANDLE slot = nullptr;
    const int rc = Plugin().FEOpenFile(&slot, junk.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    Plugin().SetLogCallback(nullptr, nullptr);
    EXPECT_EQ(rc, AVFILE_ERR_FORMAT);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::string(Plugin().GetLastErrorText()), junk.string() + ": not a Matroska file");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), std::make_pair(int(RK_LOG_FAILURE), junk.string() + ": not a Matroska file\n"));
    const bool ffmpegLine = std::any_of(lines.begin(), lines.end(), [](const auto& l) {
        return l.first == RK_LOG_DEBUG && l.second.find("EBML header") != std::string::npos;
    });
    EXPECT_TRUE(ffmpegLine);
}

// The plugin's name and folders as the program looks for them.
TEST(GrecPluginLoading, AMissingPluginIsAClearError)
{
    CTempDir empty("grec-none");
    CTtxLibrary library({empty.Path()}, false);
    EXPECT_FALSE(library.Loaded());
    EXPECT_EQ(library.Error(), "the grec reader plugin libavfile_ttx.so was not found (looked in " +
                                   empty.Path().string() + ")");
    CTtxFile file(library);
    EXPECT_EQ(file.Open(empty / "a.grec"), AVFILE_ERR_OPEN);
    EXPECT_EQ(file.Error(), library.Error());
}

TEST(GrecPluginLoading, AFileOfThatNameThatIsNoPluginIsRefused)
{
    CTempDir dir("grec-fake");
    std::FILE* f = std::fopen((dir / "libavfile_ttx.so").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not an ELF object", f);
    std::fclose(f);
    CTtxLibrary library({dir.Path(), BinDir()}, false);
    EXPECT_FALSE(library.Loaded());
    EXPECT_EQ(library.Error().rfind((dir / "libavfile_ttx.so").string() + " cannot be loaded: ", 0), 0u)
        << library.Error();
}

TEST(GrecPluginLoading, FfmpegLinesAfterThePluginIsClosedStillHaveSomewhereToGo)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            {
                CTtxLibrary library({BinDir()}, false);
                if (!library.Loaded()) std::exit(3);
                AVFILE_HANDLE slot = nullptr;
                library.FEOpenFile(&slot, "/nonexistent/x.grec");  // a call installs the plugin's FFmpeg hook
            }
            av_log(nullptr, AV_LOG_ERROR, "a line of the program's own\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "a line of the program's own");
}

TEST(GrecPluginLoading, TheProgramLooksBesideItselfThenInTheInstalledLibFolder)
{
    const auto folders = CTtxLibrary::PluginFolders();
    ASSERT_EQ(folders.size(), 3u);
    EXPECT_EQ(folders[0], ApplicationDir());
    // The package's library folder, then the plain lib folder of an older install.
    EXPECT_EQ(folders[1], ApplicationDir().parent_path() / "lib" / "velmor");
    EXPECT_EQ(folders[2], ApplicationDir().parent_path() / "lib");
    EXPECT_TRUE(CTtxLibrary::Shared().Loaded()) << CTtxLibrary::Shared().Error();
}

}  // namespace
}  // namespace velmor::fixtures
