// The copy of an export with the text of its attached records burned in:
// its text boxes change exactly at the pictures whose second's record
// changes, the rest of each picture is the clean clip's within the
// encoder's tolerance, both files are in the signed report, and refusals
// and cancels leave nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "media/src/video/OsdText.h"
#include "player/export/ExportJob.h"
#include "player/export/ExportNames.h"
#include "player/export/OverlayText.h"
#include "player/export/ReportVerifier.h"
#include "player/formats/IfvFile.h"
#include "tests/support/AttachInfoWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;
using fixtures::CTempDir;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00
constexpr int kW = 352, kH = 288, kFps = 25, kSeconds = 5;

// The records of the recording: none in second 3 (second 2's text holds),
// and second 4's after its first five pictures (they wait for it).
struct RecordAt {
    uint32_t second;  // after kT10
    int afterPicture;  // written before picture second*25 + afterPicture
    int16_t speed;
    std::vector<std::string> events;
};
const std::vector<RecordAt> kRecords = {
    {0, 0, 0, {}},
    {1, 0, 37, {"SPEED"}},
    {2, 0, 38, {"SPEED", "\xBD\xF4\xBC\xB1"}},  // 紧急 in the recorder's code page
    {4, 5, 52, {}},
};

// What a picture of `second` must show: the latest record at or before it.
int RecordIndexOf(uint32_t second)
{
    int index = -1;
    for (size_t i = 0; i < kRecords.size(); ++i)
        if (kRecords[i].second <= second) index = int(i);
    return index;
}

StAttachInfo_t Record(const RecordAt& r)
{
    fixtures::AttachInfo info;
    info.time = kT10 + r.second;
    info.latitude = 22.53631;
    info.longitude = 113.9732;
    info.speed = r.speed;
    info.events = r.events;
    const auto bytes = fixtures::MakeAttachInfo(info);
    return *LoadAttachInfo(bytes.data(), bytes.size());
}

struct Decoded {
    std::vector<std::vector<uint8_t>> luma;  // kW x kH each, in display order
    std::vector<int64_t> ptsMs;
};

