// One recording written in every format the frame source reads, and every
// source kind run through the same table of expectations: the frames in
// order with their positions, the seek rule, the end rule and the failures.
// A media file holds the recording's pictures only, as real access units
// (its payloads cannot be chosen), on a timeline of its own from 0.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

#include "player/formats/IfvFile.h"
#include "player/playback/FrameSource.h"
#include "tests/media/mp4/Mp4TestUtil.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

using fixtures::CTempDir;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kSeconds = 10;

// 10 s at 25 frames a second, a key frame every 2 s, an audio frame beside
// each picture and an information record each second, in the order every
// reader hands them out (picture, sound, record on equal times).
struct PlanFrame {
    EFrameKind kind;
    bool key;
    uint32_t ms;  // from kT0
    uint32_t length;
    uint32_t crc;
};

std::vector<uint8_t> PayloadOf(uint32_t ms, int kind, uint32_t length)
{
    return fixtures::MakePayload(uint64_t(ms) * 4 + uint64_t(kind), length);
}

const std::vector<PlanFrame>& Plan()
{
    static const std::vector<PlanFrame> plan = [] {
        std::vector<PlanFrame> p;
        for (uint32_t f = 0; f < kSeconds * 25; ++f) {
            const uint32_t ms = f * 40;
            const uint32_t vlen = f % 50 == 0 ? 3000 : 400 + f;
            auto v = PayloadOf(ms, 0, vlen);
            p.push_back({EFrameKind::kVideo, f % 50 == 0, ms, vlen, fixtures::Crc32(v.data(), v.size())});
            auto a = PayloadOf(ms, 1, 320);
            p.push_back({EFrameKind::kAudio, false, ms, 320, fixtures::Crc32(a.data(), a.size())});
            if (f % 25 == 0) {
                auto i = PayloadOf(ms, 2, 75);
                p.push_back({EFrameKind::kInfo, false, ms, 75, fixtures::Crc32(i.data(), i.size())});
            }
        }
        return p;
    }();
    return plan;
}

uint8_t HeadType(const PlanFrame& f)
{
    if (f.kind == EFrameKind::kVideo) return f.key ? rkfs::kFrameI : rkfs::kFrameP;
    return f.kind == EFrameKind::kAudio ? rkfs::kFrameAudio : rkfs::kFrameInfo;
}

// Frames [from, to) of the plan through a record writer.
void WriteRecord(fixtures::IBlockSink& sink, size_t from, size_t to)
{
    fixtures::CRecordWriter w(sink, fixtures::RecordingParams{});
    for (size_t i = from; i < to; ++i) {
        const PlanFrame& f = Plan()[i];
        auto data = PayloadOf(f.ms, int(f.kind), f.length);
        ASSERT_EQ(w.WriteFrame(HeadType(f), (uint64_t(kT0) * 1000 + f.ms) * 1000, data.data(), f.length),
                  fixtures::WriteResult::kWritten);
    }
    w.Close();
}

// Index of the plan's first frame at `ms`.
size_t PlanIndex(uint32_t ms)
{
    size_t i = 0;
    while (Plan()[i].ms < ms) ++i;
    return i;
}

enum class Kind { kContainer, kSpan, kBackup, kIfv, kMedia };

// Which frames of the plan a kind holds.
bool Holds(Kind kind, const PlanFrame& p) { return kind != Kind::kMedia || p.kind == EFrameKind::kVideo; }

struct Written {
    std::filesystem::path path;                // the file (or the first of the span)
    std::vector<std::filesystem::path> files;  // the span's files
};

