// Reading a 200 MB IFV file through the player's IFV library, against cat
// reading the same file, both from a warm page cache.
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "player/formats/IfvFile.h"
#include "tests/support/Payload.h"

namespace velmor::bench {
namespace {

std::filesystem::path MakeIfvFile()
{
    const auto path = DataDir() / "record.ifv";
    const auto stamp = DataDir() / "record.ifv.v1";
    if (std::filesystem::exists(stamp)) return path;
    std::fprintf(stderr, "velmor-bench: writing %s\n", path.c_str());
    FILEHANDLE* h = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_WRITE);
    if (!h) return path;
    RK_FileSetVideoParam(h, 1920, 1080, 25.0f, 0);
    RK_FileSetAudioParam(h, 1, 16, 8000, 11, 320, 40);
    RK_FileEnableAttach(h);
    RK_FileSetStartTime(h, 1765188000);
    fixtures::CSplitMix64 rng(8);
    std::vector<uint8_t> payload(400000);
    uint64_t bytes = 0;
    for (uint32_t i = 0; bytes < 200000000; ++i) {
        const uint32_t len = rng.Range(20000, i % 25 == 0 ? 300000 : 60000);
        fixtures::FillPayload(rng.Next(), payload.data(), len);
        RK_FileWriteVideoFrame(h, payload.data(), len, i * 40, i % 25 == 0 ? 5 : 1, 0, nullptr);
        RK_FileWriteAudioFrame(h, payload.data(), 320, i * 40, nullptr);
        if (i % 25 == 0) RK_FileWriteAttachFrame(h, payload.data(), 75, i * 40, nullptr);
        bytes += len + 320;
    }
    RK_CloseFile2(h);
    std::FILE* f = std::fopen(stamp.c_str(), "w");
    if (f) std::fclose(f);
    return path;
}

uint64_t ReadIfv(const std::filesystem::path& path, std::vector<uint8_t>& buffer)
{
    FILEHANDLE* h = RK_OpenFile2(path.c_str(), 0, RK_FILE_MODE_READ);
    uint64_t bytes = 0;
    if (!h) return 0;
    for (;;) {
        uint32_t ts, duration;
        uint64_t pts;
        uint8_t key, media;
        const int n = RK_FileReadOneMediaFrame2(h, buffer.data(), &ts, &pts, &duration, &key, &media);
        if (n <= 0) break;
        bytes += uint64_t(n);
    }
    RK_CloseFile2(h);
    return bytes;
}

}  // namespace

int RunIfvBench()
{
    const auto path = MakeIfvFile();
    const double fileBytes = double(std::filesystem::file_size(path));
    ReadWholeFile(path);
    std::vector<uint8_t> buffer(RK_FILE_FRAME_BUFFER_SIZE);
    uint64_t payload = 0;
    const SideBySide t = BestInTurns(7, [&] { payload = ReadIfv(path, buffer); }, {"cat", path.string()});
    Report("IFV file, every record", "IFV library", double(payload) / t.ours / 1e6, "cat",
           fileBytes / t.peer / 1e6, "MB/s", 0.7);
    return 0;
}

}  // namespace velmor::bench
