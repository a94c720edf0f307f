#include "player/search/RecorderDisks.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

#include "common/Mounts.h"

namespace velmor {
namespace {

bool IsRecorderFileSystem(const std::string& type) { return type == "vfat" || type == "exfat" || type == "msdos"; }

// The system's own mounts: the root, the boot folders and the EFI system
// partition (mounted at /efi or under /boot).
bool IsSystemMount(const std::string& point)
{
    return point == "/" || point == "/boot" || point.rfind("/boot/", 0) == 0 || point == "/efi" ||
           point.rfind("/efi/", 0) == 0;
}

}  // namespace

std::string ParentDiskOf(const std::string& device, const std::filesystem::path& sysClassBlock)
{
    const std::string name = std::filesystem::path(device).filename().string();
    std::error_code ec;
    const auto entry = sysClassBlock / name;
    // A partition's sysfs entry has a "partition" file and lives in its disk's folder.
    if (name.empty() || !std::filesystem::exists(entry / "partition", ec)) return name;
    const auto real = std::filesystem::canonical(entry, ec);
    if (ec) return name;
    const std::string parent = real.parent_path().filename().string();
    return parent.empty() ? name : parent;
}

namespace {

// The file system type the device manager found on a block device
// ("E:ID_FS_TYPE=vfat" in its record "b<major>:<minor>"); "" when unknown.
std::string UdevFileSystem(const std::filesystem::path& sysEntry, const std::filesystem::path& udevData)
{
    std::ifstream dev(sysEntry / "dev");
    std::string numbers;
    if (!(dev >> numbers)) return {};
    std::ifstream record(udevData / ("b" + numbers));
    const std::string key = "E:ID_FS_TYPE=";
    for (std::string line; std::getline(record, line);)
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    return {};
}

}  // namespace

std::map<std::string, RecorderDisk> FindRecorderDisks(const std::filesystem::path& mountInfo,
                                                      const std::filesystem::path& sysClassBlock,
                                                      const std::filesystem::path& udevData)
{
    struct Mount {
        std::string point, type, source, disk;
        bool writable = false;
    };
    std::vector<Mount> mounts;
    // The disks the system itself lives on are never recorder disks, whatever
    // else they carry; any other disk with a FAT-family file system is, a hard
    // disk in a USB case (not flagged removable) as much as a card.
    std::set<std::string> systemDisks;
    std::ifstream in(mountInfo);
    for (std::string line; std::getline(in, line);) {
        std::string point, type, source;
        bool writable = false;
        if (!ParseMountLine(line, &point, &type, &source, &writable)) continue;
        const std::string disk = source.rfind("/dev/", 0) == 0 ? ParentDiskOf(source, sysClassBlock) : std::string();
        if (IsSystemMount(point) && !disk.empty()) systemDisks.insert(disk);
        mounts.push_back({point, type, source, disk, writable});
    }
    std::set<std::string> mountedDevices;
    for (const Mount& m : mounts) mountedDevices.insert(m.source);
    std::map<std::string, RecorderDisk> disks;
    const auto diskEntry = [&](const std::string& diskName) -> RecorderDisk& {
        RecorderDisk& disk = disks[diskName];
        if (disk.name.empty()) {
            disk.name = diskName;
            std::ifstream removable(sysClassBlock / diskName / "removable");
            int flag = 0;
            disk.removable = removable >> flag && flag == 1;
        }
        return disk;
    };
    for (const Mount& m : mounts) {
        if (!IsRecorderFileSystem(m.type) || IsSystemMount(m.point)) continue;
        const std::string& diskName = m.disk;
        if (diskName.empty() || systemDisks.count(diskName)) continue;
        const std::string& point = m.point;
        RecorderDisk& disk = diskEntry(diskName);
        disk.roots.emplace_back(point);
        disk.devices.push_back(m.source);
        disk.writable.push_back(m.writable);
    }
    // Partitions with a FAT-family file system that nothing has mounted.
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(sysClassBlock, ec), end; !ec && it != end; it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const auto entry = sysClassBlock / name;
        if (!std::filesystem::exists(entry / "partition", ec)) continue;
        const std::string device = "/dev/" + name;
        if (mountedDevices.count(device) || !IsRecorderFileSystem(UdevFileSystem(entry, udevData))) continue;
        const std::string diskName = ParentDiskOf(device, sysClassBlock);
        if (systemDisks.count(diskName)) continue;
        diskEntry(diskName).unmounted.push_back(device);
    }
    return disks;
}

SourceCapacity CapacityOf(const std::vector<std::filesystem::path>& folders)
{
    SourceCapacity capacity;
    for (const auto& folder : folders) {
        struct statvfs fs {};
        if (::statvfs(folder.c_str(), &fs) != 0) continue;
        const uint64_t unit = fs.f_frsize ? fs.f_frsize : fs.f_bsize;
        capacity.totalGiB += (uint64_t(fs.f_blocks) * unit) >> 30;
        capacity.freeMiB += (uint64_t(fs.f_bavail) * unit) >> 20;
    }
    return capacity;
}

}  // namespace velmor
