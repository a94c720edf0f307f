// Cutting a span out of a recording: IFV to IFV frame for frame, GPS lines
// and tracks from its position records, RKRec to RKRec frame for frame, and
// the request and source failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <tuple>

#include "player/export/ClipCutter.h"
#include "player/export/ExportNames.h"
#include "player/export/GpsExport.h"
#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
#include "store/include/rkstore.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace velmor {
namespace {

using fixtures::CTempDir;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kSourceBegin = kT10 - 60;

using Ifv = IfvFilePtr;

// Three minutes from 09:59:00: 25 frames a second with a key frame each
// `keyEvery` seconds, a G.711 frame every 40 ms and a position record each second.
std::filesystem::path WriteIfvSource(const std::filesystem::path& dir, const std::string& name = "ch01_20251208_095900_N_1",
                                     uint32_t keyEvery = 1)
{
    const auto path = dir / (name + ".ifv");
    Ifv w(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE));
    EXPECT_TRUE(w);
    EXPECT_EQ(RK_FileSetVideoParam(w.get(), 352, 288, 25.0f, 0), 0);
    EXPECT_EQ(RK_FileSetAudioParam(w.get(), 1, 16, 8000, 11, 320, 40), 0);
    EXPECT_EQ(RK_FileEnableAttach(w.get()), 0);
    EXPECT_EQ(RK_FileSetStartTime(w.get(), kSourceBegin), 0);
    std::vector<uint8_t> payload(600);
    for (uint32_t s = 0; s < 180; ++s) {
        StAttachInfo_t info{};
        info.time.set(kSourceBegin + s);
        info.status = 1;
        info.latitude.set(22331234 + int32_t(s));
        info.longitude.set(114302500 + int32_t(s));
        info.speed.set(40);
        EXPECT_EQ(RK_FileWriteAttachFrame(w.get(), reinterpret_cast<const uint8_t*>(&info), 75, s * 1000, nullptr), 75);
        for (uint32_t f = 0; f < 25; ++f) {
            const uint32_t ts = s * 1000 + f * 40;
            fixtures::FillPayload(ts, payload.data(), 200 + f);
            EXPECT_GT(RK_FileWriteVideoFrame(w.get(), payload.data(), 200 + f, ts, f == 0 && s % keyEvery == 0 ? 5 : 1, uint64_t(ts) * 1000, nullptr), 0);
            fixtures::FillPayload(ts + 7, payload.data(), 320);
            EXPECT_EQ(RK_FileWriteAudioFrame(w.get(), payload.data(), 320, ts, nullptr), 320);
        }
    }
    EXPECT_EQ(RK_CloseFile2(w.release()), 0);
    return path;
}

struct Frame {
    uint8_t kind;
    uint64_t wall_ms;
    uint8_t key;
    uint32_t crc;
    bool operator==(const Frame&) const = default;
};

// The frames of `path` in time order with wall-clock times, from a seek to
// `from` (0: the beginning) until a frame's second passes `to`.
std::vector<Frame> Frames(const std::filesystem::path& path, uint32_t from = 0, uint32_t to = UINT32_MAX)
{
    Ifv h(RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ));
    EXPECT_TRUE(h);
    if (!h) return {};
    const uint32_t begin = RK_FileGetStartTime(h.get());
    if (from) {
        EXPECT_EQ(RK_FileSeekToSysTime(h.get(), from), 1);
    }
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    std::vector<Frame> out;
    uint32_t ts, duration;
    uint64_t pts;
    uint8_t key, kind;
    int n;
    while ((n = RK_FileReadOneMediaFrame2(h.get(), buf.data(), &ts, &pts, &duration, &key, &kind)) > 0) {
        if (begin + ts / 1000 > to) {
            break;
        }
        out.push_back({kind, uint64_t(begin) * 1000 + ts, key, fixtures::Crc32(buf.data(), size_t(n))});
    }
    return out;
}

