// The real program on a virtual display, driven through its control socket
// as a script would drive it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "player/export/ExportReport.h"
#include "player/export/ReportSigning.h"
#include "tests/app/AppHarness.h"
#include "tests/support/LogWriter.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

class AppWindowTest : public velmor::apptest::AppHarness {};

TEST_F(AppWindowTest, DefaultsLanguageSwitchScreenshotAndOrderlyQuit)
{
    StartControlled();
    const std::string profile = (m_dir / "profile").string();
    json r = Call(R"({"command":["get","settings"],"request_id":7})");
    EXPECT_EQ(r["request_id"], 7);
    EXPECT_EQ(r["error"], "success");
    const json defaults = {
        {"SnapPath", profile + "/SnapFile"}, {"SaveFilePath", profile + "/BackUpFile"}, {"GSTFILE", ""},
        {"MapType", 0}, {"ConvertGPS", 1}, {"Language", 0}, {"SnapPicFormat", 0}, {"RecordChn", 65535},
        {"ADDOSD", 0}, {"MEDIAINFO", 1}, {"VIDEOSCALE", 1}, {"ALWAYSMAIN", 0}, {"LOWPASS", 0}, {"LOWPASSVALUE", 0.8},
        {"NSENABLE", 0}, {"NSVALUE", 1}, {"SHOWGEO", 0}, {"DELAYTIME", 0}, {"SPEEDMPH", 0},
        {"GOOGLEKEY", ""}, {"CaseUtcOffset", ""}, {"Voice", 0}, {"Equalize", ""}, {"SKIN", ""}};
    EXPECT_EQ(r["data"], defaults);
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["data"], "日志");

    // Bad lines get an error and the connection stays.
    EXPECT_NE(Call("not json")["error"], "success");
    EXPECT_NE(Call("[1,2]")["error"], "success");
    EXPECT_NE(Call(R"({"command":["get","settings"],"pad":")" + std::string(70000, 'x') + R"("})")["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["error"], "success");
    // One wrong key refuses the whole set.
    r = Call(R"({"command":["settings",{"Language":2,"NoSuchKey":1}]})");
    EXPECT_NE(r["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["data"]["Language"], 0);

    r = Call(R"({"command":["settings",{"Language":2,"RecordChn":32771,"GOOGLEKEY":"k e y"}]})");
    EXPECT_EQ(r["error"], "success");
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"Information","text":"The settings have been saved."}])"));
    EXPECT_EQ(Call(R"({"command":["get","text","MainFrm_Btn_Log"]})")["data"], "Log");
    r = Call(R"({"command":["get","settings"]})");
    EXPECT_EQ(r["data"]["RecordChn"], 32771);
    EXPECT_EQ(r["data"]["GOOGLEKEY"], "k e y");

    const fs::path shot = m_dir / "frame.png";
    r = Call(R"({"command":["screenshot",")" + shot.string() + R"("]})");
    EXPECT_EQ(r["error"], "success");
    std::ifstream png(shot, std::ios::binary);
    std::string magic(8, '\0');
    png.read(magic.data(), 8);
    EXPECT_EQ(magic, "\x89PNG\r\n\x1A\n");

    r = Call(R"({"command":["quit"]})");
    EXPECT_EQ(r["error"], "success");
    ASSERT_EQ(r["messages"].size(), 1u);
    EXPECT_EQ(r["messages"][0]["text"], "Close the player? Playback in progress will stop.");
    EXPECT_EQ(WaitExit(m_pid, 10000), 0);
    m_pid = -1;
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(AppWindowTest, VerifyAnExportThroughTheMenu)
{
    // An export signed with the key of the program's own profile.
    const fs::path out = m_dir / "export";
    fs::create_directories(out);
    std::ofstream(out / "AV1.mp4") << "first channel";
    velmor::CSigningKey key;
    std::string error;
    ASSERT_TRUE(key.LoadOrCreate(m_dir / "profile" / "Keys" / "ReportSigning.pem", &error)) << error;
    velmor::CExportReport report;
    report.AddFile(out / "AV1.mp4");
    const fs::path path = report.Save(key, &error);
    ASSERT_FALSE(path.empty()) << error;

    StartControlled();
    // The case's offset from UTC goes through the settings dialog, which takes only offsets.
    EXPECT_EQ(Call(R"({"command":["settings",{"CaseUtcOffset":"Beijing"}]})")["error"], "wrong value for CaseUtcOffset");
    EXPECT_EQ(Call(R"({"command":["settings",{"CaseUtcOffset":"+08:00"}]})")["error"], "success");
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["data"]["CaseUtcOffset"], "+08:00");

    json r = Call(R"({"command":["verify",")" + path.string() + R"("]})");
    ASSERT_EQ(r["error"], "success") << r.dump();
    EXPECT_EQ(r["data"], json::parse(R"({"ok":true,"signature":"valid","key":")" + key.Fingerprint() +
                                     R"(","files":[{"path":")" + (out / "AV1.mp4").string() +
                                     R"(","size_ok":true,"sha256_ok":true}]})"));
    ASSERT_EQ(r["messages"].size(), 1u);
    EXPECT_EQ(r["messages"][0]["text"], "导出完好：每个文件都与报告一致，签名有效。\n签名密钥指纹： " + key.Fingerprint());

    std::ofstream(out / "AV1.mp4", std::ios::trunc) << "first channeL";
    r = Call(R"({"command":["verify",")" + path.string() + R"("]})");
    ASSERT_EQ(r["error"], "success") << r.dump();
    EXPECT_EQ(r["data"]["ok"], false);
    EXPECT_EQ(r["data"]["files"][0]["sha256_ok"], false);
    EXPECT_EQ(r["messages"][0]["text"], "导出与报告不符：\n" + (out / "AV1.mp4").string() +
                                            ": SHA-256 differs from the report's\n签名密钥指纹： " + key.Fingerprint());

    r = Call(R"({"command":["verify",")" + (out / "none.json").string() + R"("]})");
    EXPECT_EQ(r["error"], (out / "none.json").string() + ": No such file or directory");
    EXPECT_EQ(r["messages"][0]["text"], "无法读取该报告：\n" + (out / "none.json").string() + ": No such file or directory");
    EXPECT_EQ(Call(R"({"command":["verify"]})")["error"], "verify takes the path of a report");
}