Written WriteAs(Kind kind, const std::filesystem::path& dir)
{
    Written w;
    const size_t all = Plan().size();
    switch (kind) {
        case Kind::kContainer: {
            fixtures::CContainerFileImage image(dir / "fc00001.rpo", 1);
            WriteRecord(image, 0, all);
            w.path = image.Path();
            break;
        }
        case Kind::kSpan: {
            // Two files that meet with two seconds recorded in both: the
            // second starts at the key frame of 4 s, the first ends at 6 s.
            fixtures::CContainerFileImage first(dir / "fc00001.rpo", 1);
            WriteRecord(first, 0, PlanIndex(6000));
            fixtures::CContainerFileImage second(dir / "fc00002.rpo", 2, rkfs::kContainerFileSize128, 5000);
            WriteRecord(second, PlanIndex(4000), all);
            w.files = {first.Path(), second.Path()};
            w.path = first.Path();
            break;
        }
        case Kind::kBackup: {
            fixtures::CBackupFileImage image;
            WriteRecord(image, 0, all);
            w.path = dir / "clip.rkrec";
            image.Save(w.path);
            break;
        }
        case Kind::kIfv: {
            w.path = dir / "ch01_20251208_100000_N_1.ifv";
            FILEHANDLE* f = RK_OpenFile2(w.path.c_str(), 0, RK_FILE_MODE_WRITE);
            EXPECT_NE(f, nullptr);
            EXPECT_EQ(RK_FileSetVideoParam(f, 352, 288, 25.0f, 0), 0);
            EXPECT_EQ(RK_FileSetAudioParam(f, 1, 16, 8000, 11, 320, 40), 0);
            EXPECT_EQ(RK_FileEnableAttach(f), 0);
            EXPECT_EQ(RK_FileSetStartTime(f, kT0), 0);
            for (const PlanFrame& p : Plan()) {
                auto data = PayloadOf(p.ms, int(p.kind), p.length);
                int n = 0;
                if (p.kind == EFrameKind::kVideo)
                    n = RK_FileWriteVideoFrame(f, data.data(), p.length, p.ms, p.key ? 5 : 1, uint64_t(p.ms) * 1000,
                                               nullptr);
                else if (p.kind == EFrameKind::kAudio)
                    n = RK_FileWriteAudioFrame(f, data.data(), p.length, p.ms, nullptr);
                else
                    n = RK_FileWriteAttachFrame(f, data.data(), p.length, p.ms, nullptr);
                EXPECT_EQ(n, int(p.length));
            }
            EXPECT_EQ(RK_CloseFile2(f), 0);
            break;
        }
        case Kind::kMedia: {
            // The plan's pictures: 25 a second, a key frame every 2 s; sound
            // beside them that the source passes over.
            w.path = dir / "clip.mp4";
            fixtures::mp4::ClipRecipe recipe;
            recipe.video.frames = int(kSeconds) * 25;
            recipe.video.gop = 50;
            EXPECT_EQ(fixtures::mp4::WriteClip(w.path.string(), recipe), 0);
            break;
        }
    }
    return w;
}

std::unique_ptr<CFrameSource> OpenAs(Kind kind, const Written& w, int channel)
{
    switch (kind) {
        case Kind::kContainer: return CFrameSource::OpenContainerFile(w.path, channel);
        case Kind::kSpan: return CFrameSource::OpenPartitionSpan(w.files, channel, kT0, kT0 + kSeconds);
        case Kind::kBackup: return CFrameSource::OpenBackupRecord(w.path, channel);
        case Kind::kIfv: return CFrameSource::OpenIfvFile(w.path, channel);
        case Kind::kMedia: return CFrameSource::OpenFile(ESourceKind::kMediaFile, w.path, channel);
    }
    return nullptr;
}

class FrameSourceTest : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override
    {
        m_media = GetParam() == Kind::kMedia;
        m_t0 = m_media ? 0 : kT0;
        m_written = WriteAs(GetParam(), m_dir.Path());
        m_source = OpenAs(GetParam(), m_written, 0);
        ASSERT_EQ(m_source->OpenResult(), EFrameResult::kOk) << m_source->ErrorText();
    }

    // Reads to the end and checks each frame against the plan from `index`;
    // after a seek only the pictures are compared: where sound and records
    // of the key frame's time come relative to it differs by format.
    void ExpectPlanFrom(size_t index, bool picturesOnly = false)
    {
        picturesOnly = picturesOnly || m_media;
        uint64_t picturesSeen = 0, firstPts = 0;
        SourceFrame f;
        EFrameResult rc;
        while ((rc = m_source->Read(f)) == EFrameResult::kOk) {
            if (picturesOnly && f.kind != EFrameKind::kVideo) continue;
            while (picturesOnly && index < Plan().size() && Plan()[index].kind != EFrameKind::kVideo) ++index;
            ASSERT_LT(index, Plan().size());
            const PlanFrame& p = Plan()[index];
            ASSERT_EQ(f.kind, p.kind) << index;
            ASSERT_EQ(f.key, p.key) << index;
            ASSERT_EQ(f.ms, int64_t(p.ms)) << index;
            ASSERT_EQ(f.wallMs, uint64_t(m_t0) * 1000 + p.ms) << index;
            if (m_media) {
                // Paced by picture count at the stream's rate from the first
                // one handed out, never by reordered presentation times.
                if (picturesSeen == 0) firstPts = f.pts;
                ASSERT_EQ(f.pts, firstPts + uint64_t(picturesSeen) * 40000) << index;
                ++picturesSeen;
                // Annex B: a start code, then the unit's header.
                ASSERT_GT(f.length, 4u) << index;
                ASSERT_EQ(f.data[0] | f.data[1], 0) << index;
                ASSERT_TRUE(f.data[2] == 1 || (f.data[2] == 0 && f.data[3] == 1)) << index;
            } else {
                ASSERT_EQ(f.length, p.length) << index;
                ASSERT_EQ(fixtures::Crc32(f.data, f.length), p.crc) << index;
            }
            ++index;
        }
        EXPECT_EQ(rc, EFrameResult::kEnd);
        while (picturesOnly && index < Plan().size() && Plan()[index].kind != EFrameKind::kVideo) ++index;
        EXPECT_EQ(index, Plan().size());
        EXPECT_EQ(m_source->Read(f), EFrameResult::kEnd) << "the end stays the end";
    }

    CTempDir m_dir;
    bool m_media = false;
    uint32_t m_t0 = kT0;  // the recording's first second as the source counts
    Written m_written;
    std::unique_ptr<CFrameSource> m_source;
};

