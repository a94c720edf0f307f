// Mounting a partition of 2 TB geometry (7,446 container files of 256 MiB,
// 238,272 blocks; sparse) from its head set and by a full rebuild, against
// dd reading the head set's bytes; and reading a 256 MiB record file by
// descriptor against cat reading the same record file exported.
#include <cstdio>
#include <functional>
#include <fstream>
#include <vector>

#include "bench/Bench.h"
#include "container/include/rkcontainer.h"
#include "store/include/rkstore.h"
#include "tests/support/PartitionWriter.h"
#include "tests/support/Payload.h"

namespace velmor::bench {

namespace {

using namespace fixtures;

constexpr uint64_t kTwoTB = 2000000000000ull;
constexpr uint32_t kLongChannel = 5;
constexpr uint32_t kT0 = 1765188000;

uint32_t ContainerFilesOf2TB()
{
    DeviceGeometry g;
    GeometryOfDevice(kTwoTB, 512, &g);
    return g.containerFiles;
}

}  // namespace

// A partition of 2 TB geometry: a long recording on one channel, a history
// of short ones, a few common files and two index block heads, consistent
// or in conflict (which makes the mount rebuild the head set).
std::filesystem::path MakeTwoTBPartition(const std::string& name, bool conflicting, bool withLongRecording,
                                         const std::function<void(fixtures::CPartitionImage&)>& extra)
{
    using namespace fixtures;
    const auto root = DataDir() / name;
    const auto stamp = root / "stamp.v1";
    if (std::filesystem::exists(stamp)) return root;
    std::fprintf(stderr, "velmor-bench: writing %s (sparse)\n", root.c_str());
    std::filesystem::remove_all(root);
    PartitionOptions o;
    o.containerFiles = ContainerFilesOf2TB();
    o.deviceImage = true;
    CPartitionImage image(root, o);
    if (withLongRecording) {
        LongRecordingPlan p;
        p.params.channel = kLongChannel;
        p.params.encode = {4, 0, 1, 2, 25};
        p.startTime = kT0;
        p.blocks = 31;  // 31 full blocks of 8 MiB and a part: about 256 MiB
        p.frameBytes = 60000;
        WriteLongRecording(image, p);
    }
    HistoryPlan h;
    h.startTime = kT0 + 100000;
    h.recordings = 3000;
    h.channels = 4;
    h.readOnlyEvery = 9;
    WriteHistory(image, h);
    if (extra) extra(image);
    for (int i = 0; i < 20; ++i)
        image.WriteCommonFile("config_" + std::to_string(i) + ".ini", MakePayload(uint64_t(i), 20000));
    CPartitionImage::IndexHeadPlan a;
    a.fileNo = 0;
    a.updateNo = 10;
    image.WriteIndexHead(a);
    CPartitionImage::IndexHeadPlan b = a;
    b.fileNo = 128;
    b.updateNo = 11;
    if (conflicting) b.firstDataBlkId = image.FirstDataBlkId() + 1;
    image.WriteIndexHead(b);
    std::ofstream(stamp) << "ok\n";
    return root;
}

namespace {

std::filesystem::path MakePartition(const std::string& name, bool conflicting, bool withLongRecording)
{
    return MakeTwoTBPartition(name, conflicting, withLongRecording, {});
}

struct Paths {
    std::string device;
    std::string dir;
};
Paths PathsOf(const std::filesystem::path& root) { return {(root / "device.img").string(), (root / "disk").string()}; }

bool MountOnce(const Paths& p)
{
    const bool ok = RKSFS_Mount2(p.device.c_str(), p.dir.c_str(), 0) == 0;
    if (ok) RKSFS_Umount2(p.dir.c_str(), 1);
    return ok;
}

std::vector<std::string> DdHeadSet(const Paths& p, uint64_t bytes)
{
    return {"dd", "if=" + p.dir + "/fc00128.rpo", "of=/dev/null", "bs=1M", "count=" + std::to_string(bytes),
            "iflag=count_bytes", "status=none"};
}

}  // namespace

int RunStoreBench()
{
    RKSFS_Init(16);
    const Paths stored = PathsOf(MakePartition("store-2tb", false, true));
    const Paths conflict = PathsOf(MakePartition("store-2tb-conflict", true, false));
    const uint32_t files = ContainerFilesOf2TB();
    const uint64_t headSetBytes = uint64_t(files) * 32 * 32;
    ReadWholeFile(stored.dir + "/fc00128.rpo");
    int rc = 0;

    bool ok = true;
    SideBySide t = BestInTurns(5, [&] { ok = ok && MountOnce(stored); }, DdHeadSet(stored, headSetBytes));
    if (!ok) {
        std::fprintf(stderr, "velmor-bench: mounting %s failed\n", stored.dir.c_str());
        rc = 1;
    }
    char label[64];
    std::snprintf(label, sizeof label, "rkstore %.0f ms", t.ours * 1000);
    Report("mount 2 TB geometry, from its head set", label, 1 / t.ours, "dd set", 1 / t.peer, "per s", 0.05);

    const SideBySide r = BestInTurns(3, [&] { ok = ok && MountOnce(conflict); }, DdHeadSet(stored, headSetBytes));
    if (!ok) {
        std::fprintf(stderr, "velmor-bench: mounting %s failed\n", conflict.dir.c_str());
        rc = 1;
    }
    std::snprintf(label, sizeof label, "rkstore %.0f ms", r.ours * 1000);
    Report("mount 2 TB geometry, full rebuild", label, 1 / r.ours, "dd set", 1 / r.peer, "per s", 0.01);

    // The player's listing of the same partition through rkcontainer: the
    // head set read by its workers, the newest heads rescanned, entries built.
    {
        std::vector<RKCONTAINER_SEARCH_ENTRY> entries(20000);
        const char* paths[] = {stored.dir.c_str()};
        const char* devices[] = {stored.device.c_str()};
        RKCONTAINER_FILTER filter{0xFFFF};
        int listed = 0;
        const SideBySide l = BestInTurns(
            5,
            [&] { listed = RKCONTAINER_SearchFileListOnDevices(paths, devices, 1, &filter, entries.data(), 20000); },
            DdHeadSet(stored, headSetBytes));
        if (listed <= 0) {
            std::fprintf(stderr, "velmor-bench: listing %s found nothing\n", stored.dir.c_str());
            rc = 1;
        }
        std::snprintf(label, sizeof label, "%u heads, %d entries", files * 32, listed);
        Report("list 2 TB geometry (rkcontainer)", label, 1 / l.ours, "dd set", 1 / l.peer, "per s", 0.05);
    }

    // The long recording, by descriptor, against cat of its export.
    if (RKSFS_Mount2(stored.device.c_str(), stored.dir.c_str(), 0) != 0) return 1;
    StRecSearchCond_t cond{1u << kLongChannel, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFF, kT0, kT0 + 50000};
    StRecFileInfo_t info{};
    const int found = RKSFS_SearchLatestRecFile(stored.dir.c_str(), &cond, &info, 1, 0);
    const auto exported = DataDir() / "store-2tb" / "long.rkrec";
    if (found == 1 && !std::filesystem::exists(exported)) {
        const auto dir = std::filesystem::path(stored.dir);
        ExportRecordFile(dir, ChainOnDisk(dir, 0x800000, uint32_t(info.uuid) & 0x3FFFF), exported);
    }
    if (found != 1 || !std::filesystem::exists(exported)) {
        std::fprintf(stderr, "velmor-bench: the long recording was not found on %s\n", stored.dir.c_str());
        RKSFS_Umount2(stored.dir.c_str(), 1);
        return 1;
    }
    ReadWholeFile(exported);
    for (uint32_t n = 0; n < 40; ++n) ReadWholeFile(stored.dir + "/" + CContainerFileImage::FileName(n));
    std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    uint64_t payload = 0;
    const SideBySide read = BestInTurns(
        7,
        [&] {
            payload = 0;
            const int fd = RKSFS_OpenRecFile(&info);
            if (fd < 0) return;
            for (;;) {
                RKSFS_FRAME_HEAD head{};
                const int n = RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head);
                if (n <= 0) break;
                payload += uint64_t(n);
            }
            RKSFS_CloseFile(fd);
        },
        {"cat", exported.string()});
    RKSFS_Umount2(stored.dir.c_str(), 1);
    Report("record file by descriptor, every frame", "rkstore", double(payload) / read.ours / 1e6, "cat",
           double(std::filesystem::file_size(exported)) / read.peer / 1e6, "MB/s", 0.7);
    return rc;
}

}  // namespace velmor::bench
