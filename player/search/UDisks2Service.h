// The disk service of Linux desktops, UDisks2, over the system bus: a
// block device opened read-only for the user (Block.OpenForBackup, after
// the desktop's authorisation prompt). Without a service on the bus, or
// when the user is refused, it says why and nothing is opened.
#pragma once

#include <optional>
#include <string>

#include "player/search/PartitionAccess.h"

namespace velmor {

class CUDisks2Service : public IDiskService {
public:
    std::optional<int> OpenForReading(const std::string& device, std::string* why) override;
    std::optional<std::string> RemountReadOnly(const std::string& device, std::string* why) override;
    std::optional<std::string> MountReadOnly(const std::string& device, std::string* why) override;

    // The service's object path of a block device: "/dev/sdb1" becomes
    // ".../block_devices/sdb1"; bytes other than letters, digits and '_'
    // are written as "_" and two hex digits, as the service names them.
    static std::string ObjectPathOf(const std::string& device);
};

}  // namespace velmor
