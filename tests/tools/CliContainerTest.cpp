// velmor-cli probe, info and frames on container files: JSON, exit codes and
// error lines as scripts rely on them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>

#include "tests/support/ContainerWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;
using namespace rkfs;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

ProcessResult Cli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
{
    return RunProgram("velmor-cli", args, env);
}

class CliContainer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir("velmor-cli");
        s_path = new std::string((*s_dir / "fc00005.rpo").string());
        CContainerFileImage image(*s_path, 5);
        SyntheticPlan plan;
        plan.startTime = kT0;
        plan.seconds = 20;
        for (uint8_t c = 0; c < 4; ++c) {
            SyntheticChannel ch;
            ch.params.channel = uint8_t(c * 2);  // channels 1, 3, 5, 7 counted from 1
            ch.params.encode = {3, 0, 2, 2, 15};
            ch.params.carNumber = "\xD4\xC1" "B12345";
            ch.iFrameBytes = 120000;
            ch.pFrameBytes = 30000;
            ch.audio = c == 1;
            ch.info = true;
            plan.channels.push_back(ch);
        }
        // Channel 1 is also recorded as a sub stream of small pictures.
        SyntheticChannel sub = plan.channels[0];
        sub.params.subStream = true;
        sub.params.encode = {0, 0, 2, 2, 15};
        sub.iFrameBytes = 9000;
        sub.pFrameBytes = 2000;
        sub.audio = false;
        plan.channels.push_back(sub);
        s_written = new SyntheticResult(WriteSynthetic(image, plan));
    }
    static void TearDownTestSuite()
    {
        delete s_written;
        delete s_path;
        delete s_dir;
    }
    static CTempDir* s_dir;
    static std::string* s_path;
    static SyntheticResult* s_written;
};

CTempDir* CliContainer::s_dir;
std::string* CliContainer::s_path;
SyntheticResult* CliContainer::s_written;

