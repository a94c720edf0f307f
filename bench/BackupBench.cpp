// Reading a 256 MiB backup record file through rkstore, against cat reading
// the same file, both from a warm page cache.
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "store/include/rkstore.h"
#include "tests/support/BackupWriter.h"
#include "tests/support/Payload.h"

namespace velmor::bench {
namespace {

using namespace fixtures;

std::filesystem::path MakeBackupFile()
{
    const auto path = DataDir() / "record.rkrec";
    const auto stamp = DataDir() / "record.rkrec.v1";
    if (std::filesystem::exists(stamp)) return path;
    std::fprintf(stderr, "velmor-bench: writing %s\n", path.c_str());
    CBackupFileImage image(0x800000);
    RecordingParams params;
    params.encode = {4, 0, 1, 2, 25};
    CRecordWriter w(image, params);
    CSplitMix64 rng(5);
    std::vector<uint8_t> payload(rkfs::kMaxFrameSizeMain);
    uint64_t pts = uint64_t(1765188000) * 1000000;
    uint64_t bytes = 0;
    for (int i = 0; bytes < (uint64_t(255) << 20); ++i, pts += 40000) {
        const uint32_t len = rng.Range(20000, i % 25 == 0 ? 300000 : 60000);
        FillPayload(rng.Next(), payload.data(), len);
        w.WriteFrame(i % 25 == 0 ? 1 : 2, pts, payload.data(), len);
        w.WriteFrame(4, pts, payload.data(), 324);
        bytes += len + 324 + 32;
    }
    w.Close();
    image.Save(path);
    std::FILE* f = std::fopen(stamp.c_str(), "w");
    if (f) std::fclose(f);
    return path;
}

uint64_t ReadBackup(const std::filesystem::path& path, std::vector<uint8_t>& buffer)
{
    StRecBakFileOp_t op{};
    uint64_t bytes = 0;
    if (RKSFS_OpenBakRecFile(&op, path.c_str()) == 0) {
        for (;;) {
            RKSFS_FRAME_HEAD head{};
            const int rc = RKSFS_ReadBakRecFrame(&op, buffer.data(), buffer.size(), &head);
            if (rc <= 0) break;
            bytes += uint64_t(rc);
        }
    }
    RKSFS_CloseBakRecFile(&op);
    return bytes;
}

}  // namespace

int RunBackupBench()
{
    const auto path = MakeBackupFile();
    const double fileBytes = double(std::filesystem::file_size(path));
    ReadWholeFile(path);
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    uint64_t payload = 0;
    const SideBySide t = BestInTurns(7, [&] { payload = ReadBackup(path, buffer); }, {"cat", path.string()});
    Report("backup record file, every frame", "rkstore", double(payload) / t.ours / 1e6, "cat",
           fileBytes / t.peer / 1e6, "MB/s", 0.7);
    return 0;
}

}  // namespace velmor::bench
