// The recorder disks attached to this machine: mounted FAT-family file
// systems (vfat, exfat, msdos), grouped by the disk that holds them, and the
// capacity of the folders a search reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace velmor {

struct RecorderDisk {
    std::string name;  // the whole disk's block device name, e.g. "sdb"
    bool removable = false;
    std::vector<std::filesystem::path> roots;  // mount points, in mount order
    std::vector<std::string> devices;          // each root's device
    // Each root mounted so that it may be written to: a FAT file system
    // mounted read-write has its access dates and dirty flag written by the
    // kernel, whatever this program does.
    std::vector<bool> writable;
    // FAT-family partitions of the disk that are not mounted ("/dev/sdc1"):
    // offered too, and mounted read-only on the user's choice.
    std::vector<std::string> unmounted;
};

// Keyed by disk name, so the first entry is the lowest-named disk. The system
// mounts ("/" and "/boot...") are never candidates. The paths are those of
// this machine; tests hand in files of their own.
// Unmounted partitions are found in sysfs, their file system type in the
// device manager's database (readable by every user, unlike the devices).
std::map<std::string, RecorderDisk> FindRecorderDisks(const std::filesystem::path& mountInfo = "/proc/self/mountinfo",
                                                      const std::filesystem::path& sysClassBlock = "/sys/class/block",
                                                      const std::filesystem::path& udevData = "/run/udev/data");

// The whole disk a partition device ("/dev/sdb1") belongs to ("sdb"); the
// device's own name when it is a whole disk or sysfs does not know it.
std::string ParentDiskOf(const std::string& device, const std::filesystem::path& sysClassBlock = "/sys/class/block");

struct SourceCapacity {
    uint64_t totalGiB = 0;  // whole GiB, added up over the folders
    uint64_t freeMiB = 0;   // whole MiB
};

// Sizes of the file systems of the folders; a folder that cannot be asked
// adds nothing. Each folder's sizes are cut to whole units before they are
// added, as the storage page shows them.
SourceCapacity CapacityOf(const std::vector<std::filesystem::path>& folders);

}  // namespace velmor