Decoded DecodeFile(const fs::path& path)
{
    Decoded out;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) return out;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> fmt(raw, [](AVFormatContext* f) {
        avformat_close_input(&f);
    });
    if (avformat_find_stream_info(raw, nullptr) < 0) return out;
    const int vi = av_find_best_stream(raw, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vi < 0) return out;
    const AVStream* st = raw->streams[vi];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> dec(avcodec_alloc_context3(codec),
                                                                  [](AVCodecContext* c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(dec.get(), st->codecpar);
    dec->thread_count = 1;
    if (avcodec_open2(dec.get(), codec, nullptr) < 0) return out;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(dec.get(), frame) >= 0) {
            std::vector<uint8_t> y(size_t(kW) * kH);
            for (int row = 0; row < kH && frame->width == kW && frame->height == kH; ++row)
                std::copy_n(frame->data[0] + ptrdiff_t(row) * frame->linesize[0], kW, y.data() + size_t(row) * kW);
            out.luma.push_back(std::move(y));
            out.ptsMs.push_back(av_rescale_q(frame->best_effort_timestamp, st->time_base, AVRational{1, 1000}));
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(raw, pkt) >= 0) {
        if (pkt->stream_index == vi) avcodec_send_packet(dec.get(), pkt);
        av_packet_unref(pkt);
        drain();
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return out;
}

// The boxes of a text as the windows lay it out on a kW x kH picture.
std::vector<rkmedia::Rect> Boxes(const std::string& text)
{
    std::vector<rkmedia::Rect> boxes;
    const rkmedia::COsdFont font;
    for (const auto& line : font.Layout(text, kW, kH)) boxes.push_back(line.box);
    return boxes;
}

bool Inside(const std::vector<rkmedia::Rect>& boxes, int x, int y, int margin)
{
    for (const auto& b : boxes)
        if (x >= b.x - margin && x < b.x + b.w + margin && y >= b.y - margin && y < b.y + b.h + margin) return true;
    return false;
}

struct Case {
    const char* name;
    fixtures::VideoCodec codec;
    EExportFormat format;
    const char* extension;
};

class OverlayExportTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        m_dir = std::make_unique<CTempDir>("overlay-export");
        ::setenv("VELMOR_PROFILE_DIR", (m_dir->Path() / "profile").c_str(), 1);
        fixtures::VideoSpec recipe;
        recipe.codec = GetParam().codec;
        recipe.width = kW;
        recipe.height = kH;
        recipe.frames = kFps * kSeconds;
        recipe.gop = kFps;
        recipe.lossless = false;
        recipe.crf = 23;
        const auto video = fixtures::EncodeVideo(recipe);
        m_source = m_dir->Path() / "ch01_20251208_100000_N_1.ifv";
        FILEHANDLE* w = RK_OpenFile2(m_source.c_str(), 0, RK_FILE_MODE_WRITE);
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(RK_FileSetVideoParam(w, kW, kH, float(kFps), recipe.codec == fixtures::VideoCodec::kH265), 0);
        ASSERT_EQ(RK_FileSetAudioParam(w, 1, 16, 8000, 11, 320, 40), 0);
        ASSERT_EQ(RK_FileEnableAttach(w), 0);
        ASSERT_EQ(RK_FileSetStartTime(w, kT10), 0);
        const std::vector<uint8_t> sound(320, 0xD5);
        for (size_t i = 0; i < video.units.size(); ++i) {
            const uint32_t ms = uint32_t(i) * 40;
            for (const RecordAt& r : kRecords)
                if (r.second * kFps + r.afterPicture == i) {
                    const StAttachInfo_t record = Record(r);
                    ASSERT_EQ(RK_FileWriteAttachFrame(w, reinterpret_cast<const uint8_t*>(&record), 75, ms, nullptr),
                              75);
                }
            ASSERT_GT(RK_FileWriteVideoFrame(w, video.units[i].data.data(), uint32_t(video.units[i].data.size()), ms,
                                             video.units[i].key ? 5 : 1, 0, nullptr),
                      0);
            ASSERT_EQ(RK_FileWriteAudioFrame(w, sound.data(), 320, ms, nullptr), 320);
        }
        ASSERT_EQ(RK_CloseFile2(w), 0);
    }

    ExportJobRequest Request() const
    {
        ExportJobRequest r;
        r.source = m_source;
        r.kind = ESourceKind::kIfvFile;
        r.start = kT10;
        r.end = kT10 + kSeconds - 1;
        r.format = GetParam().format;
        r.withAudio = true;
        r.overlay = true;
        r.folder = m_dir->Path() / "out";
        return r;
    }

    std::unique_ptr<CTempDir> m_dir;
    fs::path m_source;
};

