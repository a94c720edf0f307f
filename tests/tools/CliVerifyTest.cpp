// velmor-cli verify through the binary: a fresh export of each format
// verifies, every tampering fails with a line naming it, and the profile's
// key and declared offset reach the report.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>

#include "player/formats/AttachInfo.h"
#include "player/formats/IfvFile.h"
#include "tests/support/Payload.h"
#include "tests/support/Subprocess.h"
#include "tests/support/TempDir.h"

namespace velmor::fixtures {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint32_t kT10 = 1765188000;  // 2025-12-08 10:00:00

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary | std::ios::trunc) << text; }

class CliVerify : public testing::Test {
protected:
    // Ten seconds of an IFV recording with a position record each second,
    // and a profile that declares the case's offset from UTC.
    static void SetUpTestSuite()
    {
        s_dir = new CTempDir("cli-verify");
        fs::create_directories(Profile() / "Congfig");
        Write(Profile() / "Congfig" / "SysTemConfig.ini", "[CONFIG]\nCaseUtcOffset=+8\n");
        FILEHANDLE* w = RK_OpenFile2(Source().c_str(), 0, RK_FILE_MODE_WRITE);
        ASSERT_NE(w, nullptr);
        RK_FileSetVideoParam(w, 352, 288, 25.0f, 0);
        RK_FileEnableAttach(w);
        RK_FileSetStartTime(w, kT10);
        std::vector<uint8_t> payload(300);
        for (uint32_t s = 0; s < 10; ++s) {
            StAttachInfo_t info{};
            info.time.set(kT10 + s);
            RK_FileWriteAttachFrame(w, reinterpret_cast<const uint8_t*>(&info), 75, s * 1000, nullptr);
            for (uint32_t f = 0; f < 25; ++f) {
                FillPayload(s * 25 + f, payload.data(), payload.size());
                RK_FileWriteVideoFrame(w, payload.data(), 300, s * 1000 + f * 40, f == 0 ? 5 : 1, 0, nullptr);
            }
        }
        ASSERT_EQ(RK_CloseFile2(w), 0);
    }
    static void TearDownTestSuite() { delete s_dir; }

