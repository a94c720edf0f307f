// Writes seed inputs for fuzz_store_mount and fuzz_store_head_set from
// partitions built with the partition writer: short recordings on several
// channels, common files with short and long names, index block heads
// (mounted or not, missing), newer blocks than the head set, and a small
// partition whose history wrapped around. Each partition becomes the pieces
// of its container files that are not zero.
//
//   make_store_mount_seeds DIR            seeds for fuzz_store_mount
//   make_store_head_set_seeds DIR         seeds for fuzz_store_head_set (the
//                                         same program built with
//                                         VELMOR_HEAD_SET_SEEDS)
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz/FuzzStoreMountInput.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/Payload.h"
#include "tests/support/TempDir.h"

using namespace velmor::fixtures;
using namespace velmor::fuzz;

namespace {

// The bytes of a partition's container files that are not zero.
MountInput Pieces(const CPartitionImage& image, uint8_t flags)
{
    MountInput in;
    in.flags = flags;
    for (uint32_t n = 0; n < image.ContainerFiles() && n < kMountFuzzFiles; ++n) {
        const int fd = ::open(image.FilePath(n).c_str(), O_RDONLY);
        if (fd < 0) continue;
        off_t at = 0;
        std::vector<uint8_t> buf;
        for (;;) {
            const off_t data = ::lseek(fd, at, SEEK_DATA);
            if (data < 0) break;
            const off_t hole = ::lseek(fd, data, SEEK_HOLE);
            buf.resize(size_t(hole - data));
            if (::pread(fd, buf.data(), buf.size(), data) != ssize_t(buf.size())) break;
            size_t i = 0;
            while (i < buf.size()) {
                while (i < buf.size() && buf[i] == 0) ++i;
                if (i == buf.size()) break;
                size_t end = i, zeros = 0;
                while (end < buf.size() && zeros < 32) {
                    zeros = buf[end] == 0 ? zeros + 1 : 0;
                    ++end;
                }
                end -= zeros;
                in.pieces.push_back({n, uint32_t(data + off_t(i)), {buf.begin() + long(i), buf.begin() + long(end)}});
                i = end;
            }
            at = hole;
        }
        ::close(fd);
    }
    return in;
}

std::vector<uint8_t> HeadSetSeed(const CPartitionImage& image, bool covering)
{
    const uint32_t files = std::min<uint32_t>(image.ContainerFiles(), 64);
    std::vector<uint8_t> out{uint8_t(files - 1), uint8_t(covering ? 1 : 0)};
    std::ifstream f(image.FilePath(0), std::ios::binary);
    std::vector<uint8_t> head(65, 0);
    f.seekg(std::streamoff(image.BlockSize() - 4096));
    f.read(reinterpret_cast<char*>(head.data()), 65);
    out.insert(out.end(), head.begin(), head.end());
    out.insert(out.end(), 65, 0);
    std::vector<uint8_t> set(size_t(files) * 32 * 32);
    for (uint32_t b = 0; b < files * 32; ++b) rkfs::StoreStruct(set.data() + size_t(b) * 32, image.Heads()[b]);
    while (!set.empty() && set.back() == 0) set.pop_back();
    out.insert(out.end(), set.begin(), set.end());
    return out;
}

void Save(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
}

struct Built {
    std::unique_ptr<CTempDir> dir;
    std::unique_ptr<CPartitionImage> image;
    uint8_t flags;
};

Built Partition(uint32_t files, bool device)
{
    Built b;
    b.dir = std::make_unique<CTempDir>("velmor-seed");
    PartitionOptions o;
    o.containerFiles = files;
    o.deviceImage = device;
    b.image = std::make_unique<CPartitionImage>(b.dir->Path(), o);
    b.flags = uint8_t((device ? 1 : 0) | 2);
    return b;
}

void Fill(CPartitionImage& image, uint32_t recordings, uint32_t start)
{
    HistoryPlan h;
    h.startTime = start;
    h.recordings = recordings;
    h.blocksPerRecording = 2;
    h.frameBytes = 40;
    h.channels = 3;
    h.readOnlyEvery = 3;
    h.audio = true;
    WriteHistory(image, h);
}

}  // namespace

int main(int argc, char** argv)
{
#ifdef VELMOR_HEAD_SET_SEEDS
    const bool headSet = true;
#else
    const bool headSet = false;
#endif
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", headSet ? "make_store_head_set_seeds" : "make_store_mount_seeds");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out);
    int n = 0;
    auto emit = [&](const Built& b, bool covering) {
        const std::string name = "seed-" + std::to_string(n++);
        if (headSet)
            Save(out / name, HeadSetSeed(*b.image, covering));
        else
            Save(out / name, SerializeMountInput(Pieces(*b.image, b.flags)));
    };
    // A recorder's disk: recordings, common files, one index block head.
    {
        Built b = Partition(kMountFuzzFiles, true);
        Fill(*b.image, 6, 1765188000);
        b.image->WriteCommonFile("gps.log", MakePayload(1, 300), false, 200);
        b.image->WriteCommonFile("a_long_common_file_name.cfg", MakePayload(2, 150));
        b.image->WriteIndexHead({});
        emit(b, false);
        // The last unmount did not complete and newer blocks followed.
        CPartitionImage::IndexHeadPlan mounted;
        mounted.mounted = true;
        mounted.updateNo = 2;
        b.image->WriteIndexHead(mounted);
        Fill(*b.image, 2, 1765189000);
        emit(b, false);
    }
    // No index block head: the head set is rebuilt from every block.
    {
        Built b = Partition(kMountFuzzFiles, true);
        Fill(*b.image, 4, 1765188000);
        emit(b, false);
    }
    // Two container files, no device: the history wrapped around.
    {
        Built b = Partition(2, false);
        Fill(*b.image, 40, 1765188000);
        b.image->WriteCommonFile("cfg.ini", MakePayload(3, 100));
        b.image->WriteIndexHead({});
        emit(b, true);
    }
    std::fprintf(stderr, "%s: %d seeds in %s\n", headSet ? "make_store_head_set_seeds" : "make_store_mount_seeds", n,
                 out.c_str());
    return 0;
}