TEST(CutIfv, TheSpanReadsBackFrameForFrameUnderTheRecorderName)
{
    CTempDir dir;
    const auto source = WriteIfvSource(dir.Path());
    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 59;
    request.folder = dir / "out";
    std::vector<int> progress;
    CClipCutter cutter(request, [&](int p) { progress.push_back(p); });
    const auto result = cutter.CutIfvRecordFile(source);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0], dir / "out" / "2025-12-08" / "ch01_100000_100059_N_1.ifv");

    // The source's frames of the span, whatever order each file's segments
    // hand them out in: the seek lands on the segment's first records,
    // which lie before the span and stay out of the clip.
    auto byTime = [](std::vector<Frame> v) {
        std::sort(v.begin(), v.end(), [](const Frame& a, const Frame& b) {
            return std::tie(a.wall_ms, a.kind, a.crc) < std::tie(b.wall_ms, b.kind, b.crc);
        });
        return v;
    };
    std::vector<Frame> expected;
    for (const Frame& f : Frames(source, kT10, kT10 + 59))
        if (f.wall_ms >= uint64_t(kT10) * 1000) expected.push_back(f);
    const auto got = Frames(result.files[0]);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(byTime(got), byTime(expected));
    EXPECT_EQ(got.front().wall_ms, uint64_t(kT10) * 1000);
    EXPECT_EQ(result.frames.video, size_t(std::count_if(got.begin(), got.end(), [](auto& f) { return f.kind == 0; })));
    EXPECT_GE(result.frames.video, 60u * 25);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));

    Ifv cut(RK_OpenFile2(result.files[0].c_str(), 0, RK_FILE_MODE_READ));
    EXPECT_EQ(RK_FileGetWidth(cut.get()), 352);
    EXPECT_EQ(RK_FileGetSampleRate(cut.get()), 8000);

    // The same cut again gets a numbered name; the first is untouched.
    const auto again = CClipCutter(request).CutIfvRecordFile(source);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.files[0].filename(), "ch01_100000_100059_N_1_2.ifv");
}

TEST(CutIfv, NothingFromBeforeTheSpanButThePicturesItsFirstPictureNeeds)
{
    struct Case {
        uint32_t keyEvery;
        uint32_t start;
        uint32_t keySecond;  // the clip's first picture, a key frame
        uint32_t clipStart;  // the second the clip begins at
    };
    // The reader lands on the first key frame at most 1.6 s before the
    // start: at 10:00:10 (second 70 of the source) itself; with a key frame
    // every fourth second the one of 10:00:12 (10:00:08 is too early), but
    // for a start at 10:00:09 the one of 10:00:08, whose pictures up to
    // the start come along so that the span's first picture decodes.
    for (const Case c : {Case{1, kT10 + 10, kT10 + 10, kT10 + 10}, Case{4, kT10 + 10, kT10 + 12, kT10 + 10},
                         Case{4, kT10 + 9, kT10 + 8, kT10 + 8}}) {
        SCOPED_TRACE(c.start - kT10 + c.keyEvery * 100);
        CTempDir dir;
        const auto source = WriteIfvSource(dir.Path(), "ch01_20251208_095900_N_1", c.keyEvery);
        CutRequest request;
        request.start = c.start;
        request.end = kT10 + 20;
        request.folder = dir / "out";
        const auto result = CClipCutter(request).CutIfvRecordFile(source);
        ASSERT_TRUE(result.ok) << result.error;
        const auto got = Frames(result.files[0]);
        ASSERT_FALSE(got.empty());
        Ifv cut(RK_OpenFile2(result.files[0].c_str(), 0, RK_FILE_MODE_READ));
        EXPECT_EQ(RK_FileGetStartTime(cut.get()), c.clipStart);
        size_t leadPictures = 0, records = 0;
        for (const Frame& f : got) {
            if (f.kind == RK_FILE_MEDIA_VIDEO && f.wall_ms < uint64_t(request.start) * 1000) ++leadPictures;
            if (f.kind != RK_FILE_MEDIA_VIDEO) {
                EXPECT_GE(f.wall_ms, uint64_t(request.start) * 1000) << int(f.kind);
            }
            if (f.kind == RK_FILE_MEDIA_ATTACH) ++records;
        }
        const Frame* firstPicture = nullptr;
        for (const Frame& f : got) {
            if (!firstPicture && f.kind == RK_FILE_MEDIA_VIDEO) firstPicture = &f;
        }
        ASSERT_NE(firstPicture, nullptr);
        EXPECT_EQ(firstPicture->wall_ms, uint64_t(c.keySecond) * 1000);
        EXPECT_NE(firstPicture->key, 0);
        EXPECT_EQ(leadPictures, c.keySecond < c.start ? size_t(c.start - c.keySecond) * 25 : 0u);
        EXPECT_EQ(records, kT10 + 21 - c.start) << "one a second, from the start to 10:00:20";
        EXPECT_EQ(result.frames.info, records);
    }
}

