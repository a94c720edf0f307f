// The one way recorder media are opened: read-only, without updating access
// times where the kernel lets us, and by descriptor for a device the
// desktop's disk service opened on the user's behalf.
#pragma once

#include <filesystem>
#include <optional>

namespace velmor {

// Opens `path` for reading only (close-on-exec), with O_NOATIME when the
// caller owns the file (the kernel refuses it otherwise; then without it).
// A path "/proc/self/fd/N" names a descriptor this process already holds:
// it is duplicated instead of opened again, because opening the link anew
// would ask for the device's permissions a second time, which the user does
// not have. Returns the descriptor, or -1 with errno set.
int OpenReadOnly(const std::filesystem::path& path);

// N of a path "/proc/self/fd/N", or none.
std::optional<int> DescriptorOfPath(const std::filesystem::path& path);

}  // namespace velmor