TEST_P(FrameSourceTest, DescribesTheRecording)
{
    const SourceStream& s = m_source->Stream();
    EXPECT_EQ(s.begin, m_t0);
    EXPECT_EQ(s.channel, 1);
    EXPECT_FALSE(s.h265);
    if (m_media) {
        // The sound runs a little past the last picture (10.0x s).
        EXPECT_EQ(s.end, kSeconds) << "begin + the file's duration in whole seconds";
        EXPECT_EQ(s.width, 64);
        EXPECT_EQ(s.height, 48);
        EXPECT_EQ(s.frameRate, 25.0f);
        EXPECT_FALSE(s.hasAudio) << "media file sound is not handed out";
    }
}

TEST_P(FrameSourceTest, HandsOutEveryFrameInOrder) { ExpectPlanFrom(0); }

// Key frames at 0, 2, 4, 6 and 8 s: both seek rules (at or before the
// second; the IFV reader's 1600 ms allowance) land on the same one.
TEST_P(FrameSourceTest, SeekLandsOnTheKeyFrameOfTheSecond)
{
    struct Row {
        uint32_t second;
        uint32_t keyMs;
    };
    for (const Row& row : {Row{m_t0 + 5, 4000}, Row{m_t0 + 8, 8000}, Row{m_t0 + 1, 0}, Row{m_t0 + 2, 2000}}) {
        SCOPED_TRACE(row.second - m_t0);
        ASSERT_EQ(m_source->Seek(row.second), EFrameResult::kOk) << m_source->ErrorText();
        SourceFrame f;
        // The IFV reader puts a segment's records before its picture.
        do {
            ASSERT_EQ(m_source->Read(f), EFrameResult::kOk);
        } while (f.kind != EFrameKind::kVideo);
        EXPECT_TRUE(f.key);
        EXPECT_EQ(f.ms, int64_t(row.keyMs));
    }
    ASSERT_EQ(m_source->Seek(m_t0 + 4), EFrameResult::kOk);
    SourceFrame f;
    while (m_source->Read(f) == EFrameResult::kOk && !(f.kind == EFrameKind::kVideo && f.key)) {
    }
    ExpectPlanFrom(PlanIndex(4000) + 1, true);
}

TEST_P(FrameSourceTest, TheLastSecondEndsTheRecording)
{
    ASSERT_EQ(m_source->Seek(m_t0 + 6), EFrameResult::kOk);
    m_source->SetLastSecond(m_t0 + 7);
    SourceFrame f;
    uint64_t last = 0;
    EFrameResult rc;
    while ((rc = m_source->Read(f)) == EFrameResult::kOk) last = f.wallMs;
    EXPECT_EQ(rc, EFrameResult::kEnd);
    EXPECT_EQ(last, uint64_t(m_t0) * 1000 + 7960) << "the last picture of second 7";
    EXPECT_EQ(m_source->Read(f), EFrameResult::kEnd);
    // A seek starts reading again.
    ASSERT_EQ(m_source->Seek(m_t0 + 6), EFrameResult::kOk);
    EXPECT_EQ(m_source->Read(f), EFrameResult::kOk);
}