TEST(CutIfv, RequestSourceAndNameFailuresWriteNothing)
{
    CTempDir dir;
    const auto source = WriteIfvSource(dir.Path());
    CutRequest request;
    request.start = kT10 + 10;
    request.end = kT10 + 10;
    request.folder = dir / "out";
    EXPECT_EQ(CClipCutter(request).CutIfvRecordFile(source).error, "Cut_Time_Error");
    request.end = kT10 + 20;
    EXPECT_EQ(CClipCutter(request).CutIfvRecordFile(dir / "none.ifv").error,
              "OpenFile:" + (dir / "none.ifv").string() + " Fail");
    const auto four = WriteIfvSource(dir.Path(), "ch01_20251208_095900_N");
    EXPECT_EQ(CClipCutter(request).CutIfvRecordFile(four).error, kIfvNameError);
    request.start = kT10 + 3600;
    request.end = kT10 + 3700;
    EXPECT_EQ(CClipCutter(request).CutIfvRecordFile(source).error, "Cut_CHN_Error") << "no data in the span";
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "2025-12-08")) << "nothing was made";
}

TEST(CutIfv, AStopEndsTheCutAtTheNextFrameAndKeepsWhatWasWritten)
{
    CTempDir dir;
    const auto source = WriteIfvSource(dir.Path());
    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 100;
    request.folder = dir / "out";
    std::atomic<int> asked{0};
    CClipCutter cutter(request, {}, [&] { return ++asked > 300; });
    const auto result = cutter.CutIfvRecordFile(source);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.stopped);
    ASSERT_EQ(result.files.size(), 1u);
    // One stop check before every frame read: the 301st stopped the cut,
    // which kept what it had written of the first 300 (the segment's records
    // from before the span are read, not written).
    EXPECT_EQ(asked.load(), 301);
    auto read = Frames(source, kT10);
    read.resize(300);
    const auto inSpan = std::count_if(read.begin(), read.end(), [](const Frame& f) { return f.wall_ms >= uint64_t(kT10) * 1000; });
    EXPECT_LT(inSpan, 300);
    EXPECT_EQ(Frames(result.files[0]).size(), size_t(inSpan));
}

TEST(CutGps, LinesAndTrackOfTheSpan)
{
    CTempDir dir;
    const auto source = WriteIfvSource(dir.Path());
    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 9;
    request.format = 3;
    request.type = 2;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).SaveIfvFileGpsInfo(source, 1, true, true, "H\r\n");
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0], dir / "out" / "2025-12-08" / "ch01_100000_100009_N_1.gps");
    EXPECT_EQ(result.files[1], dir / "out" / "2025-12-08" / "ch01_100000_100009_N_1.gpx");
    std::ifstream in(result.files[0], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    StAttachInfo_t first{};
    first.time.set(kT10);
    first.status = 1;
    first.latitude.set(22331234 + 60);
    first.longitude.set(114302500 + 60);
    first.speed.set(40);
    EXPECT_EQ(text.substr(0, 3 + FormatGpsLine(1, first).size()), "H\r\n" + FormatGpsLine(1, first));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11) << "the header and one line for each of ten seconds";
    std::ifstream gpx(result.files[1]);
    const std::string track((std::istreambuf_iterator<char>(gpx)), std::istreambuf_iterator<char>());
    size_t points = 0;
    for (size_t at = track.find("<trkpt"); at != std::string::npos; at = track.find("<trkpt", at + 1)) ++points;
    EXPECT_EQ(points, 10u);
    EXPECT_EQ(result.frames.info, 10u);
}

constexpr uint32_t kBackupFrames = 200 * 25;
constexpr uint32_t kBackupSeconds = 200;

// A backup record file of 200 seconds in 4 MiB blocks, filled so that
// frames (and frame heads) are split across blocks and later blocks lend:
// 25 pictures a second, an I frame every `gop` of them, and with `sound`
// an audio frame 20 ms after each picture and an information frame after
// the first picture of each second.
std::filesystem::path WriteBackupSource(const std::filesystem::path& dir, uint32_t gop = 25, bool sound = false)
{
    fixtures::CBackupFileImage image(0x400000);
    fixtures::RecordingParams params;
    params.channel = 2;
    params.encode = {0, 0, 1, sound ? uint8_t(1) : uint8_t(0), 25};
    fixtures::CRecordWriter writer(image, params);
    std::vector<uint8_t> payload(6000);
    for (uint32_t i = 0; i < kBackupFrames; ++i) {
        const uint64_t pts = uint64_t(kT10) * 1000000 + uint64_t(i) * 40000;
        const uint32_t length = 5000 + i % 997;
        fixtures::FillPayload(i, payload.data(), length);
        writer.WriteFrame(i % gop == 0 ? rkfs::kFrameI : rkfs::kFrameP, pts, payload.data(), length);
        if (!sound) continue;
        if (i % 25 == 0) {
            fixtures::FillPayload(i + 500000, payload.data(), 75);
            writer.WriteFrame(rkfs::kFrameInfo, pts, payload.data(), 75);
        }
        fixtures::FillPayload(i + 900000, payload.data(), 320);
        writer.WriteFrame(rkfs::kFrameAudio, pts + 20000, payload.data(), 320);
    }
    writer.Close();
    const auto path = dir / "backup.rkrec";
    image.Save(path);
    return path;
}

