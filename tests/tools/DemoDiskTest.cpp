// The demo corpus builder, run as `make demo` runs it: every source it writes
// is read back through the readers the player uses and must list exactly
// what the manifest says; two builds must be byte for byte the same.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <numbers>
#include <set>

#include <nlohmann/json.hpp>

#include "common/CodePage.h"
#include "container/include/rkcontainer.h"
#include "player/formats/IfvFile.h"
#include "player/formats/TtxLibrary.h"
#include "player/search/RecorderLog.h"
#include "player/workspace/MbTiles.h"
#include "store/include/rkstore.h"
#include "tests/support/AttachInfoWriter.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"
#include "tools/demo-disk/DemoMap.h"
#include "tools/gps-table/PositionTable.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Generous: the builder is meant to take well under a minute of one core.
constexpr double kBudgetSeconds = 600;

std::vector<uint8_t> ReadAllBytes(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 | uint32_t(b.at(at + 3)) << 24;
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b.at(at) | b.at(at + 1) << 8); }

struct Build {
    std::unique_ptr<CTempDir> dir;
    fs::path root;
    ProcessResult result;
    double seconds = 0;
    json manifest;
};

Build RunBuilder(const std::string& tag)
{
    Build b;
    b.dir = std::make_unique<CTempDir>(tag);
    b.root = b.dir->Path() / "demo";
    const auto start = std::chrono::steady_clock::now();
    b.result = RunProgram("velmor-demo-disk", {b.root.string()});
    b.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ifstream in(b.root / "MANIFEST.json");
    if (in) b.manifest = json::parse(in, nullptr, false);
    return b;
}

class DemoDisk : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The two builds run side by side: each is one thread of work.
        auto second = std::async(std::launch::async, [] { return RunBuilder("demo-b"); });
        s_first = std::make_unique<Build>(RunBuilder("demo-a"));
        s_second = std::make_unique<Build>(second.get());
    }
    static void TearDownTestSuite()
    {
        s_first.reset();
        s_second.reset();
    }
    void SetUp() override
    {
        ASSERT_EQ(s_first->result.exitCode, 0) << s_first->result.err;
        ASSERT_TRUE(s_first->manifest.is_object());
    }
    static const json& M() { return s_first->manifest; }
    static fs::path P(const json& rel) { return s_first->root / rel.get<std::string>(); }

    static std::unique_ptr<Build> s_first;
    static std::unique_ptr<Build> s_second;
};
std::unique_ptr<Build> DemoDisk::s_first;
std::unique_ptr<Build> DemoDisk::s_second;

TEST_F(DemoDisk, PrintsItsSummaryAndStaysWithinItsBudget)
{
    const json summary = json::parse(s_first->result.out, nullptr, false);
    ASSERT_TRUE(summary.is_object()) << "stdout is one JSON document";
    EXPECT_EQ(fs::path(summary["root"].get<std::string>()), fs::canonical(s_first->root));
    EXPECT_EQ(summary["partition"], M()["partition"]);
    EXPECT_EQ(summary["index_disk"]["records"], M()["index_disk"]["records"]);
    EXPECT_LT(s_first->seconds, kBudgetSeconds);
    EXPECT_FALSE(fs::exists(s_first->root / "MANIFEST.json.tmp"));
}

TEST_F(DemoDisk, TheDemoSpanIsRecordedOnItsChannel)
{
    const json& span = M()["demo_span"];
    bool covered = false;
    for (const json& r : M()["partition"]["recordings"])
        covered |= r["channel"] == span["channel"] && r["begin"] <= span["begin"] && r["end"] >= span["end"];
    EXPECT_TRUE(covered);
    std::set<int> channels, h265;
    std::set<std::string> days;
    for (const json& r : M()["partition"]["recordings"]) {
        channels.insert(r["channel"].get<int>());
        if (r["codec"] == "H.265") h265.insert(r["channel"].get<int>());
        days.insert(r["begin_text"].get<std::string>().substr(0, 10));
    }
    EXPECT_EQ(channels, (std::set<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_FALSE(h265.empty());
    EXPECT_EQ(days.size(), 2u);
}

// ---- The container partition --------------------------------------------------

// The entries are packed: their fields are copied out before gtest binds
// references to them.
std::vector<RKCONTAINER_SEARCH_ENTRY> SearchPartition(const fs::path& dir, const fs::path& device)
{
    std::vector<RKCONTAINER_SEARCH_ENTRY> entries(2000);
    const std::string d = dir.string(), dev = device.string();
    const char* paths[] = {d.c_str()};
    const char* devices[] = {dev.c_str()};
    RKCONTAINER_FILTER filter{0xFFFF};
    const int n = RKCONTAINER_SearchFileListOnDevices(paths, device.empty() ? nullptr : devices, 1, &filter,
                                                      entries.data(), int(entries.size()));
    entries.resize(size_t(std::max(0, n)));
    return entries;
}

TEST_F(DemoDisk, ThePartitionListsEveryRecordingWithItsSpanAndLabel)
{
    const json& p = M()["partition"];
    const auto entries = SearchPartition(P(p["path"]), P(p["device"]));
    ASSERT_FALSE(entries.empty());
    const std::string label = Utf8ToGbk(p["car_number"].get<std::string>());
    size_t parts = 0;
    for (const json& r : p["recordings"]) {
        const uint32_t begin = r["begin"], end = r["end"];
        std::vector<RKCONTAINER_SEARCH_ENTRY> mine;
        for (const auto& e : entries)
            if (e.channel + 1 == r["channel"].get<int>() && e.beginTime >= begin && e.endTime <= end) mine.push_back(e);
        ASSERT_FALSE(mine.empty()) << r.dump();
        std::stable_sort(mine.begin(), mine.end(), [](const auto& a, const auto& b) { return a.beginTime < b.beginTime; });
        EXPECT_EQ(uint32_t(mine.front().beginTime), begin) << r.dump();
        EXPECT_EQ(uint32_t(mine.back().endTime), end) << r.dump();
        for (size_t i = 1; i < mine.size(); ++i)
            EXPECT_LE(uint32_t(mine[i].beginTime), uint32_t(mine[i - 1].endTime) + 1) << r.dump();
        for (const auto& e : mine) EXPECT_EQ(std::string(e.carNumber), label);
        parts += mine.size();
    }
    EXPECT_EQ(parts, entries.size()) << "nothing listed that the manifest does not hold";
    std::set<uint32_t> files;
    for (const auto& e : entries) files.insert(uint32_t(e.fileNo));
    EXPECT_GE(files.size(), 2u) << "the second day runs into the next container file";
    EXPECT_EQ(SearchPartition(P(p["path"]), {}).size(), entries.size()) << "the folder alone lists the same";
}

TEST_F(DemoDisk, ThePartitionIsSparseAndHasItsBootSector)
{
    const json& p = M()["partition"];
    const fs::path device = P(p["device"]);
    struct stat st {};
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    EXPECT_GT(uint64_t(st.st_size), 7ull << 30) << "a whole partition";
    EXPECT_LT(uint64_t(st.st_blocks) * 512, 1ull << 20) << "of which only the boot sector takes room";
    std::ifstream in(device, std::ios::binary);
    char head[16] = {};
    in.read(head, sizeof head);
    EXPECT_EQ(std::string(head + 3, 7), "RKFATFS");
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(P(p["path"])))
        if (e.path().extension() == ".rpo") ++files;
    EXPECT_EQ(files, p["container_files"].get<size_t>());
}

TEST_F(DemoDisk, ThePartitionFramesCarryTheVehicleRecord)
{
    // Channel 3 of the first day is alone in the first container file.
    const json& p = M()["partition"];
    RKCONTAINER_HANDLE h = nullptr;
    ASSERT_EQ(RKCONTAINER_OpenFile(&h, (P(p["path"]) / "fc00000.rpo").c_str()), 0);
    uint32_t begin = 0, end = 0;
    RKCONTAINER_ENCODE enc{};
    ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(&h, 5, &begin, &end, &enc), 0);  // channel 6
    const json* rec = nullptr;
    for (const json& r : p["recordings"])
        if (r["channel"] == 6 && r["begin"] == begin) rec = &r;
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(end, (*rec)["end"].get<uint32_t>());
    EXPECT_EQ(enc.vEnc, 2) << "H.265";
    EXPECT_EQ(enc.frameRate, (*rec)["frame_rate"].get<int>());
    std::vector<uint8_t> buf(RKCONTAINER_MAX_FRAME_SIZE);
    uint32_t video = 0, info = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        RKCONTAINER_FRAME_HEAD head{};
        const int rc = RKCONTAINER_ReadOneFrame(&h, buf.data(), &head, &enc);
        if (rc == -4) break;
        ASSERT_EQ(rc, 0);
        if (head.sign != 'F') continue;
        if (head.type <= 3) ++video;
        if (head.type == 5) {
            ASSERT_EQ(head.length, 75u);
            EXPECT_EQ(U32(std::vector<uint8_t>(buf.begin(), buf.begin() + 75), 0), uint32_t(head.pts / 1000000));
            const int32_t lat = int32_t(U32(std::vector<uint8_t>(buf.begin(), buf.begin() + 75), 5));
            EXPECT_NEAR(DecodeCoordinate(lat), 22.54, 0.02) << "Shenzhen";
            ++info;
        }
    }
    RKCONTAINER_CloseFile(&h);
    EXPECT_EQ(video, (*rec)["video_frames"].get<uint32_t>());
    EXPECT_EQ(info, (*rec)["info_frames"].get<uint32_t>());
}

