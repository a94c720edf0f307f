// Exports of grec files: MP4 through the frame source and the grec plugin,
// refusals of the formats a grec file cannot be cut to, and a damaged span.
// (Its track, against the partition's, is in the demo corpus's tests.)
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "player/export/ClipCutter.h"
#include "player/export/ExportJob.h"
#include "tests/support/GrecWriter.h"
#include "tests/support/TempDir.h"

namespace velmor {
namespace {

namespace fs = std::filesystem;
using namespace fixtures;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

std::vector<fs::path> Files(const fs::path& dir)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) out.push_back(it->path());
    return out;
}

class GrecExport : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("VELMOR_PROFILE_DIR", (m_dir / "profile").c_str(), 1);
        GrecLayout layout;
        layout.originUs = uint64_t(kT10) * 1000000;
        layout.audioEncoding = 8;
        layout.withInfoTrack = true;
        WriteGrecFile(m_source, layout, MakeGrecClipFrames(layout, 6, 25));  // a key frame each second
    }

    ExportJobRequest Request(EExportFormat format, const std::string& out) const
    {
        ExportJobRequest r;
        r.source = m_source;
        r.kind = ESourceKind::kGrecFile;
        r.start = kT10 + 2;
        r.end = kT10 + 4;
        r.format = format;
        r.withAudio = true;
        r.folder = m_dir / out;
        return r;
    }

    CTempDir m_dir{"grec-export"};
    fs::path m_source = m_dir / "cam.grec";
};

TEST_F(GrecExport, Mp4HoldsTheSpanFromItsKeyFrame)
{
    const auto result = CExportJob(Request(EExportFormat::kMp4, "mp4")).Run();
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_FALSE(result.files.empty());
    EXPECT_EQ(result.files[0], m_dir / "mp4" / "2025-12-08" / "AV1_100002_100004_T0C0_100002.mp4");
    EXPECT_EQ(result.channels, std::vector<int>{1});
    EXPECT_EQ(result.frames.video, 75u) << "2.00 s to 4.96 s";
    EXPECT_EQ(result.frames.audio, 150u);
}

TEST_F(GrecExport, FormatsOtherThanVideoAndTracksAreRefusedWithoutOutput)
{
    for (EExportFormat format : {EExportFormat::kIfv, EExportFormat::kRkrec}) {
        SCOPED_TRACE(ExportFormatName(format));
        const auto result = CExportJob(Request(format, "refused")).Run();
        EXPECT_EQ(result.failure, EExportFailure::kFormatNotForSource);
        EXPECT_EQ(result.error, std::string(ExportFormatName(format)) + " cannot be cut from a grec file");
    }
    EXPECT_TRUE(Files(m_dir / "refused").empty());
}

TEST_F(GrecExport, ADamagedSpanOrAMissingFileFailsTheCutWithoutOutput)
{
    // Cut short at 70 % of its bytes: the span's end is gone.
    std::ifstream in(m_source, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    const fs::path cut = m_dir / "cut.grec";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size() * 7 / 10));
    auto request = Request(EExportFormat::kMp4, "damaged");
    request.source = cut;
    request.end = kT10 + 5;
    const auto damaged = CExportJob(request).Run();
    EXPECT_EQ(damaged.failure, EExportFailure::kCut);
    EXPECT_TRUE(Files(m_dir / "damaged").empty());

    CutRequest missing;
    missing.start = kT10;
    missing.end = kT10 + 2;
    missing.folder = m_dir / "missing";
    const CutResult r = CClipCutter(missing).CutGrecFileToMp4(m_dir / "none.grec", 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("OpenFile:" + (m_dir / "none.grec").string() + " Fail: ", 0), 0u) << r.error;
    EXPECT_TRUE(Files(m_dir / "missing").empty());
}

}  // namespace
}  // namespace velmor
