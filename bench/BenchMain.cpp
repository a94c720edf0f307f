#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "bench/Bench.h"

namespace velmor::bench {
namespace {
// The report; the libraries' own diagnostics on standard output are dropped.
std::FILE* g_report = stdout;
}  // namespace

double BestSeconds(int runs, const std::function<void()>& work)
{
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < runs; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

SideBySide BestInTurns(int rounds, const std::function<void()>& ours, const std::vector<std::string>& peerArgv)
{
    SideBySide best{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    for (int i = 0; i < rounds; ++i) {
        const double p = TimeProgram(peerArgv);
        if (p > 0) best.peer = std::min(best.peer, p);
        best.ours = std::min(best.ours, BestSeconds(1, ours));
    }
    return best;
}

double TimeProgram(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

void ReadWholeFile(const std::filesystem::path& path)
{
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    std::vector<char> buf(1 << 20);
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
    ::close(fd);
}

std::filesystem::path DataDir()
{
    const char* env = std::getenv("VELMOR_BENCH_DATA");
    std::filesystem::path dir = env && *env ? env : "bench-data";
    std::filesystem::create_directories(dir);
    return dir;
}

void Report(const std::string& name, const std::string& ours, double ourRate, const std::string& peer,
            double peerRate, const std::string& unit, double goal)
{
    const double ratio = ourRate / peerRate;
    std::fprintf(g_report, "%-44s %-14s %10.1f %s | %-8s %10.1f %s | ratio %.2f (goal >= %.2f) %s\n", name.c_str(),
                ours.c_str(), ourRate, unit.c_str(), peer.c_str(), peerRate, unit.c_str(), ratio, goal,
                ratio >= goal ? "ok" : "BELOW GOAL");
    std::fflush(g_report);
}

void PrintWithin(const char* name, double ours, double peer, double goal, const char* peerName)
{
    const double ratio = ours / peer;
    Print("%-44s %-14s %10.1f ms | %-8s %10.1f ms | ours/peer %.2f (goal <= %.2f) %s\n", name, "velmor", ours * 1000,
          peerName, peer * 1000, ratio, goal, ratio <= goal ? "ok" : "ABOVE GOAL");
}

void Print(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::vfprintf(g_report, fmt, args);
    va_end(args);
    std::fflush(g_report);
}

void KeepStdoutForTheReport()
{
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (saved < 0 || null < 0) return;
    g_report = ::fdopen(saved, "w");
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
}

}  // namespace velmor::bench

// velmor-bench [NAME...]: every benchmark, or only those named.
int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--peak-of") return velmor::bench::MeasureChild(argc, argv);
    velmor::bench::KeepStdoutForTheReport();
    // The real-time video measure first, before the others fill the page
    // cache and the disk queue with the files they write.
    const std::vector<std::pair<const char*, int (*)()>> benches = {
        {"video", velmor::bench::RunVideoBench},         {"play", velmor::bench::RunPlayBench},
        {"program", velmor::bench::RunProgramBench},
        {"container", velmor::bench::RunContainerBench},
        {"backup", velmor::bench::RunBackupBench},       {"ifv", velmor::bench::RunIfvBench},
        {"voice", velmor::bench::RunVoiceBench},         {"store", velmor::bench::RunStoreBench},
        {"index", velmor::bench::RunIndexBench},
        {"mp4", velmor::bench::RunMp4Bench},         {"events", velmor::bench::RunEventsBench},
    };
    int rc = 0;
    for (const auto& [name, run] : benches) {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i) wanted |= std::string(argv[i]) == name;
        if (wanted) rc |= run();
    }
    return rc;
}
