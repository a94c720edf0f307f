// Which device holds a mounted recorder partition: the recorder's disks are
// FAT-family file systems (vfat, exfat, msdos) mounted somewhere.
#pragma once

#include <filesystem>
#include <string>

namespace velmor {

// The device of the vfat/exfat/msdos file system mounted exactly at `dir`,
// from /proc/self/mountinfo; empty when there is none.
std::string MountedDeviceOf(const std::filesystem::path& dir);

// Parses one line of mountinfo: mount point, file system type and source,
// and whether the mount may be written to (its own options and the file
// system's both say "rw"). Exposed for tests.
bool ParseMountLine(const std::string& line, std::string* mountPoint, std::string* type, std::string* source,
                    bool* writable = nullptr);

}  // namespace velmor