TEST_P(OverlayExportTest, TheTextChangesWithTheRecordsAndTheRestIsTheCleanClip)
{
    const ExportJobResult result = CExportJob(Request()).Run();
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 2u);
    const fs::path clean = result.files[0], overlay = result.files[1];
    EXPECT_EQ(overlay.filename().string(), clean.stem().string() + "_overlay" + GetParam().extension);
    EXPECT_EQ(clean.extension().string(), GetParam().extension);

    const Decoded a = DecodeFile(clean), b = DecodeFile(overlay);
    ASSERT_EQ(a.luma.size(), size_t(kFps * kSeconds));
    ASSERT_EQ(b.luma.size(), a.luma.size());
    EXPECT_EQ(b.ptsMs, a.ptsMs);

    std::vector<std::string> texts;
    for (const RecordAt& r : kRecords) texts.push_back(OverlayText(Record(r)));
    EXPECT_EQ(texts[2], "2025-12-08 10:00:02,38 km/h,N22.53631 E113.97320,SPEED,\xE7\xB4\xA7\xE6\x80\xA5");

    for (size_t i = 0; i < b.luma.size(); ++i) {
        const auto& text = texts[size_t(RecordIndexOf(uint32_t(i / kFps)))];
        const auto boxes = Boxes(text);
        ASSERT_EQ(boxes.size(), size_t(std::count(text.begin(), text.end(), ',') + 1));
        // White text on black boxes.
        int dark = 0, bright = 0, inBoxes = 0;
        for (const auto& box : boxes)
            for (int y = box.y; y < box.y + box.h; ++y)
                for (int x = box.x; x < box.x + box.w; ++x) {
                    const int v = b.luma[i][size_t(y) * kW + x];
                    ++inBoxes;
                    dark += v < 40;
                    bright += v > 180;
                }
        EXPECT_GT(dark * 2, inBoxes) << "picture " << i;
        EXPECT_GT(bright, 20 * int(boxes.size())) << "picture " << i;

        // Outside the boxes (and the encoder's blocks around them): the clean picture.
        double err = 0;
        int n = 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                if (Inside(boxes, x, y, 16)) continue;
                const double d = double(a.luma[i][size_t(y) * kW + x]) - b.luma[i][size_t(y) * kW + x];
                err += d * d;
                ++n;
            }
        const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(err / n, 1e-9));
        EXPECT_GT(psnr, 34.0) << "picture " << i;

        // The text region changes exactly where the record of the second does.
        if (i == 0) continue;
        const bool changes = RecordIndexOf(uint32_t(i / kFps)) != RecordIndexOf(uint32_t((i - 1) / kFps));
        auto region = boxes;
        for (const auto& box : Boxes(texts[size_t(RecordIndexOf(uint32_t((i - 1) / kFps)))])) region.push_back(box);
        int differ = 0;
        for (const auto& box : region)
            for (int y = box.y; y < box.y + box.h; ++y)
                for (int x = box.x; x < box.x + box.w; ++x)
                    differ += std::abs(int(b.luma[i][size_t(y) * kW + x]) - b.luma[i - 1][size_t(y) * kW + x]) > 60;
        if (changes)
            EXPECT_GT(differ, 40) << "picture " << i;
        else
            EXPECT_LT(differ, 8) << "picture " << i;
    }

    // Both files are in the signed report, and it verifies.
    const ReportCheck check = VerifyReport(result.report);
    EXPECT_TRUE(check.ok);
    ASSERT_EQ(check.files.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Formats, OverlayExportTest,
                         testing::Values(Case{"H264Mp4", fixtures::VideoCodec::kH264, EExportFormat::kMp4, ".mp4"},
                                         Case{"H265Mp4", fixtures::VideoCodec::kH265, EExportFormat::kMp4, ".mp4"},
                                         Case{"H264Avi", fixtures::VideoCodec::kH264, EExportFormat::kAvi, ".avi"}),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Refusals and cancels: nothing is left that could pass for an export.
class OverlayRefusalTest : public OverlayExportTest {};

TEST_P(OverlayRefusalTest, FormatsWithoutPicturesAreRefusedAndACancelLeavesNothing)
{
    for (EExportFormat format : {EExportFormat::kIfv, EExportFormat::kGps, EExportFormat::kGpx}) {
        ExportJobRequest r = Request();
        r.format = format;
        const ExportJobResult result = CExportJob(r).Run();
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.failure, EExportFailure::kOverlayFormat) << ExportFormatName(format);
        EXPECT_FALSE(fs::exists(r.folder));
    }
    // Stopped at every point of the cut: the clip, its copy and the report go.
    for (int stopAt : {0, 10, 60, 96}) {
        ExportJobRequest r = Request();
        std::unique_ptr<CExportJob> job;
        job = std::make_unique<CExportJob>(r, [&](EExportStep, int percent) {
            if (percent >= stopAt) job->Cancel();
        });
        const ExportJobResult result = job->Run();
        EXPECT_EQ(result.failure, EExportFailure::kStopped) << stopAt;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(r.folder, ec), end; !ec && it != end; it.increment(ec))
            EXPECT_FALSE(it->is_regular_file()) << it->path();
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, OverlayRefusalTest,
                         testing::Values(Case{"H264Mp4", fixtures::VideoCodec::kH264, EExportFormat::kMp4, ".mp4"}),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(OverlayTextTest, LinesOfARecord)
{
    struct Row {
        fixtures::AttachInfo info;
        const char* text;
        bool mph = false;  // setting SPEEDMPH
    };
    fixtures::AttachInfo south;
    south.time = kT10 + 59;
    south.latitude = -33.5;
    south.longitude = -70.25;
    south.speed = 120;
    fixtures::AttachInfo none;
    none.time = kT10;
    none.events = {"A", "B", "C", "D", "E", "F"};
    fixtures::AttachInfo cut;
    cut.time = kT10;
    cut.latitude = 22.5;
    cut.longitude = 114;
    const std::vector<Row> rows = {
        {south, "2025-12-08 10:00:59,120 km/h,S33.50000 W70.25000"},
        {none, "2025-12-08 10:00:00,0 km/h,no position,A,B,C,D,E,F"},
        {cut, "2025-12-08 10:00:00,0 km/h,N22.50000 E114.00000"},
        {south, "2025-12-08 10:00:59,74.565 MPH,S33.50000 W70.25000", true},
    };
    for (const Row& row : rows) {
        const auto bytes = fixtures::MakeAttachInfo(row.info);
        EXPECT_EQ(OverlayText(*LoadAttachInfo(bytes.data(), bytes.size()), nullptr, row.mph), row.text);
    }
}

// Which text each picture gets, whatever order records and pictures come in.
TEST(OverlayTextTest, PicturesWaitForTheRecordOfTheirSecond)
{
    struct Step {
        char kind;  // 'p' picture, 'r' record
        uint32_t second;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> seconds;  // the record second each picture shows ("" none), in order handed on
    };
    const std::vector<Row> rows = {
        {"record first", {{'r', 0}, {'p', 0}, {'p', 0}, {'r', 1}, {'p', 1}}, {"0", "0", "1"}},
        {"record after pictures", {{'p', 0}, {'p', 0}, {'r', 0}, {'p', 0}}, {"0", "0", "0"}},
        {"a second without record holds", {{'r', 0}, {'p', 0}, {'p', 1}, {'p', 2}, {'r', 3}, {'p', 3}},
         {"0", "0", "0", "3"}},
        {"no record at all", {{'p', 0}, {'p', 1}}, {"", ""}},
        {"a later record frees the waiting", {{'r', 0}, {'p', 1}, {'r', 2}, {'p', 2}}, {"0", "2"}},
    };
    for (const Row& row : rows) {
        std::vector<std::string> shown;
        std::vector<std::string> texts;
        COverlayTexts overlay(
            [&](const SourceFrame&, const std::string& text) {
                texts.push_back(text);
                return true;
            },
            nullptr);
        std::vector<uint8_t> bytes(8, 1);
        for (const Step& s : row.steps) {
            if (s.kind == 'p') {
                SourceFrame f;
                f.wallMs = (uint64_t(kT10) + s.second) * 1000 + 400;
                f.data = bytes.data();
                f.length = uint32_t(bytes.size());
                ASSERT_TRUE(overlay.Picture(f));
            } else {
                fixtures::AttachInfo info;
                info.time = kT10 + s.second;
                const auto rec = fixtures::MakeAttachInfo(info);
                ASSERT_TRUE(overlay.Record(*LoadAttachInfo(rec.data(), rec.size())));
            }
        }
        ASSERT_TRUE(overlay.Finish());
        for (const std::string& t : texts)
            shown.push_back(t.empty() ? "" : std::to_string(std::stoi(t.substr(17, 2))));
        EXPECT_EQ(shown, row.seconds) << row.name;
    }
}

}  // namespace
}  // namespace velmor
