#include "store/src/Geometry.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/Mounts.h"
#include "store/format/RkFormat.h"
#include "store/src/StoreLog.h"
#include "common/ReadOnlyOpen.h"

namespace rkstore {

bool GeometryFromDevice(uint64_t devSize, uint32_t sectorSize, PartitionGeometry2* out)
{
    rkfs::DeviceGeometry g;
    if (!rkfs::GeometryOfDevice(devSize, sectorSize, &g)) return false;
    out->sectorSize = uint16_t(g.sectorSize);
    out->devSize = g.devSize;
    out->fileSize = g.fileSize;
    out->blkSize = g.blkSize;
    out->fileContCnt = uint16_t(g.fileCount);
    return true;
}

bool ReadPartitionGeometry(const std::string& part, PartitionGeometry2* out, const char* fn)
{
    struct stat st {};
    if (::stat(part.c_str(), &st) != 0 || (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode))) {
        rkfs::LogLine("%s:%s:%d Not block device, drvTp = %u\n", "RKSFS_Partition", fn, __LINE__,
                      unsigned(st.st_mode & S_IFMT) >> 12);
        return false;
    }
    const int fd = velmor::OpenReadOnly(part);
    if (fd < 0) {
        SFS_LOG(fn, "open error %lu\n", (unsigned long)errno);
        return false;
    }
    uint32_t sectorSize = 512;
    uint64_t devSize = 0;
    if (S_ISBLK(st.st_mode)) {
        int ss = 0;
        if (::ioctl(fd, BLKSSZGET, &ss) != 0 || ::ioctl(fd, BLKGETSIZE64, &devSize) != 0) {
            SFS_LOG(fn, "DeviceIoControl error %lu\n", (unsigned long)errno);
            ::close(fd);
            return false;
        }
        sectorSize = uint32_t(ss);
    } else {
        devSize = uint64_t(st.st_size);
    }
    SFS_LOG(fn, "sectorSize = %lu, devSize = %llu\n", (unsigned long)sectorSize, (unsigned long long)devSize);
    PartitionGeometry2 g;
    if (!GeometryFromDevice(devSize, sectorSize, &g)) {
        SFS_LOG(fn, "sectorSize = %lu, devSize = %llu not acceptable\n", (unsigned long)sectorSize,
                (unsigned long long)devSize);
        ::close(fd);
        return false;
    }
    uint8_t boot[4096];
    size_t done = 0;
    while (done < sizeof boot) {
        const ssize_t r = ::pread(fd, boot + done, sizeof boot - done, off_t(done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        done += size_t(r);
    }
    const int readErr = errno;
    ::close(fd);
    if (done != sizeof boot) {
        SFS_LOG(fn, "ReadFile error %lu\n", (unsigned long)readErr);
        return false;
    }
    if (std::memcmp(boot + 3, "RKFATFS", 8) != 0) {
        rkfs::LogLine("%s:%d %02x %02x %02x %02x %02x %02x %02x %02x\n", fn, __LINE__, boot[3], boot[4], boot[5],
                      boot[6], boot[7], boot[8], boot[9], boot[10]);
        return false;
    }
    *out = g;
    return true;
}


std::string MountedDeviceOf(const std::string& dir) { return velmor::MountedDeviceOf(dir); }

std::vector<std::string> ListContainerFiles(const std::string& dir, uint32_t* highest)
{
    std::vector<std::string> files;
    *highest = 0;
    std::error_code ec;
    bool any = false;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() != 11) continue;
        if (std::tolower((unsigned char)name[0]) != 'f' || std::tolower((unsigned char)name[1]) != 'c') continue;
        uint32_t n = 0;
        bool digits = true;
        for (int i = 2; i < 7; ++i) {
            if (!std::isdigit((unsigned char)name[size_t(i)])) digits = false;
            n = n * 10 + uint32_t(name[size_t(i)] - '0');
        }
        std::string ext = name.substr(7);
        for (char& c : ext) c = char(std::tolower((unsigned char)c));
        if (!digits || ext != ".rpo") continue;
        if (files.size() <= n) files.resize(n + 1);
        // The exact lower-case spelling wins over another case.
        const bool exact = name.compare(0, 2, "fc") == 0 && name.compare(7, 4, ".rpo") == 0;
        if (files[n].empty() || exact) files[n] = it->path().string();
        if (!any || n > *highest) *highest = n;
        any = true;
    }
    return files;
}

}  // namespace rkstore
