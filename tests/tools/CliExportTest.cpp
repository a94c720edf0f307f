// velmor-cli export: the files and report it names, progress lines, and its
// refusals.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

// Exports sign with the key of a profile of the test's own, never the user's.
ProcessResult Cli(const std::vector<std::string>& args)
{
    static const CTempDir profile("cli-export-profile");
    return RunProgram("velmor-cli", args, {{"VELMOR_PROFILE_DIR", profile.Path().string()}});
}

// Twenty seconds from 10:00:00 with a position record each second.
std::filesystem::path WriteSource(const CTempDir& dir)
{
    const auto path = dir / "ch02_20251208_100000_N_1.ifv";
    FILEHANDLE* w = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE);
    EXPECT_NE(w, nullptr);
    RK_FileSetVideoParam(w, 352, 288, 25.0f, 0);
    RK_FileEnableAttach(w);
    RK_FileSetStartTime(w, kT10);
    std::vector<uint8_t> payload(300);
    for (uint32_t s = 0; s < 20; ++s) {
        StAttachInfo_t info{};
        info.time.set(kT10 + s);
        info.latitude.set(22331234);
        info.longitude.set(114302500);
        RK_FileWriteAttachFrame(w, reinterpret_cast<const uint8_t*>(&info), 75, s * 1000, nullptr);
        for (uint32_t f = 0; f < 25; ++f) {
            FillPayload(s * 25 + f, payload.data(), payload.size());
            RK_FileWriteVideoFrame(w, payload.data(), 300, s * 1000 + f * 40, f == 0 ? 5 : 1, 0, nullptr);
        }
    }
    EXPECT_EQ(RK_CloseFile2(w), 0);
    return path;
}