TEST_F(DemoDisk, SubStreamsCoverTheSecondsOfTheirMainStreams)
{
    // Channels 1 and 2 of both days; the first day lies in the first container file.
    const json& p = M()["partition"];
    ASSERT_EQ(p["sub_streams"].size(), 4u);
    std::set<int> flagged;
    for (const json& r : p["recordings"])
        if (r["sub_stream"].get<bool>()) flagged.insert(r["channel"].get<int>());
    EXPECT_EQ(flagged, (std::set<int>{1, 2}));
    size_t checked = 0;
    for (const json& sub : p["sub_streams"]) {
        SCOPED_TRACE(sub.dump());
        EXPECT_EQ(sub["width"], 176);
        EXPECT_EQ(sub["height"], 144);
        const json* main = nullptr;
        for (const json& r : p["recordings"])
            if (r["channel"] == sub["channel"] && r["begin"] == sub["begin"]) main = &r;
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(sub["end"], (*main)["end"]);
        EXPECT_EQ(sub["video_frames"], (*main)["video_frames"]);
        if (sub["begin_text"].get<std::string>().substr(0, 10) != "2026-12-01") continue;

        RKCONTAINER_HANDLE h = nullptr;
        ASSERT_EQ(RKCONTAINER_OpenFile(&h, (P(p["path"]) / "fc00000.rpo").c_str()), 0);
        const int channel = sub["channel"].get<int>() - 1;
        uint32_t streams = 0;
        EXPECT_EQ(RKCONTAINER_GetChnStreams(&h, channel, &streams), 0);
        EXPECT_EQ(streams, uint32_t(RKCONTAINER_HAS_MAIN | RKCONTAINER_HAS_SUB));
        ASSERT_EQ(RKCONTAINER_SetStream(&h, RKCONTAINER_STREAM_SUB), 0);
        uint32_t begin = 0, end = 0;
        RKCONTAINER_ENCODE enc{};
        ASSERT_EQ(RKCONTAINER_GetOneChnFileInfo(&h, channel, &begin, &end, &enc), 0);
        EXPECT_EQ(begin, sub["begin"].get<uint32_t>());
        EXPECT_EQ(end, sub["end"].get<uint32_t>());
        std::vector<uint8_t> buf(RKCONTAINER_MAX_FRAME_SIZE);
        uint32_t video = 0, others = 0;
        for (int guard = 0; guard < 100000; ++guard) {
            RKCONTAINER_FRAME_HEAD head{};
            const int rc = RKCONTAINER_ReadOneFrame(&h, buf.data(), &head, &enc);
            if (rc == -4) break;
            ASSERT_EQ(rc, 0);
            if (head.sign != 'F') continue;
            if (head.subStream != 1) ++others;
            if (head.type <= 3) ++video;
        }
        RKCONTAINER_CloseFile(&h);
        EXPECT_EQ(others, 0u);
        EXPECT_EQ(video, sub["video_frames"].get<uint32_t>());
        ++checked;
    }
    EXPECT_EQ(checked, 2u);
}

// ---- Backup record files ---------------------------------------------------------

TEST_F(DemoDisk, BackupRecordFilesReadBackWhole)
{
    ASSERT_FALSE(M()["backup_files"].empty());
    for (const json& f : M()["backup_files"]) {
        StRecBakFileOp_t op{};
        ASSERT_EQ(RKSFS_OpenBakRecFile(&op, P(f["path"]).c_str()), 0) << f.dump();
        EXPECT_EQ(op.recFI.channel + 1, f["channel"].get<int>());
        EXPECT_EQ(op.recFI.beginTime, f["begin"].get<uint32_t>());
        EXPECT_EQ(op.recFI.endTime, f["end"].get<uint32_t>());
        StRecEncode_t enc{};
        ASSERT_EQ(RKSFS_GetBakRecFileEncode(&op, &enc, nullptr), 0);
        EXPECT_EQ(enc.vEnc, f["codec"] == "H.265" ? 2u : 1u);
        EXPECT_EQ(enc.aEnc, f["audio"].is_null() ? 0u : 2u);
        std::vector<uint8_t> buf(RKSFS_READ_BUFFER_SIZE);
        uint32_t video = 0, audio = 0, info = 0;
        RKSFS_FRAME_HEAD head{};
        int n = 0;
        bool firstKey = false;
        while ((n = RKSFS_ReadBakRecFrame(&op, buf.data(), buf.size(), &head)) > 0) {
            if (video + audio + info == 0) firstKey = head.type == 1;
            video += head.type <= 3;
            audio += head.type == 4;
            info += head.type == 5;
        }
        EXPECT_EQ(n, 0) << "read to the end without an error";
        EXPECT_TRUE(firstKey);
        EXPECT_EQ(video, f["video_frames"].get<uint32_t>());
        EXPECT_EQ(audio, f["audio_frames"].get<uint32_t>());
        EXPECT_EQ(info, f["info_frames"].get<uint32_t>());
        RKSFS_CloseBakRecFile(&op);
    }
}

