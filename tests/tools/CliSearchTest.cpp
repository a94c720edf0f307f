// velmor-cli probe of every source kind, list and events: the JSON documents,
// exit codes and error lines scripts rely on, and untouched sources.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "common/CodePage.h"
#include "tests/support/EventWriter.h"
#include "tests/support/IndexWriter.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00
constexpr uint32_t kMay6 = 1714953600;  // 2024-05-06 00:00:00

ProcessResult Cli(const std::vector<std::string>& args) { return RunProgram("velmor-cli", args); }

std::vector<uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Touch(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "ifv";
}

std::string Kind(const fs::path& path)
{
    const auto r = Cli({"probe", path.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? json::parse(r.out).value("kind", "") : "";
}

class CliSearch : public ::testing::Test {
protected:
    CTempDir m_dir{"velmor-cli"};
};

TEST_F(CliSearch, ProbeTellsEveryFolderKind)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk / "KORADVR");
    std::ofstream(disk / "INDEX00.bin") << "x";
    std::ofstream(disk / "INDEX01.bin") << "x";
    EXPECT_EQ(Kind(disk), "index_disk");
    fs::remove(disk / "KORADVR");
    EXPECT_EQ(Kind(disk), "unknown") << "an index pair without the recorder folder is no index disk";

    Touch(m_dir / "ftp" / "AB123" / "2024-05-06" / "CH1_080000_081500_C_080500.ifv");
    EXPECT_EQ(Kind(m_dir / "ftp"), "download_tree");
    EXPECT_EQ(Kind(m_dir / "ftp" / "AB123"), "download_tree");
    EXPECT_EQ(Kind(m_dir / "ftp" / "AB123" / "2024-05-06"), "download_tree");
    Touch(m_dir / "client" / "x_20240506_080000_20240506_081500_A0002.ifv");
    EXPECT_EQ(Kind(m_dir / "client"), "client_download_folder");
    fs::create_directories(m_dir / "empty");
    EXPECT_EQ(Kind(m_dir / "empty"), "unknown");
    Touch(m_dir / "trip.GREC");
    EXPECT_EQ(Kind(m_dir / "trip.GREC"), "grec_file");
    Touch(m_dir / "movie.mp4");
    EXPECT_EQ(Kind(m_dir / "movie.mp4"), "media_file");

    const auto r = Cli({"probe", (m_dir / "missing").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.err, "velmor-cli: " + (m_dir / "missing").string() + ": no such file or folder\n");
}

TEST_F(CliSearch, ListOfAnIndexDisk)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk / "KORADVR");
    CIndexImage image(8);
    image.SetRing(0, 1);
    image.SetEntry(0, 2, 1, 1, kT0, kT0 + 100);
    image.SetRecords(2, {{1, 3, kT0, kT0 + 60, 512, 4608, "L1"}, {1, 1, kT0 + 60, kT0 + 100, 4608, 9000, "L2"}});
    SaveIndexPair(image, disk);
    const auto before = FileBytes(disk / "index00.bin");
    auto r = Cli({"list", disk.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0], json::parse(R"({"kind":0,"channel":1,"begin":)" + std::to_string(kT0) + R"(,"end":)" +
                                std::to_string(kT0 + 60) +
                                R"(,"label":"L1","disk":0,"folder":0,"file":2,"flags":3,"length":4096,"offset":512,"path":")" +
                                (disk / "fly00002.ifv").string() + "\"}"));
    EXPECT_EQ(j[1]["begin"], kT0 + 60);
    r = Cli({"list", disk.string(), "--channels", "2,3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::array());
    EXPECT_EQ(FileBytes(disk / "index00.bin"), before);
}

TEST_F(CliSearch, ListOfDownloadFolders)
{
    const fs::path day = m_dir / "ftp" / "粤B1" / "2024-05-06";
    Touch(day / "CH3_080000_081500_A12C1_080500.ifv");
    Touch(day / "CH2_090000_091500_A0C1_090500.ifv");
    auto r = Cli({"list", (m_dir / "ftp").string(), "--types", "alarm"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["kind"], 2);
    EXPECT_EQ(j[0]["channel"], 3);
    EXPECT_EQ(j[0]["begin"], kMay6 + 8 * 3600);
    EXPECT_EQ(j[0]["label"], "粤B1");
    EXPECT_EQ(j[0]["path"], (day / "CH3_080000_081500_A12C1_080500.ifv").string());
    r = Cli({"list", day.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    j = json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["channel"], 2) << "newest first";

    const fs::path client = m_dir / "client";
    Touch(client / "x_20240506_080000_20240506_081500_A0002.ifv");
    r = Cli({"list", client.string(), "--client", "--channels", "2"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    j = json::parse(r.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["kind"], 6);
    EXPECT_EQ(j[0]["label"], "client");
    r = Cli({"list", client.string(), "--client", "--types", "alarm"});
    EXPECT_EQ(json::parse(r.out), json::array());
}

TEST_F(CliSearch, ListOfASingleIfvFile)
{
    WriteFlyFile(m_dir / "clip.ifv", {{0, kT0, 0}});
    const auto r = Cli({"list", (m_dir / "clip.ifv").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["kind"], 3);
    EXPECT_EQ(j[0]["begin"], kT0);
    EXPECT_EQ(j[0]["end"], kT0 + 3);
    EXPECT_EQ(j[0]["path"], (m_dir / "clip.ifv").string());
}

TEST_F(CliSearch, ListRefusals)
{
    Touch(m_dir / "trip.grec");
    Touch(m_dir / "movie.mp4");
    fs::create_directories(m_dir / "empty");
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const std::string dir = m_dir.Path().string();
    const std::vector<Case> cases = {
        {{"list", dir + "/empty", "--channels", "17"}, 2, "velmor-cli: --channels: '17' is not a channel 1..16\n"},
        {{"list", dir + "/empty", "--channels", "1,,2"}, 2, "velmor-cli: --channels: '' is not a channel 1..16\n"},
        {{"list", dir + "/empty", "--types", "some"}, 2, "velmor-cli: --types: 'some' is not all or alarm\n"},
        {{"list", dir + "/missing"}, 1, "velmor-cli: " + dir + "/missing: no such file or folder\n"},
        {{"list", dir + "/trip.grec"}, 1, "velmor-cli: " + dir + "/trip.grec: cannot be read as a recording\n"},
        {{"list", dir + "/movie.mp4"}, 1,
         "velmor-cli: " + dir + "/movie.mp4: the record search does not list a source of kind media_file\n"},
        {{"list", dir + "/empty"}, 1,
         "velmor-cli: " + dir + "/empty: the record search does not list a source of kind unknown\n"},
        {{"list"}, 2, ""},
    };
    for (const auto& c : cases) {
        const auto r = Cli(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args.back() << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args.back();
        if (!c.err.empty()) {
            EXPECT_EQ(r.err, c.err);
        }
    }
}

TEST_F(CliSearch, EventsOfAFolder)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk);
    WriteFlyFile(disk / "fly00004.ifv", {{0, kT0, 0}, {8192, kT0 + 10, 6}});
    EventFileSpec layout;
    layout.inputNames[2] = Utf8ToGbk("前门");
    layout.blocks = {EventBlockSpec(4, {EventGroupSpec(8192, {{1, 2, kT0 + 10, kT0 + 20}, {4, 0, kT0, kT0}}),
                                      EventGroupSpec(0, {{8, 3, kT0 + 30, kT0 + 31}})})};
    WriteEventFile(disk / "RecordEvent.bin", layout);
    const auto before = FileBytes(disk / "RecordEvent.bin");
    const auto r = Cli({"events", disk.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0], json({{"type", 1},
                          {"channel", 6},
                          {"begin", kT0 + 10},
                          {"end", kT0 + 20},
                          {"description", "前门"},
                          {"path", (disk / "fly00004.ifv").string()},
                          {"pos", 8192}}));
    EXPECT_EQ(j[1]["type"], 8);
    EXPECT_EQ(j[1]["channel"], 3);
    EXPECT_FALSE(j[1]["description"].get<std::string>().empty());
    EXPECT_EQ(FileBytes(disk / "RecordEvent.bin"), before);
}

// Peak resident memory (kB) of `velmor-cli args`, its standard output going
// to `out`; the exit code in `exitCode`.
long PeakKilobytes(const std::vector<std::string>& args, const fs::path& out, int* exitCode)
{
    const char* bin = std::getenv("VELMOR_BIN");
    const fs::path program = (bin ? fs::path(bin) : fs::read_symlink("/proc/self/exe").parent_path()) / "velmor-cli";
    std::vector<std::string> all{program.string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Spawned without a copy of this process, whose memory would otherwise
    // count towards the child's peak.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return usage.ru_maxrss;
}

TEST_F(CliSearch, EventsOfALargeFileInSmallMemory)
{
    // 512 full blocks of 742 units each (8176 bytes hold a 10-byte group head
    // and 742 eleven-byte units): 379,904 events, 4 MiB of event file.
    const fs::path disk = m_dir / "large";
    fs::create_directories(disk);
    {
        EventFileSpec layout;
        for (uint16_t b = 0; b < 512; ++b) {
            std::vector<EventUnitSpec> units;
            for (uint32_t u = 0; u < 742; ++u) units.push_back({8, uint8_t(u % 4), kT0 + b, kT0 + b + 1});
            layout.blocks.push_back(EventBlockSpec(b, {EventGroupSpec(uint32_t(b) * 100, units)}));
        }
        WriteEventFile(disk / "RecordEvent.bin", layout);
    }
    ASSERT_EQ(fs::file_size(disk / "RecordEvent.bin"), 144u + 512u * 8192u);
    // The same program on an event file without events: what it takes before
    // any event is read. A child's peak counts this process's memory at the
    // spawn too, so both run before this one reads anything large.
    const fs::path none = m_dir / "none";
    fs::create_directories(none);
    WriteEventFile(none / "RecordEvent.bin", EventFileSpec{});
    int exitCode = -1;
    const long base = PeakKilobytes({"events", none.string()}, m_dir / "none.json", &exitCode);
    ASSERT_EQ(exitCode, 0);
    const long kb = PeakKilobytes({"events", disk.string()}, m_dir / "events.json", &exitCode);
    ASSERT_EQ(exitCode, 0);
    RecordProperty("peak_kb", std::to_string(kb));
    RecordProperty("base_kb", std::to_string(base));

    std::ifstream in(m_dir / "events.json", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(std::count(text.begin(), text.end(), '{'), 379904);
    ASSERT_GT(text.size(), 3u);
    EXPECT_EQ(text.substr(text.size() - 3), "}]\n");
    const std::string last = text.substr(text.rfind('{'));
    EXPECT_EQ(json::parse(last.substr(0, last.size() - 2))["begin"], kT0 + 511) << "the file's order";
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "peak " << kb << " kB; the sanitizer's own memory makes the bound meaningless";
#endif
    // Holding the events as objects took about 170 bytes of memory for each
    // byte of event file (650 MB more here); listing them as they are read
    // needs hardly more than the program's start.
    EXPECT_LT(kb - base, 16 * 1024) << "peak resident memory in kB, " << base << " kB without events";
}

TEST_F(CliSearch, EventsRefusals)
{
    const fs::path disk = m_dir / "disk";
    fs::create_directories(disk);
    auto r = Cli({"events", disk.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: " + disk.string() + ": the folder holds no RecordEvent.bin\n");
    EventFileSpec layout;
    layout.magic = "RECX";
    WriteEventFile(disk / "RecordEvent.bin", layout);
    r = Cli({"events", disk.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: " + (disk / "RecordEvent.bin").string() + ": not an event file\n");
    EXPECT_TRUE(r.out.empty());
    r = Cli({"events", (disk / "RecordEvent.bin").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not a folder"), std::string::npos);
    // An empty event file (a header and no block) lists nothing.
    layout.magic = "RecE";
    WriteEventFile(disk / "RecordEvent.bin", layout);
    r = Cli({"events", disk.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out), json::array());
}

}  // namespace
}  // namespace velmor::fixtures
