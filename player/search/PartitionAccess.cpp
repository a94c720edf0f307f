#include "player/search/PartitionAccess.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Mounts.h"
#include "common/ReadOnlyOpen.h"

namespace velmor {

CHeldDescriptor::~CHeldDescriptor()
{
    if (m_fd >= 0) ::close(m_fd);
}

PartitionAccess ResolvePartitionAccess(const std::filesystem::path& folder, const std::string& explicitDevice,
                                       IDiskService* service, const PartitionAccessHooks& hooks)
{
    PartitionAccess access;
    const bool named = !explicitDevice.empty();
    access.device = named ? explicitDevice
                          : (hooks.mountedDevice ? hooks.mountedDevice(folder) : MountedDeviceOf(folder));
    if (access.device.empty()) return access;

    const int fd = hooks.open ? hooks.open(access.device) : OpenReadOnly(access.device);
    if (fd >= 0) {
        ::close(fd);
        access.route = EDeviceRoute::kDirect;
        access.path = access.device;
        return access;
    }
    const std::string openError = std::strerror(errno);
    // Device nodes belong to root:disk; the desktop's disk service opens
    // them for the user after its own prompt. Image files and the like are
    // not its business.
    std::string why = openError;
    if (service && access.device.rfind("/dev/", 0) == 0) {
        std::string refused;
        if (const auto held = service->OpenForReading(access.device, &refused)) {
            access.held = std::make_shared<CHeldDescriptor>(*held);
            access.route = EDeviceRoute::kDiskService;
            access.path = access.held->Path();
            return access;
        }
        why += "; the disk service: " + refused;
    }
    if (named) {
        access.route = EDeviceRoute::kFailed;
        access.message = "cannot be read (" + why + ")";
        return access;
    }
    access.route = EDeviceRoute::kIndexHeads;
    access.message = "the recordings of " + folder.string() + " were listed from its index block heads: its device " +
                     access.device + " cannot be read (" + why + ")";
    return access;
}

}  // namespace velmor