// ---- IFV files of every source ------------------------------------------------------

struct IfvCounts {
    uint32_t video = 0, audio = 0, attach = 0;
    uint32_t firstAttachTime = 0;
    int last = 0;
};

void CheckIfv(const fs::path& path, const json& f, int eventChannel = 0)
{
    SCOPED_TRACE(path.string());
    FILEHANDLE* h = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(RK_FileGetStartTime(h), f["begin"].get<uint32_t>());
    EXPECT_EQ(RK_FileGetEndTime(h), f["end"].get<uint32_t>());
    EXPECT_EQ(RK_FileGetEventChannel(h), eventChannel);
    EXPECT_EQ(RK_FileGetWidth(h), f["width"].get<int>());
    EXPECT_EQ(RK_FileGetHeight(h), f["height"].get<int>());
    const uint32_t codec = RK_FileGetVideoCodec(h);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&codec), 4), f["codec"] == "H.265" ? "H265" : "H264");
    EXPECT_EQ(RK_FileGetVideoFrameCount(h), f["video_frames"].get<uint32_t>());
    EXPECT_EQ(RK_FileHasAudio(h), f["audio"].is_null() ? 0 : 1);
    std::vector<uint8_t> buf(RK_FILE_FRAME_BUFFER_SIZE);
    IfvCounts c;
    for (;;) {
        uint32_t ts = 0, duration = 0;
        uint64_t pts = 0;
        uint8_t key = 0, kind = 0;
        const int n = RK_FileReadOneMediaFrame2(h, buf.data(), &ts, &pts, &duration, &key, &kind);
        if (n <= 0) {
            c.last = n;
            break;
        }
        if (kind == RK_FILE_MEDIA_VIDEO) {
            if (c.video == 0) {
                EXPECT_EQ(key, 5) << "starts on a key frame";
            }
            ++c.video;
        }
        c.audio += kind == RK_FILE_MEDIA_AUDIO;
        if (kind == RK_FILE_MEDIA_ATTACH) {
            EXPECT_EQ(n, 75);
            const uint32_t t = U32(buf, 0);
            EXPECT_EQ(t, f["begin"].get<uint32_t>() + ts / 1000) << "the record's second is its place in the file";
            if (c.attach++ == 0) c.firstAttachTime = t;
        }
    }
    RK_CloseFile2(h);
    EXPECT_EQ(c.last, 0);
    EXPECT_EQ(c.video, f["video_frames"].get<uint32_t>());
    EXPECT_EQ(c.audio, f["audio_frames"].get<uint32_t>());
    EXPECT_EQ(c.attach, f["attach_records"].get<uint32_t>());
    EXPECT_EQ(c.firstAttachTime, f["begin"].get<uint32_t>());
}

TEST_F(DemoDisk, IfvFilesReadBackWhole)
{
    ASSERT_FALSE(M()["ifv_files"].empty());
    for (const json& f : M()["ifv_files"]) CheckIfv(P(f["path"]), f);
}

TEST_F(DemoDisk, TheGrecFileReadsBackWholeThroughThePlugin)
{
    ASSERT_EQ(M()["grec_files"].size(), 1u);
    const json& f = M()["grec_files"][0];
    CTtxLibrary& plugin = CTtxLibrary::Shared();
    ASSERT_TRUE(plugin.Loaded()) << plugin.Error();
    CTtxFile file(plugin);
    ASSERT_EQ(file.Open(P(f["path"])), AVFILE_OK) << file.Error();
    AVFILE_FILE_INFO info{};
    AVFILE_WAVE_FORMAT wave{};
    AVFILE_TERMINAL_INFO terminal{};
    ASSERT_EQ(plugin.FEGetFileInfo(file.Slot(), &info), AVFILE_OK);
    ASSERT_EQ(plugin.FEGetWaveFormat(file.Slot(), &wave), AVFILE_OK);
    ASSERT_EQ(plugin.FEGetTerminalInfo(file.Slot(), &terminal), AVFILE_OK);
    const uint32_t begin = f["begin"].get<uint32_t>();
    EXPECT_EQ(info.beginTime, uint64_t(begin) * 1000000);
    EXPECT_EQ(uint32_t(info.endTime / 1000000), f["end"].get<uint32_t>());
    EXPECT_EQ(info.width, f["width"].get<int>());
    EXPECT_EQ(info.frameRate, f["frame_rate"].get<int>());
    EXPECT_EQ(info.videoCompress, AVFILE_VIDEO_H264);
    EXPECT_EQ(wave.encoding, 8) << "G.711 A-law";
    EXPECT_EQ(std::string(terminal.vehicle), f["vehicle"].get<std::string>());
    std::vector<uint8_t> buf(AVFILE_MAX_FRAME_SIZE);
    uint32_t counts[3] = {}, firstInfoTime = 0;
    AVFILE_FRAME head{};
    int n;
    while ((n = plugin.FEReadFrame(file.Slot(), buf.data(), uint32_t(buf.size()), &head)) > 0) {
        if (counts[0] == 0 && head.type == AVFILE_FRAME_VIDEO) {
            EXPECT_EQ(head.key, 1) << "starts on a key frame";
        }
        if (head.type == AVFILE_FRAME_INFO) {
            ASSERT_EQ(n, 75);
            const uint32_t t = U32(buf, 0);
            EXPECT_EQ(uint64_t(t) * 1000000, head.timeUs) << "the record's second is its time in the file";
            if (counts[2] == 0) firstInfoTime = t;
        }
        ++counts[head.type];
    }
    EXPECT_EQ(n, 0) << file.Error();
    EXPECT_EQ(counts[0], f["video_frames"].get<uint32_t>());
    EXPECT_EQ(counts[1], f["audio_frames"].get<uint32_t>());
    EXPECT_EQ(counts[2], f["attach_records"].get<uint32_t>());
    EXPECT_EQ(firstInfoTime, begin);
}

// The folder holds exactly the files of the manifest.
std::set<std::string> FilesUnder(const fs::path& root, const fs::path& dir)
{
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) out.insert(e.path().lexically_relative(root).generic_string());
    return out;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> parts;
    size_t at = 0;
    for (;;) {
        const size_t next = s.find(sep, at);
        parts.push_back(s.substr(at, next == std::string::npos ? std::string::npos : next - at));
        if (next == std::string::npos) return parts;
        at = next + 1;
    }
}

