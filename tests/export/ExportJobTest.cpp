// The export job as the cut dialog and velmor-cli run it: progress over the
// cut, combine and report steps, and a cancel at any step that leaves no
// output behind.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>

#include <nlohmann/json.hpp>

#include "player/export/ExportJob.h"
#include "player/export/ReportSigning.h"
#include "player/export/ReportVerifier.h"
#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/ContainerWriter.h"
#include "tests/support/TempDir.h"
#include "tests/support/VideoCodec.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;
using fixtures::CTempDir;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

struct Seen {
    EExportStep step;
    int percent;
};

// The regular files under `dir`, recursively.
std::vector<fs::path> FilesUnder(const fs::path& dir)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) files.push_back(it->path());
    return files;
}

class ExportJobTest : public testing::Test {
protected:
    // Six seconds of 96 x 64 video, a key frame each second, on channels 1
    // and 2 of one container file, and the same pictures with sound and a
    // record each second as an IFV file, its position in Shenzhen.
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir("export-job");
        // Jobs that name no key sign with the profile's, as the program's do.
        ::setenv("VELMOR_PROFILE_DIR", (s_dir->Path() / "profile").c_str(), 1);
        fixtures::VideoSpec recipe;
        recipe.width = 96;
        recipe.height = 64;
        recipe.frames = 150;
        recipe.gop = 25;
        recipe.lossless = false;
        const auto video = fixtures::EncodeVideo(recipe);
        {
            fixtures::CContainerFileImage image(s_dir->Path() / "fc00001.rpo", 1);
            fixtures::RecordingParams one, two;
            two.channel = 1;
            fixtures::CRecordWriter first(image, one), second(image, two);
            for (size_t i = 0; i < video.units.size(); ++i) {
                const auto& u = video.units[i];
                const uint64_t pts = (uint64_t(kT10) * 1000 + i * 40) * 1000;
                for (auto* w : {&first, &second})
                    ASSERT_EQ(w->WriteFrame(u.key ? rkfs::kFrameI : rkfs::kFrameP, pts, u.data.data(),
                                            uint32_t(u.data.size())),
                              fixtures::WriteResult::kWritten);
            }
            first.Close();
            second.Close();
        }
        const auto ifv = s_dir->Path() / "ch01_20251208_100000_N_1.ifv";
        FILEHANDLE* w = RK_OpenFile2(ifv.c_str(), 0, RK_FILE_MODE_WRITE);
        ASSERT_NE(w, nullptr);
        ASSERT_EQ(RK_FileSetVideoParam(w, 96, 64, 25.0f, 0), 0);
        ASSERT_EQ(RK_FileSetAudioParam(w, 1, 16, 8000, 11, 320, 40), 0);
        ASSERT_EQ(RK_FileEnableAttach(w), 0);
        ASSERT_EQ(RK_FileSetStartTime(w, kT10), 0);
        const std::vector<uint8_t> sound(320, 0xD5);
        for (size_t i = 0; i < video.units.size(); ++i) {
            if (i % 25 == 0) {
                StAttachInfo_t record{};
                record.time.set(kT10 + uint32_t(i / 25));
                record.latitude.set(22321786);    // 22 deg 32.1786 min: 22.53631
                record.longitude.set(113583920);  // 113 deg 58.3920 min: 113.9732
                ASSERT_EQ(RK_FileWriteAttachFrame(w, reinterpret_cast<const uint8_t*>(&record), 75,
                                                  uint32_t(i) * 40, nullptr),
                          75);
            }
            ASSERT_GT(RK_FileWriteVideoFrame(w, video.units[i].data.data(), uint32_t(video.units[i].data.size()),
                                             uint32_t(i) * 40, video.units[i].key ? 5 : 1, 0, nullptr),
                      0);
            ASSERT_EQ(RK_FileWriteAudioFrame(w, sound.data(), 320, uint32_t(i) * 40, nullptr), 320);
        }
        ASSERT_EQ(RK_CloseFile2(w), 0);
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    ExportJobRequest Request(bool container, EExportFormat format, const std::string& out) const
    {
        ExportJobRequest r;
        r.source = s_dir->Path() / (container ? "fc00001.rpo" : "ch01_20251208_100000_N_1.ifv");
        r.kind = container ? ESourceKind::kContainerFile : ESourceKind::kIfvFile;
        r.start = kT10 + 1;
        r.end = kT10 + 4;
        r.format = format;
        r.folder = s_dir->Path() / out;
        if (container) {
            r.channelMask = 0x3;
            r.combine = true;
        }
        return r;
    }

    static CTempDir* s_dir;
};
CTempDir* ExportJobTest::s_dir = nullptr;

