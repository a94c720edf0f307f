// Feeds damaged partitions to the mounted-partition functions: mount (index
// block heads, the head set or its rebuild, the front-block lists), the
// searches and their chain walks, record files read by kind, by I frame in
// both directions and by time, and common files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzStoreMountInput.h"
#include "store/include/rkstore.h"

using namespace velmor::fuzz;

namespace {

struct Disk {
    std::string dir;
    std::string device;
    int fd[kMountFuzzFiles];
    Disk()
    {
        const char* base = std::getenv("TMPDIR");
        std::string root = std::string(base && *base ? base : "/tmp") + "/velmor-fuzz-mount-XXXXXX";
        if (!mkdtemp(root.data())) std::abort();
        dir = root + "/disk";
        device = root + "/device.img";
        if (mkdir(dir.c_str(), 0755) != 0) std::abort();
        const int dev = open(device.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        uint8_t boot[4096] = {0xEB, 0x58, 0x90};
        std::memcpy(boot + 3, "RKFATFS", 8);
        if (dev < 0 || ftruncate(dev, off_t(7983222784ll)) != 0 || pwrite(dev, boot, sizeof boot, 0) != 4096)
            std::abort();
        close(dev);
        for (uint32_t n = 0; n < kMountFuzzFiles; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "/fc%05u.rpo", n);
            fd[n] = open((dir + name).c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
            if (fd[n] < 0 || ftruncate(fd[n], off_t(kMountFuzzFileSize)) != 0) std::abort();
        }
    }
};

void ReadRecordFile(const StRecFileInfo_t& fi, int mode)
{
    const int fd = RKSFS_OpenRecFile(&fi);
    if (fd < 0) return;
    static std::vector<uint8_t> buffer(RKSFS_READ_BUFFER_SIZE);
    RKSFS_FRAME_HEAD head{};
    StRecEncode_t enc;
    StAudioProp_t prop;
    RKSFS_GetRecFileEncode(fd, &enc, &prop);
    auto check = [&](int rc) {
        if (rc > 0 && (uint32_t(rc) != head.length || head.length + 16 > buffer.size())) std::abort();
        return rc;
    };
    for (int i = 0; i < 3000 && check(RKSFS_ReadFrame(fd, buffer.data(), buffer.size(), &head)) > 0; ++i) {
    }
    RKSFS_CloseFile(fd);
    const int fd2 = RKSFS_OpenRecFile(&fi);
    if (fd2 < 0) return;
    int behind = 0;
    RKSFS_SeekTime(fd2, fi.beginTime + (fi.endTime - fi.beginTime) / 2, &behind);
    RKSFS_CloseFile(fd2);
    const int fd3 = RKSFS_OpenRecFile(&fi);
    if (fd3 < 0) return;
    if (RKSFS_SeekTime(fd3, mode & 1 ? fi.endTime : fi.beginTime + 1, nullptr) >= 0) {
        for (int i = 0; i < 500 && check(RKSFS_ReadIFrame(fd3, buffer.data(), buffer.size(), &head, 1)) > 0; ++i) {
        }
        for (int i = 0; i < 500 && check(RKSFS_ReadVideoFrame(fd3, buffer.data(), 2000, &head)) > 0; ++i) {
        }
    }
    RKSFS_CloseFile(fd3);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The library's lines are of no use here and slow the run.
    if (!std::freopen("/dev/null", "w", stdout)) return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Disk disk;
    static const int init = RKSFS_Init(16);
    (void)init;
    const MountInput in = ParseMountInput(data, size);
    for (const MountPiece& p : in.pieces)
        if (pwrite(disk.fd[p.file], p.bytes.data(), p.bytes.size(), off_t(p.offset)) < 0) std::abort();

    const char* dir = disk.dir.c_str();
    if (RKSFS_Mount2(in.flags & 1 ? disk.device.c_str() : nullptr, dir, (in.flags >> 1) & 1) == 0) {
        StMountInfo_t info;
        RKSFS_GetMountInfo(dir, &info);
        RKSFS_IsCovering(dir);
        RKSFS_GetFreeSpace(dir);
        RKSFS_GetOldestEndTime(dir);
        StRecSearchCond_t cond{0xFFFF, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFF, 0, 0xFFFFFFFFu};
        std::vector<StRecFileInfo_t> rec(16);
        std::vector<StRecRsnSeg_t> rsn(16);
        std::vector<StRecRoSeg_t> ro(16);
        size_t rsnHold = 0, roHold = 0;
        const int n = RKSFS_SearchLatestRecFileEx(dir, &cond, rec.data(), rec.size(), 0, rsn.data(), rsn.size(),
                                                  &rsnHold, ro.data(), ro.size(), &roHold);
        if (n > int(rec.size()) || rsnHold > rsn.size() || roHold > ro.size()) std::abort();
        for (int i = 0; i < n && i < 4; ++i) ReadRecordFile(rec[size_t((i + (in.flags >> 2)) % n)], in.flags >> 2);
        std::vector<StCmFileInfo_t> files(8);
        const int m = RKSFS_GetFileInfo(dir, "*", files.data(), files.size());
        std::vector<uint8_t> buf(4096);
        for (int i = 0; i < m && i < 3; ++i) {
            const int fd = RKSFS_Open(&files[size_t(i)], 0);
            if (fd < 0) continue;
            for (int k = 0; k < 300 && RKSFS_Read(fd, buf.data(), buf.size()) > 0; ++k) {
            }
            RKSFS_Lseek64(fd, 5, 0);
            RKSFS_Read(fd, buf.data(), 10);
            RKSFS_CloseFile(fd);
        }
        if (m > 0) RKSFS_RemoveFile(&files[0]);
        RKSFS_DumpDataBlockHead(dir, 33);
        RKSFS_Umount2(dir, 1);
    }

    std::vector<uint8_t> zeros;
    for (const MountPiece& p : in.pieces) {
        zeros.assign(p.bytes.size(), 0);
        if (pwrite(disk.fd[p.file], zeros.data(), zeros.size(), off_t(p.offset)) < 0) std::abort();
    }
    return 0;
}