std::string Hms(uint32_t t)
{
    std::time_t v = t;
    std::tm tm{};
    gmtime_r(&v, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H%M%S", &tm);
    return buf;
}
std::string Ymd(uint32_t t, const char* pattern)
{
    std::time_t v = t;
    std::tm tm{};
    gmtime_r(&v, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, pattern, &tm);
    return buf;
}

TEST_F(DemoDisk, TheDownloadTreeNamesTellChannelSpanAlarmAndVehicle)
{
    const json& t = M()["download_tree"];
    std::set<std::string> listed;
    for (const json& f : t["files"]) {
        const fs::path path = P(f["path"]);
        listed.insert(f["path"].get<std::string>());
        CheckIfv(path, f);
        // Device folder / date folder / CHn_begin_end_alarm_time.ifv
        EXPECT_EQ(path.parent_path().parent_path().filename().string(), f["car_number"].get<std::string>());
        EXPECT_LT(Utf8ToGbk(f["car_number"].get<std::string>()).size(), 15u);
        EXPECT_EQ(path.parent_path().filename().string(), Ymd(f["begin"], "%Y-%m-%d"));
        const auto parts = Split(path.filename().string(), '_');
        ASSERT_EQ(parts.size(), 5u) << path;
        EXPECT_EQ(parts[0], "CH" + std::to_string(f["channel"].get<int>()));
        EXPECT_EQ(parts[1], Hms(f["begin"]));
        EXPECT_EQ(parts[2], Hms(f["end"]));
        const size_t c = parts[3].find('C');
        ASSERT_NE(c, std::string::npos) << "an alarm token with its C, so the alarm value is the number before it";
        EXPECT_EQ(std::stoi(parts[3].substr(1, c - 1)), f["alarm"].get<int>());
        EXPECT_TRUE(parts[4].ends_with(".ifv"));
    }
    EXPECT_EQ(FilesUnder(s_first->root, P(t["path"])), listed);
    bool alarm = false;
    for (const json& f : t["files"]) alarm |= f["alarm"].get<int>() != 0;
    EXPECT_TRUE(alarm) << "the alarm type choice finds something";
}

TEST_F(DemoDisk, TheClientDownloadFolderNamesTellSpanAndChannel)
{
    const json& c = M()["client_download"];
    std::set<std::string> listed;
    for (const json& f : c["files"]) {
        const fs::path path = P(f["path"]);
        listed.insert(f["path"].get<std::string>());
        CheckIfv(path, f);
        EXPECT_EQ(path.parent_path().filename().string(), f["car_number"].get<std::string>());
        const auto parts = Split(path.filename().string(), '_');
        ASSERT_EQ(parts.size(), 6u) << path;
        EXPECT_EQ(parts[1], Ymd(f["begin"], "%Y%m%d"));
        EXPECT_EQ(parts[2], Hms(f["begin"]));
        EXPECT_EQ(parts[3], Ymd(f["end"], "%Y%m%d"));
        EXPECT_EQ(parts[4], Hms(f["end"]));
        ASSERT_GT(parts[5].size(), 5u);
        EXPECT_EQ(std::stoi(parts[5].substr(3, 2)), f["channel"].get<int>());
    }
    EXPECT_EQ(FilesUnder(s_first->root, P(c["path"])), listed);
}

// ---- The index disk ------------------------------------------------------------------

TEST_F(DemoDisk, TheIndexDiskListsEveryRecordAsThePlayerSearchesIt)
{
    const json& d = M()["index_disk"];
    const fs::path disk = P(d["path"]);
    EXPECT_TRUE(fs::is_regular_file(disk / "INDEX00.bin"));
    EXPECT_TRUE(fs::is_regular_file(disk / "INDEX01.bin"));
    EXPECT_TRUE(fs::exists(disk / "KORADVR"));
    RKFILE_SEARCH_FILTER filter{};
    filter.chnMask = 0xFFFF;
    filter.typeMask = 31;
    filter.startTime = 946684800;
    filter.endTime = 2900000000u;
    filter.classFilter = 0;
    int rc = 0;
    const auto found = SearchIndexDisk({disk.string()}, filter, &rc);
    std::vector<json> expected(d["records"].begin(), d["records"].end());
    std::stable_sort(expected.begin(), expected.end(), [](const json& a, const json& b) { return a["begin"] < b["begin"]; });
    ASSERT_EQ(rc, int(expected.size()));
    ASSERT_EQ(found.size(), expected.size());
    const std::string label = Utf8ToGbk(d["car_number"].get<std::string>());
    std::multiset<std::pair<uint32_t, int>> want, got;
    for (size_t i = 0; i < found.size(); ++i) {
        const StSearchRecord_t& r = found[i];
        got.insert({r.fileNo.get(), r.channel});
        want.insert({expected[i]["area"].get<uint32_t>(), expected[i]["channel"].get<int>()});
        EXPECT_EQ(r.beginTime.get(), expected[i]["begin"].get<uint32_t>());
        EXPECT_EQ(std::string(LabelOf(r)), label);
    }
    EXPECT_EQ(got, want);
    for (const json& r : d["records"]) {
        for (const StSearchRecord_t& f : found) {
            if (f.fileNo.get() != r["area"].get<uint32_t>()) continue;
            EXPECT_EQ(f.endTime.get(), r["end"].get<uint32_t>());
            EXPECT_EQ(f.flags, r["flags"].get<int>());
            EXPECT_EQ(f.beginOffset.get(), r["offset"].get<uint32_t>());
            EXPECT_EQ(f.length.get(), r["length"].get<uint32_t>());
            EXPECT_EQ(f.length.get(), fs::file_size(P(r["path"]))) << "the record covers its fly file";
        }
        char name[32];
        std::snprintf(name, sizeof name, "fly%05u.ifv", r["area"].get<uint32_t>());
        EXPECT_EQ(P(r["path"]).filename(), name) << "the player plays record area n as fly file n";
        CheckIfv(P(r["path"]), r, r["channel"].get<int>());
    }
    // The alarm type choice finds the one alarm recording.
    filter.typeMask = 4;
    const auto alarms = SearchIndexDisk({disk.string()}, filter);
    size_t alarmRecords = 0;
    for (const json& r : d["records"]) alarmRecords += (r["flags"].get<int>() & 4) != 0;
    EXPECT_EQ(alarms.size(), alarmRecords);
    EXPECT_EQ(alarmRecords, 1u);
}

// The event file read as the record search reads it, from its bytes.
struct ReadEvent {
    uint16_t fileId;
    uint32_t beginPos;
    uint8_t type, channel;
    uint32_t begin, end;
};

std::vector<ReadEvent> ReadEventFile(const fs::path& path, std::vector<std::string>* names)
{
    const auto b = ReadAllBytes(path);
    std::vector<ReadEvent> out;
    if (b.size() < 144 || std::memcmp(b.data(), "RecE", 4) != 0) return out;
    for (size_t k = 0; k < 8; ++k) names->push_back(std::string(reinterpret_cast<const char*>(&b[9 + 16 * k])).substr(0, 15));
    size_t at = 144;
    while (at + 16 <= b.size()) {
        const uint16_t fileId = U16(b, at), groups = U16(b, at + 2);
        const size_t blockEnd = at + 8192;
        size_t p = at + 16;
        for (uint16_t g = 0; g < groups && p + 10 <= blockEnd; ++g) {
            const uint32_t pos = U32(b, p);
            const uint16_t units = U16(b, p + 4);
            p += 10;
            for (uint16_t u = 0; u < units && p + 11 <= blockEnd; ++u, p += 11)
                out.push_back({fileId, pos, b[p], b[p + 1], U32(b, p + 3), U32(b, p + 7)});
        }
        at = blockEnd;
    }
    return out;
}

TEST_F(DemoDisk, TheEventFileHoldsTheManifestsEventsAndPointsAtTheirRecordings)
{
    const json& d = M()["index_disk"];
    const fs::path disk = P(d["path"]);
    std::vector<std::string> names;
    const auto events = ReadEventFile(disk / "RecordEvent.bin", &names);
    EXPECT_EQ(fs::file_size(disk / "RecordEvent.bin") % 8192, 144u);
    ASSERT_EQ(events.size(), d["events"].size());
    for (size_t i = 0; i < events.size(); ++i) {
        const ReadEvent& e = events[i];
        const json& m = d["events"][i];
        SCOPED_TRACE(m.dump());
        EXPECT_EQ(e.type, m["type"].get<int>());
        EXPECT_EQ(e.channel, m["stored_channel"].get<int>());
        EXPECT_EQ(e.begin, m["begin"].get<uint32_t>());
        EXPECT_EQ(e.end, m["end"].get<uint32_t>());
        EXPECT_EQ(e.beginPos, m["pos"].get<uint32_t>());
        char name[32];
        std::snprintf(name, sizeof name, "fly%05u.ifv", e.fileId);
        EXPECT_EQ(P(m["path"]), disk / name);
        // Alarm inputs, video loss and motion take their channel from the recording.
        FILEHANDLE* h = RK_OpenFile2((disk / name).c_str(), e.beginPos, RK_FILE_MODE_READ);
        ASSERT_NE(h, nullptr);
        const int eventChannel = RK_FileGetEventChannel(h);
        EXPECT_LE(RK_FileGetStartTime(h), e.begin);
        EXPECT_GE(RK_FileGetEndTime(h), e.begin);
        RK_CloseFile2(h);
        EXPECT_EQ(e.type <= 3 ? eventChannel : e.channel, m["channel"].get<int>());
        if (e.type == 1) {
            EXPECT_EQ(GbkToUtf8(names.at(e.channel)), m["input_name"].get<std::string>());
        } else {
            EXPECT_TRUE(m.contains("description_key"));
        }
    }
}

// ---- Logs ---------------------------------------------------------------------------------

TEST_F(DemoDisk, LogsLoadAsTheManifestSays)
{
    for (const json* l : {&M()["index_disk"]["log"], &M()["partition"]["log"]}) {
        SCOPED_TRACE(l->dump());
        CLogStore store;
        ASSERT_EQ(store.LoadLog(P((*l)["path"])), 0);
        const auto records = store.Query(DefaultLogQuery());
        EXPECT_EQ(records.size(), (*l)["records"].get<size_t>());
        ASSERT_FALSE(records.empty());
        EXPECT_EQ(records.front().time.get(), (*l)["first"].get<uint32_t>());
        EXPECT_EQ(records.back().time.get(), (*l)["last"].get<uint32_t>());
        EXPECT_EQ(store.AlarmRing()->count, (*l)["alarm_records"].get<uint32_t>());
        EXPECT_EQ(store.OperationRing()->count, (*l)["operation_records"].get<uint32_t>());
        EXPECT_GE(records.size(), 100u) << "a few hundred records";
        EXPECT_EQ(fs::file_size(P((*l)["path"])), (*l)["slots"].get<size_t>() * 37);
    }
    EXPECT_TRUE(M()["index_disk"]["log"]["wrapped"].get<bool>()) << "one log has wrapped around";
}

// ---- Determinism ------------------------------------------------------------------------------

// Non-zero 4 KiB pieces of a file with their offsets: equal lists mean equal
// contents, and holes of sparse files are never read.
std::vector<std::pair<uint64_t, uint32_t>> Pieces(const fs::path& path)
{
    std::vector<std::pair<uint64_t, uint32_t>> out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> buf(1 << 20);
    static const std::vector<uint8_t> zero(4096, 0);
    off_t at = 0;
    while (at < size) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = size;
        for (off_t p = data & ~off_t(4095); p < hole; p += off_t(buf.size())) {
            const ssize_t n = ::pread(fd, buf.data(), size_t(std::min<off_t>(off_t(buf.size()), hole - p)), p);
            if (n <= 0) break;
            for (ssize_t q = 0; q < n; q += 4096) {
                const size_t len = size_t(std::min<ssize_t>(4096, n - q));
                if (std::memcmp(buf.data() + q, zero.data(), len) == 0) continue;
                out.push_back({uint64_t(p + q), Crc32(buf.data() + q, len)});
            }
        }
        at = hole;
    }
    ::close(fd);
    return out;
}