TEST_F(ExportJobTest, ProgressRisesThroughEveryStepToOneHundred)
{
    struct Row {
        bool container;
        EExportFormat format;
        size_t files;  // outputs besides the report
        bool combines;
    };
    for (const Row& row : {Row{true, EExportFormat::kMp4, 3, true}, Row{false, EExportFormat::kIfv, 1, false},
                           Row{false, EExportFormat::kMp4, 1, false}}) {
        SCOPED_TRACE(std::string(row.container ? "container " : "ifv ") + ExportFormatName(row.format));
        std::vector<Seen> seen;
        CExportJob job(Request(row.container, row.format, "out-" + std::to_string(int(row.format)) +
                                                              (row.container ? "c" : "i")),
                       [&](EExportStep step, int percent) { seen.push_back({step, percent}); });
        const auto result = job.Run();
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.files.size(), row.files);
        EXPECT_TRUE(fs::is_regular_file(result.report));
        ASSERT_GE(seen.size(), 3u);
        EXPECT_EQ(seen.front().percent, 0);
        EXPECT_EQ(seen.back().step, EExportStep::kDone);
        EXPECT_EQ(seen.back().percent, 100);
        int steps[4] = {};
        for (size_t i = 1; i < seen.size(); ++i) {
            EXPECT_GT(seen[i].percent, seen[i - 1].percent) << i;
            EXPECT_GE(int(seen[i].step), int(seen[i - 1].step)) << "steps come in order";
            ++steps[int(seen[i].step)];
        }
        EXPECT_GE(steps[int(EExportStep::kCut)], 2) << "the cut reports as it goes";
        EXPECT_EQ(steps[int(EExportStep::kCombine)] > 0, row.combines);
        EXPECT_EQ(steps[int(EExportStep::kReport)], 1);
        EXPECT_EQ(steps[int(EExportStep::kDone)], 1);
    }
}

TEST_F(ExportJobTest, ACancelAtAnyStepLeavesNoOutput)
{
    struct Row {
        bool container;
        EExportFormat format;
        EExportStep at;  // cancel when this step reports
        int percent;     // from this percent on
    };
    int n = 0;
    for (const Row& row : {Row{false, EExportFormat::kIfv, EExportStep::kCut, 1},
                           Row{false, EExportFormat::kMp4, EExportStep::kCut, 30},
                           Row{true, EExportFormat::kMp4, EExportStep::kCut, 50},
                           Row{true, EExportFormat::kMp4, EExportStep::kCombine, 0},
                           Row{false, EExportFormat::kIfv, EExportStep::kReport, 0}}) {
        SCOPED_TRACE(n);
        const auto out = s_dir->Path() / ("cancel" + std::to_string(n++));
        std::unique_ptr<CExportJob> job;
        int last = -1;
        job = std::make_unique<CExportJob>(Request(row.container, row.format, out.filename().string()),
                                           [&](EExportStep step, int percent) {
                                               last = percent;
                                               if (step == row.at && percent >= row.percent) job->Cancel();
                                           });
        const auto result = job->Run();
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.failure, EExportFailure::kStopped);
        EXPECT_LT(last, 100);
        EXPECT_EQ(FilesUnder(out), std::vector<fs::path>{}) << "nothing that could pass for an export";
    }
}

TEST_F(ExportJobTest, ABackupRecordCutWithoutChannelsIsNamedAfterItsOwnChannel)
{
    // Six seconds of channel 3 as a backup record file.
    fixtures::CBackupFileImage image(0x400000);
    fixtures::RecordingParams params;
    params.channel = 2;
    fixtures::CRecordWriter writer(image, params);
    std::vector<uint8_t> payload(2000, 0x5A);
    for (uint32_t i = 0; i < 150; ++i)
        ASSERT_EQ(writer.WriteFrame(i % 25 == 0 ? rkfs::kFrameI : rkfs::kFrameP,
                                    (uint64_t(kT10) * 1000 + i * 40) * 1000, payload.data(), 2000),
                  fixtures::WriteResult::kWritten);
    writer.Close();
    const auto source = s_dir->Path() / "backup.rkrec";
    image.Save(source);

    ExportJobRequest r;
    r.source = source;
    r.kind = ESourceKind::kBackupRecordFile;
    r.start = kT10 + 1;
    r.end = kT10 + 4;
    r.format = EExportFormat::kRkrec;
    r.folder = s_dir->Path() / "backup-cut";
    const auto result = CExportJob(r).Run();
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(result.files[0].filename(), "AV3_100001_100004_T0C0_100001.rkrec");
    EXPECT_EQ(result.channels, std::vector<int>{3});
    EXPECT_TRUE(VerifyReport(result.report).ok);
}