struct BakFrame {
    uint8_t type;
    uint64_t pts;
    uint32_t length;
    uint32_t crc;
    bool operator==(const BakFrame&) const = default;
};

// The frames of a backup record file through its reader; `n` of them after
// a seek to second `seek` when one is given.
std::vector<BakFrame> BackupFrames(const std::filesystem::path& path, std::optional<uint32_t> seek = {},
                                   size_t n = SIZE_MAX)
{
    StRecBakFileOp_t op{};
    EXPECT_EQ(RKSFS_OpenBakRecFile(&op, path.c_str()), 0);
    if (seek) {
        EXPECT_EQ(RKSFS_SeekBakRecTime(&op, *seek), 0) << "second " << *seek;
    }
    std::vector<uint8_t> buf(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    std::vector<BakFrame> out;
    int len;
    while (out.size() < n && (len = RKSFS_ReadBakRecFrame(&op, buf.data(), buf.size(), &head)) > 0)
        out.push_back({head.type, head.pts, head.length, fixtures::Crc32(buf.data(), size_t(len))});
    RKSFS_CloseBakRecFile(&op);
    return out;
}

uint32_t SecondOf(const BakFrame& f) { return uint32_t(f.pts / 1000000); }

// Every output of an IFV recording takes its name from the recording's name;
// a name of neither known form fails every format before anything is made.
struct IfvNameCase {
    const char* stem;
    int format;         // ECutFormat; kGps with `gpx` for the track
    bool gpx;
    const char* file;   // nullptr: the export fails
};

class IfvExportNames : public ::testing::TestWithParam<IfvNameCase> {};

TEST_P(IfvExportNames, NamedFromTheSourceOrRefused)
{
    const IfvNameCase c = GetParam();
    CTempDir dir;
    const auto source = WriteIfvSource(dir.Path(), c.stem);
    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 5;
    request.format = c.format;
    request.type = 2;
    request.channelMask = 1u << 2;
    request.folder = dir / "out";
    CClipCutter cutter(request);
    CutResult result;
    if (c.format == int(ECutFormat::kIfv))
        result = cutter.CutIfvRecordFile(source);
    else if (c.format == int(ECutFormat::kGps))
        result = cutter.SaveIfvFileGpsInfo(source, 3, !c.gpx, c.gpx, "H\r\n");
    else
        result = cutter.CutIfvRecordToMp4(source, 3);
    if (!c.file) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, kIfvNameError);
        EXPECT_TRUE(result.files.empty());
        EXPECT_FALSE(std::filesystem::exists(dir / "out")) << "nothing may be made";
        return;
    }
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0], dir / "out" / "2025-12-08" / c.file);
}

INSTANTIATE_TEST_SUITE_P(
    EveryFormat, IfvExportNames,
    ::testing::Values(IfvNameCase{"ch01_20251208_095900_N", 0, false, nullptr},
                      IfvNameCase{"ch01_20251208_095900_N", 1, false, nullptr},
                      IfvNameCase{"ch01_20251208_095900_N", 2, false, nullptr},
                      IfvNameCase{"ch01_20251208_095900_N", 3, false, nullptr},
                      IfvNameCase{"ch01_20251208_095900_N", 3, true, nullptr},
                      IfvNameCase{"a_b_c_d_e_f_g", 1, false, nullptr},
                      IfvNameCase{"recording", 3, false, nullptr},
                      IfvNameCase{"ch01_20251208_095900_N_1", 0, false, "ch01_100000_100005_N_1.ifv"},
                      IfvNameCase{"ch01_20251208_095900_N_1", 3, false, "ch01_100000_100005_N_1.gps"},
                      IfvNameCase{"ch01_20251208_095900_N_1", 3, true, "ch01_100000_100005_N_1.gpx"},
                      IfvNameCase{"x_20251208_095900_20251208_100200_ch03", 0, false, "AV3_100000_100005_T2C0_100000.ifv"},
                      IfvNameCase{"x_20251208_095900_20251208_100200_ch03", 3, false, "AV3_100000_100005_T2C0_100000.gps"}));

