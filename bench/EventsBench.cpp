// Listing a 16 MiB event file with velmor-cli events, against cat reading
// the same file, with the peak memory of each: listing must stay linear in
// time and small in memory whatever the event file's size.
#include <fcntl.h>
#include <spawn.h>
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
// memory of the child.
ChildRun RunChild(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    // Spawned without a copy of the benchmark, whose memory would otherwise
    // count towards the child's peak.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return {};
    int status = 0;
    struct rusage usage {};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return {};
    ChildRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) run.seconds = -1;
    run.peakKb = usage.ru_maxrss;
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

}  // namespace velmor::bench
