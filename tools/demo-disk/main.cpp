// velmor-demo-disk: writes a realistic recorder corpus into a folder, from
// the same fixture writers the tests use, for `make demo`, benchmarks and
// trying the player and velmor-cli on every kind of source.
//
//   velmor-demo-disk DIR
//
// DIR must be absent or empty. What is written, and what each source holds,
// is listed in DIR/MANIFEST.json (written last) and printed as JSON on
// standard output; progress goes to standard error.
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include "player/formats/IfvFile.h"
#include "tools/demo-disk/DemoCorpus.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: velmor-demo-disk DIR\n"
    "Writes the demo recorder corpus into DIR (absent or empty) and its manifest DIR/MANIFEST.json.\n";

// Takes back what an unfinished build wrote, so that no half corpus is left
// looking like a whole one.
void RemoveUnfinished(const fs::path& root, bool existed)
{
    std::error_code ec;
    if (!existed) {
        fs::remove_all(root, ec);
        return;
    }
    for (const auto& entry : fs::directory_iterator(root, ec)) fs::remove_all(entry.path(), ec);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Standard output carries the summary; the IFV library's lines go to
    // standard error.
    RK_FileSetLogCallback([](int, const char* line, void*) { std::fputs(line, stderr); }, nullptr);
    const fs::path root = argv[1];
    std::error_code ec;
    const bool existed = fs::exists(root, ec);
    if (existed && !(fs::is_directory(root, ec) && fs::is_empty(root, ec))) {
        std::fprintf(stderr, "velmor-demo-disk: %s: already exists and is not an empty folder\n", root.c_str());
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        nlohmann::ordered_json manifest = velmor::demo::BuildCorpus(
            root, [](const std::string& s) { std::fprintf(stderr, "velmor-demo-disk: %s\n", s.c_str()); });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        nlohmann::ordered_json summary;
        summary["root"] = fs::canonical(root).string();
        summary["manifest"] = (fs::canonical(root) / velmor::demo::kManifestName).string();
        summary["seconds"] = double(int64_t(seconds * 10)) / 10;
        for (auto it = manifest.begin(); it != manifest.end(); ++it) summary[it.key()] = it.value();
        std::cout << summary.dump(2) << std::endl;
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmor-demo-disk: %s: %s\n", root.c_str(), e.what());
        RemoveUnfinished(root, existed);
        return 1;
    }
}