// What the heads of a backup record file say, read through its reader.
struct BackupHeads {
    StRecFileInfo_t info{};
    uint32_t blocks = 0;
    uint32_t indexedIFrames = 0;
    std::vector<std::pair<uint32_t, uint32_t>> times;  // each block's first and last second
    std::vector<uint64_t> offsets;                     // each block's head area in the file
};

BackupHeads ReadBackupHeads(const std::filesystem::path& path)
{
    BackupHeads out;
    StRecBakFileOp_t op{};
    EXPECT_EQ(RKSFS_OpenBakRecFile(&op, path.c_str()), 0);
    out.info = op.recFI;
    out.blocks = op.dataBlkCnt;
    uint64_t at = 0;
    for (uint32_t b = 0; b < op.dataBlkCnt; ++b) {
        const auto area = rkfs::LoadStruct<rkfs::StRecHeadArea_t>(op.heads + size_t(b) * rkfs::kHeadAreaSize);
        const auto& rd = area.head.recData;
        out.indexedIFrames += area.neck.ifrIdxCnt.get();
        out.times.emplace_back(rd.beginTime.get(), rd.beginTime.get() + rd.duration.get() - 1);
        out.offsets.push_back(at);
        at += rd.useSize.get() - (b == 0 ? rd.lend.get() : 0);
    }
    RKSFS_CloseBakRecFile(&op);
    return out;
}

// The source's frames a cut of [from, to] must hold, picked out of the whole
// recording: from the last I frame at or before the span's first instant
// (the first frame when the span begins before the recording) through the
// last frame of second `to`.
std::vector<BakFrame> ExpectedCut(const std::vector<BakFrame>& all, uint32_t from, uint32_t to)
{
    size_t first = 0, last = 0;
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].type == rkfs::kFrameI && all[i].pts <= uint64_t(from) * 1000000) first = i;
        if (SecondOf(all[i]) <= to) last = i + 1;
    }
    return {all.begin() + long(first), all.begin() + long(last)};
}

struct RkRecSpanCase {
    const char* name;
    uint32_t gop;
    bool sound;
    int from, to;           // seconds after 10:00:00
    uint32_t sourceBlocks;  // blocks of the source the span touches
};

void PrintTo(const RkRecSpanCase& c, std::ostream* os) { *os << c.name; }

class CutRKRecSpans : public ::testing::TestWithParam<RkRecSpanCase> {};