TEST_F(DemoDisk, TwoBuildsAreByteForByteTheSame)
{
    ASSERT_EQ(s_second->result.exitCode, 0) << s_second->result.err;
    std::set<std::string> a, b;
    for (const auto& e : fs::recursive_directory_iterator(s_first->root))
        a.insert(e.path().lexically_relative(s_first->root).generic_string() + (e.is_directory() ? "/" : ""));
    for (const auto& e : fs::recursive_directory_iterator(s_second->root))
        b.insert(e.path().lexically_relative(s_second->root).generic_string() + (e.is_directory() ? "/" : ""));
    ASSERT_EQ(a, b);
    for (const std::string& rel : a) {
        if (rel.ends_with("/")) continue;
        SCOPED_TRACE(rel);
        ASSERT_EQ(fs::file_size(s_first->root / rel), fs::file_size(s_second->root / rel));
        ASSERT_EQ(Pieces(s_first->root / rel), Pieces(s_second->root / rel));
    }
}

// ---- The offline map --------------------------------------------------------------------------

uint32_t Be32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 | uint32_t(b.at(at + 3));
}

// An 8-bit RGB PNG read back: its chunk names in order and its pixels;
// width 0 when anything is wrong with it (signature, a chunk's CRC, the
// packed data, a filter type).
struct Picture {
    int width = 0, height = 0;
    std::vector<std::string> chunks;
    std::vector<uint8_t> rgb;
    demo::Rgb At(int x, int y) const
    {
        const size_t p = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return {rgb.at(p), rgb.at(p + 1), rgb.at(p + 2)};
    }
};

Picture DecodePng(const std::vector<uint8_t>& png)
{
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Picture p;
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return {};
    std::vector<uint8_t> packed;
    int w = 0, h = 0;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t len = Be32(png, at);
        if (at + 12 + size_t(len) > png.size()) return {};
        if (Be32(png, at + 8 + len) != uint32_t(crc32(0L, &png[at + 4], uInt(len + 4)))) return {};
        const std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
        p.chunks.push_back(type);
        if (type == "IHDR") {
            if (len != 13 || png[at + 16] != 8 || png[at + 17] != 2 || png[at + 20] != 0) return {};
            w = int(Be32(png, at + 8));
            h = int(Be32(png, at + 12));
        } else if (type == "IDAT") {
            packed.insert(packed.end(), png.begin() + long(at) + 8, png.begin() + long(at) + 8 + len);
        }
        at += 12 + len;
    }
    if (w <= 0 || h <= 0) return {};
    const size_t stride = size_t(w) * 3;
    uLongf size = uLongf((stride + 1) * size_t(h));
    std::vector<uint8_t> raw(size);
    if (uncompress(raw.data(), &size, packed.data(), uLong(packed.size())) != Z_OK || size != raw.size()) return {};
    p.rgb.resize(stride * size_t(h));
    for (size_t y = 0; y < size_t(h); ++y) {
        const uint8_t type = raw[y * (stride + 1)];
        const uint8_t* in = &raw[y * (stride + 1) + 1];
        uint8_t* out = &p.rgb[y * stride];
        const uint8_t* up = y ? out - stride : nullptr;
        for (size_t i = 0; i < stride; ++i) {
            const int a = i >= 3 ? out[i - 3] : 0, b = up ? up[i] : 0, c = up && i >= 3 ? up[i - 3] : 0;
            const int pp = a + b - c, pa = std::abs(pp - a), pb = std::abs(pp - b), pc = std::abs(pp - c);
            int predictor = 0;
            switch (type) {
            case 0: break;
            case 1: predictor = a; break;
            case 2: predictor = b; break;
            case 3: predictor = (a + b) / 2; break;
            case 4: predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c; break;
            default: return {};
            }
            out[i] = uint8_t(in[i] + predictor);
        }
    }
    p.width = w;
    p.height = h;
    return p;
}