    static fs::path Profile() { return s_dir->Path() / "profile"; }
    static fs::path Source() { return s_dir->Path() / "ch03_20251208_100000_N_1.ifv"; }
    static ProcessResult Cli(const std::vector<std::string>& args)
    {
        return RunProgram("velmor-cli", args, {{"VELMOR_PROFILE_DIR", Profile().string()}});
    }
    // An export of seconds 2 to 5 into `out`: its JSON document.
    static json Export(const std::string& format, const std::string& out)
    {
        auto r = Cli({"export", Source().string(), "--from", std::to_string(kT10 + 2), "--to",
                      std::to_string(kT10 + 5), "--out", (s_dir->Path() / out).string(), "--format", format,
                      "--quiet"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.exitCode == 0 ? json::parse(r.out) : json();
    }

    static CTempDir* s_dir;
};
CTempDir* CliVerify::s_dir = nullptr;

TEST_F(CliVerify, AFreshExportOfEachFormatVerifies)
{
    std::string key;
    for (const char* format : {"ifv", "gps", "gpx"}) {
        SCOPED_TRACE(format);
        const json doc = Export(format, std::string("fresh-") + format);
        ASSERT_TRUE(doc.is_object());
        if (key.empty()) key = doc["key"].get<std::string>();
        EXPECT_EQ(doc["key"], key) << "one key per profile";
        EXPECT_EQ(Read(doc["public_key"].get<std::string>()).rfind("-----BEGIN PUBLIC KEY-----\n", 0), 0u);
        const auto r = Cli({"verify", doc["report"].get<std::string>()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const json v = json::parse(r.out);
        EXPECT_EQ(v["ok"], true);
        EXPECT_EQ(v["signature"], "valid");
        EXPECT_EQ(v["key"], key);
        ASSERT_EQ(v["files"].size(), doc["files"].size());
        EXPECT_EQ(v["files"][0], (json{{"path", doc["files"][0]}, {"size_ok", true}, {"sha256_ok", true}}));
    }
    EXPECT_EQ(key.size(), 64u);
    struct stat st {};
    ASSERT_EQ(::stat((Profile() / "Keys" / "ReportSigning.pem").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    const json report = json::parse(Read(s_dir->Path() / "fresh-ifv" / "2025-12-08" / "ch03_100002_100005_N_1.report.json"));
    EXPECT_EQ(report["time"]["utc_offset"], "+08:00") << "the profile's declared offset";
    EXPECT_EQ(report["time"]["from_utc"], "2025-12-08T02:00:02Z");
    EXPECT_EQ(report["signing"]["key_fingerprint"], key);
}

TEST_F(CliVerify, EachTamperingFailsWithALineNamingIt)
{
    const json doc = Export("ifv", "tamper-base");
    ASSERT_TRUE(doc.is_object());
    const fs::path base = s_dir->Path() / "tamper-base" / "2025-12-08";
    const std::string clip = "ch03_100002_100005_N_1.ifv", report = "ch03_100002_100005_N_1.report.json";
    struct Row {
        const char* name;
        std::function<void(const fs::path& dir)> change;
        int exitCode;
        const char* signature;  // nullptr: no document printed
        std::string errLine;    // after "velmor-cli: <dir>/"
    };
    const Row rows[] = {
        {"a byte of the clip",
         [&](const fs::path& d) {
             std::string bytes = Read(d / clip);
             bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
             Write(d / clip, bytes);
         },
         1, "valid", clip + ": SHA-256 differs from the report's\n"},
        {"the clip missing", [&](const fs::path& d) { fs::remove(d / clip); }, 1, "valid", clip + ": missing\n"},
        {"a byte of the report",
         [&](const fs::path& d) {
             std::string text = Read(d / report);
             text.replace(text.find("\"ifv\""), 5, "\"mp4\"");
             Write(d / report, text);
         },
         1, "invalid", report + ": signature: does not match the report: the report or its signature was changed\n"},
        {"a byte of the signature",
         [&](const fs::path& d) {
             std::string text = Read(d / report);
             char& digit = text[text.find("\"signature\": \"") + 30];
             digit = digit == '7' ? '8' : '7';
             Write(d / report, text);
         },
         1, "invalid", report + ": signature: does not match the report: the report or its signature was changed\n"},
        {"the report cut short",
         [&](const fs::path& d) {
             const std::string text = Read(d / report);
             Write(d / report, text.substr(0, text.size() / 2));
         },
         1, nullptr, report + ": not JSON (at byte "},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path dir = s_dir->Path() / ("tamper" + std::to_string(n++));
        fs::copy(base, dir, fs::copy_options::recursive);
        row.change(dir);
        const auto r = Cli({"verify", (dir / report).string()});
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_EQ(r.err.rfind("velmor-cli: " + dir.string() + "/" + row.errLine, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        if (!row.signature) {
            EXPECT_EQ(r.out, "") << "no document for a report that cannot be read";
            continue;
        }
        const json v = json::parse(r.out);
        EXPECT_EQ(v["ok"], false);
        EXPECT_EQ(v["signature"], row.signature);
    }
}

TEST_F(CliVerify, AnOldReportIsUnsignedAndArgumentsAreChecked)
{
    const fs::path dir = s_dir->Path() / "old";
    fs::create_directories(dir);
    Write(dir / "AV1.mp4", "abc");
    Write(dir / "AV1.report.json",
          "{\n  \"sources\": [\n    \"/media/disk\"\n  ],\n  \"from\": 1765188000,\n  \"files\": [\n    {\n      "
          "\"path\": \"" + (dir / "AV1.mp4").string() +
              "\",\n      \"bytes\": 3,\n      \"sha256\": "
              "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"\n    }\n  ]\n}\n");
    auto r = Cli({"verify", (dir / "AV1.report.json").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "{\"ok\":true,\"signature\":\"unsigned\",\"key\":null,\"files\":[{\"path\":\"" +
                         (dir / "AV1.mp4").string() + "\",\"size_ok\":true,\"sha256_ok\":true}]}\n");
    EXPECT_EQ(r.err, "velmor-cli: " + (dir / "AV1.report.json").string() +
                         ": unsigned: made before reports were signed; its files match, the report itself cannot "
                         "be checked\n");

    r = Cli({"verify", (dir / "none.json").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "velmor-cli: " + (dir / "none.json").string() + ": No such file or directory\n");
    EXPECT_EQ(Cli({"verify"}).exitCode, 2);
    EXPECT_EQ(Cli({"verify", "a", "b"}).exitCode, 2);

    // A profile whose declared offset is none refuses to export at all.
    const fs::path badProfile = s_dir->Path() / "bad-profile";
    fs::create_directories(badProfile / "Congfig");
    Write(badProfile / "Congfig" / "SysTemConfig.ini", "[CONFIG]\nCaseUtcOffset=Beijing\n");
    r = RunProgram("velmor-cli",
                   {"export", Source().string(), "--from", std::to_string(kT10 + 2), "--to", std::to_string(kT10 + 5),
                    "--out", (s_dir->Path() / "refused").string(), "--format", "ifv", "--quiet"},
                   {{"VELMOR_PROFILE_DIR", badProfile.string()}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "velmor-cli: " + (badProfile / "Congfig" / "SysTemConfig.ini").string() +
                         ": the offset from UTC declared for the case (CaseUtcOffset), 'Beijing', is not one such as "
                         "+08:00\n");
    EXPECT_FALSE(fs::exists(s_dir->Path() / "refused"));
}

}  // namespace
}  // namespace velmor::fixtures