TEST_F(AppWindowTest, SecondStartHandsItsPathOverAndEnds)
{
    StartControlled();
    // Without a path, or with one the player does not open, the second start just ends.
    EXPECT_EQ(WaitExit(Spawn({}), 10000), 0);
    EXPECT_EQ(WaitExit(Spawn({"notes.txt"}), 10000), 0);
    EXPECT_EQ(WaitExit(Spawn({"ifv/CH02.IFV"}), 10000), 0);
    // Polled every 500 ms: taken within a second of the second start's end.
    const auto handed = std::chrono::steady_clock::now();
    std::string line;
    ASSERT_TRUE(ReadLine(line, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - handed, std::chrono::milliseconds(1000));
    EXPECT_EQ(json::parse(line), json({{"event", "open-request"}, {"path", (m_dir / "ifv/CH02.IFV").string()}}));
    // There is no such file: the user is told, never only the log.
    ASSERT_TRUE(ReadLine(line, 3000));
    const json told = json::parse(line);
    EXPECT_EQ(told["event"], "message");
    // In the user's language, naming the file; the reason in the program's words goes to its trace.
    EXPECT_EQ(told["text"], "无法播放该文件： CH02.IFV");
    EXPECT_FALSE(ReadLine(line, 700));  // the text or path above came once
}

TEST_F(AppWindowTest, FatalSignalLeavesACrashReport)
{
    StartControlled();
    ::kill(m_pid, SIGSEGV);
    EXPECT_EQ(WaitExit(m_pid, 10000), 128 + SIGSEGV);
    m_pid = -1;
    std::string report;
    for (const auto& e : fs::directory_iterator(m_dir / "profile"))
        if (e.path().filename().string().rfind("RKPLAYER-", 0) == 0 && e.path().extension() == ".dmp") {
            std::ifstream in(e.path());
            report.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    EXPECT_NE(report.find("backtrace:"), std::string::npos) << report;
    // The next start is not kept out by what the killed one left.
    fs::remove(m_socket);
    ::close(m_fd);
    m_fd = -1;
    StartControlled();
    EXPECT_EQ(Call(R"({"command":["get","settings"]})")["error"], "success");
}

TEST_F(AppWindowTest, LogPageNarrowsAndExports)
{
    using velmor::fixtures::MakeLogRecord;
    constexpr uint32_t t0 = 1796119200;  // 2026-12-01 10:00:00
    fs::create_directories(m_dir / "disk");
    velmor::fixtures::WriteLogFile(m_dir / "disk" / "LOG.BIN",
                                   {MakeLogRecord(0x00, t0, "door"), MakeLogRecord(0x10, t0 + 60, "key on"),
                                    MakeLogRecord(0x12, t0 + 120, "admin"), MakeLogRecord(0x20, t0 + 180, "net")});
    StartControlled();
    const std::string source = (m_dir / "disk").string();
    struct Case {
        std::string query;
        int rows;
    };
    const Case cases[] = {
        {R"({"source":")" + source + R"(","type":"Log_ComBox_All"})", 4},
        {R"({"type":"Log_ComBox_Alarm"})", 1},
        {R"({"type":"Log_ComBox_Remote"})", 1},
        {R"({"type":"Log_ComBox_All","from":1796119260,"to":1796119320})", 2},
        {R"({"type":"Log_ComBox_Local"})", 2},
    };
    for (const auto& c : cases) {
        json r = Call(R"({"command":["log_query",)" + c.query + "]}");
        EXPECT_EQ(r["error"], "success") << c.query;
        EXPECT_EQ(r["data"]["rows"], c.rows) << c.query;
    }
    EXPECT_NE(Call(R"({"command":["log_query",{"type":"Log_ComBox_Nothing"}]})")["error"], "success");

    json r = Call(R"({"command":["log_export",")" + (m_dir / "local.csv").string() + R"("]})");
    EXPECT_EQ(r["data"]["path"], (m_dir / "local.csv").string());
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"提示","text":"日志导出成功。"}])"));
    std::ifstream in(m_dir / "local.csv", std::ios::binary);
    std::string csv{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::erase(csv, '\r');
    EXPECT_EQ(csv, "序号,时间,内容,备注\n1,2026-12-01 10:01:00 ,开机,key on\n2,2026-12-01 10:02:00 ,本地登录,admin\n");

    r = Call(R"({"command":["log_export",")" + (m_dir / "local.xls").string() + R"("]})");
    EXPECT_EQ(r["data"]["path"], (m_dir / "local.xlsx").string());
    std::ifstream xlsx(m_dir / "local.xlsx", std::ios::binary);
    std::string magic(4, '\0');
    xlsx.read(magic.data(), 4);
    EXPECT_EQ(magic, std::string("PK\x03\x04", 4));

    r = Call(R"({"command":["log_export",")" + (m_dir / "no/such/dir/x.csv").string() + R"("]})");
    EXPECT_NE(r["error"], "success");
    EXPECT_EQ(r["messages"], json::parse(R"([{"caption":"提示","text":"日志导出失败。"}])"));
}

}  // namespace