bool operator==(demo::Rgb a, demo::Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

// Web Mercator pixels of the whole world at zoom z, y from the north.
struct WorldPixel {
    long x, y;
    int TileX() const { return int(x / 256); }
    int TileY() const { return int(y / 256); }
};
WorldPixel ToPixel(double lat, double lon, int z)
{
    const double n = 256.0 * double(1L << z), r = lat * std::numbers::pi / 180.0;
    return {long(std::floor((lon + 180.0) / 360.0 * n)),
            long(std::floor((1.0 - std::log(std::tan(r) + 1.0 / std::cos(r)) / std::numbers::pi) / 2.0 * n))};
}

// Where the partition's first day starts, as recorded, and where the player
// shows it with ConvertGPS on.
constexpr double kFirstLat = 22.53622, kFirstLon = 113.97260;
std::pair<double, double> Corrected(double lat, double lon)
{
    double clon = 0, clat = 0;
    OffsetPosition(lon, lat, &clon, &clat);
    return {clat, clon};
}

TEST_F(DemoDisk, TheOfflineMapIsATileFileOverTheRoute)
{
    const json& m = M()["offline_map"];
    ASSERT_TRUE(m.is_object());
    EXPECT_EQ(m["path"], "map/demo-track.mbtiles");
    EXPECT_EQ(m["minzoom"], 12);
    EXPECT_EQ(m["maxzoom"], 15);
    const auto bounds = m["bounds"].get<std::vector<double>>();
    ASSERT_EQ(bounds.size(), 4u);
    const fs::path file = P(m["path"]);
    EXPECT_EQ(m["bytes"].get<uintmax_t>(), fs::file_size(file));
    EXPECT_LT(fs::file_size(file), 2u << 20) << "the map stays small";
    EXPECT_FALSE(fs::exists(file.string() + "-journal"));

    // Every route point, as recorded and as corrected, lies inside with a margin.
    const double points[][2] = {{22.53622, 113.97260}, {22.53960, 114.02230}, {22.54390, 114.08200}, {22.54030, 114.00870}};
    for (const auto& pt : points)
        for (const auto& [lat, lon] : {std::pair{pt[0], pt[1]}, Corrected(pt[0], pt[1])}) {
            EXPECT_GT(lon, bounds[0] + 0.005) << lat << "," << lon;
            EXPECT_GT(lat, bounds[1] + 0.005) << lat << "," << lon;
            EXPECT_LT(lon, bounds[2] - 0.005) << lat << "," << lon;
            EXPECT_LT(lat, bounds[3] - 0.005) << lat << "," << lon;
        }

    velmor::CMbTiles tiles;
    std::string error;
    ASSERT_TRUE(tiles.Open(file, &error)) << error;
    EXPECT_EQ(tiles.MinZoom(), 12);
    EXPECT_EQ(tiles.MaxZoom(), 15);
    EXPECT_EQ(tiles.MimeType(), "image/png");
    char text[128];
    std::snprintf(text, sizeof text, "%.3f,%.3f,%.3f,%.3f", bounds[0], bounds[1], bounds[2], bounds[3]);
    const std::pair<const char*, std::string> metadata[] = {
        {"format", "png"}, {"minzoom", "12"}, {"maxzoom", "15"}, {"bounds", text}, {"type", "baselayer"},
    };
    for (const auto& [name, value] : metadata) {
        ASSERT_TRUE(tiles.Metadata().count(name)) << name;
        EXPECT_EQ(tiles.Metadata().at(name), value) << name;
    }
    ASSERT_TRUE(tiles.Metadata().count("name"));
    EXPECT_FALSE(tiles.Metadata().at("name").empty());
    ASSERT_TRUE(tiles.Metadata().count("center"));
    double clon = 0, clat = 0;
    int cz = 0;
    ASSERT_EQ(std::sscanf(tiles.Metadata().at("center").c_str(), "%lf,%lf,%d", &clon, &clat, &cz), 3);
    EXPECT_TRUE(clon > bounds[0] && clon < bounds[2] && clat > bounds[1] && clat < bounds[3]);
    EXPECT_TRUE(cz >= 12 && cz <= 15) << cz;

    // Exactly the tiles over the bounds at each zoom, rows counted from the south.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row FROM tiles", -1, &s, nullptr), SQLITE_OK);
    std::set<std::tuple<int, int, int>> stored;
    while (sqlite3_step(s) == SQLITE_ROW)
        stored.insert({sqlite3_column_int(s, 0), sqlite3_column_int(s, 1), sqlite3_column_int(s, 2)});
    sqlite3_finalize(s);
    sqlite3_close(db);
    std::set<std::tuple<int, int, int>> expected;
    for (int z = 12; z <= 15; ++z) {
        const WorldPixel nw = ToPixel(bounds[3], bounds[0], z), se = ToPixel(bounds[1], bounds[2], z);
        for (int x = nw.TileX(); x <= se.TileX(); ++x)
            for (int y = nw.TileY(); y <= se.TileY(); ++y) expected.insert({z, x, (1 << z) - 1 - y});
    }
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(m["tiles"].get<size_t>(), stored.size());
}

TEST_F(DemoDisk, TheOfflineMapHasATileUnderTheFirstPositionAtEveryZoom)
{
    velmor::CMbTiles tiles;
    ASSERT_TRUE(tiles.Open(P(M()["offline_map"]["path"])));
    for (int z : {12, 13, 14, 15}) {
        SCOPED_TRACE("zoom " + std::to_string(z));
        const WorldPixel at = ToPixel(kFirstLat, kFirstLon, z);
        const auto png = tiles.Tile(z, at.TileX(), at.TileY());
        ASSERT_TRUE(png.has_value());
        ASSERT_GT(png->size(), 33u);
        const uint8_t signature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
        EXPECT_TRUE(std::equal(signature, signature + 8, png->begin()));
        EXPECT_EQ(std::string(png->begin() + 12, png->begin() + 16), "IHDR");
        EXPECT_EQ(Be32(*png, 16), 256u) << "width";
        EXPECT_EQ(Be32(*png, 20), 256u) << "height";
        const Picture pic = DecodePng(*png);
        EXPECT_EQ(pic.width, 256);
        EXPECT_EQ(pic.chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"})) << "no time or text chunks";
    }
}

struct RoadCase {
    int z;
    bool corrected;  // the position as the player shows it with ConvertGPS on
    bool road;       // the road's own colour under it
};

TEST_F(DemoDisk, TheOfflineMapDrawsTheRoadWhereThePlayerShowsTheCar)
{
    velmor::CMbTiles tiles;
    ASSERT_TRUE(tiles.Open(P(M()["offline_map"]["path"])));
    const auto [clat, clon] = Corrected(kFirstLat, kFirstLon);
    // Half a kilometre off at the highest zoom is a hundred pixels away.
    const RoadCase cases[] = {
        {12, true, true}, {13, true, true}, {14, true, true}, {15, true, true}, {15, false, false},
    };
    for (const RoadCase& c : cases) {
        SCOPED_TRACE("zoom " + std::to_string(c.z) + (c.corrected ? " corrected" : " as recorded"));
        const WorldPixel at = c.corrected ? ToPixel(clat, clon, c.z) : ToPixel(kFirstLat, kFirstLon, c.z);
        const auto png = tiles.Tile(c.z, at.TileX(), at.TileY());
        ASSERT_TRUE(png.has_value());
        const Picture pic = DecodePng(*png);
        ASSERT_EQ(pic.width, 256);
        EXPECT_EQ(pic.At(int(at.x % 256), int(at.y % 256)) == demo::kRoadColour, c.road);
    }

    // The north-west corner at the highest zoom is far from the road: plain
    // land and streets, nothing of the road's colours, unlike the road's tile.
    const auto bounds = M()["offline_map"]["bounds"].get<std::vector<double>>();
    const WorldPixel corner = ToPixel(bounds[3], bounds[0], 15), road = ToPixel(clat, clon, 15);
    const auto far = tiles.Tile(15, corner.TileX(), corner.TileY()), near = tiles.Tile(15, road.TileX(), road.TileY());
    ASSERT_TRUE(far && near);
    EXPECT_NE(*far, *near);
    const auto count = [](const Picture& p, demo::Rgb colour) {
        size_t n = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) n += p.At(x, y) == colour ? 1 : 0;
        return n;
    };
    const Picture farPic = DecodePng(*far), nearPic = DecodePng(*near);
    ASSERT_EQ(farPic.width, 256);
    ASSERT_EQ(nearPic.width, 256);
    EXPECT_EQ(count(farPic, demo::kRoadColour), 0u);
    EXPECT_EQ(count(farPic, demo::kRoadCasingColour), 0u);
    EXPECT_GT(count(farPic, demo::kLandColour), 256u * 128u);
    EXPECT_GT(count(nearPic, demo::kRoadColour), 500u);
    EXPECT_GT(count(nearPic, demo::kRoadCasingColour), 20u);
}

TEST_F(DemoDisk, TwoBuildsWriteTheSameOfflineMap)
{
    ASSERT_EQ(s_second->result.exitCode, 0) << s_second->result.err;
    const std::string rel = M()["offline_map"]["path"];
    const auto a = ReadAllBytes(s_first->root / rel), b = ReadAllBytes(s_second->root / rel);
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b);
    EXPECT_EQ(s_first->manifest["offline_map"], s_second->manifest["offline_map"]);
}

