// Reading one channel of a full 256 MiB container file through rkcontainer,
// against cat reading the same file, both from a warm page cache.
#include <cstdio>
#include <vector>

#include "bench/Bench.h"
#include "container/include/rkcontainer.h"
#include "tests/support/ContainerWriter.h"

namespace velmor::bench {
namespace {

using namespace fixtures;

std::filesystem::path MakeFullContainerFile()
{
    const auto path = DataDir() / "fc00001.rpo";
    const auto stamp = DataDir() / "fc00001.rpo.v1";
    if (std::filesystem::exists(stamp)) return path;
    std::fprintf(stderr, "velmor-bench: writing %s\n", path.c_str());
    CContainerFileImage image(path, 1, rkfs::kContainerFileSize256);
    SyntheticPlan plan;
    plan.seconds = 3600;  // until the file is full
    for (uint8_t c = 0; c < 4; ++c) {
        SyntheticChannel ch;
        ch.params.channel = c;
        ch.params.encode = {4, 0, 1, 2, 25};
        ch.iFrameBytes = 180000;
        ch.pFrameBytes = 40000;
        ch.audio = true;
        ch.info = true;
        plan.channels.push_back(ch);
    }
    WriteSynthetic(image, plan);
    std::FILE* f = std::fopen(stamp.c_str(), "w");
    if (f) std::fclose(f);
    return path;
}

// Payload bytes of `channel`, read frame by frame as the play window does.
uint64_t ReadChannel(const std::filesystem::path& path, int channel, std::vector<uint8_t>& buffer)
{
    RKCONTAINER_HANDLE h = nullptr;
    if (RKCONTAINER_OpenFile(&h, path.c_str()) != 0) return 0;
    uint32_t b, e;
    RKCONTAINER_ENCODE enc{};
    uint64_t bytes = 0;
    if (RKCONTAINER_GetOneChnFileInfo(&h, channel, &b, &e, &enc) == 0) {
        for (;;) {
            RKCONTAINER_FRAME_HEAD head{};
            int rc = RKCONTAINER_ReadOneFrame(&h, buffer.data(), &head, &enc);
            if (rc == -4 || rc == -1) break;
            if (rc == 0 && head.sign == 'F') bytes += head.length;
        }
    }
    RKCONTAINER_CloseFile(&h);
    return bytes;
}

}  // namespace

int RunContainerBench()
{
    const auto path = MakeFullContainerFile();
    const double fileBytes = double(std::filesystem::file_size(path));
    ReadWholeFile(path);
    std::vector<uint8_t> buffer(RKCONTAINER_MAX_FRAME_SIZE);

    uint64_t payload = 0;
    const SideBySide one = BestInTurns(7, [&] { payload = ReadChannel(path, 1, buffer); }, {"cat", path.string()});
    Report("container file, one channel of four", "rkcontainer", double(payload) / one.ours / 1e6, "cat",
           fileBytes / one.peer / 1e6, "MB/s", 0.7);

    uint64_t all = 0;
    const SideBySide four = BestInTurns(
        5,
        [&] {
            all = 0;
            for (int c = 0; c < 4; ++c) all += ReadChannel(path, c, buffer);
        },
        {"cat", path.string()});
    Report("container file, all four channels in turn", "rkcontainer", double(all) / four.ours / 1e6, "cat",
           fileBytes / four.peer / 1e6, "MB/s", 0.7);
    return 0;
}

}  // namespace velmor::bench
