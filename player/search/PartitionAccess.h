// How a search reaches a recorder partition's device: directly when this
// user may open it, else through the desktop's disk service (a read-only
// descriptor after its own authorisation prompt), else not at all; then the
// partition is read from its index block heads, as a copied folder is, and
// the user is told why. A device the user named explicitly and that cannot
// be read is an error, never a silent fallback.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmor {

// The desktop's disk service (on Linux UDisks2): opens a block device for
// reading on the user's behalf.
class IDiskService {
public:
    virtual ~IDiskService() = default;
    // A read-only descriptor of `device` ("/dev/sdb1"), owned by the caller,
    // or none with the reason in `why` (refused, no service, no such device).
    virtual std::optional<int> OpenForReading(const std::string& device, std::string* why) = 0;
    // Mounts `device` again, read-only: unmounted, then mounted with "ro".
    // The new mount point, or none with the reason.
    virtual std::optional<std::string> RemountReadOnly(const std::string& device, std::string* why)
    {
        if (why) *why = "not offered";
        (void)device;
        return std::nullopt;
    }
    // Mounts an unmounted `device` read-only; its mount point, or none with the reason.
    virtual std::optional<std::string> MountReadOnly(const std::string& device, std::string* why)
    {
        if (why) *why = "not offered";
        (void)device;
        return std::nullopt;
    }
};

// A descriptor kept open while the libraries read through its
// "/proc/self/fd/N" path.
class CHeldDescriptor {
public:
    explicit CHeldDescriptor(int fd) : m_fd(fd) {}
    ~CHeldDescriptor();
    CHeldDescriptor(const CHeldDescriptor&) = delete;
    CHeldDescriptor& operator=(const CHeldDescriptor&) = delete;
    int Fd() const { return m_fd; }
    std::string Path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

enum class EDeviceRoute {
    kNoDevice,    // a folder that is no mounted partition (copied off a disk)
    kDirect,      // the device, opened by this user
    kDiskService, // the device, through the disk service's descriptor
    kIndexHeads,  // the device could not be had: its index block heads instead
    kFailed,      // an explicitly named device that cannot be read
};

struct PartitionAccess {
    EDeviceRoute route = EDeviceRoute::kNoDevice;
    std::string device;  // the device found or named ("" for none)
    std::string path;    // what the libraries are handed ("" lets them use the index heads)
    // For the user, once: why the device was not read (kIndexHeads), or
    // why the named device cannot be read (kFailed).
    std::string message;
    std::shared_ptr<CHeldDescriptor> held;  // keeps the service's descriptor open
};

struct PartitionAccessHooks {
    // The device mounted at a folder ("" for none); /proc/self/mountinfo by default.
    std::function<std::string(const std::filesystem::path&)> mountedDevice;
    // Opens for reading; -1 with errno. OpenReadOnly by default.
    std::function<int(const std::string&)> open;
};

// `explicitDevice` empty: the device the folder is mounted from, if any.
// `service` may be null (no disk service is asked).
PartitionAccess ResolvePartitionAccess(const std::filesystem::path& folder, const std::string& explicitDevice,
                                       IDiskService* service, const PartitionAccessHooks& hooks = {});

}  // namespace velmor