// ---- Refusals ---------------------------------------------------------------------------------

TEST(DemoDiskArguments, AFolderWithFilesIsLeftAloneAndBadArgumentsAreUsageErrors)
{
    CTempDir dir("demo-refuse");
    const fs::path root = dir / "corpus";
    fs::create_directories(root);
    std::ofstream(root / "keep.txt") << "mine";
    const auto r = RunProgram("velmor-demo-disk", {root.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not an empty folder"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(FilesUnder(root, root), std::set<std::string>{"keep.txt"});
    EXPECT_EQ(RunProgram("velmor-demo-disk", {}).exitCode, 2);
    EXPECT_EQ(RunProgram("velmor-demo-disk", {"a", "b"}).exitCode, 2);
    EXPECT_EQ(RunProgram("velmor-demo-disk", {"--bogus"}).exitCode, 2);
    EXPECT_EQ(RunProgram("velmor-demo-disk", {"--help"}).exitCode, 0);
    // A file where the folder should be.
    std::ofstream(dir / "plain") << "x";
    EXPECT_EQ(RunProgram("velmor-demo-disk", {(dir / "plain").string()}).exitCode, 1);
}

// ---- The writers under the corpus --------------------------------------------------------------

TEST(AttachInfoWriter, CoordinatesAreCodedInDegreesAndMinutes)
{
    EXPECT_EQ(CodeCoordinate(22.0 + 33.1234 / 60.0), 22331234);
    EXPECT_NEAR(DecodeCoordinate(22331234), 22.5520567, 1e-7);
    EXPECT_EQ(CodeCoordinate(-(113.0 + 58.5 / 60.0)), -113585000);
    // 59.99996 minutes rounds up into the next whole degree, never to "60 minutes".
    EXPECT_EQ(CodeCoordinate(22.0 + 59.99996 / 60.0), 23000000);
    AttachInfo info;
    info.time = 0x01020304;
    info.latitude = 22.5;
    info.longitude = -0.5;
    info.speed = -2;
    info.heading = 359;
    info.alarmSign = 0x80000001;
    info.events = {"ABCDEFGH", "x"};
    const auto r = MakeAttachInfo(info);
    const std::vector<uint8_t> b(r.begin(), r.end());
    EXPECT_EQ(U32(b, 0), 0x01020304u);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(U32(b, 5), 22300000u);
    EXPECT_EQ(int32_t(U32(b, 9)), -300000);
    EXPECT_EQ(int16_t(U16(b, 13)), -2);
    EXPECT_EQ(U16(b, 17), 359);
    EXPECT_EQ(U32(b, 19), 0x80000001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[27]), 8), "ABCDEFGH");
    EXPECT_EQ(b[35], 'x');
    EXPECT_EQ(b[36], 0);
    EXPECT_EQ(b[74], 0);
    info.events = {"123456789"};
    EXPECT_THROW(MakeAttachInfo(info), std::invalid_argument);
    info.events.assign(7, "a");
    EXPECT_THROW(MakeAttachInfo(info), std::invalid_argument);
}

struct PngCase {
    const char* name;
    int width, height;
    uint8_t (*pixel)(int x, int y, int channel);
};