std::string Read(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(CliExport, IfvCutWithReportAndProgress)
{
    CTempDir dir;
    const auto source = WriteSource(dir);
    const auto out = dir / "out";
    auto r = Cli({"export", source.string(), "--from", std::to_string(kT10 + 5), "--to", std::to_string(kT10 + 9),
                  "--out", out.string(), "--format", "ifv"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json doc = json::parse(r.out);
    ASSERT_EQ(doc["files"].size(), 1u);
    const std::filesystem::path file = doc["files"][0].get<std::string>();
    EXPECT_EQ(file, out / "2025-12-08" / "ch02_100005_100009_N_1.ifv");
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_NE(r.err.find("progress 0\n"), std::string::npos);
    EXPECT_NE(r.err.find("progress 100\n"), std::string::npos);

    const std::filesystem::path reportPath = doc["report"].get<std::string>();
    EXPECT_EQ(reportPath, out / "2025-12-08" / "ch02_100005_100009_N_1.report.json");
    const json report = json::parse(Read(reportPath));
    EXPECT_EQ(report["from"], kT10 + 5);
    EXPECT_EQ(report["to_text"], "2025-12-08 10:00:09");
    EXPECT_EQ(report["channels"], json::array({1})) << "the file's event channel (0), counted from 1";
    ASSERT_EQ(report["files"].size(), 1u);
    EXPECT_EQ(report["files"][0]["bytes"], std::filesystem::file_size(file));
    EXPECT_EQ(report["files"][0]["sha256"].get<std::string>().size(), 64u);
    EXPECT_GE(report["frames"]["video"].get<int>(), 5 * 25);

    auto quiet = Cli({"export", source.string(), "--from", std::to_string(kT10 + 5), "--to",
                      std::to_string(kT10 + 9), "--out", out.string(), "--format", "ifv", "--quiet"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find("progress"), std::string::npos);
    EXPECT_EQ(json::parse(quiet.out)["files"][0], (out / "2025-12-08" / "ch02_100005_100009_N_1_2.ifv").string())
        << "the first cut is kept";
}

TEST(CliExport, GpsLinesAndGpxTrack)
{
    CTempDir dir;
    const auto source = WriteSource(dir);
    for (const char* format : {"gps", "gpx"}) {
        auto r = Cli({"export", source.string(), "--from", std::to_string(kT10), "--to", std::to_string(kT10 + 4),
                      "--out", (dir / "out").string(), "--format", format, "--channels", "4", "--quiet"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json doc = json::parse(r.out);
        ASSERT_EQ(doc["files"].size(), 1u);
        const std::filesystem::path file = doc["files"][0].get<std::string>();
        EXPECT_EQ(file, dir / "out" / "2025-12-08" / (std::string("ch02_100000_100004_N_1.") + format));
        const std::string text = Read(file);
        if (std::string(format) == "gps") {
            EXPECT_NE(text.find("4,2025-12-08 10:00:00,0,22.552057,114.504167,0 km/h,0,0\r\n"), std::string::npos);
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
        } else {
            EXPECT_NE(text.find("<gpx version=\"1.1\""), std::string::npos);
            size_t points = 0;
            for (size_t at = text.find("<trkpt"); at != std::string::npos; at = text.find("<trkpt", at + 1)) ++points;
            EXPECT_EQ(points, 5u);
        }
    }
}

TEST(CliExport, ConvertGpsCorrectsPositionsThroughTheProgramsTable)
{
    // 114.504167 E 22.552057 N: the published conversion gives
    // (114.508858, 22.549181), which the 0.1 degree grid meets within 2e-5.
    CTempDir dir;
    const auto source = WriteSource(dir);
    const char* bin = std::getenv("VELMOR_BIN");
    ASSERT_NE(bin, nullptr);
    // An installed layout: the program's folder <prefix>/bin has no GPS
    // folder; the table, once copied, lies in <prefix>/share/velmor/GPS.
    const auto prefix = dir / "prefix";
    std::filesystem::create_directories(prefix / "bin");
    std::filesystem::create_directories(prefix / "share/velmor/GPS");
    enum class Table { kBuildTree, kNone, kShare };
    struct Row {
        const char* format;
        bool convert;
        Table table;
        const char* expected;
        const char* absent;
    };
    const Row rows[] = {
        {"gps", false, Table::kBuildTree, "4,2025-12-08 10:00:00,0,22.552057,114.504167,0 km/h,0,0\r\n", "114.508848"},
        {"gps", true, Table::kBuildTree, "4,2025-12-08 10:00:00,0,22.549179,114.508848,0 km/h,0,0\r\n", "114.504167"},
        {"gpx", true, Table::kBuildTree, "<trkpt lat=\"22.549179\" lon=\"114.508848\">", "114.504167"},
        {"gps", true, Table::kNone, ",22.552057,114.504167,", "114.508848"},
        {"gps", true, Table::kShare, ",22.549179,114.508848,", "114.504167"},
    };
    int n = 0;
    for (const Row& row : rows) {
        std::vector<std::string> args{"export", source.string(), "--from", std::to_string(kT10), "--to",
                                      std::to_string(kT10 + 4), "--out", (dir / std::to_string(n++)).string(),
                                      "--format", row.format, "--channels", "4", "--quiet"};
        if (row.convert) args.push_back("--convert-gps");
        std::map<std::string, std::string> env;
        if (row.table != Table::kBuildTree) env["VELMOR_APPDIR"] = (prefix / "bin").string();
        if (row.table == Table::kShare)
            std::filesystem::copy_file(std::filesystem::path(bin) / "GPS/table.txt",
                                       prefix / "share/velmor/GPS/table.txt");
        auto r = RunProgram("velmor-cli", args, env);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json doc = json::parse(r.out);
        ASSERT_EQ(doc["files"].size(), 1u);
        const std::string text = Read(doc["files"][0].get<std::string>());
        EXPECT_NE(text.find(row.expected), std::string::npos) << row.expected << " in\n" << text;
        EXPECT_EQ(text.find(row.absent), std::string::npos) << row.absent << " in\n" << text;
    }
}

TEST(CliExport, Refusals)
{
    CTempDir dir;
    const auto source = WriteSource(dir);
    const std::string from = std::to_string(kT10), to = std::to_string(kT10 + 4), out = (dir / "out").string();
    auto bad = Cli({"export", source.string(), "--from", from, "--to", to, "--out", out, "--format", "mkv"});
    EXPECT_EQ(bad.exitCode, 2) << "a wrong argument is a usage error";
    EXPECT_NE(bad.err.find("velmor-cli: --format: 'mkv' is not one of"), std::string::npos) << bad.err;
    auto backwards = Cli({"export", source.string(), "--from", to, "--to", from, "--out", out, "--format", "ifv"});
    EXPECT_EQ(backwards.exitCode, 2);
    EXPECT_NE(backwards.err.find("the start must be earlier than the end"), std::string::npos);
    auto empty = Cli({"export", source.string(), "--from", std::to_string(kT10 + 600), "--to",
                      std::to_string(kT10 + 700), "--out", out, "--format", "ifv"});
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_NE(empty.err.find("no recording in the span"), std::string::npos) << empty.err;
    auto channels = Cli({"export", source.string(), "--from", from, "--to", to, "--out", out, "--channels", "0"});
    EXPECT_EQ(channels.exitCode, 2);
    auto missing = Cli({"export", (dir / "none.ifv").string(), "--from", from, "--to", to, "--out", out});
    EXPECT_EQ(missing.exitCode, 1);
    auto usage = Cli({"export", source.string(), "--from", from, "--to", to});
    EXPECT_EQ(usage.exitCode, 2);
    for (const auto* r : {&bad, &backwards, &empty, &channels, &missing, &usage}) EXPECT_EQ(r->out, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "2025-12-08" / "ch02_100000_100004_N_1.ifv"));

    // A name without the recorder's five parts cannot name any output.
    const auto four = dir / "ch02_20251208_100000_N.ifv";
    std::filesystem::copy_file(source, four);
    for (const char* format : {"ifv", "mp4", "avi", "gps", "gpx"}) {
        auto r = Cli({"export", four.string(), "--from", from, "--to", to, "--out", (dir / "unnamed").string(),
                      "--format", format, "--quiet"});
        EXPECT_EQ(r.exitCode, 1) << format;
        EXPECT_NE(r.err.find("five parts"), std::string::npos) << format << ": " << r.err;
        EXPECT_EQ(r.out, "") << format;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "unnamed")) << "nothing was written";
}

TEST(CliExport, OverlayOnlyOfPicturesAndNeverHalfMade)
{
    CTempDir dir;
    const auto source = WriteSource(dir);
    const std::string from = std::to_string(kT10), to = std::to_string(kT10 + 4), out = (dir / "out").string();
    struct Case {
        const char* format;
        int exitCode;
        const char* error;
    } cases[] = {
        {"gps", 2, "velmor-cli: --overlay: the copy with burned-in text is made of mp4 and avi exports only, not gps\n"},
        {"ifv", 2, "velmor-cli: --overlay: the copy with burned-in text is made of mp4 and avi exports only, not ifv\n"},
        // The source's pictures are not video: neither the clip nor its copy is left.
        {"mp4", 1, "velmor-cli: "},
    };
    for (const Case& c : cases) {
        auto r = Cli({"export", source.string(), "--from", from, "--to", to, "--out", out, "--format", c.format,
                      "--overlay", "--quiet"});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.format;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << c.format << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.format;
    }
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(out, ec), end; !ec && it != end; it.increment(ec))
        EXPECT_FALSE(it->is_regular_file()) << it->path();
}

}  // namespace
}  // namespace velmor::fixtures
