// Benchmarks run side by side with a peer tool in the same run and report
// ratios, so the numbers mean the same on any machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velmor::fixtures {
class CPartitionImage;
}

namespace velmor::bench {

// Best wall time of `runs` calls, in seconds.
double BestSeconds(int runs, const std::function<void()>& work);

// Times ours and the peer in turns, `rounds` times, so that a change of load
// on the machine hits both alike; returns the best of each, in seconds.
struct SideBySide {
    double ours;
    double peer;
};
SideBySide BestInTurns(int rounds, const std::function<void()>& ours, const std::vector<std::string>& peerArgv);

// Runs a program with standard output thrown away; returns its wall time in
// seconds, or a negative value when it failed.
double TimeProgram(const std::vector<std::string>& argv);

void ReadWholeFile(const std::filesystem::path& path);  // warms the page cache

std::filesystem::path DataDir();

// A partition of 2 TB geometry (sparse, device image beside its folder) kept
// in DataDir() under `name`; `extra` writes more recordings into it before
// its index heads.
std::filesystem::path MakeTwoTBPartition(const std::string& name, bool conflicting, bool withLongRecording,
                                         const std::function<void(fixtures::CPartitionImage&)>& extra);  // where benchmark inputs are kept between runs

// A line of the report (standard output; the libraries' own output is dropped).
void Print(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

void Report(const std::string& name, const std::string& ours, double ourRate, const std::string& peer,
            double peerRate, const std::string& unit, double goal);

// A time of ours against the peer's: "ok" when ours / peer is at most `goal`.
void PrintWithin(const char* name, double ours, double peer, double goal, const char* peerName = "ffmpeg");

void KeepStdoutForTheReport();
int RunContainerBench();
int RunBackupBench();
int RunIfvBench();
int RunVoiceBench();
int RunVideoBench();
int RunStoreBench();
int RunIndexBench();
int RunMp4Bench();
int RunEventsBench();
int RunPlayBench();
int RunProgramBench();
// The helper mode "--peak-of" (see EventsBench.cpp).
int MeasureChild(int argc, char** argv);

}  // namespace velmor::bench