TEST_P(CutRKRecSpans, OnlyTheFramesFromTheKeyFrameBeforeTheStartThroughTheEndSecond)
{
    const RkRecSpanCase c = GetParam();
    CTempDir dir;
    const auto source = WriteBackupSource(dir.Path(), c.gop, c.sound);
    const auto all = BackupFrames(source);
    ASSERT_EQ(std::count_if(all.begin(), all.end(), [](const BakFrame& f) { return rkfs::IsVideoType(f.type); }),
              long(kBackupFrames));
    const uint32_t from = uint32_t(int64_t(kT10) + c.from), to = uint32_t(int64_t(kT10) + c.to);
    const auto sourceHeads = ReadBackupHeads(source);
    const auto touched = std::count_if(sourceHeads.times.begin(), sourceHeads.times.end(),
                                       [&](const auto& t) { return t.first <= to && t.second >= from; });
    ASSERT_EQ(uint32_t(touched), c.sourceBlocks) << "the span is not where the case means it to be";

    CutRequest request;
    request.start = from;
    request.end = to;
    request.format = 4;
    request.type = 1;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).CutRKRecRecordFile(source, 3);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    const auto& cutPath = result.files[0];
    EXPECT_EQ(cutPath.extension(), ".rkrec");

    const auto expected = ExpectedCut(all, from, to);
    ASSERT_FALSE(expected.empty());
    const auto cut = BackupFrames(cutPath);
    EXPECT_EQ(cut.size(), expected.size());
    EXPECT_TRUE(cut == expected) << "the cut is not the source's run of frames";
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut.front().type, rkfs::kFrameI);
    if (c.from < 0)
        EXPECT_EQ(cut.front(), all.front());
    else
        EXPECT_LE(cut.front().pts, uint64_t(from) * 1000000);
    EXPECT_TRUE(std::all_of(cut.begin(), cut.end(), [&](const BakFrame& f) { return SecondOf(f) <= to; }));
    const auto audio = std::count_if(cut.begin(), cut.end(), [](const BakFrame& f) { return f.type == rkfs::kFrameAudio; });
    const auto info = std::count_if(cut.begin(), cut.end(), [](const BakFrame& f) { return f.type == rkfs::kFrameInfo; });
    EXPECT_EQ(result.frames.audio, uint64_t(audio));
    EXPECT_EQ(result.frames.info, uint64_t(info));
    EXPECT_EQ(result.frames.video, cut.size() - uint64_t(audio + info));
    if (c.sound) {
        EXPECT_GT(audio, 0);
        EXPECT_GT(info, 0);
    }

    // The heads describe exactly these frames.
    const auto heads = ReadBackupHeads(cutPath);
    uint64_t bytes = 0, iFrames = 0, lastVideo = 0;
    for (const BakFrame& f : cut) {
        bytes += 16 + f.length;
        if (f.type == rkfs::kFrameI) ++iFrames;
        if (rkfs::IsVideoType(f.type)) lastVideo = SecondOf(f);
    }
    EXPECT_EQ(std::filesystem::file_size(cutPath), uint64_t(heads.blocks) * rkfs::kHeadAreaSize + bytes);
    EXPECT_EQ(heads.info.size, std::filesystem::file_size(cutPath));
    EXPECT_EQ(heads.info.continued, 0) << "the cut begins with a whole frame of its own";
    EXPECT_EQ(heads.info.beginTime, SecondOf(cut.front()));
    EXPECT_EQ(heads.info.endTime, lastVideo);
    EXPECT_EQ(heads.indexedIFrames, iFrames);
    EXPECT_EQ(heads.info.channel, 2);

    // A second inside the span is found through the cut's own index: the
    // first I frame of that second, or the last one before it.
    const uint32_t inside = (std::max(from, SecondOf(cut.front())) + std::min(to, kT10 + kBackupSeconds - 1)) / 2;
    size_t k = 0;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].type != rkfs::kFrameI || SecondOf(expected[i]) > inside) continue;
        if (SecondOf(expected[i]) == inside) {
            k = i;
            break;
        }
        k = i;
    }
    const auto afterSeek = BackupFrames(cutPath, inside, 30);
    ASSERT_EQ(afterSeek.size(), std::min<size_t>(30, expected.size() - k));
    EXPECT_TRUE(std::equal(afterSeek.begin(), afterSeek.end(), expected.begin() + long(k)));
}

INSTANTIATE_TEST_SUITE_P(
    CutRKRec, CutRKRecSpans,
    ::testing::Values(RkRecSpanCase{"InsideOneBlock", 25, false, 5, 12, 1},
                      RkRecSpanCase{"CrossingABlockBoundary", 25, false, 25, 40, 2},
                      RkRecSpanCase{"OverSeveralBlocks", 25, false, 61, 130, 4},
                      RkRecSpanCase{"StartingExactlyOnAnIFrame", 60, false, 12, 20, 1},
                      RkRecSpanCase{"StartingBetweenIFrames", 60, false, 13, 21, 1},
                      RkRecSpanCase{"WithSoundAndRecords", 60, true, 50, 75, 2},
                      RkRecSpanCase{"BeginningBeforeTheFile", 25, false, -5, 3, 1},
                      RkRecSpanCase{"AtTheFilesEnd", 25, false, 190, 260, 1},
                      RkRecSpanCase{"EndingOnTheLastSecond", 25, false, 185, 199, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CutRKRec, FirstSecondsAndFailures)
{
    CTempDir dir;
    const auto source = WriteBackupSource(dir.Path());
    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 2;
    request.type = 1;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).CutRKRecRecordFile(source, 3);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0], dir / "out" / "2025-12-08" / "AV3_100000_100002_T1C0_100000.rkrec");
    const auto all = BackupFrames(source), cut = BackupFrames(result.files[0]);
    ASSERT_EQ(cut.size(), 3u * 25) << "three seconds from the file's first frame";
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), all.begin()));

    request.start = kT10 + 400;
    request.end = kT10 + 500;
    EXPECT_EQ(CClipCutter(request).CutRKRecRecordFile(source, 1).error, "Cut_CHN_Error");
    std::ofstream(dir / "short.rkrec") << "too short";
    EXPECT_EQ(CClipCutter(request).CutRKRecRecordFile(dir / "short.rkrec", 1).error,
              "OpenFile:" + (dir / "short.rkrec").string() + " Fail");
}

