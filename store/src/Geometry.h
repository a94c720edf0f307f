// Where a partition's geometry comes from on this platform: a block device
// (sector size and length by ioctl), an image file (512 and its size), the
// device mounted at a folder (/proc/self/mountinfo), or, for a folder copied
// off a disk, its newest valid index block head.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/format/RkFormat.h"

namespace rkstore {

struct PartitionGeometry2 {
    uint16_t sectorSize = 0;
    uint64_t devSize = 0;
    uint32_t fileSize = 0;  // U: container file size, also startPos
    uint32_t blkSize = 0;
    uint16_t fileContCnt = 0;
};

using rkfs::kMinDeviceSize;

// Mount step 3's checks and step 5's rule. False when the sector size or the
// length is not acceptable.
bool GeometryFromDevice(uint64_t devSize, uint32_t sectorSize, PartitionGeometry2* out);

// Opens `part` read-only, asks for its sector size and length, checks the
// "RKFATFS" boot sector and derives the geometry. Logs as the mount steps 2
// to 5 do; false on any failure.
bool ReadPartitionGeometry(const std::string& part, PartitionGeometry2* out, const char* fn);

// The source of the file system of type vfat, exfat or msdos mounted exactly
// at `dir`, from /proc/self/mountinfo; "" when there is none.
std::string MountedDeviceOf(const std::string& dir);

// The container files "fcNNNNN.rpo" (any case) of a folder, by number.
std::vector<std::string> ListContainerFiles(const std::string& dir, uint32_t* highest);

}  // namespace rkstore