TEST_F(ExportJobTest, RefusalsWriteNothing)
{
    struct Row {
        bool container;
        EExportFormat format;
        uint32_t start, end;
        EExportFailure failure;
    };
    int n = 0;
    for (const Row& row : {Row{true, EExportFormat::kRkrec, kT10, kT10 + 2, EExportFailure::kFormatNotForSource},
                           Row{false, EExportFormat::kRkrec, kT10, kT10 + 2, EExportFailure::kFormatNotForSource},
                           Row{false, EExportFormat::kIfv, kT10 + 2, kT10 + 2, EExportFailure::kTimeOrder},
                           Row{false, EExportFormat::kIfv, kT10 + 60, kT10 + 70, EExportFailure::kCut}}) {
        SCOPED_TRACE(n);
        const auto out = s_dir->Path() / ("refused" + std::to_string(n++));
        auto request = Request(row.container, row.format, out.filename().string());
        request.start = row.start;
        request.end = row.end;
        const auto result = CExportJob(request).Run();
        EXPECT_EQ(result.failure, row.failure);
        EXPECT_NE(result.error, "");
        EXPECT_EQ(FilesUnder(out), std::vector<fs::path>{});
    }

    // A recording damaged inside the span is no clip of the span: twenty
    // seconds cut short at 60 % of their bytes.
    const auto damaged = s_dir->Path() / "damaged" / "ch01_20251208_100000_N_1.ifv";
    fs::create_directories(damaged.parent_path());
    FILEHANDLE* w = RK_OpenFile2(damaged.c_str(), 0, RK_FILE_MODE_WRITE);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(RK_FileSetVideoParam(w, 96, 64, 25.0f, 0), 0);
    ASSERT_EQ(RK_FileSetAudioParam(w, 1, 16, 8000, 11, 320, 40), 0);
    ASSERT_EQ(RK_FileEnableAttach(w), 0);
    ASSERT_EQ(RK_FileSetStartTime(w, kT10), 0);
    const std::vector<uint8_t> bytes(3000, 0x41);
    for (uint32_t i = 0; i < 500; ++i) {
        const uint32_t ms = i * 40;
        ASSERT_GT(RK_FileWriteVideoFrame(w, bytes.data(), i % 25 ? 400 : 3000, ms, i % 25 ? 1 : 5, 0, nullptr), 0);
        ASSERT_EQ(RK_FileWriteAudioFrame(w, bytes.data(), 320, ms, nullptr), 320);
        if (i % 25 == 0) {
            ASSERT_EQ(RK_FileWriteAttachFrame(w, bytes.data(), 75, ms, nullptr), 75);
        }
    }
    ASSERT_EQ(RK_CloseFile2(w), 0);
    fs::resize_file(damaged, fs::file_size(damaged) * 6 / 10);
    {
        const EExportFormat format = EExportFormat::kIfv;  // copied as stored: the bytes need not be pictures
        auto request = Request(false, format, "refused-damaged");
        request.source = damaged;
        request.end = kT10 + 19;
        const auto result = CExportJob(request).Run();
        EXPECT_EQ(result.failure, EExportFailure::kCut) << ExportFormatName(format);
        EXPECT_NE(result.error.find("Fail: "), std::string::npos) << result.error << ": the reader's reason";
        EXPECT_EQ(FilesUnder(s_dir->Path() / "refused-damaged"), std::vector<fs::path>{});
    }
}

TEST_F(ExportJobTest, ConvertGpsCorrectsPositionsThroughTheProgramsGrid)
{
    // The corrected positions come from the table the build writes beside the
    // test program; the published conversion of (113.9732, 22.53631) is
    // (113.978129, 22.533364), which the 0.1 degree grid meets within 5e-5.
    struct Row {
        EExportFormat format;
        bool convertGps;
        const char* expected;
        const char* absent;
    };
    const Row rows[] = {
        {EExportFormat::kGps, false, "1,2025-12-08 10:00:01,0,22.536310,113.973200,0 km/h,0,0\r\n", "113.978160"},
        {EExportFormat::kGps, true, "1,2025-12-08 10:00:01,0,22.533406,113.978160,0 km/h,0,0\r\n", "113.973200"},
        {EExportFormat::kGpx, false, "<trkpt lat=\"22.536310\" lon=\"113.973200\">", "113.978160"},
        {EExportFormat::kGpx, true, "<trkpt lat=\"22.533406\" lon=\"113.978160\">", "113.973200"},
    };
    int n = 0;
    for (const Row& row : rows) {
        auto request = Request(false, row.format, "gps-" + std::to_string(n++));
        request.convertGps = row.convertGps;
        const auto result = CExportJob(request).Run();
        ASSERT_TRUE(result.ok) << result.error;
        ASSERT_EQ(result.files.size(), 1u);
        std::ifstream in(result.files[0], std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find(row.expected), std::string::npos) << row.expected << " in\n" << text;
        EXPECT_EQ(text.find(row.absent), std::string::npos) << row.absent << " in\n" << text;
    }
}

