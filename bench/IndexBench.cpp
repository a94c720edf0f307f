// Benchmark of listing index disks: the search of a disk whose index holds
// 20,000 records (the player's count, then fetch into a buffer of count + 1
// records, sorted), against cat reading the index the two calls read.
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "tests/support/IndexWriter.h"

namespace velmor::bench {
namespace {

constexpr uint32_t kT0 = 1765188000;
constexpr uint32_t kRecords = 20000;

// Eight channels recording one-minute segments side by side; the index has
// 86 areas and its ring has wrapped, so it holds the last 20,000 segments:
// 78 full areas in the ring and 4 records in each channel's current area.
std::filesystem::path MakeIndexDisk()
{
    const auto dir = DataDir() / "index-disk";
    const auto stamp = DataDir() / "index-disk.v1";
    if (std::filesystem::exists(stamp)) return dir;
    std::fprintf(stderr, "velmor-bench: writing %s\n", dir.c_str());
    std::filesystem::create_directories(dir);
    fixtures::CIndexDiskWriter writer(86);
    const uint32_t written = 8 * 256 * 20 + 32;  // the oldest areas were reused
    for (uint32_t i = 0; i < written; ++i) {
        fixtures::IndexSegment s;
        s.channel = uint8_t(1 + i % 8);
        s.flags = uint8_t(1 << (i % 3));
        s.begin = kT0 + (i / 8) * 60;
        s.end = s.begin + 60;
        s.beginOffset = i * 4096u;
        s.endOffset = s.beginOffset + 4000;
        s.label = "KORADVR";
        writer.Add(s);
    }
    const auto image = writer.Image();
    SaveIndexPair(image, dir);
    std::FILE* f = std::fopen(stamp.c_str(), "w");
    if (f) std::fclose(f);
    return dir;
}

}  // namespace

int RunIndexBench()
{
    const auto dir = MakeIndexDisk();
    const auto main = dir / "index00.bin";
    ReadWholeFile(main);
    ReadWholeFile(dir / "index01.bin");
    auto filter = fixtures::WholeIndexFilter();
    size_t records = 0;
    int rc = 0;
    const SideBySide t = BestInTurns(
        15, [&] { records = fixtures::SearchIndexDisk({dir.string()}, filter, &rc).size(); },
        {"cat", main.string(), main.string()});
    if (rc < 0 || records != kRecords) {
        std::fprintf(stderr, "velmor-bench: index search found %zu records (%d)\n", records, rc);
        return 1;
    }
    std::fprintf(stderr, "velmor-bench: index disk of %zu records: search %.2f ms, cat %.2f ms\n", records,
                 t.ours * 1e3, t.peer * 1e3);
    // Both read the main index twice (count, then fetch).
    const double bytes = 2.0 * double(std::filesystem::file_size(main));
    Report("index disk, 20,000 records (count + fetch)", "rkindex", bytes / t.ours / 1e6, "cat", bytes / t.peer / 1e6,
           "MB/s", 0.7);
    return 0;
}

}  // namespace velmor::bench