TEST(DemoMapPng, PicturesReadBackPixelForPixel)
{
    const PngCase cases[] = {
        {"one pixel", 1, 1, [](int, int, int c) { return uint8_t(40 * c + 7); }},
        {"a ramp", 7, 3, [](int x, int y, int c) { return uint8_t(x * 31 + y * 17 + c * 5); }},
        {"noise", 33, 9, [](int x, int y, int c) { return uint8_t((x * 2654435761u + y * 40503u + c * 97u) >> 7); }},
        {"a flat tile with a line", 256, 256,
         [](int x, int y, int c) { return uint8_t(std::abs(x - y) < 3 ? 200 - c * 60 : 240 - c); }},
    };
    for (const PngCase& pc : cases) {
        SCOPED_TRACE(pc.name);
        std::vector<uint8_t> rgb;
        for (int y = 0; y < pc.height; ++y)
            for (int x = 0; x < pc.width; ++x)
                for (int c = 0; c < 3; ++c) rgb.push_back(pc.pixel(x, y, c));
        const auto png = demo::EncodePng(rgb, pc.width, pc.height);
        EXPECT_EQ(Be32(png, 16), uint32_t(pc.width));
        EXPECT_EQ(Be32(png, 20), uint32_t(pc.height));
        const Picture p = DecodePng(png);
        EXPECT_EQ(p.width, pc.width);
        EXPECT_EQ(p.height, pc.height);
        EXPECT_TRUE(p.rgb == rgb);
        EXPECT_EQ(p.chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
        EXPECT_TRUE(demo::EncodePng(rgb, pc.width, pc.height) == png);
    }
    // A damaged byte fails its chunk's CRC.
    auto png = demo::EncodePng(std::vector<uint8_t>(12, 9), 2, 2);
    png[png.size() - 20] ^= 0x40;
    EXPECT_EQ(DecodePng(png).width, 0);

    const std::tuple<size_t, int, int> bad[] = {{0, 0, 0}, {12, 2, 1}, {12, -2, -2}, {11, 2, 2}, {3, 1, 0}};
    for (const auto& [bytes, w, h] : bad)
        EXPECT_THROW(demo::EncodePng(std::vector<uint8_t>(bytes), w, h), std::invalid_argument) << w << "x" << h;
}

struct MapFileCase {
    double lat0, lon0, lat1, lon1;
    int zoom;
    double west, south, east, north;  // the margin, rounded outwards to 0.001 degree
};

TEST(DemoMapFile, BoundsTakeTheMarginAndEveryTileUnderThemIsDrawn)
{
    const MapFileCase cases[] = {
        {10.0, 20.0, 10.0, 20.02, 14, 19.999, 9.999, 20.021, 10.001},
        {-33.8688, 151.2093, -33.8600, 151.2300, 13, 151.208, -33.870, 151.231, -33.859},
        {51.5, -0.13, 51.51, -0.1, 12, -0.131, 51.499, -0.099, 51.511},
    };
    CTempDir dir("demo-map");
    int n = 0;
    for (const MapFileCase& c : cases) {
        SCOPED_TRACE(n);
        demo::OfflineMapRequest req;
        req.name = "test";
        req.road = {{c.lat0, c.lon0}, {c.lat1, c.lon1}};
        req.minZoom = req.maxZoom = c.zoom;
        req.marginDegrees = 0.001;
        const fs::path file = dir / std::to_string(n++) / "a.mbtiles";
        const demo::OfflineMap map = demo::WriteOfflineMap(file, req);
        EXPECT_NEAR(map.bounds.west, c.west, 1e-9);
        EXPECT_NEAR(map.bounds.south, c.south, 1e-9);
        EXPECT_NEAR(map.bounds.east, c.east, 1e-9);
        EXPECT_NEAR(map.bounds.north, c.north, 1e-9);
        const WorldPixel nw = ToPixel(c.north, c.west, c.zoom), se = ToPixel(c.south, c.east, c.zoom);
        EXPECT_EQ(map.tiles, size_t(se.TileX() - nw.TileX() + 1) * size_t(se.TileY() - nw.TileY() + 1));
        velmor::CMbTiles tiles;
        ASSERT_TRUE(tiles.Open(file));
        // The middle of the road, in its own colour.
        const WorldPixel mid = ToPixel((c.lat0 + c.lat1) / 2, (c.lon0 + c.lon1) / 2, c.zoom);
        const auto png = tiles.Tile(c.zoom, mid.TileX(), mid.TileY());
        ASSERT_TRUE(png);
        const Picture p = DecodePng(*png);
        ASSERT_EQ(p.width, 256);
        EXPECT_TRUE(p.At(int(mid.x % 256), int(mid.y % 256)) == demo::kRoadColour);
        // The file is never written over.
        EXPECT_THROW(demo::WriteOfflineMap(file, req), std::runtime_error);
    }
    demo::OfflineMapRequest one;
    one.road = {{10.0, 20.0}};
    EXPECT_THROW(demo::WriteOfflineMap(dir / "one.mbtiles", one), std::invalid_argument);
    EXPECT_FALSE(fs::exists(dir / "one.mbtiles"));
}

}  // namespace
}  // namespace velmor::fixtures

namespace velmor::fixtures {
namespace {

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The vehicle's track comes from every source that carries the records,
// and the sources agree: the partition, the backup record file exported
// from it and the grec file give the same positions, second by second.
TEST_F(DemoDisk, GpsTracksFromEverySourceAgree)
{
    const fs::path out = s_first->dir->Path() / "tracks";
    ::setenv("VELMOR_PROFILE_DIR", (s_first->dir->Path() / "profile").c_str(), 1);
    const fs::path demo = s_first->root;
    struct Row {
        fs::path source;
        const char* channels;  // "" none given
        const char* from;
        const char* to;
        const char* format;
        const char* file;
        std::vector<std::string> lines;  // in the file, in order
    };
    const std::vector<std::string> ch3 = {"3,2026-12-01 10:00:25,1,22.536683,113.975665,46 km/h,18,81\r\n",
                                          "3,2026-12-01 10:00:26,1,22.536702,113.975787,47 km/h,18,81\r\n",
                                          "3,2026-12-01 10:00:27,1,22.536720,113.975913,48 km/h,18,81\r\n"};
    const std::vector<std::string> points = {
        "<trkpt lat=\"22.536310\" lon=\"113.973200\"><ele>18</ele><time>2026-12-01T10:00:05Z</time></trkpt>",
        "<trkpt lat=\"22.536330\" lon=\"113.973327\"><ele>18</ele><time>2026-12-01T10:00:06Z</time></trkpt>",
        "<trkpt lat=\"22.536348\" lon=\"113.973453\"><ele>18</ele><time>2026-12-01T10:00:07Z</time></trkpt>"};
    const Row rows[] = {
        {demo / "partition" / "disk", "3", "1796119225", "1796119227", "gps", "AV3_100025_100027_T0C0_100025.gps", ch3},
        {demo / "backup" / "CH03_20261201_100020.rkrec", "", "1796119225", "1796119227", "gps",
         "AV3_100025_100027_T0C0_100025.gps", ch3},
        {demo / "partition" / "disk", "1", "1796119205", "1796119207", "gpx", "AV1_100005_100007_T0C0_100005.gpx",
         points},
        {demo / "grec" / "CH02_20261201_100000.grec", "", "1796119205", "1796119207", "gpx",
         "AV1_100005_100007_T0C0_100005.gpx", points},
    };
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.source.filename().string() + " " + r.format);
        const fs::path folder = out / std::to_string(n++);
        std::vector<std::string> args = {"export", r.source.string(), "--from", r.from, "--to", r.to,
                                         "--format", r.format, "--out", folder.string(), "--quiet"};
        if (*r.channels) args.insert(args.end(), {"--channels", r.channels});
        const ProcessResult run = RunProgram("velmor-cli", args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const std::string text = Slurp(folder / "2026-12-01" / r.file);
        size_t at = 0;
        for (const std::string& line : r.lines) {
            const size_t found = text.find(line, at);
            ASSERT_NE(found, std::string::npos) << line << "\nin\n" << text;
            at = found + line.size();
        }
        // Nothing but the span: three positions, no more.
        const bool gps = std::string(r.format) == "gps";
        const std::string unit = gps ? "\r\n" : "<trkpt";
        size_t count = 0;
        for (size_t p = text.find(unit); p != std::string::npos; p = text.find(unit, p + 1)) ++count;
        EXPECT_EQ(count, gps ? 4u : 3u) << "a header and three lines, or three points";
    }
}

}  // namespace
}  // namespace velmor::fixtures