TEST(CutRKRec, AStopKeepsAWholeFileOfTheFramesWritten)
{
    CTempDir dir;
    const auto source = WriteBackupSource(dir.Path());
    CutRequest request;
    request.start = kT10 + 20;
    request.end = kT10 + 80;
    request.folder = dir / "out";
    int asked = 0;
    const auto result = CClipCutter(request, {}, [&] { return ++asked > 1000; }).CutRKRecRecordFile(source, 3);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.stopped);
    ASSERT_EQ(result.files.size(), 1u);
    const auto cut = BackupFrames(result.files[0]);
    const auto expected = ExpectedCut(BackupFrames(source), request.start, request.end);
    ASSERT_EQ(cut.size(), 1000u);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), expected.begin()));
}

// A source damaged inside the span fails the cut, which leaves nothing.
struct RkRecDamageCase {
    const char* name;
    // Where the source is cut short, from its size and its block offsets.
    uint64_t (*truncateAt)(uint64_t size, const std::vector<uint64_t>& blocks);
};

void PrintTo(const RkRecDamageCase& c, std::ostream* os) { *os << c.name; }

class CutRKRecDamage : public ::testing::TestWithParam<RkRecDamageCase> {};

TEST_P(CutRKRecDamage, FailsAndLeavesNoFile)
{
    CTempDir dir;
    const auto source = WriteBackupSource(dir.Path());
    const auto heads = ReadBackupHeads(source);
    const uint64_t at = GetParam().truncateAt(std::filesystem::file_size(source), heads.offsets);
    std::filesystem::resize_file(source, at);
    CutRequest request;
    request.start = kT10 + 100;
    request.end = kT10 + 199;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).CutRKRecRecordFile(source, 3);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.files.empty());
    EXPECT_EQ(result.error.rfind("OpenFile:" + source.string() + " Fail: ", 0), 0u) << result.error;
    size_t left = 0;
    if (std::filesystem::exists(dir / "out"))
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir / "out")) left += e.is_regular_file();
    EXPECT_EQ(left, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    CutRKRec, CutRKRecDamage,
    ::testing::Values(
        RkRecDamageCase{"InsideAFrame", [](uint64_t size, const std::vector<uint64_t>&) { return size * 4 / 5 + 7; }},
        RkRecDamageCase{"InsideTheLastHeadArea",
                        [](uint64_t, const std::vector<uint64_t>& blocks) { return blocks.back() + 100; }},
        RkRecDamageCase{"AFewBytesShort", [](uint64_t size, const std::vector<uint64_t>&) { return size - 3; }}),
    [](const auto& info) { return std::string(info.param.name); });

// Frames and size of the video stream of a file, read back with libavformat.
struct Mp4Video {
    int frames = 0;
    int width = 0, height = 0;
    AVCodecID codec = AV_CODEC_ID_NONE;
};
Mp4Video ReadMp4Video(const std::filesystem::path& path)
{
    Mp4Video v;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return v;
    avformat_find_stream_info(fmt, nullptr);
    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video >= 0) {
        v.width = fmt->streams[video]->codecpar->width;
        v.height = fmt->streams[video]->codecpar->height;
        v.codec = fmt->streams[video]->codecpar->codec_id;
        AVPacket* pkt = av_packet_alloc();
        while (av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == video) ++v.frames;
            av_packet_unref(pkt);
        }
        av_packet_free(&pkt);
    }
    avformat_close_input(&fmt);
    return v;
}

TEST(CutMp4, IfvSpanFromItsFirstKeyFrameUnderTheClipName)
{
    CTempDir dir;
    fixtures::VideoSpec recipe;
    recipe.width = 96;
    recipe.height = 64;
    recipe.frames = 200;  // eight seconds, a key frame every two
    recipe.gop = 50;
    recipe.lossless = false;
    const auto video = fixtures::EncodeVideo(recipe);
    const auto source = dir / "ch01_20251208_100000_N_1.ifv";
    {
        Ifv w(RK_OpenFile2(source.c_str(), 0, RK_FILE_MODE_WRITE));
        ASSERT_TRUE(w);
        ASSERT_EQ(RK_FileSetVideoParam(w.get(), 96, 64, 25.0f, 0), 0);
        ASSERT_EQ(RK_FileSetStartTime(w.get(), kT10), 0);
        for (size_t i = 0; i < video.units.size(); ++i)
            ASSERT_GT(RK_FileWriteVideoFrame(w.get(), video.units[i].data.data(), uint32_t(video.units[i].data.size()),
                                             uint32_t(i) * 40, video.units[i].key ? 5 : 1, 0, nullptr),
                      0);
        ASSERT_EQ(RK_CloseFile2(w.release()), 0);
    }
    CutRequest request;
    request.start = kT10 + 3;
    request.end = kT10 + 5;
    request.format = 1;
    request.type = 1;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).CutIfvRecordToMp4(source, 1);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0], dir / "out" / "2025-12-08" / "ch01_100003_100005_N_1.mp4");
    const auto back = ReadMp4Video(result.files[0]);
    EXPECT_EQ(back.codec, AV_CODEC_ID_H264);
    EXPECT_EQ(back.width, 96);
    EXPECT_EQ(back.height, 64);
    // The seek lands on the key frame at 2 s (2 s + 1.6 s reaches 3 s); from
    // there every frame up to and including second 5: frames 50 to 149.
    EXPECT_EQ(back.frames, 100);
    EXPECT_EQ(result.frames.video, 100u);

    request.start = kT10 + 60;
    request.end = kT10 + 70;
    EXPECT_EQ(CClipCutter(request).CutIfvRecordToMp4(source, 1).error, "Cut_CHN_Error");
    EXPECT_EQ(CClipCutter(request).CutIfvRecordToMp4(dir / "none.ifv", 1).error,
              "OpenFile:" + (dir / "none.ifv").string() + " Fail");
}

