// velmor-cli log on recorder log files: the JSON document, the query options,
// the texts of the shipped language table, exit codes and error lines.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "common/CodePage.h"
#include "tests/support/LogWriter.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

using nlohmann::json;

constexpr uint32_t kT0 = 1765188000;  // 2025-12-08 10:00:00

ProcessResult Cli(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {})
{
    return RunProgram("velmor-cli", args, env);
}

class CliLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_dir / "log.bin";
        WriteLogFile(m_path, {MakeLogRecord(0x36, kT0 + 30, Utf8ToGbk(" 存储卡错误\r\n")),
                              MakeLogRecord(0x00, kT0 + 10, "IN1"), MakeLogRecord(0x10, kT0 + 20),
                              MakeLogRecord(0x47, kT0 + 40, "odd"), EmptyLogRecord(),
                              MakeLogRecord(0x31, 900000000, "old"), MakeLogRecord(0x32, kT0 + 50, "disk")});
    }
    CTempDir m_dir;
    std::filesystem::path m_path;
};

TEST_F(CliLog, DefaultQueryDocument)
{
    struct stat before {};
    ASSERT_EQ(::stat(m_path.c_str(), &before), 0);
    auto r = Cli({"log", m_path.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json expected = json::parse(R"([
      {"n":1,"time":1765188010,"time_text":"2025-12-08 10:00:10","type":0,"content_key":"Log_InputBegin",
       "content":"Alarm input start","remark":"IN1"},
      {"n":2,"time":1765188020,"time_text":"2025-12-08 10:00:20","type":16,"content_key":"Log_Startup",
       "content":"Power on","remark":""},
      {"n":3,"time":1765188030,"time_text":"2025-12-08 10:00:30","type":54,"content_key":"Log_SDError",
       "content":"SD card error","remark":"存储卡错误"},
      {"n":4,"time":1765188040,"time_text":"2025-12-08 10:00:40","type":71,"content_key":"Log_UnknownType",
       "content":"Unknown type","remark":"odd"},
      {"n":5,"time":1765188050,"time_text":"2025-12-08 10:00:50","type":50,"content_key":"Log_HDDError",
       "content":"Hard disk error","remark":"disk"}
    ])");
    EXPECT_EQ(json::parse(r.out), expected);
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one document";

    struct stat after {};
    ASSERT_EQ(::stat(m_path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_size, before.st_size);
}

TEST_F(CliLog, FolderHoldingTheLog)
{
    std::filesystem::rename(m_path, m_dir / "LOG.BIN");
    auto r = Cli({"log", m_dir.Path().string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out).size(), 5u);
}

TEST_F(CliLog, QueryOptions)
{
    auto remarks = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args{"log", m_path.string()};
        args.insert(args.end(), options.begin(), options.end());
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> out;
        for (const auto& e : json::parse(r.out)) out.push_back(e["remark"]);
        return out;
    };
    EXPECT_EQ(remarks({"--mode", "1", "--type", "0x30"}), (std::vector<std::string>{"old", "存储卡错误", "disk"}))
        << "mode 1: every record of main type 3, whatever its time";
    EXPECT_EQ(remarks({"--type", "0x30"}), (std::vector<std::string>{"存储卡错误", "disk"}));
    EXPECT_EQ(remarks({"--from", std::to_string(kT0 + 20), "--to", std::to_string(kT0 + 40)}),
              (std::vector<std::string>{"", "存储卡错误", "odd"}));
    EXPECT_EQ(remarks({"--mode", "2", "--type", "0x00", "--to", std::to_string(kT0 + 10), "--from", "0"}),
              (std::vector<std::string>{"old", "IN1"}));
    EXPECT_EQ(remarks({"--type", "0X40", "--from", std::to_string(kT0 + 51)}), (std::vector<std::string>{}));
    EXPECT_EQ(remarks({"--type", "48", "--mode", "1"}).size(), 3u) << "a decimal type filter";
}

TEST_F(CliLog, UsageErrors)
{
    for (const auto& args : std::vector<std::vector<std::string>>{{"log", m_path.string(), "--mode", "3"},
                                                                   {"log", m_path.string(), "--type", "0x100"},
                                                                   {"log", m_path.string(), "--type", "0xZ0"},
                                                                   {"log", m_path.string(), "--type", ""},
                                                                   {"log", m_path.string(), "--from", "-1"},
                                                                   {"log", m_path.string(), "--to", "4294967296"},
                                                                   {"log"}}) {
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 2) << args.back() << "\n" << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(CliLog, BadInput)
{
    auto r = Cli({"log", (m_dir / "none").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "velmor-cli: " + (m_dir / "none").string() + ": no such file or folder\n");

    std::filesystem::create_directories(m_dir / "empty");
    r = Cli({"log", (m_dir / "empty").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "velmor-cli: " + (m_dir / "empty").string() + ": the folder holds no log.bin\n");

    r = Cli({"log", "/dev/zero"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: /dev/zero: not a regular file\n");
    std::filesystem::create_directories(m_dir / "pipe");
    ASSERT_EQ(::mkfifo((m_dir / "pipe" / "log.bin").c_str(), 0644), 0);
    r = Cli({"log", (m_dir / "pipe").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "velmor-cli: " + (m_dir / "pipe" / "log.bin").string() + ": not a regular file\n");

    if (::geteuid() != 0) {
        std::filesystem::permissions(m_path, std::filesystem::perms::none);
        r = Cli({"log", m_path.string()});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("cannot open: Permission denied"), std::string::npos) << r.err;
    }
}

TEST(CliLogRings, SixHundredOperationRecordsKeepTheLast512)
{
    CTempDir dir;
    // The store's ring wraps after 512 of them; one in five has an unknown type.
    CLogFileImage file(600);
    for (uint32_t i = 0; i < 600; ++i)
        file.Append(MakeLogRecord(i % 5 == 0 ? 0x4A : uint8_t(0x10 + i % 10), kT0 + i, std::to_string(i)));
    file.Save(dir / "log.bin");
    auto r = Cli({"log", (dir / "log.bin").string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json out = json::parse(r.out);
    ASSERT_EQ(out.size(), 512u);
    std::vector<uint32_t> times;
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i]["n"], i + 1);
        times.push_back(out[i]["time"]);
        const uint32_t n = out[i]["time"].get<uint32_t>() - kT0;
        if (n % 5 == 0) {
            EXPECT_EQ(out[i]["content_key"], "Log_UnknownType");
            EXPECT_EQ(out[i]["content"], "Unknown type");
        }
    }
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(times.front(), kT0 + 88);
    EXPECT_EQ(times.back(), kT0 + 599);
}

TEST(CliLogLanguage, TextsComeFromTheApplicationFolder)
{
    CTempDir dir;
    WriteLogFile(dir / "log.bin", {MakeLogRecord(0x10, kT0)});
    std::filesystem::create_directories(dir / "app" / "Language");
    std::ofstream(dir / "app" / "Language" / "SvrLanguage.ini", std::ios::binary)
        << "[LangList]\r\nLanguage=0\r\n[Lang0]\r\nLog_Startup=\xE5\xBC\x80\xE6\x9C\xBA\r\n";
    auto r = Cli({"log", (dir / "log.bin").string()}, {{"VELMOR_APPDIR", (dir / "app").string()}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)[0]["content"], "开机");

    std::filesystem::remove(dir / "app" / "Language" / "SvrLanguage.ini");
    r = Cli({"log", (dir / "log.bin").string()}, {{"VELMOR_APPDIR", (dir / "app").string()}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out)[0]["content"], "") << "no table: empty texts";
    EXPECT_EQ(json::parse(r.out)[0]["content_key"], "Log_Startup");
}

}  // namespace
}  // namespace velmor::fixtures