TEST_F(CliContainer, Probe)
{
    auto r = Cli({"probe", *s_path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json({{"path", *s_path}, {"kind", "container_file"}}));
    r = Cli({"probe", s_dir->Path().string()});
    EXPECT_EQ(json::parse(r.out)["kind"], "container_folder");
}

TEST_F(CliContainer, InfoGivesChannelsSpanAndEncodeRecord)
{
    auto r = Cli({"info", *s_path});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    EXPECT_EQ(j["format"], "container_file");
    EXPECT_EQ(j["channels"], json({1, 3, 5, 7}));
    EXPECT_EQ(j["sub_streams"], json({1}));
    EXPECT_EQ(j["begin"], kT0);
    EXPECT_EQ(j["end"], s_written->endTime);
    EXPECT_EQ(j["begin_text"], "2025-12-08 10:00:00");
    EXPECT_EQ(j["width"], 1280);
    EXPECT_EQ(j["height"], 720);
    EXPECT_EQ(j["codec"], "H.265");
    EXPECT_EQ(j["frame_rate"], 15);
    EXPECT_EQ(j["audio"], "G711A");
    EXPECT_EQ(j["label"], "\xE7\xB2\xA4" "B12345") << "the car number in UTF-8";
    EXPECT_EQ(r.out.back(), '\n');
}

TEST_F(CliContainer, FramesOfAChannelInWriteOrderWithTheirCrc)
{
    for (size_t c = 0; c < 4; ++c) {
        auto r = Cli({"frames", *s_path, "--channel", std::to_string(c * 2 + 1)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto lines = Lines(r.out);
        const auto& frames = s_written->frames[c];
        ASSERT_EQ(lines.size(), frames.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            json j = json::parse(lines[i]);
            const ExpectedFrame& f = frames[i];
            ASSERT_EQ(j["type"], f.type) << i;
            ASSERT_EQ(j["pts"], f.pts);
            ASSERT_EQ(j["length"], f.length);
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", f.crc32);
            ASSERT_EQ(j["crc32"], crc);
            ASSERT_EQ(j["kind"], f.type <= 3 ? "video" : f.type == 4 ? "audio" : "info");
            ASSERT_EQ(j["key"], f.type == 1 || f.type == 3);
            const int64_t ms = (int64_t(f.pts) - int64_t(kT0) * 1000000 + 999) / 1000;
            ASSERT_EQ(j["ms"], ms);
        }
    }
}

// A channel recorded twice: the main stream by default, either one by
// --stream; a channel without the stream asked for says so.
TEST_F(CliContainer, FramesOfTheStreamAskedFor)
{
    struct Row {
        std::vector<std::string> extra;
        size_t written;  // index into the plan
    };
    for (const Row& r : {Row{{}, 0}, Row{{"--stream", "main"}, 0}, Row{{"--stream", "sub"}, 4}}) {
        std::vector<std::string> args{"frames", *s_path, "--channel", "1"};
        args.insert(args.end(), r.extra.begin(), r.extra.end());
        auto out = Cli(args);
        ASSERT_EQ(out.exitCode, 0) << out.err;
        const auto lines = Lines(out.out);
        const auto& frames = s_written->frames[r.written];
        ASSERT_EQ(lines.size(), frames.size()) << testing::PrintToString(r.extra);
        for (size_t i = 0; i < lines.size(); ++i) {
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", frames[i].crc32);
            ASSERT_EQ(json::parse(lines[i])["crc32"], crc) << testing::PrintToString(r.extra) << " frame " << i;
        }
    }
    auto none = Cli({"frames", *s_path, "--channel", "3", "--stream", "sub"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, "velmor-cli: " + *s_path + ": channel 3 has no sub stream in this file\n");
}

TEST_F(CliContainer, FramesAfterASeekAndCounted)
{
    auto r = Cli({"frames", *s_path, "--channel", "3", "--seek", std::to_string(kT0 + 5), "--count", "4"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 4u);
    json first = json::parse(lines[0]);
    EXPECT_EQ(first["type"], 1);
    EXPECT_EQ(first["pts"], uint64_t(kT0 + 5) * 1000000) << "an I frame every second: lands on the second";
    EXPECT_EQ(first["ms"], 5000);

    r = Cli({"frames", *s_path, "--count", "2"});
    EXPECT_EQ(Lines(r.out).size(), 2u) << "the first channel by default";
}

TEST_F(CliContainer, SeekOutsideTheRecordingIsAnInputError)
{
    auto r = Cli({"frames", *s_path, "--channel", "1", "--seek", std::to_string(kT0 + 1000)});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("velmor-cli: " + *s_path + ": no I frame to seek to", 0), 0u) << r.err;
}

TEST_F(CliContainer, ChannelWithoutRecording)
{
    auto r = Cli({"frames", *s_path, "--channel", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: " + *s_path + ": channel 2 has no recording in this file\n");
}

TEST_F(CliContainer, UsageErrors)
{
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"nonsense"}, {"frames"}, {"frames", *s_path, "--channel", "17"}, {"frames", *s_path, "--channel", "x"},
             {"info", *s_path, "extra"}, {"frames", *s_path, "--stream", "both"}}) {
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args) << r.err;
        EXPECT_EQ(r.out, "");
    }
    auto help = Cli({"frames", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--seek"), std::string::npos);
}

TEST(CliContainerErrors, BadFiles)
{
    CTempDir dir;
    auto r = Cli({"info", (dir / "fc00001.rpo").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: " + (dir / "fc00001.rpo").string() + ": no such file or folder\n");
    EXPECT_EQ(r.out, "");

    // A file named like a container file but of the wrong size.
    const auto odd = (dir / "fc00002.rpo").string();
    int fd = ::open(odd.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(::ftruncate(fd, 200000000), 0);
    ::close(fd);
    r = Cli({"probe", odd});
    EXPECT_EQ(json::parse(r.out)["kind"], "unknown");
    r = Cli({"info", odd});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");

    // The right size but nothing recorded.
    { CContainerFileImage empty(dir / "fc00003.rpo", 3); }
    r = Cli({"info", (dir / "fc00003.rpo").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no recording in this container file"), std::string::npos);
}

TEST(CliContainerErrors, DamagedFrameHeadIsReportedAfterTheFramesRead)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00004.rpo", 4);
    CRecordWriter w(image, RecordingParams{});
    auto p = MakePayload(1, 100);
    for (int i = 0; i < 4; ++i) w.WriteFrame(i == 0 ? 1 : 2, uint64_t(kT0) * 1000000 + uint64_t(i) * 40000, p.data(), 100);
    w.Close();
    const uint8_t bad = 'X';
    const auto& third = w.Places()[2];
    image.WriteRaw(DataFileOffset(PositionOfBlock(third.blkId), image.BlockSize(), third.logical), &bad, 1);
    auto r = Cli({"frames", image.Path().string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(Lines(r.out).size(), 2u);
    EXPECT_NE(r.err.find("1 bad frame head(s)"), std::string::npos) << r.err;
}

TEST(CliTrace, SwitchedByTheLanguageTable)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00006.rpo", 6);
    {
        CRecordWriter w(image, RecordingParams{});
        auto p = MakePayload(1, 100);
        w.WriteFrame(1, uint64_t(kT0) * 1000000, p.data(), 100);
    }
    std::filesystem::create_directories(dir / "app" / "Language");
    auto run = [&](const std::string& ini) {
        std::ofstream(dir / "app" / "Language" / "SvrLanguage.ini", std::ios::binary) << ini;
        return Cli({"frames", image.Path().string()}, {{"VELMOR_APPDIR", (dir / "app").string()}});
    };
    auto on = run("[LangList]\r\nRpoDebug=1\r\n");
    ASSERT_EQ(on.exitCode, 0);
    EXPECT_EQ(Lines(on.out).size(), 1u) << "traces never reach the JSON";
    EXPECT_NE(on.err.find("RK-CLIENT:SingleRpoFile.cpp["), std::string::npos) << on.err;
    EXPECT_NE(on.err.find("]:rkcontainer::CSingleRpoFile::SingleFileReadOneFrame:type:1,channel:0,length:100,pts:"),
              std::string::npos)
        << on.err;
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("[LangList]\r\nRpoDebug=1\r\n")) utf16 += std::string(1, c) + '\0';
    EXPECT_NE(run(utf16).err.find("RK-CLIENT:"), std::string::npos) << "a UTF-16 language table";
    EXPECT_EQ(run("[LangList]\r\nRpoDebug=2\r\n").err, "") << "only 1 switches the trace on";
    EXPECT_EQ(run("[Other]\r\nRpoDebug=1\r\n").err, "");
}

TEST(CliLibraryOutput, DiagnosticsOnStandardOutputGoToStandardError)
{
    CTempDir dir;
    CContainerFileImage image(dir / "fc00007.rpo", 7);
    RecordingParams params;
    params.encode.reso = 12;  // not a known resolution code
    {
        CRecordWriter w(image, params);
        auto p = MakePayload(1, 100);
        w.WriteFrame(1, uint64_t(kT0) * 1000000, p.data(), 100);
    }
    auto r = Cli({"info", image.Path().string()});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NO_THROW(json::parse(r.out));
    EXPECT_NE(r.err.find("res = 12 isn't supported now"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velmor::fixtures