// Two channels of one container file cut and combined: channel 2 begins two
// seconds into the span, so its cell stays black until then, and the
// combined video lasts the whole span.
TEST(CutCombined, ALateChannelKeepsItsTimeInTheMosaic)
{
    CTempDir dir;
    fixtures::CContainerFileImage image(dir / "fc00001.rpo", 1);
    fixtures::VideoSpec recipe;
    recipe.width = 352;
    recipe.height = 288;
    recipe.frames = 125;
    recipe.gop = 25;
    recipe.lossless = false;
    const auto video = fixtures::EncodeVideo(recipe);
    fixtures::RecordingParams params[2];
    for (int c = 0; c < 2; ++c) {
        params[c].channel = uint8_t(c);
        params[c].encode = {0, 0, 1, 0, 25};  // 352 x 288, H.264, no sound
    }
    fixtures::CRecordWriter first(image, params[0]), late(image, params[1]);
    for (size_t i = 0; i < video.units.size(); ++i) {
        const auto& u = video.units[i];
        const uint64_t pts = uint64_t(kT10) * 1000000 + i * 40000;
        ASSERT_EQ(first.WriteFrame(u.key ? 1 : 2, pts, u.data.data(), uint32_t(u.data.size())),
                  fixtures::WriteResult::kWritten);
        if (i < 50) continue;  // the second channel from +2 s
        const auto& v = video.units[i - 50];
        ASSERT_EQ(late.WriteFrame(v.key ? 1 : 2, pts, v.data.data(), uint32_t(v.data.size())),
                  fixtures::WriteResult::kWritten);
    }
    first.Close();
    late.Close();

    CutRequest request;
    request.start = kT10;
    request.end = kT10 + 4;
    request.channelMask = 0x3;
    request.combine = true;
    request.withAudio = false;
    request.folder = dir / "out";
    const auto result = CClipCutter(request).CutContainerToMp4({image.Path()});
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 3u);
    EXPECT_EQ(result.files[2].filename(), "100000_100004_T0C0_100000Combin.mp4");

    AVFormatContext* fmt = nullptr;
    ASSERT_EQ(avformat_open_input(&fmt, result.files[2].c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(fmt, nullptr), 0);
    const int v = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    ASSERT_GE(v, 0);
    const AVCodec* codec = avcodec_find_decoder(fmt->streams[v]->codecpar->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[v]->codecpar);
    ASSERT_EQ(avcodec_open2(dec, codec, nullptr), 0);
    // Mean luma of the second channel's cell (top right, 352 x 288) per picture.
    std::vector<double> lateCell;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(dec, frame) >= 0) {
            EXPECT_EQ(frame->width, 704);
            double sum = 0;
            for (int y = 0; y < 288; ++y)
                for (int x = 352; x < 704; ++x) sum += frame->data[0][size_t(y) * size_t(frame->linesize[0]) + size_t(x)];
            lateCell.push_back(sum / (352.0 * 288.0));
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == v) {
            avcodec_send_packet(dec, pkt);
            drain();
        }
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);

    ASSERT_EQ(lateCell.size(), 125u) << "five seconds of 25 pictures";
    for (int i : {0, 25, 49}) EXPECT_NEAR(lateCell[size_t(i)], 16.0, 2.0) << "picture " << i << " is before +2 s";
    for (int i : {52, 100, 124}) EXPECT_GT(lateCell[size_t(i)], 30.0) << "picture " << i << " shows the channel";
}

}  // namespace
}  // namespace velmor