TEST_F(ExportJobTest, TheReportIsSignedWithTheProfilesKeyAndStatesTheDeclaredOffset)
{
    auto request = Request(false, EExportFormat::kIfv, "signed");
    request.caseUtcOffset = "-05:30";
    const auto result = CExportJob(request).Run();
    ASSERT_TRUE(result.ok) << result.error;
    CSigningKey profileKey;
    std::string error;
    ASSERT_TRUE(profileKey.LoadOrCreate(s_dir->Path() / "profile/Keys/ReportSigning.pem", &error)) << error;
    EXPECT_EQ(result.keyFingerprint, profileKey.Fingerprint()) << "made by the first export, in the profile";
    const fs::path day = s_dir->Path() / "signed" / "2025-12-08";
    EXPECT_EQ(result.report, day / "ch01_100001_100004_N_1.report.json");
    EXPECT_EQ(result.publicKey, day / "ch01_100001_100004_N_1.report.pub");
    EXPECT_EQ(FilesUnder(s_dir->Path() / "signed").size(), 3u) << "the cut, its report and the public key";
    const ReportCheck check = VerifyReport(result.report);
    EXPECT_TRUE(check.ok);
    EXPECT_EQ(check.signature, ESignatureCheck::kValid);

    const auto r = nlohmann::json::parse(std::ifstream(result.report));
    EXPECT_EQ(r["time"]["utc_offset"], "-05:30");
    EXPECT_EQ(r["time"]["from_utc"], "2025-12-08T15:30:01Z");
    ASSERT_EQ(r["sources"].size(), 1u);
    EXPECT_EQ(r["sources"][0]["sha256"], FileSha256(request.source)) << "one recording file: hashed";
    EXPECT_EQ(r["files"][0]["path"], "ch01_100001_100004_N_1.ifv");
    EXPECT_EQ(r["files"][0]["span_written"],
              nlohmann::json::parse(R"({"first_ms":1765188001000,"last_ms":1765188004960,
                  "first_text":"2025-12-08 10:00:01","last_text":"2025-12-08 10:00:04"})"));

    // Channel files and their mosaic: the mosaic holds what they hold.
    const auto mosaic = CExportJob(Request(true, EExportFormat::kMp4, "signed-mosaic")).Run();
    ASSERT_TRUE(mosaic.ok) << mosaic.error;
    const auto m = nlohmann::json::parse(std::ifstream(mosaic.report));
    ASSERT_EQ(m["files"].size(), 3u);
    const auto& spans = m["files"];
    EXPECT_NE(spans[0]["span_written"], nullptr);
    EXPECT_EQ(spans[2]["span_written"]["first_ms"],
              std::min(spans[0]["span_written"]["first_ms"], spans[1]["span_written"]["first_ms"]));
    EXPECT_EQ(spans[2]["span_written"]["last_ms"],
              std::max(spans[0]["span_written"]["last_ms"], spans[1]["span_written"]["last_ms"]));
    EXPECT_EQ(m["time"]["utc_offset"], nullptr);
    EXPECT_TRUE(VerifyReport(mosaic.report).ok);
}

TEST_F(ExportJobTest, NoUsableKeyOrOffsetNoExport)
{
    const fs::path broken = s_dir->Path() / "broken.pem";
    std::ofstream(broken) << "not a key";
    struct Row {
        fs::path key;
        std::string offset;
        EExportFailure failure;
        const char* error;
    };
    const Row rows[] = {
        {{}, "Beijing", EExportFailure::kCaseUtcOffset,
         "the offset from UTC declared for the case (CaseUtcOffset), 'Beijing', is not one such as +08:00"},
        {broken, "", EExportFailure::kSigningKey, "cannot be used: holds no Ed25519 private key"},
        {s_dir->Path(), "+08:00", EExportFailure::kSigningKey, "cannot be used: "},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(n);
        const auto out = s_dir->Path() / ("unsigned" + std::to_string(n++));
        auto request = Request(false, EExportFormat::kIfv, out.filename().string());
        request.signingKey = row.key;
        request.caseUtcOffset = row.offset;
        const auto result = CExportJob(request).Run();
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.failure, row.failure);
        EXPECT_NE(result.error.find(row.error), std::string::npos) << result.error;
        EXPECT_FALSE(fs::exists(out)) << "refused before anything was cut";
    }
}

}  // namespace
}  // namespace velmor
