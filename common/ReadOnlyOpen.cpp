#include "common/ReadOnlyOpen.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string>

namespace velmor {

std::optional<int> DescriptorOfPath(const std::filesystem::path& path)
{
    static const std::string kPrefix = "/proc/self/fd/";
    const std::string s = path.string();
    if (s.size() <= kPrefix.size() || s.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
    int fd = -1;
    const char* first = s.data() + kPrefix.size();
    const char* last = s.data() + s.size();
    const auto [end, ec] = std::from_chars(first, last, fd);
    if (ec != std::errc() || end != last || fd < 0) return std::nullopt;
    return fd;
}

int OpenReadOnly(const std::filesystem::path& path)
{
    if (const auto held = DescriptorOfPath(path)) {
        // Only a descriptor open for reading stands for the device; one open
        // for writing is refused, so nothing here could ever write through it.
        const int flags = ::fcntl(*held, F_GETFL);
        if (flags < 0) return -1;
        if ((flags & O_ACCMODE) != O_RDONLY) {
            errno = EACCES;
            return -1;
        }
        return ::fcntl(*held, F_DUPFD_CLOEXEC, 0);
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

}  // namespace velmor