TEST_P(FrameSourceTest, FailuresCarryACodeAndAReason)
{
    EXPECT_EQ(m_source->Seek(m_t0 + 100), EFrameResult::kSeekFailed);
    EXPECT_NE(m_source->ErrorText(), "");

    auto other = OpenAs(GetParam(), m_written, 2);
    EXPECT_EQ(other->OpenResult(), EFrameResult::kNoChannel);
    EXPECT_NE(other->ErrorText().find('2'), std::string::npos) << other->ErrorText();
    SourceFrame f;
    EXPECT_EQ(other->Read(f), EFrameResult::kNoChannel) << "an unopened source hands out nothing";

    const auto junk = m_dir.Path() / "junk";
    std::filesystem::create_directories(junk);
    Written bad{junk / m_written.path.filename(), {}};
    std::ofstream(bad.path) << "not a recording";
    bad.files = {bad.path};
    auto none = OpenAs(GetParam(), bad, 0);
    EXPECT_EQ(none->OpenResult(), EFrameResult::kOpenFailed);
    EXPECT_NE(none->ErrorText(), "");
    EXPECT_EQ(none->Seek(m_t0), EFrameResult::kOpenFailed);
}

TEST_P(FrameSourceTest, FiltersHandOutOneKindOfFrame)
{
    struct Row {
        EFrameFilter filter;
        std::function<bool(const PlanFrame&)> wanted;
    };
    const Row rows[] = {
        {EFrameFilter::kVideo, [](const PlanFrame& p) { return p.kind == EFrameKind::kVideo; }},
        {EFrameFilter::kAudio, [](const PlanFrame& p) { return p.kind == EFrameKind::kAudio; }},
        {EFrameFilter::kKeyFrames, [](const PlanFrame& p) { return p.key; }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.filter));
        auto source = OpenAs(GetParam(), m_written, 0);
        source->SetFilter(row.filter);
        std::vector<uint32_t> got, want;
        for (const PlanFrame& p : Plan())
            if (row.wanted(p) && Holds(GetParam(), p)) want.push_back(p.ms);
        SourceFrame f;
        while (source->Read(f) == EFrameResult::kOk) got.push_back(uint32_t(f.ms));
        EXPECT_EQ(got, want);
    }
    // Stepping back is for the readers that can.
    m_source->SetFilter(EFrameFilter::kKeyFramesBackward);
    SourceFrame f;
    EXPECT_EQ(m_source->Read(f), EFrameResult::kReadFailed);
    EXPECT_NE(m_source->ErrorText(), "");
}

// Damage part-way through: the file cut short at 60 % of its size. The
// container kinds have a fixed size and skip a bad block instead; their own
// tests cover that.
TEST_P(FrameSourceTest, DamageEndsTheReadingAndStaysReported)
{
    if (GetParam() == Kind::kContainer || GetParam() == Kind::kSpan) GTEST_SKIP() << "fixed-size files";
    const auto size = std::filesystem::file_size(m_written.path);
    m_source.reset();
    std::filesystem::resize_file(m_written.path, size * 6 / 10);
    auto cut = OpenAs(GetParam(), m_written, 0);
    if (m_media) {
        // The MP4 writer puts the sample index at the end: a cut file has
        // none, and nothing is handed out as if it were the recording.
        EXPECT_EQ(cut->OpenResult(), EFrameResult::kOpenFailed);
        EXPECT_NE(cut->ErrorText(), "");
        SourceFrame f;
        EXPECT_EQ(cut->Read(f), EFrameResult::kOpenFailed);
        return;
    }
    ASSERT_EQ(cut->OpenResult(), EFrameResult::kOk) << cut->ErrorText();
    SourceFrame f;
    EFrameResult rc;
    size_t read = 0;
    while ((rc = cut->Read(f)) == EFrameResult::kOk) ++read;
    EXPECT_EQ(rc, EFrameResult::kReadFailed);
    EXPECT_GT(read, 0u);
    EXPECT_LT(read, Plan().size());
    EXPECT_EQ(cut->FramesRead(), read);
    EXPECT_NE(cut->ErrorText(), "");
    EXPECT_EQ(cut->Read(f), EFrameResult::kReadFailed) << "no frames after damage as if nothing happened";
}

std::string KindName(const testing::TestParamInfo<Kind>& info)
{
    static const char* const kNames[] = {"Container", "PartitionSpan", "Backup", "Ifv", "MediaFile"};
    return kNames[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(EveryKind, FrameSourceTest,
                         testing::Values(Kind::kContainer, Kind::kSpan, Kind::kBackup, Kind::kIfv, Kind::kMedia),
                         KindName);

}  // namespace
}  // namespace velmor
