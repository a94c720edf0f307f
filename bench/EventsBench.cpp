// Listing a 16 MiB event file with velmor-cli events, against cat reading
// the same file, with the peak memory of each: listing must stay linear in
// time and small in memory whatever the event file's size.
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <vector>

#include "bench/Bench.h"
#include "tests/support/EventWriter.h"

namespace velmor::bench {
namespace {

using namespace fixtures;

constexpr uint32_t kBlocks = 2048;         // 2048 × 8192 bytes: 16 MiB
constexpr uint32_t kUnitsPerBlock = 742;   // as many as a block's 8176 bytes hold in one group

std::filesystem::path MakeEventFolder()
{
    const auto dir = DataDir() / "events";
    const auto stamp = dir / "RecordEvent.bin.v1";
    if (std::filesystem::exists(stamp)) return dir;
    std::filesystem::create_directories(dir);
    std::fprintf(stderr, "velmor-bench: writing %s\n", (dir / "RecordEvent.bin").c_str());
    EventFileSpec layout;
    const uint32_t t0 = 1765188000;
    for (uint32_t b = 0; b < kBlocks; ++b) {
        std::vector<EventUnitSpec> units;
        for (uint32_t u = 0; u < kUnitsPerBlock; ++u)
            units.push_back({uint8_t(5 + u % 12), uint8_t(u % 8), t0 + b * 60 + u / 20, t0 + b * 60 + u / 20 + 9});
        layout.blocks.push_back(EventBlockSpec(uint16_t(b % 100), {EventGroupSpec(b * 4096, units)}));
    }
    WriteEventFile(dir / "RecordEvent.bin", layout);
    std::FILE* f = std::fopen(stamp.c_str(), "w");
    if (f) std::fclose(f);
    return dir;
}

struct ChildRun {
    double seconds = -1;
    long peakKb = 0;
};

// Runs argv with standard output thrown away; wall time and peak resident
// memory of the child. A child's peak counts the memory of the process it was
// made from, so it is started by a fresh, small copy of this program (the
// --peak-of helper below) rather than by the benchmark itself.
ChildRun RunChild(const std::vector<std::string>& argv)
{
    const std::filesystem::path result = DataDir() / "events" / "peak.txt";
    std::vector<std::string> all{std::filesystem::read_symlink("/proc/self/exe").string(), "--peak-of", result.string()};
    all.insert(all.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : all) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return {};
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    ChildRun run;
    std::FILE* f = std::fopen(result.c_str(), "r");
    if (!f) return {};
    int exitCode = -1;
    if (std::fscanf(f, "%lf %ld %d", &run.seconds, &run.peakKb, &exitCode) != 3 || exitCode != 0) run.seconds = -1;
    std::fclose(f);
    return run;
}

}  // namespace

int RunEventsBench()
{
    const auto dir = MakeEventFolder();
    const auto file = dir / "RecordEvent.bin";
    const double fileBytes = double(std::filesystem::file_size(file));
    const auto cli = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "velmor-cli";
    ReadWholeFile(file);
    ChildRun ours{std::numeric_limits<double>::max(), 0}, peer{std::numeric_limits<double>::max(), 0};
    for (int round = 0; round < 3; ++round) {
        const ChildRun p = RunChild({"cat", file.string()});
        const ChildRun o = RunChild({cli.string(), "events", dir.string()});
        if (p.seconds < 0 || o.seconds < 0) {
            Print("events: a run failed (velmor-cli beside velmor-bench is needed)\n");
            return 1;
        }
        peer.seconds = std::min(peer.seconds, p.seconds);
        ours.seconds = std::min(ours.seconds, o.seconds);
        peer.peakKb = std::max(peer.peakKb, p.peakKb);
        ours.peakKb = std::max(ours.peakKb, o.peakKb);
    }
    // Listing writes some 130 bytes of JSON for every 11-byte unit it reads,
    // so the goal is a share of cat's rate rather than a match for it.
    Report("events, 16 MiB event file (1.5 M events)", "velmor-cli", fileBytes / ours.seconds / 1e6, "cat",
           fileBytes / peer.seconds / 1e6, "MB/s", 0.01);
    Print("%-44s %-14s %10.1f MB peak | %-8s %10.1f MB peak | ratio %.1f (goal <= 64 MB) %s\n",
          "events, peak resident memory", "velmor-cli", double(ours.peakKb) / 1024, "cat", double(peer.peakKb) / 1024,
          double(ours.peakKb) / std::max(1.0, double(peer.peakKb)), ours.peakKb <= 64 * 1024 ? "ok" : "ABOVE GOAL");
    return 0;
}

int MeasureChild(int argc, char** argv)
{
    // velmor-bench --peak-of RESULT PROGRAM ARGS...: runs PROGRAM with its
    // standard output thrown away and writes "seconds peak-kB exit-code".
    if (argc < 4) return 2;
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execvp(argv[3], argv + 3);
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return 1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::FILE* f = std::fopen(argv[2], "w");
    if (!f) return 1;
    std::fprintf(f, "%.6f %ld %d\n", seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return std::fclose(f) == 0 ? 0 : 1;
}

}  // namespace velmor::bench
