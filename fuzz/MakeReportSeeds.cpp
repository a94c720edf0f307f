// Writes seed inputs for fuzz_report: a signed report of two files as the
// export writes it, the same before signing existed, and small variants.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "player/export/ExportReport.h"
#include "player/export/ReportSigning.h"

using namespace velmor;

namespace {

void Write(const std::filesystem::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

std::string Read(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    const std::filesystem::path work = dir / "work";
    std::filesystem::create_directories(work);
    Write(work / "AV1.mp4", "first");
    Write(work / "AV2.gps", "second");
    CSigningKey key;
    std::string error;
    if (!key.LoadOrCreate(work / "key.pem", &error)) {
        std::fprintf(stderr, "key: %s\n", error.c_str());
        return 1;
    }
    CExportReport report;
    report.AddSource(work / "AV2.gps", true);
    report.SetSpan(1765188000, 1765188004);
    report.SetFormat("mp4");
    report.AddChannel(1);
    WrittenSpan span;
    span.Add(1765188000040);
    report.AddFile(work / "AV1.mp4", span);
    report.AddFile(work / "AV2.gps");
    report.SetCaseUtcOffset(480);
    const auto path = report.Save(key, &error);
    if (path.empty()) {
        std::fprintf(stderr, "report: %s\n", error.c_str());
        return 1;
    }
    const std::string text = Read(path);
    Write(dir / "signed.json", text);
    Write(dir / "unsigned-form.json", text.substr(0, text.find(",\n  \"signing\"")) + "\n}\n");
    Write(dir / "old.json",
          "{\n  \"sources\": [\n    \"/media/disk\"\n  ],\n  \"files\": [\n    {\n      \"path\": \"/x/AV1.mp4\",\n"
          "      \"bytes\": 5,\n      \"sha256\": \"\"\n    }\n  ]\n}\n");
    Write(dir / "escapes.json", "{\"files\":[],\"a\":\"\\u00e9\\n\\ud83d\\ude00\",\"signature\":\"00\"}");
    std::filesystem::remove_all(work);
    return 0;
}
